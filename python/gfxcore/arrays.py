"""Whole arrays in one call: `_core`'s queries over numpy (or any buffer or
DLPack) arrays, computed by the same C++ cores, bit for bit the per-item
calls.

Inputs are float32 or float64 arrays (float64 narrowed to float32 as `_core`
narrows a Python float), C-ordered or strided; results are numpy arrays. The
interpreter lock is released while the native work runs, and work over a few
thousand items is split over the shared worker pool, or over `workers`
threads of the call's own. Ctrl-C stops a call with `KeyboardInterrupt`.

A `_core` object is read under its shared borrow for the whole call: while
the call runs, another thread calling one of the object's changing methods
gets `RuntimeError: Already borrowed`.
"""

from __future__ import annotations

from ._arrays import (
    aabb_overlaps,
    distances,
    normals,
    push_out,
    sample_grid,
    sphere_overlaps,
    transform_directions,
    transform_points,
)

__all__ = [
    "aabb_overlaps",
    "distances",
    "normals",
    "push_out",
    "sample_grid",
    "sphere_overlaps",
    "transform_directions",
    "transform_points",
]
