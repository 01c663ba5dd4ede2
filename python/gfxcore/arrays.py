"""Whole arrays in one call: `_core`'s queries over numpy (or any buffer or
DLPack) arrays, computed by the same C++ cores, bit for bit the per-item
calls.

Inputs are arrays of any number dtype, each value taken as `_core` takes the
same Python number (a float narrowed to float32, an integer through float64),
C-ordered or strided; results are numpy arrays. The
interpreter lock is released while the native work runs, and work over a few
thousand items is split over the shared worker pool, or over `workers`
threads of the call's own. Ctrl-C stops a call with `KeyboardInterrupt`.

A function whose result's shape follows from its arguments also takes
`out=`, as numpy's functions do: an array of that shape and dtype, any
strides, filled and returned (`raycasts` takes a tuple of three, any of them
None). It must share no memory with an input (ValueError naming `out`).
Results whose length depends on the data (`convex_hull`,
`pixel_edge_points`, `step`) come back in new arrays, as numpy's `nonzero`
does.

A `_core` object is read under its shared borrow for the whole call: while
the call runs, another thread calling one of the object's changing methods
gets `RuntimeError: Already borrowed`. A call that changes an object
(`set_positions`, `add_bodies`, `remove_bodies`, `step`, `load_scene`,
`tile_bytes`, `put_tile`) holds its exclusive borrow instead: another
changing call on the object meanwhile gets `RuntimeError: Already
borrowed`, a reading one `RuntimeError: Already mutably borrowed`.
"""

from __future__ import annotations

from ._arrays import (
    aabb_overlaps,
    add_bodies,
    bounding_box,
    convex_hull,
    distances,
    handles,
    load_scene,
    lz4_compress,
    lz4_decompress,
    normals,
    pixel_edge_points,
    positions,
    push_out,
    put_tile,
    raycasts,
    remove_bodies,
    resolve,
    rows,
    sample_grid,
    scene_bytes,
    set_positions,
    sphere_overlaps,
    step,
    tile_bytes,
    transform_directions,
    transform_points,
)

__all__ = [
    "aabb_overlaps",
    "add_bodies",
    "bounding_box",
    "convex_hull",
    "distances",
    "handles",
    "load_scene",
    "lz4_compress",
    "lz4_decompress",
    "normals",
    "pixel_edge_points",
    "positions",
    "push_out",
    "put_tile",
    "raycasts",
    "remove_bodies",
    "resolve",
    "rows",
    "sample_grid",
    "scene_bytes",
    "set_positions",
    "sphere_overlaps",
    "step",
    "tile_bytes",
    "transform_directions",
    "transform_points",
]
