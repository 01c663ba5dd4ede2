"""Whole arrays through _core's C++ cores; see gfxcore.arrays."""

import numpy
from numpy.typing import ArrayLike, NDArray
from typing_extensions import Buffer

import _core

def distances(
    collider: _core.SdfCollider,
    points: ArrayLike,
    *,
    workers: int | None = None,
    out: NDArray[numpy.float32] | None = None,
) -> NDArray[numpy.float32]:
    """The signed distance of the scene at each row of `points` (shape (n, 3)),
    as `collider.distance(*row)` gives it: an (n,) float32 array."""

def normals(
    collider: _core.SdfCollider,
    points: ArrayLike,
    *,
    workers: int | None = None,
    out: NDArray[numpy.float32] | None = None,
) -> NDArray[numpy.float32]:
    """The outward normal at each row of `points` (shape (n, 3)), as
    `collider.normal(*row)` gives it: an (n, 3) float32 array."""

def push_out(
    collider: _core.SdfCollider,
    points: ArrayLike,
    *,
    workers: int | None = None,
    out: NDArray[numpy.float32] | None = None,
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
    out: NDArray[numpy.bool_] | None = None,
) -> NDArray[numpy.bool_]:
    """For each sphere (`centers` of shape (n, 3), `radii` of shape (n,)),
    `collider.sphere_overlaps(*center, radius)`: an (n,) bool array."""

def aabb_overlaps(
    collider: _core.SdfCollider,
    mins: ArrayLike,
    maxs: ArrayLike,
    *,
    workers: int | None = None,
    out: NDArray[numpy.bool_] | None = None,
) -> NDArray[numpy.bool_]:
    """For each box (`mins` and `maxs` of shape (n, 3)),
    `collider.aabb_overlaps(*min, *max)`: an (n,) bool array."""

def sample_grid(
    collider: _core.SdfCollider,
    lo: _core.Vec3 | tuple[float, float, float],
    hi: _core.Vec3 | tuple[float, float, float],
    shape: tuple[int, int, int],
    *,
    offset: tuple[int, int, int] | None = None,
    block: tuple[int, int, int] | None = None,
    workers: int | None = None,
    out: NDArray[numpy.float32] | None = None,
) -> NDArray[numpy.float32]:
    """The scene's distance on a grid of `shape = (nx, ny, nz)` samples from
    `lo` to `hi` (corners included): `out[i, j, k]` is the distance at
    `(x_i, y_j, z_k)`, `x_i = lo.x + (hi.x - lo.x) * i / (nx - 1)` computed in
    float64 and then narrowed to float32 (`x_0 = lo.x` when `nx` is 1).
    A corner of three numbers (a tuple, list or array) is taken as
    `Vec3(*corner)` takes them; `shape` may be any sequence of three ints.

    With `offset = (i, j, k)` and `block = (bx, by, bz)` (by default the
    rest of the grid), only that block: `out[a, b, c]` is sample
    `(i + a, j + b, k + c)` of the whole grid, with the same bits."""

def transform_points(
    m: _core.Mat4x4,
    points: ArrayLike,
    *,
    workers: int | None = None,
    out: NDArray[numpy.float32] | None = None,
) -> NDArray[numpy.float32]:
    """Each row of `points` (shape (n, 3)) transformed by `m` as
    `m.transform_point(Vec3(*row))` does: an (n, 3) float32 array, or
    `out` filled and returned."""

def transform_directions(
    m: _core.Mat4x4,
    directions: ArrayLike,
    *,
    workers: int | None = None,
    out: NDArray[numpy.float32] | None = None,
) -> NDArray[numpy.float32]:
    """Each row of `directions` (shape (n, 3)) transformed by `m` as
    `m.transform_direction(Vec3(*row))` does (translation ignored): an
    (n, 3) float32 array, or `out` filled and returned."""

def convex_hull(points: ArrayLike, *, workers: int | None = None) -> NDArray[numpy.float32]:
    """The convex hull of the rows of `points` (shape (n, 2)), as
    `_core.convex_hull` gives it for the list of rows: a (k, 2) float32
    array, counter-clockwise from the lowest point (the scan's result when it
    is convex and contains every point, else the exact hull, as there); the
    same ValueError for a NaN, an infinite coordinate or coordinates too large
    for the orientation test that make an orientation undefined."""

def bounding_box(
    points: ArrayLike, *, workers: int | None = None
) -> tuple[float, float, float, float]:
    """`(min_x, min_y, max_x, max_y)` of the rows of `points` (shape (n, 2)),
    as `_core.bounding_box` gives it for the list of rows."""

def pixel_edge_points(
    image: ArrayLike, threshold: float, channel: int = 0, *, workers: int | None = None
) -> NDArray[numpy.float32]:
    """The outline pixels of `image` (shape (h, w), or (h, w, c) read at
    `channel`): each pixel whose value is above `threshold` and that has
    a 4-neighbour not above it, or lies on the image's border, as (x, y)
    in row-major order; a (k, 2) float32 array, the points
    `_core.pixel_edge_points` gives for the flattened image."""

def handles(
    world: _core.PhysicsWorld, *, out: NDArray[numpy.uint32] | None = None
) -> NDArray[numpy.uint32]:
    """The handle of every body of `world` in its array order (the order
    `step` and `raycast` report in): an (n,) uint32 array."""

def positions(
    world: _core.PhysicsWorld, *, out: NDArray[numpy.float32] | None = None
) -> NDArray[numpy.float32]:
    """The position of every body of `world` in its array order (that of
    `handles(world)`): an (n, 3) float32 array."""

