"""Fast, exact building blocks for graphics and game tooling.

`_core` is a native module: 2D/3D vectors, quaternions and 4x4 matrices in
32-bit floats; a signed-distance-field (SDF) scene serialised to a
48-byte-per-primitive GPU buffer and queried on the CPU; a small rigid-body
world; a node-graph-to-WGSL compiler and a WGSL struct layout calculator; an
LRU tile cache and size-prefixed LZ4 compression; convex hull, edge pixels and
a 2D FABRIK solver.

Conventions that hold for every member:

- Floats are narrowed to 32 bits on the way in (`Vec2(0.1, 0).x` reads
  0.10000000149011612) and every operation is rounded to 32 bits in the
  order written, so results are the same bit for bit on every machine.
- Arguments may be passed by position or by keyword. An argument of the wrong
  type raises `TypeError` whose message names the parameter
  (`argument 'x': must be real number, not str`); an integer outside its
  native range raises `OverflowError`; a tuple of the wrong length raises
  `ValueError`. A failed call changes nothing.
- Byte results are lists of ints 0..255, never `bytes`; byte arguments
  marked *byte sequence* accept any sequence of such ints (`bytes`,
  `bytearray`, lists, tuples), but not `str`.
- Classes cannot be subclassed, have no instance `__dict__`, and compare and
  hash by identity (only `BodyType` compares by value).
- Every call keeps the interpreter lock and borrows its objects until its
  result is built. Python code that runs in the middle of a call (an
  argument's `__float__` or `__index__`, a custom sequence, a finalizer or a
  signal handler) may let another thread in; that thread's call on the same
  object raises `RuntimeError` "Already borrowed" or "Already mutably
  borrowed". Give each thread its own objects, or a lock around shared ones.
- An internal fault raises `PanicException`, derived from `BaseException`.
"""

from collections.abc import Sequence
from typing import Never, final

__all__ = [
    "convex_hull",
    "bounding_box",
    "pixel_edge_points",
    "solve_ik",
    "compute_bone_lengths",
    "Vec2",
    "AABB",
    "compile_node_graph",
    "lz4_compress",
    "lz4_decompress",
    "compute_layout",
    "generate_wgsl_struct",
    "TileCache",
    "Vec3",
    "Vec4",
    "Mat4x4",
    "Quaternion",
    "SdfPrimitive",
    "SdfScene",
    "BodyType",
    "RigidBody",
    "PhysicsWorld",
    "SdfCollider",
]

def convex_hull(points: Sequence[tuple[float, float]]) -> list[tuple[float, float]]:
    """Convex hull of a 2D point set (Graham scan in 32-bit floats).

    Args:
        points: Sequence of `(x, y)` tuples of numbers (a list item or a
            3-tuple is refused).

    Returns:
        The hull's vertices, counter-clockwise, starting at the lowest point
        (leftmost among the lowest). Points on an edge and repeated points are
        dropped. Fewer than three points are returned unchanged, in input
        order; all-equal points give that point twice.

    Raises:
        ValueError: A point has a NaN coordinate, infinite coordinates make
            the orientation of some points undefined, or coordinates too large
            for the orientation test (beyond about 2^62) make it overflow.
        TypeError: `points` is not a sequence of tuples of numbers.
        KeyboardInterrupt: Ctrl-C during the sort of a large set.

    Note:
        The scan's angular order rounds to 32 bits and takes points within
        1e-9 (cross product from the lowest point) as collinear. Its result
        is returned when it is a convex polygon containing every point, both
        judged with the scan's own 32-bit tests and that tolerance (a margin
        of 2^-20 of the two products for rounding); so are the results of sets
        within about 2e-5 of the lowest point, which the order takes as one
        line. Otherwise (dense clouds of a million points, nearly collinear
        runs, magnitudes far apart) the order was inconsistent and the exact
        hull is returned in the same form: lowest point first,
        counter-clockwise, no point on an edge. With an infinite coordinate
        the scan's result is returned as it comes. Points deep inside the
        polygon of the extreme points are dropped before the sort; this
        changes no result.

    Examples:
        >>> convex_hull([(1, 1), (0, 0), (0.5, 0.5), (1, 0), (0, 1)])
        [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0)]
    """

def bounding_box(points: Sequence[tuple[float, float]]) -> tuple[float, float, float, float]:
    """Axis-aligned bounding box of a 2D point set.

    Args:
        points: Sequence of `(x, y)` tuples of numbers.

    Returns:
        `(min_x, min_y, max_x, max_y)`; `(0.0, 0.0, 0.0, 0.0)` for no points.
        NaN coordinates are skipped; if every value of an axis is NaN, that
        axis reads `(3.4028234663852886e+38, -3.4028234663852886e+38)`.

    Raises:
        TypeError: `points` is not a sequence of tuples of numbers.

    Examples:
        >>> bounding_box([(1, -2), (3, 4)])
        (1.0, -2.0, 3.0, 4.0)
    """

