"""Whole arrays through _core's C++ cores; see gfxcore.arrays."""

import numpy
from numpy.typing import ArrayLike, NDArray

import _core

def distances(
    collider: _core.SdfCollider, points: ArrayLike, *, workers: int | None = None
) -> NDArray[numpy.float32]:
    """The signed distance of the scene at each row of `points` (shape (n, 3)),
    as `collider.distance(*row)` gives it: an (n,) float32 array."""

def normals(
    collider: _core.SdfCollider, points: ArrayLike, *, workers: int | None = None
) -> NDArray[numpy.float32]:
    """The outward normal at each row of `points` (shape (n, 3)), as
    `collider.normal(*row)` gives it: an (n, 3) float32 array."""

def push_out(
    collider: _core.SdfCollider, points: ArrayLike, *, workers: int | None = None
) -> NDArray[numpy.float32]:
    """The push-out displacement of each row of `points` (shape (n, 3)), as
    `collider.push_out(*row)` gives it: an (n, 3) float32 array, zero rows
    for points outside."""

def sphere_overlaps(
    collider: _core.SdfCollider,
    centers: ArrayLike,
    radii: ArrayLike,
    *,
    workers: int | None = None,
) -> NDArray[numpy.bool_]:
    """For each sphere (`centers` of shape (n, 3), `radii` of shape (n,)),
    `collider.sphere_overlaps(*center, radius)`: an (n,) bool array."""

def aabb_overlaps(
    collider: _core.SdfCollider, mins: ArrayLike, maxs: ArrayLike, *, workers: int | None = None
) -> NDArray[numpy.bool_]:
    """For each box (`mins` and `maxs` of shape (n, 3)),
    `collider.aabb_overlaps(*min, *max)`: an (n,) bool array."""

def sample_grid(
    collider: _core.SdfCollider,
    lo: _core.Vec3 | tuple[float, float, float],
    hi: _core.Vec3 | tuple[float, float, float],
    shape: tuple[int, int, int],
    *,
    workers: int | None = None,
) -> NDArray[numpy.float32]:
    """The scene's distance on a grid of `shape = (nx, ny, nz)` samples from
    `lo` to `hi` (corners included): `out[i, j, k]` is the distance at
    `(x_i, y_j, z_k)`, `x_i = lo.x + (hi.x - lo.x) * i / (nx - 1)` computed in
    float64 and then narrowed to float32 (`x_0 = lo.x` when `nx` is 1).
    A tuple corner is taken as `Vec3(*corner)` takes it."""

def transform_points(
    m: _core.Mat4x4, points: ArrayLike, *, workers: int | None = None
) -> NDArray[numpy.float32]:
    """Each row of `points` (shape (n, 3)) transformed by `m` as
    `m.transform_point(Vec3(*row))` does: an (n, 3) float32 array."""

def transform_directions(
    m: _core.Mat4x4, directions: ArrayLike, *, workers: int | None = None
) -> NDArray[numpy.float32]:
    """Each row of `directions` (shape (n, 3)) transformed by `m` as
    `m.transform_direction(Vec3(*row))` does (translation ignored): an
    (n, 3) float32 array."""
