"""`gfxcore.arrays` over Dask arrays, from local threads to a cluster.

Install the extra `gfxcore[dask]` (dask, distributed, zarr). Each function
takes dask arrays (or anything `dask.array.asarray` takes) and returns a
lazy dask array, or a lazy value, whose result equals one `gfxcore.arrays`
call on the whole input, bit for bit, whatever the chunks and wherever they
run: every item is computed on its own, and the results made from several
chunks (`convex_hull`, `bounding_box`) are merged as one call would find
them.

The collider or matrix enters the task graph once, under a key made from
its bytes (the same object gives the same key), and every chunk task refers
to it. Inside a `distributed` worker, `workers=None` splits each chunk over
that worker's thread count, so worker processes and the native pool do not
oversubscribe the cores; elsewhere it means the shared pool, as in
`gfxcore.arrays`.

The tasks are functions of this module: a worker that unpickles one imports
`gfxcore`, which makes `_core` objects pickle there too.
"""

from __future__ import annotations

import itertools
import math
from collections.abc import Sequence
from typing import Any

import dask
import dask.array as da
import numpy as np
from dask.highlevelgraph import HighLevelGraph

try:
    from dask.tokenize import normalize_token, tokenize
except ImportError:  # dask before 2024.8
    from dask.base import normalize_token, tokenize

import _core

from . import _pickle, arrays

__all__ = [
    "bounding_box",
    "convex_hull",
    "distances",
    "normals",
    "push_out",
    "sample_grid",
    "sphere_overlaps",
    "transform_directions",
    "transform_points",
]


@normalize_token.register(_pickle.core_classes())
def _core_token(obj: Any) -> tuple[Any, ...]:
    # From the state's bytes: equal objects get one key in every process.
    return ("gfxcore", *_pickle.state_key(obj))


def _threads(workers: int | None) -> int | None:
    """`workers` as given, or inside a distributed worker its thread count."""
    if workers is not None:
        return workers
    try:
        from distributed import get_worker

        return int(get_worker().state.nthreads)
    except (ImportError, ValueError, AttributeError):
        return None


def _once(obj: Any) -> Any:
    """`obj` as one node of the graph, keyed by its bytes."""
    return dask.delayed(obj, pure=True, traverse=False)


def _rows(x: Any, cols: int) -> da.Array:
    """`x` as a dask array of rows, each row in one chunk."""
    a = da.asarray(x)
    if a.ndim == 2 and a.shape[1] == cols:
        a = a.rechunk({1: -1})
    return a


def _empty(tail: tuple[int, ...], dtype: Any) -> np.ndarray:
    return np.empty((0, *tail), dtype=dtype)


# The chunk tasks. A zero-size block (dask's probe for the result type)
# is answered without a call.


def _per_point(name: str, tail: tuple[int, ...], dtype: Any):
    fn = getattr(arrays, name)

    def block(points: np.ndarray, obj: Any, workers: int | None) -> np.ndarray:
        if points.size == 0:
            return _empty(tail, dtype)
        return fn(obj, points, workers=_threads(workers))

    block.__name__ = block.__qualname__ = f"_{name}_block"
    return block


_distances_block = _per_point("distances", (), np.float32)
_normals_block = _per_point("normals", (3,), np.float32)
_push_out_block = _per_point("push_out", (3,), np.float32)
_transform_points_block = _per_point("transform_points", (3,), np.float32)
_transform_directions_block = _per_point("transform_directions", (3,), np.float32)


def _sphere_overlaps_block(
    centers: np.ndarray, radii: np.ndarray, collider: Any, workers: int | None
) -> np.ndarray:
    if centers.size == 0:
        return _empty((), np.bool_)
    # radii come as a column, to line up with the rows of centers.
    return arrays.sphere_overlaps(collider, centers, radii[:, 0], workers=_threads(workers))