def pixel_edge_points(
    pixel_data: Sequence[float],
    pixel_count: int,
    stride_floats: int,
    channel_offset_f32: int,
    threshold: float,
    width: int,
) -> list[tuple[float, float]]:
    """Outline pixels of the active region of one channel of an image.

    Pixel `i` (row-major, `width` per row) has its value at
    `pixel_data[channel_offset_f32 + i * stride_floats]`, or 0.0 past the end
    of the list. It is *active* when its value is strictly greater than
    `threshold`, and an *edge* when it is active and one of its four
    neighbours is inactive or outside the image (the last row may be partial).

    Args:
        pixel_data: Flat sequence of numbers, `stride_floats` per pixel.
        pixel_count: Number of pixels (>= 0).
        stride_floats: Floats per pixel (>= 0).
        channel_offset_f32: Index of the tested float inside a pixel (>= 0).
        threshold: Activity threshold (32-bit float).
        width: Image width in pixels (>= 0).

    Returns:
        `(x, y)` tuples of floats, rows top to bottom, x ascending. Empty when
        `pixel_count`, `stride_floats` or `width` is 0.

    Raises:
        OverflowError: A negative count, stride, offset or width.
        TypeError: `pixel_data` is not a sequence of numbers.
        KeyboardInterrupt: Ctrl-C during a long scan.

    Examples:
        >>> pixel_edge_points([1.0] * 9, 9, 1, 0, 0.5, 3)  # 3x3, all active
        [(0.0, 0.0), (1.0, 0.0), (2.0, 0.0), (0.0, 1.0), (2.0, 1.0), (0.0, 2.0), (1.0, 2.0), (2.0, 2.0)]
    """

def solve_ik(
    chain_positions: Sequence[tuple[float, float]],
    target: tuple[float, float],
    lengths: Sequence[float],
    max_iter: int = 10,
    tolerance: float = 0.001,
) -> list[tuple[float, float]]:
    """Move a 2D joint chain so that its last joint reaches `target` (FABRIK).

    The root (first joint) never moves and every bone keeps its length from
    `lengths`. A target at or beyond full reach stretches the chain straight
    towards it without iterating; otherwise backward and forward passes run
    until the end effector is closer than `tolerance` (at least once) or
    `max_iter` passes have run.

    Args:
        chain_positions: Joint positions `(x, y)`, root first.
        target: `(x, y)` tuple for the end effector.
        lengths: Bone lengths; exactly `len(chain_positions) - 1` of them.
            Not validated: a zero length puts a joint on its neighbour.
        max_iter: Maximum iterations, 0..4294967295; 0 returns a reachable
            chain unchanged.
        tolerance: Convergence distance, in the units of the positions.

    Returns:
        The solved positions, same order and length as `chain_positions`.
        Fewer than two joints are returned unchanged.

    Raises:
        ValueError: Wrong number of lengths ("lengths must have exactly 2
            element(s) for a chain of 3 joints, got 1").
        OverflowError: A negative or too large `max_iter`.
        TypeError: A list instead of a tuple for a point, `None` for an
            optional argument, or a non-number.
        KeyboardInterrupt: Ctrl-C during a long solve.

    Examples:
        >>> solve_ik([(0, 0), (1, 0), (2, 0)], (10, 0), [1, 1])  # out of reach
        [(0.0, 0.0), (1.0, 0.0), (2.0, 0.0)]
    """

def compute_bone_lengths(positions: Sequence[tuple[float, float]]) -> list[float]:
    """Distances between consecutive joints, for `solve_ik`.

    Args:
        positions: Joint positions `(x, y)`.

    Returns:
        `len(positions) - 1` floats; empty for fewer than two positions.

    Raises:
        TypeError: `positions` is not a sequence of tuples of numbers.

    Examples:
        >>> compute_bone_lengths([(0, 0), (3, 4), (3, 4)])
        [5.0, 0.0]
    """

@final
class Vec2:
    """A 2D vector of two 32-bit floats.

    Operations never change the vector; each returns a new one. Supports
    `a + b`, `a - b` and `a * scalar` (not `scalar * a`).

    Examples:
        >>> Vec2(3, 4).length()
        5.0
    """

    x: float
    """First component (32-bit float; assigning narrows, deleting raises `AttributeError`)."""
    y: float
    """Second component (32-bit float; assigning narrows, deleting raises `AttributeError`)."""
    def __new__(cls, x: float, y: float) -> Vec2:
        """Create a vector; both values are narrowed to 32-bit floats.

        Args:
            x: First component.
            y: Second component.
        """
    def dot(self, other: Vec2) -> float:
        """Dot product `self.x * other.x + self.y * other.y`.

        Raises:
            TypeError: `other` is not a `Vec2`.
        """
    def length(self) -> float:
        """Euclidean length."""
    def normalize(self) -> Vec2:
        """Unit-length copy; the zero vector (or one whose squared length
        underflows to 0) gives `Vec2(0, 0)`, a NaN component gives NaNs."""
    def lerp(self, other: Vec2, t: float) -> Vec2:
        """Linear interpolation `self + (other - self) * t`.

        `t` is not clamped: values outside 0..1 extrapolate.

        Raises:
            TypeError: `other` is not a `Vec2` or `t` is not a number.

        Examples:
            >>> Vec2(1, 2).lerp(Vec2(3, 6), 2)
            Vec2(5, 10)
        """
    def __add__(self, other: Vec2, /) -> Vec2:
        """Component-wise sum; any other operand raises `TypeError`."""
    def __radd__(self, other: Vec2, /) -> Vec2:
        """The `+` slot seen from the right; only `Vec2 + Vec2` succeeds."""
    def __sub__(self, other: Vec2, /) -> Vec2:
        """Component-wise difference `self - other`."""
    def __rsub__(self, other: Vec2, /) -> Vec2:
        """The `-` slot seen from the right; only `Vec2 - Vec2` succeeds."""
    def __mul__(self, other: float, /) -> Vec2:
        """Scale by a number (narrowed to 32 bits): `v * 2`."""
    # Scaling takes the vector on the left only: `2 * v` is refused.
    def __rmul__(self, other: Never, /) -> Never:
        """Refused: `2 * v` raises `TypeError`; write `v * 2`."""