def set_positions(
    world: _core.PhysicsWorld,
    handles: ArrayLike,
    xyz: ArrayLike,
    *,
    workers: int | None = None,
) -> None:
    """`world.set_position(handle, *row)` for each of `handles` (an integer
    array of shape (n,)) and row of `xyz` (shape (n, 3)), in order: an
    unknown handle is skipped, a repeated one ends at its last row. A
    handle outside 0..2**32-1 raises OverflowError before anything moves."""

def step(world: _core.PhysicsWorld, dt: float) -> NDArray[numpy.uint32]:
    """`world.step(dt)`, with its pairs as a (k, 2) uint32 array in the same
    order. Ctrl-C stops it with KeyboardInterrupt and leaves the world as
    it was."""

def add_bodies(
    world: _core.PhysicsWorld,
    masses: ArrayLike,
    positions: ArrayLike,
    velocities: ArrayLike | None = None,
    *,
    out: NDArray[numpy.uint32] | None = None,
) -> NDArray[numpy.uint32]:
    """Adds a body for each of `masses` (shape (n,)) at the row of
    `positions` (shape (n, 3)) moving at the row of `velocities` (shape
    (n, 3); at rest when None), as `RigidBody(mass)`, `set_position`,
    `set_velocity` and `world.add_body` would one by one: an (n,) uint32
    array of their handles, in order. A refused or stopped call adds
    nothing."""

def remove_bodies(world: _core.PhysicsWorld, handles: ArrayLike) -> None:
    """`world.remove_body(handle)` for each of `handles` (an integer array
    of any shape, in C order), in order: unknown handles are skipped and
    each removal moves the last body into the freed row. A refused or
    stopped call removes nothing."""

def rows(
    world: _core.PhysicsWorld,
    handles: ArrayLike,
    *,
    out: NDArray[numpy.int64] | None = None,
) -> NDArray[numpy.int64]:
    """The row of `positions(world)` (and of `handles(world)`) holding each
    of `handles` (an integer array of any shape, such as the pairs of
    `step`): an int64 array of the same shape, -1 for a handle the world
    does not hold."""

def raycasts(
    world: _core.PhysicsWorld,
    origins: ArrayLike,
    directions: ArrayLike,
    *,
    workers: int | None = None,
    out: tuple[
        NDArray[numpy.bool_] | None, NDArray[numpy.uint32] | None, NDArray[numpy.float32] | None
    ]
    | None = None,
) -> tuple[NDArray[numpy.bool_], NDArray[numpy.uint32], NDArray[numpy.float32]]:
    """The nearest hit of each ray (rows of `origins` and `directions`, shape
    (n, 3)): `(hit, handle, t)`, (n,) arrays of bool, uint32 and float32
    holding entry 0 of `world.raycast(*origin, *direction)`, or (False, 0,
    inf) where that list is empty."""

def lz4_compress(data: Buffer) -> bytes:
    """`_core.lz4_compress(data)` as bytes, for any bytes-like `data` (bytes,
    bytearray, memoryview, a uint8 array): a 4-byte little-endian length,
    then one LZ4 block."""

def lz4_decompress(data: Buffer) -> bytes:
    """`_core.lz4_decompress(data)` as bytes, for any bytes-like `data`, with
    its RuntimeErrors."""

def scene_bytes(scene: _core.SdfScene) -> bytes:
    """`scene.to_gpu_bytes()` as bytes."""

def load_scene(collider: _core.SdfCollider, data: Buffer) -> None:
    """`collider.load_bytes(data)` for any bytes-like `data`."""

def tile_bytes(cache: _core.TileCache, x: int, y: int) -> bytes | None:
    """`cache.get(x, y)` as bytes, or None for a tile not in the cache; like
    `get`, it marks the tile as recently used."""

def put_tile(cache: _core.TileCache, x: int, y: int, data: Buffer) -> tuple[int, int] | None:
    """`cache.put(x, y, data)` for any bytes-like `data`: the key of the tile
    it evicted, or None."""

def _check_node_graph(document: str) -> list[tuple[object, ...]]:
    """The problems of a node-graph document, each as its rule's name and the
    pieces of the document it names, for `gfxcore.check_node_graph` to word."""

def _state_of(obj: object) -> bytes:
    """The state of a _core Mat4x4, RigidBody, SdfPrimitive, SdfScene,
    SdfCollider, PhysicsWorld or TileCache as a versioned payload, read
    under the shared borrow; gfxcore's pickling uses it."""

def _restore_state(obj: object, state: Buffer) -> None:
    """Give `obj` the state `_state_of` read from an object of its class
    (a TileCache: of its capacity), under the exclusive borrow. A payload
    that is not such a state raises ValueError and changes nothing."""

def resolve(
    collider: _core.SdfCollider,
    points: ArrayLike,
    *,
    workers: int | None = None,
    out: tuple[
        NDArray[numpy.float32] | None, NDArray[numpy.float32] | None, NDArray[numpy.float32] | None
    ]
    | None = None,
) -> tuple[NDArray[numpy.float32], NDArray[numpy.float32], NDArray[numpy.float32]]:
    """`(distances(collider, points), normals(collider, points),
    push_out(collider, points))` from one pass over the scene: a frame's
    collision answers for the rows of `points` (shape (n, 3)), each array
    bit for bit the one its own call gives. `out` is a tuple of three
    arrays (or Nones) that do not overlap one another."""