def _map_rows(
    block: Any, obj: Any, points: Any, tail: tuple[int, ...], dtype: Any, workers: int | None
) -> da.Array:
    p = _rows(points, 3)
    if p.ndim != 2 or p.shape[1] != 3:
        raise ValueError(f"argument 'points': expected shape (n, 3), got {p.shape}")
    kwargs: dict[str, Any] = {"dtype": dtype, "meta": _empty(tail, dtype)}
    if not tail:
        kwargs["drop_axis"] = 1
    return da.map_blocks(block, p, _once(obj), workers, **kwargs)


def distances(collider: _core.SdfCollider, points: Any, *, workers: int | None = None) -> da.Array:
    """`gfxcore.arrays.distances` per chunk of rows: an (n,) float32 dask array."""
    return _map_rows(_distances_block, collider, points, (), np.float32, workers)


def normals(collider: _core.SdfCollider, points: Any, *, workers: int | None = None) -> da.Array:
    """`gfxcore.arrays.normals` per chunk of rows: an (n, 3) float32 dask array."""
    return _map_rows(_normals_block, collider, points, (3,), np.float32, workers)


def push_out(collider: _core.SdfCollider, points: Any, *, workers: int | None = None) -> da.Array:
    """`gfxcore.arrays.push_out` per chunk of rows: an (n, 3) float32 dask array."""
    return _map_rows(_push_out_block, collider, points, (3,), np.float32, workers)


def transform_points(m: _core.Mat4x4, points: Any, *, workers: int | None = None) -> da.Array:
    """`gfxcore.arrays.transform_points` per chunk of rows: an (n, 3) float32 dask array."""
    return _map_rows(_transform_points_block, m, points, (3,), np.float32, workers)


def transform_directions(
    m: _core.Mat4x4, directions: Any, *, workers: int | None = None
) -> da.Array:
    """`gfxcore.arrays.transform_directions` per chunk of rows: an (n, 3) float32 dask array."""
    return _map_rows(_transform_directions_block, m, directions, (3,), np.float32, workers)


def sphere_overlaps(
    collider: _core.SdfCollider, centers: Any, radii: Any, *, workers: int | None = None
) -> da.Array:
    """`gfxcore.arrays.sphere_overlaps` per chunk of rows: an (n,) bool dask
    array; `radii` is rechunked to the chunks of `centers`."""
    c = _rows(centers, 3)
    if c.ndim != 2 or c.shape[1] != 3:
        raise ValueError(f"argument 'centers': expected shape (n, 3), got {c.shape}")
    r = da.asarray(radii)
    if r.shape != c.shape[:1]:
        raise ValueError(f"argument 'radii': expected shape ({c.shape[0]},), got {r.shape}")
    r = r.rechunk((c.chunks[0],))
    return da.map_blocks(
        _sphere_overlaps_block,
        c,
        r[:, None],
        _once(collider),
        workers,
        dtype=np.bool_,
        drop_axis=1,
        meta=_empty((), np.bool_),
    )


# sample_grid: every block computed from its index in the whole grid.


def _grid_block(
    collider: Any,
    lo: Any,
    hi: Any,
    shape: tuple[int, int, int],
    offset: tuple[int, int, int],
    block: tuple[int, int, int],
    workers: int | None,
) -> np.ndarray:
    return arrays.sample_grid(
        collider, lo, hi, shape, offset=offset, block=block, workers=_threads(workers)
    )


def _corner(v: Any) -> Any:
    return (v.x, v.y, v.z) if type(v) is _core.Vec3 else v