@final
class AABB:
    """An axis-aligned 2D box of four 32-bit floats.

    Nothing is checked: a box whose minimum exceeds its maximum, or that holds
    NaN, can exist; it then contains no point.

    Examples:
        >>> AABB(0, 0, 4, 3).center()
        Vec2(2, 1.5)
    """

    min_x: float
    """Left edge (32-bit float)."""
    min_y: float
    """Bottom edge (32-bit float)."""
    max_x: float
    """Right edge (32-bit float)."""
    max_y: float
    """Top edge (32-bit float)."""
    def __new__(cls, min_x: float, min_y: float, max_x: float, max_y: float) -> AABB:
        """Create a box; the values are stored as given, narrowed to 32 bits.

        Args:
            min_x: Left edge.
            min_y: Bottom edge.
            max_x: Right edge.
            max_y: Top edge.
        """
    def contains(self, v: Vec2) -> bool:
        """Whether the point lies inside the box, edges and corners included.

        Raises:
            TypeError: `v` is not a `Vec2`.
        """
    def intersects(self, other: AABB) -> bool:
        """Whether the two boxes overlap; boxes that only touch do.

        Raises:
            TypeError: `other` is not an `AABB`.
        """
    def center(self) -> Vec2:
        """Centre point `((min_x + max_x) * 0.5, (min_y + max_y) * 0.5)`."""
    def size(self) -> Vec2:
        """Width and height `(max_x - min_x, max_y - min_y)`; negative for an inverted box."""
    def expand(self, amount: float) -> AABB:
        """A box grown by `amount` on every side; a negative amount shrinks
        it and may invert it."""

def compile_node_graph(node_graph_json: str) -> str:
    """Compile a node-graph JSON document into a WGSL fragment shader.

    The document is `{"nodes": [...], "edges": [...]}`; each node has an
    `id`, a `type` (one of UV, SampleTexture, PixelColor, PixelChannel,
    Lerp, Add, Multiply, Clamp, GravityWarp, Discard, FinalColor) and
    optional `params`; each edge has `from_node`, `from_port`, `to_node`,
    `to_port`. Nodes are emitted in breadth-first order, ties broken by their
    place in the document; each defines `let {id}_{suffix}`. See the
    node-graph format page for every node's ports and the line it emits;
    `gfxcore.check_node_graph` checks port names before compiling.

    Args:
        node_graph_json: The document as a `str`.

    Returns:
        The complete shader text: bindings `t_color` (group 0, binding 0) and
        `s_color` (binding 1), the helper `warp_uv` and the entry point
        `fs_main`. It is not validated as WGSL: a misspelled port name
        compiles into a reference the GPU refuses.

    Raises:
        ValueError: A JSON or document fault, with its position
            ("missing field `edges` at line 1 column 13"); "Node graph
            contains a cycle"; "Unknown node type: {type}".
        TypeError: `node_graph_json` is not a `str`.
        KeyboardInterrupt: Ctrl-C while decoding a huge document.

    Examples:
        >>> compile_node_graph('{"nodes": [], "edges": []}').count("\\n")
        21
    """

def lz4_compress(data: bytes) -> list[int]:
    """Compress bytes into a 4-byte little-endian length header plus one LZ4 block.

    Args:
        data: A `bytes` object (a `bytearray` or list is refused).

    Returns:
        The compressed bytes as a list of ints 0..255.

    Raises:
        RuntimeError: "Compression input too long." (above 2113929216 bytes).
        TypeError: `data` is not `bytes`.

    Examples:
        >>> lz4_compress(b"")
        [0, 0, 0, 0, 0]
    """

def lz4_decompress(data: bytes) -> list[int]:
    """Decompress the output of `lz4_compress`.

    Never allocates more than the header's length, and a header larger than
    the true length still gives the true content.

    Args:
        data: A `bytes` object: the 4-byte header, then one LZ4 block.

    Returns:
        The original bytes as a list of ints 0..255.

    Raises:
        RuntimeError: "Source buffer must at least contain size prefix." (under
            4 bytes), "Parsed size prefix in buffer must not be negative.",
            "Given size parameter is too big" (header above 2113929216), or
            "Decompression failed. Input invalid or too long?".
        TypeError: `data` is not `bytes`.

    Examples:
        >>> bytes(lz4_decompress(bytes(lz4_compress(b"tile"))))
        b'tile'
    """

def compute_layout(channels: Sequence[tuple[str, str]]) -> dict[str, int]:
    """Byte offsets of named channels in a WGSL struct, and its stride.

    Accepted types (exact spelling): `f32`, `u32`, `i32` (size 4, align 4),
    `vec2f` (8, 8), `vec3f` (12, align 16), `vec4f` (16, 16). Each channel
    starts at the next multiple of its alignment; the stride is the end of the
    last channel rounded up to the largest alignment used. A repeated name
    keeps its last offset; a channel named `stride` is overwritten by the
    stride.

    Args:
        channels: Sequence of `(name, type)` tuples of `str`.

    Returns:
        `{name: offset, ..., "stride": stride}`, all in bytes (key order is
        not defined).

    Raises:
        ValueError: "Unknown WGSL type: vec3<f32>" for any other type name.
        TypeError: A channel that is not a tuple of two `str`.
        ValueError: A channel tuple whose length is not 2.

    Examples:
        >>> compute_layout([("color", "vec3f"), ("alpha", "f32"), ("uv", "vec2f")])
        {'color': 0, 'alpha': 12, 'uv': 16, 'stride': 32}
    """

def generate_wgsl_struct(struct_name: str, channels: Sequence[tuple[str, str]]) -> str:
    """WGSL declaration of a struct with the channels of `compute_layout`.

    Each `vec3f` field carries a comment with its offset and padded size.
    Names are copied as given, not checked against WGSL's rules.

    Args:
        struct_name: The struct's name.
        channels: Sequence of `(name, type)` tuples, types as in
            `compute_layout`.

    Returns:
        `struct {name} {` ... `};`, lines joined by line feeds, no final one.

    Raises:
        ValueError: "Unknown WGSL type: ..." for a type not in the table.
        TypeError: A non-`str` name or a malformed channel.

    Examples:
        >>> generate_wgsl_struct("S", [("a", "f32")])
        'struct S {\\n    a: f32,\\n};'
    """

@final
class TileCache:
    """A least-recently-used cache of tile data keyed by `(tile_x, tile_y)`.

    `put`, `get`, `contains` and `evict` take O(1) time. Tile coordinates are
    signed 32-bit integers (a value outside -2**31..2**31-1 raises
    `OverflowError`). `len(cache)` and `in` are not supported: use `len()` and
    `contains()`.

    Examples:
        >>> cache = TileCache(2); cache.put(0, 0, b"\\x01"); cache.get(0, 0)
        [1]
    """
    def __new__(cls, capacity: int) -> TileCache:
        """Create an empty cache holding at most `capacity` tiles (at least 1).

        Args:
            capacity: Maximum number of tiles, 0..2**64-1; 0 is stored as 1.

        Raises:
            OverflowError: A negative capacity.
            TypeError: A non-integer capacity.
        """
    def put(self, tile_x: int, tile_y: int, data: Sequence[int]) -> tuple[int, int] | None:
        """Store a copy of `data` under the key and make it the most recently used.

        Args:
            tile_x: Tile column (signed 32-bit).
            tile_y: Tile row (signed 32-bit).
            data: Byte sequence (`bytes`, `bytearray`, list of ints 0..255).

        Returns:
            The key `(x, y)` of the least recently used tile if storing a new
            key went over capacity (that tile is dropped), else `None`.
            Replacing an existing key never evicts.

        Raises:
            OverflowError: A coordinate out of 32-bit range or a byte outside 0..255.
            TypeError: `data` is a `str` or not a sequence of ints.
        """
    def get(self, tile_x: int, tile_y: int) -> list[int] | None:
        """The tile's bytes as a new list (and mark it most recently used), or `None`."""
    def contains(self, tile_x: int, tile_y: int) -> bool:
        """Whether the tile is cached; never changes the recency order."""
    def evict(self, tile_x: int, tile_y: int) -> bool:
        """Drop the tile; `True` if there was one."""
    def keys(self) -> list[tuple[int, int]]:
        """Keys of all cached tiles, in no defined order (not the recency order)."""
    def len(self) -> int:
        """Number of cached tiles."""
    def capacity(self) -> int:
        """Maximum number of tiles (1 for a cache created with 0)."""
    def clear(self) -> None:
        """Drop every tile; the capacity stays."""