def sample_grid(
    collider: _core.SdfCollider,
    lo: Any,
    hi: Any,
    shape: tuple[int, int, int],
    *,
    chunks: Any = "auto",
    workers: int | None = None,
) -> da.Array:
    """`gfxcore.arrays.sample_grid` as a lazy float32 dask array of `shape`
    in `chunks` (anything `dask.array` takes as chunks): each block is
    computed on its own, with the bits of the one-call grid."""
    lo, hi = _corner(lo), _corner(hi)
    # An empty block: checks every argument as one call would, computes nothing.
    arrays.sample_grid(collider, lo, hi, shape, block=(0, 0, 0))
    shape = tuple(int(n) for n in shape)
    grid = da.core.normalize_chunks(chunks, shape, dtype=np.float32)
    c = _once(collider)
    name = "sample_grid-" + tokenize(c.key, lo, hi, shape, grid, workers)
    starts = [tuple(itertools.accumulate(sizes, initial=0)) for sizes in grid]
    layer = {}
    for index in itertools.product(*(range(len(sizes)) for sizes in grid)):
        offset = tuple(starts[a][i] for a, i in enumerate(index))
        block = tuple(grid[a][i] for a, i in enumerate(index))
        layer[(name, *index)] = (_grid_block, c.key, lo, hi, shape, offset, block, workers)
    graph = HighLevelGraph.from_collections(name, layer, dependencies=[c])
    return da.Array(graph, name, grid, meta=np.empty((0, 0, 0), np.float32))


# Point sets merged from their chunks.


def _points2(points: Any) -> da.Array:
    p = _rows(points, 2)
    if p.ndim != 2 or p.shape[1] != 2:
        raise ValueError(f"argument 'points': expected shape (n, 2), got {p.shape}")
    return p


def _chunk_hull(points: np.ndarray, workers: int | None) -> np.ndarray:
    return arrays.convex_hull(points, workers=_threads(workers))


def _merged_hull(hulls: Sequence[np.ndarray], workers: int | None) -> np.ndarray:
    # The hull of the chunks' hull vertices is the hull of every point.
    return arrays.convex_hull(
        np.concatenate([_empty((2,), np.float32), *hulls]), workers=_threads(workers)
    )


def convex_hull(points: Any, *, workers: int | None = None) -> da.Array:
    """`gfxcore.arrays.convex_hull` of chunked (n, 2) points, merged from the
    hull of each chunk: a (k, 2) float32 dask array of one chunk, k known
    once computed."""
    p = _points2(points)
    hulls = [dask.delayed(_chunk_hull, pure=True)(b, workers) for b in p.to_delayed().ravel()]
    merged = dask.delayed(_merged_hull, pure=True)(hulls, workers)
    return da.from_delayed(
        merged, shape=(math.nan, 2), dtype=np.float32, meta=_empty((2,), np.float32)
    )


def _chunk_box(
    points: np.ndarray, workers: int | None
) -> tuple[bool, tuple[float, float, float, float]]:
    return len(points) > 0, arrays.bounding_box(points, workers=_threads(workers))


def _merged_box(
    boxes: Sequence[tuple[bool, tuple[float, float, float, float]]],
) -> tuple[float, float, float, float]:
    found = [box for nonempty, box in boxes if nonempty]
    if not found:
        return (0.0, 0.0, 0.0, 0.0)
    # One pass in chunk order, a bound replaced only by a strictly further
    # one, as the single call keeps the first of equal values (0.0, -0.0).
    min_x, min_y, max_x, max_y = found[0]
    for x0, y0, x1, y1 in found[1:]:
        min_x = x0 if x0 < min_x else min_x
        min_y = y0 if y0 < min_y else min_y
        max_x = x1 if x1 > max_x else max_x
        max_y = y1 if y1 > max_y else max_y
    return (min_x, min_y, max_x, max_y)


def bounding_box(points: Any, *, workers: int | None = None) -> Any:
    """`gfxcore.arrays.bounding_box` of chunked (n, 2) points, merged from
    each chunk's box (an empty chunk counts for nothing): a lazy value
    (`dask.delayed`) whose `compute()` is the tuple one call gives."""
    p = _points2(points)
    boxes = [dask.delayed(_chunk_box, pure=True)(b, workers) for b in p.to_delayed().ravel()]
    return dask.delayed(_merged_box, pure=True)(boxes)