@final
class Vec3:
    """A 3D vector of three 32-bit floats; also the point, direction and axis
    type of `Mat4x4` and `Quaternion`.

    Operations never change the vector. Supports `a + b`, `a - b`,
    `a * scalar` and `-a` (not `scalar * a`); the methods `add`, `sub` and
    `mul` compute the same but raise a `TypeError` naming the parameter.

    Examples:
        >>> Vec3(1, 0, 0).cross(Vec3(0, 1, 0))
        Vec3(0, 0, 1)
    """

    x: float
    """First component (32-bit float)."""
    y: float
    """Second component (32-bit float)."""
    z: float
    """Third component (32-bit float)."""
    def __new__(cls, x: float, y: float, z: float) -> Vec3:
        """Create a vector; values are narrowed to 32-bit floats.

        Args:
            x: First component.
            y: Second component.
            z: Third component.
        """
    def dot(self, other: Vec3) -> float:
        """Dot product."""
    def cross(self, other: Vec3) -> Vec3:
        """Cross product, right-handed: x cross y is z."""
    def length(self) -> float:
        """Euclidean length."""
    def normalize(self) -> Vec3:
        """Unit-length copy; the zero vector gives `Vec3(0, 0, 0)`."""
    def add(self, other: Vec3) -> Vec3:
        """`self + other`.

        Raises:
            TypeError: `other` is not a `Vec3` ("argument 'other': ...").
        """
    def sub(self, other: Vec3) -> Vec3:
        """`self - other`.

        Raises:
            TypeError: `other` is not a `Vec3`.
        """
    def mul(self, scalar: float) -> Vec3:
        """`self * scalar`, the scalar narrowed to 32 bits.

        Raises:
            TypeError: `scalar` is not a number.
        """
    def __add__(self, other: Vec3, /) -> Vec3:
        """Component-wise sum; any other operand raises `TypeError`."""
    def __radd__(self, other: Vec3, /) -> Vec3:
        """The `+` slot seen from the right; only `Vec3 + Vec3` succeeds."""
    def __sub__(self, other: Vec3, /) -> Vec3:
        """Component-wise difference."""
    def __rsub__(self, other: Vec3, /) -> Vec3:
        """The `-` slot seen from the right; only `Vec3 - Vec3` succeeds."""
    def __mul__(self, other: float, /) -> Vec3:
        """Scale by a number: `v * 2`."""
    # Scaling takes the vector on the left only: `2 * v` is refused.
    def __rmul__(self, other: Never, /) -> Never:
        """Refused: `2 * v` raises `TypeError`; write `v * 2`."""
    def __neg__(self) -> Vec3:
        """`-v`: every sign flipped (0 becomes -0)."""

@final
class Vec4:
    """A 4D vector of four 32-bit floats, without operators.

    Examples:
        >>> Vec4(1, 1, 1, 1).length()
        2.0
    """

    x: float
    """First component (32-bit float)."""
    y: float
    """Second component (32-bit float)."""
    z: float
    """Third component (32-bit float)."""
    w: float
    """Fourth component (32-bit float)."""
    def __new__(cls, x: float, y: float, z: float, w: float) -> Vec4:
        """Create a vector; values are narrowed to 32-bit floats.

        Args:
            x: First component.
            y: Second component.
            z: Third component.
            w: Fourth component.
        """
    def dot(self, other: Vec4) -> float:
        """Dot product."""
    def length(self) -> float:
        """Euclidean length."""
    def normalize(self) -> Vec4:
        """Unit-length copy; the zero vector gives `Vec4(0, 0, 0, 0)`."""

@final
class Mat4x4:
    """A 4x4 transform matrix of 32-bit floats, stored column-major.

    Element (column c, row r) is `data()[4 * c + r]`; a translation sits in
    elements 12, 13, 14. There is no constructor (`Mat4x4()` raises
    `TypeError` "No constructor defined for Mat4x4") and no operator: build
    with the static methods and combine with `mul`. The repr shows the
    elements row by row with three decimals.

    Examples:
        >>> Mat4x4.from_translation(Vec3(1, 2, 3)).transform_point(Vec3(0, 0, 0))
        Vec3(1, 2, 3)
    """
    @staticmethod
    def identity() -> Mat4x4:
        """The identity matrix."""
    @staticmethod
    def from_translation(v: Vec3) -> Mat4x4:
        """Translation by `v`."""
    @staticmethod
    def from_scale(v: Vec3) -> Mat4x4:
        """Scale by `v.x`, `v.y`, `v.z` along the axes."""
    @staticmethod
    def from_rotation(q: Quaternion) -> Mat4x4:
        """Rotation by `q`, normalised first (a zero quaternion gives the identity)."""
    def mul(self, other: Mat4x4) -> Mat4x4:
        """Matrix product `self * other`: applied to a point, `other` acts first.

        `T.mul(R).mul(S)` scales, then rotates, then translates.
        """
    def transform_point(self, v: Vec3) -> Vec3:
        """`self * (x, y, z, 1)`: applies the translation; no division by w."""
    def transform_direction(self, v: Vec3) -> Vec3:
        """`self * (x, y, z, 0)`: ignores the translation."""
    def transpose(self) -> Mat4x4:
        """The transposed matrix."""
    def data(self) -> list[float]:
        """The 16 elements, column-major, ready for GPU upload as `mat4x4<f32>`."""

@final
class Quaternion:
    """A rotation as a quaternion of four 32-bit floats: vector part `x, y, z`,
    scalar part `w`.

    No unit-length invariant is kept: fields can be assigned freely, and only
    `normalize`, `to_mat4` and `Mat4x4.from_rotation` normalise. There is no
    constructor (`Quaternion()` raises `TypeError`); use the static methods.
    `q1 * q2` is the Hamilton product, as `q1.mul(q2)`.

    Examples:
        >>> Quaternion.identity()
        Quaternion(0, 0, 0, 1)
    """

    x: float
    """Vector part, x (32-bit float)."""
    y: float
    """Vector part, y (32-bit float)."""
    z: float
    """Vector part, z (32-bit float)."""
    w: float
    """Scalar part (32-bit float)."""
    @staticmethod
    def identity() -> Quaternion:
        """No rotation: (0, 0, 0, 1)."""
    @staticmethod
    def from_axis_angle(axis: Vec3, radians: float) -> Quaternion:
        """Rotation by `radians` about `axis` (right-handed).

        The axis is normalised here, whatever its length; a zero axis gives
        `(0, 0, 0, cos(radians / 2))`.

        `from_axis_angle(Vec3(0, 0, 1), math.pi / 2)` turns x into y.
        """
    @staticmethod
    def from_euler_xyz(roll: float, pitch: float, yaw: float) -> Quaternion:
        """Rotation by `roll` about X, then `pitch` about Y, then `yaw` about
        Z (fixed axes), all in radians: the product Z(yaw) * Y(pitch) * X(roll)."""
    def normalize(self) -> Quaternion:
        """Unit-length copy; the zero quaternion gives the identity."""
    def mul(self, other: Quaternion) -> Quaternion:
        """Hamilton product `self * other`: `other` is applied first.

        Raises:
            TypeError: `other` is not a `Quaternion`.
        """
    def conjugate(self) -> Quaternion:
        """`(-x, -y, -z, w)`: the inverse rotation of a unit quaternion."""
    def to_mat4(self) -> Mat4x4:
        """The rotation matrix of the normalised quaternion, column-major."""
    def __mul__(self, other: Quaternion, /) -> Quaternion:
        """Hamilton product; a number or `Vec3` operand raises `TypeError`."""
    def __rmul__(self, other: Quaternion, /) -> Quaternion:
        """The `*` slot seen from the right; only `Quaternion * Quaternion` succeeds."""

@final
class SdfPrimitive:
    """One signed-distance-field primitive, serialised as a 48-byte GPU record.

    Create with the static methods (`SdfPrimitive()` raises `TypeError`). All
    lengths are in scene units, angles in radians; nothing is validated
    (negative radii, NaN and infinities are stored as given). Every
    primitive starts with `csg_op` 0 and `smooth_k` 0.0; both are stored and
    serialised for your shader, but `SdfCollider` ignores them and always
    takes the union.

    Record layout (little-endian): centre x, y, z at 0, 4, 8; params[0..2]
    at 12, 16, 20; `smooth_k` at 24; params[3] at 28; type code (u32) at 32;
    `csg_op` (u32) at 36; 8 zero bytes.

    Examples:
        >>> SdfPrimitive.sphere(1, 2.5, -3, 0.5)
        SdfPrimitive(type=0, csg_op=0, center=[1.000,2.500,-3.000])
    """
    @staticmethod
    def sphere(cx: float, cy: float, cz: float, radius: float) -> SdfPrimitive:
        """Sphere (type 0) of `radius` about `(cx, cy, cz)`."""
    @staticmethod
    def box_(cx: float, cy: float, cz: float, hx: float, hy: float, hz: float) -> SdfPrimitive:
        """Axis-aligned box (type 1) about `(cx, cy, cz)` with half-extents
        `hx, hy, hz` (the box is twice as wide)."""
    @staticmethod
    def cylinder(cx: float, cy: float, cz: float, height: float, radius: float) -> SdfPrimitive:
        """Cylinder (type 2) along Y about `(cx, cy, cz)`.

        `height` is the half-height: the caps are at `cy - height` and
        `cy + height`.
        """
    @staticmethod
    def capsule(
        ax: float, ay: float, az: float, bx: float, by: float, bz: float, radius: float
    ) -> SdfPrimitive:
        """Capsule (type 3): the points within `radius` of segment A-B.

        Stored as centre = midpoint of A and B, params[0..2] = B - A,
        params[3] = radius. A = B gives a sphere.
        """
    @staticmethod
    def cone(cx: float, cy: float, cz: float, height: float, angle: float) -> SdfPrimitive:
        """Cone (type 4) with its apex at `(cx, cy, cz)`, opening along +Y.

        Args:
            cx: Apex x.
            cy: Apex y.
            cz: Apex z.
            height: Size of the cone: its cap is the surface at right angles
                to the side that meets the side at `height / cos(angle)` from
                the apex and the axis at `height / cos(angle)**2`.
            angle: Half-angle between the Y axis and the side, in radians
                (0 < angle < pi/2; `math.radians(30)` for 30 degrees).

        Note:
            The cone's distance is never negative: it is 0 inside the cone and
            across a wedge beside and below its apex, where the formula's two
            terms cancel. `SdfCollider`'s overlap and push-out queries
            therefore never see a point as inside a cone; its distance is
            exact outside that region.
        """
    @staticmethod
    def torus(cx: float, cy: float, cz: float, r_major: float, r_minor: float) -> SdfPrimitive:
        """Torus (type 5) lying in the XZ plane about `(cx, cy, cz)`:
        `r_major` is the ring's radius, `r_minor` the tube's."""
    @staticmethod
    def plane(nx: float, ny: float, nz: float, d: float) -> SdfPrimitive:
        """Plane (type 6) of points `p` with `dot(p, n) = d`; the distance is
        `dot(p, n) - d`.

        The normal is stored in the centre slot and used as given, not
        normalised: a normal of length 2 doubles the distances.
        """
    @staticmethod
    def rounded_box(
        cx: float, cy: float, cz: float, hx: float, hy: float, hz: float, round: float
    ) -> SdfPrimitive:
        """Box (type 7) with half-extents `hx, hy, hz` whose surface is pushed
        out by `round` (edges and corners rounded with that radius)."""
    def set_csg_op(self, op: int) -> None:
        """Set the combine-operation code (0..4294967295) in place.

        The code is yours to define: the module stores and serialises it
        (bytes 36..39) but never interprets it.

        Raises:
            OverflowError: A negative value or one above 4294967295.
            TypeError: A non-integer (a float, for instance).
        """
    def set_smooth_k(self, k: float) -> None:
        """Set the blend factor in place (bytes 24..27); stored, never interpreted."""
    def to_bytes(self) -> list[int]:
        """The 48-byte record as a list of ints 0..255."""

@final
class SdfScene:
    """An ordered list of primitives that serialises to one GPU buffer.

    `add` stores a copy, so later changes to the primitive do not reach the
    scene. `len(scene)` is not supported: use `scene.len()`.

    Examples:
        >>> scene = SdfScene(); scene.add(SdfPrimitive.sphere(0, 0, 0, 1)); len(scene.to_gpu_bytes())
        48
    """
    def __new__(cls) -> SdfScene:
        """Create an empty scene."""
    def add(self, prim: SdfPrimitive) -> None:
        """Append a copy of `prim`; the same primitive may be added again.

        Raises:
            TypeError: `prim` is not an `SdfPrimitive`.
        """
    def clear(self) -> None:
        """Remove every primitive."""
    def len(self) -> int:
        """Number of primitives."""
    def to_gpu_bytes(self) -> list[int]:
        """All records in order, 48 bytes each, as a list of ints (empty for
        an empty scene). Pass it to `SdfCollider.load_bytes` or, through
        `gfxcore.scene_buffer`, to a GPU storage buffer."""

@final
class BodyType:
    """How a body takes part in integration: `Dynamic` (0), `Kinematic` (1)
    or `Static` (2).

    Members compare equal to each other and to their integer value
    (`BodyType.Static == 2`) but are not hashable and not ordered. There is
    no constructor. No operation of the module gives a body the type
    `Kinematic`.
    """

    Dynamic: BodyType
    """Moved by integration (any body with a non-zero mass); value 0."""
    Kinematic: BodyType
    """Value 1; not moved by integration."""
    Static: BodyType
    """Never moved by integration (a body of mass 0); value 2."""
    def __int__(self) -> int:
        """The member's value: 0, 1 or 2."""
    def __eq__(self, other: object, /) -> bool:
        """Equal to the same member or to its integer value; never to a float or `str`."""
    def __ne__(self, other: object, /) -> bool:
        """The negation of `==`."""
    __hash__: None  # type: ignore[assignment]

@final
class RigidBody:
    """A point mass with a position and a linear velocity (32-bit floats).

    A mass of 0 (or -0) makes a static body that forces, impulses and
    integration leave unmoved; any other mass, negative and NaN included,
    makes a dynamic one. `PhysicsWorld.add_body` stores a copy: the body
    itself keeps handle 0 and later changes to it do not reach the world.

    Examples:
        >>> RigidBody(1.0)
        RigidBody(handle=0, pos=(0.000,0.000,0.000), mass=1.000)
    """
    def __new__(cls, mass: float) -> RigidBody:
        """Create a body at rest at the origin.

        Args:
            mass: The mass; not validated.
        """
    def set_position(self, x: float, y: float, z: float) -> None:
        """Overwrite the position, whatever the body's type."""
    def get_position(self) -> tuple[float, float, float]:
        """The position `(x, y, z)`."""
    def set_velocity(self, vx: float, vy: float, vz: float) -> None:
        """Overwrite the velocity, in position units per time unit."""
    def get_velocity(self) -> tuple[float, float, float]:
        """The velocity `(vx, vy, vz)`."""
    def apply_force(self, fx: float, fy: float, fz: float, dt: float) -> None:
        """Add `(f / mass) * dt` to the velocity; nothing for a zero mass.

        The position is not changed until the next `integrate`.
        """
    def apply_impulse(self, ix: float, iy: float, iz: float) -> None:
        """Add `i / mass` to the velocity; nothing for a zero mass."""
    def is_static(self) -> bool:
        """Whether the body has zero mass (and so never moves by itself)."""
    def integrate(self, gx: float, gy: float, gz: float, dt: float) -> None:
        """One symplectic Euler step under the acceleration `g`:
        `velocity += g * dt`, then `position += velocity * dt`.

        `g` is an acceleration, not a force (it is not divided by the mass).
        Static bodies do not move.
        """

@final
class PhysicsWorld:
    """Bodies addressed by handles, stepped under a shared gravity, with
    broad-phase overlap pairs and ray casts.

    Every body is a unit cube (half-extent 0.5) centred on its position. A new
    world has gravity `(0, -980, 0)`. Handles are unsigned 32-bit ints
    starting at 1, never reused until the counter wraps after 2**32 handles.
    Unknown handles are not errors. There is no contact response: `step`
    only reports overlaps.

    Examples:
        >>> world = PhysicsWorld(); world.add_body(RigidBody(1.0))
        1
    """
    def __new__(cls) -> PhysicsWorld:
        """Create an empty world with gravity (0, -980, 0)."""
    def set_gravity(self, gx: float, gy: float, gz: float) -> None:
        """Set the acceleration applied to dynamic bodies by `step`."""
    def add_body(self, body: RigidBody) -> int:
        """Store a copy of `body` and return its new handle.

        Raises:
            TypeError: `body` is not a `RigidBody`.
        """
    def remove_body(self, handle: int) -> None:
        """Remove the body; the last body takes its place in the iteration
        order. An unknown handle does nothing.

        Raises:
            OverflowError: `handle` outside 0..4294967295.
        """
    def step(self, dt: float) -> list[tuple[int, int]]:
        """Advance every dynamic body by `dt` (symplectic Euler under the
        gravity), then report the overlapping boxes.

        Boxes that touch overlap; a NaN position overlaps nothing. The pairs
        are those of testing every pair, found with a grid of unit cells whose cost
        follows the bodies and pairs.

        Returns:
            `(handle_a, handle_b)` pairs in body order (`a` before `b`).

        Raises:
            KeyboardInterrupt: Ctrl-C while the step is still finding the
                pairs: the world is left as it was. Once the pairs are found
                the bodies have moved, and Ctrl-C while the list is built
                raises with those pairs lost.
        """
    def body_count(self) -> int:
        """Number of stored bodies."""
    def get_position(self, handle: int) -> tuple[float, float, float] | None:
        """The body's position, or `None` for an unknown handle."""
    def set_position(self, handle: int, x: float, y: float, z: float) -> None:
        """Move the body (of any type); an unknown handle does nothing."""
    def raycast(
        self, ox: float, oy: float, oz: float, dx: float, dy: float, dz: float
    ) -> list[tuple[int, float]]:
        """Cast a ray from `o` along `d` against every body's box.

        The direction is not normalised: a distance `t` means the point
        `o + t * d`. A ray starting inside a box reports where it leaves it;
        a zero direction hits the boxes containing `o`, at infinity.

        Returns:
            `(handle, t)` pairs, nearest first (ties in body order).

        Examples:
            >>> world = PhysicsWorld(); world.add_body(RigidBody(1.0))  # at the origin
            1
            >>> world.raycast(-5, 0, 0, 1, 0, 0)
            [(1, 4.5)]
        """

@final
class SdfCollider:
    """Collision queries on the CPU against exactly the scene buffer a GPU gets.

    Load the output of `SdfScene.to_gpu_bytes()` with `load_bytes`; every
    query then evaluates the union of the complete 48-byte records in 32-bit
    floats (`csg_op` and `smooth_k` are ignored). An empty collider answers
    every query: distance 3.4028234663852886e+38, normal (0, 1, 0).

    Examples:
        >>> scene = SdfScene(); scene.add(SdfPrimitive.sphere(0, 0, 0, 1))
        >>> c = SdfCollider(); c.load_bytes(scene.to_gpu_bytes()); c.distance(2, 0, 0)
        1.0
    """
    def __new__(cls) -> SdfCollider:
        """Create a collider with an empty buffer."""
    def load_bytes(self, data: Sequence[int]) -> None:
        """Replace the stored buffer with a copy of `data`.

        A partial trailing record is kept but never evaluated.

        Args:
            data: Byte sequence: the list of `SdfScene.to_gpu_bytes()`,
                `bytes`, `bytearray` or a tuple of ints 0..255.

        Raises:
            OverflowError: An item outside 0..255 (the old buffer stays).
            TypeError: A `str`, a non-sequence or a non-integer item.
        """
    def prim_count(self) -> int:
        """Number of complete 48-byte records stored."""
    def distance(self, px: float, py: float, pz: float) -> float:
        """Signed distance from the point to the nearest surface: negative
        inside, positive outside, at most 3.4028234663852886e+38; never NaN."""
    def normal(self, px: float, py: float, pz: float) -> tuple[float, float, float]:
        """Outward unit normal by central differences (step 0.001); `(0, 1, 0)`
        where the gradient vanishes."""
    def aabb_overlaps(
        self, min_x: float, min_y: float, min_z: float, max_x: float, max_y: float, max_z: float
    ) -> bool:
        """Whether any of the box's 8 corners or its centre is strictly inside
        the scene. A sampling test: a thin shape passing between the samples
        is missed; min and max may come in either order."""
    def sphere_overlaps(self, cx: float, cy: float, cz: float, r: float) -> bool:
        """Whether the sphere's centre is closer than `r` to a surface or inside (`distance < r`)."""
    def push_out(self, px: float, py: float, pz: float) -> tuple[float, float, float]:
        """Displacement `normal * |d|` that moves a point inside the scene onto its
        surface; `(0, 0, 0)` for a point outside or on it."""
