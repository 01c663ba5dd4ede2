"""No reference leaks: every public callable, method, operator and field of the
module, on its success paths and on every argument's error paths, called many
times, leaves the interpreter's count of allocated blocks where it was.

The table below is checked against the module itself, so a member added later
without an entry here fails `test_every_public_member_is_exercised`."""

import gc
import json
import math
import operator
import os
import sys

import pytest
from conftest import FailingSequence, RaisesOnFloat

import _core

# Three quarters of the suite's time: `make check` leaves it to `make test`.
pytestmark = pytest.mark.slow

# A leak of one block per call shows as hundreds. scripts/refleaks, which
# repeats the whole module on a debug build, asks for fewer.
ROUNDS = int(os.environ.get("GFXCORE_LEAK_ROUNDS", "400"))
SLACK = 48  # freelists and caches settling


# Every parameter position of every call is also tried with each of these
# (the sequence's length lies and its iteration fails).
BAD = [
    "text",
    RaisesOnFloat(),
    2**70,
    -1,
    [1, "x"],
    FailingSequence(length=10**9),
    (1.0,),
    None,
    "\udc80",
]


def graph():
    nodes = [
        {"id": "u", "type": "UV"},
        {"id": "c", "type": "Clamp", "params": {"min": 0.25}},
        {"id": "f", "type": "FinalColor"},
    ]
    edges = [{"from_node": "u", "from_port": "uv", "to_node": "f", "to_port": "color"}]
    return json.dumps({"nodes": nodes, "edges": edges})


def scene_bytes():
    scene = _core.SdfScene()
    scene.add(_core.SdfPrimitive.sphere(0, 0, 0, 1))
    scene.add(_core.SdfPrimitive.box_(2, 0, 0, 0.5, 0.5, 0.5))
    return bytes(scene.to_gpu_bytes())


PTS = [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0), (0.5, 0.5)]
CHANNELS = [("color", "vec3f"), ("alpha", "f32"), ("uv", "vec2f")]
GRAPH = graph()
PACKED = bytes(_core.lz4_compress(b"tile " * 40))


def receivers():
    """A fresh receiver of each class, made for every call (methods that
    change their receiver must not accumulate state across rounds)."""
    m = _core
    r = {
        "Vec2": lambda: m.Vec2(1, 2),
        "AABB": lambda: m.AABB(0, 0, 2, 2),
        "TileCache": lambda: _tiles(),
        "Vec3": lambda: m.Vec3(1, 2, 3),
        "Vec4": lambda: m.Vec4(1, 2, 3, 4),
        "Mat4x4": lambda: m.Mat4x4.identity(),
        "Quaternion": lambda: m.Quaternion.from_euler_xyz(0.1, 0.2, 0.3),
        "SdfPrimitive": lambda: m.SdfPrimitive.sphere(0, 0, 0, 1),
        "SdfScene": lambda: _scene(),
        "SdfCollider": lambda: _collider(),
    }
    if hasattr(m, "PhysicsWorld"):
        r["BodyType"] = lambda: m.BodyType.Static
        r["RigidBody"] = lambda: m.RigidBody(2.0)
        r["PhysicsWorld"] = lambda: _world()
    return r


def _tiles():
    c = _core.TileCache(2)
    c.put(0, 0, b"ab")
    c.put(1, 0, [1, 2, 3])
    return c


def _scene():
    s = _core.SdfScene()
    s.add(_core.SdfPrimitive.torus(0, 0, 0, 2, 0.5))
    return s


def _collider():
    c = _core.SdfCollider()
    c.load_bytes(scene_bytes())
    return c


def _world():
    w = _core.PhysicsWorld()
    a = w.add_body(_core.RigidBody(1.0))
    w.add_body(_core.RigidBody(0.0))
    w.set_position(a, 0.5, 0, 0)
    return w


def calls():
    """name -> list of argument tuples that succeed. Fields are "field"."""
    m = _core
    v2, v3 = m.Vec2(3, 4), m.Vec3(0, 1, 0)
    c = {
        "convex_hull": [(PTS,), (tuple(PTS),), ([],)],
        "bounding_box": [(PTS,), ([(1.5, -2.0)],)],
        "pixel_edge_points": [([0.0, 1.0, 1.0, 0.0, 1.0, 0.0], 6, 1, 0, 0.5, 3)],
        "solve_ik": [([(0.0, 0.0), (1.0, 0.0), (2.0, 0.0)], (1.0, 1.0), [1.0, 1.0])],
        "compute_bone_lengths": [([(0.0, 0.0), (3.0, 4.0)],)],
        "Vec2": [(1, 2)],
        "Vec2.x": "field",
        "Vec2.y": "field",
        "Vec2.dot": [(v2,)],
        "Vec2.length": [()],
        "Vec2.normalize": [()],
        "Vec2.lerp": [(v2, 0.5)],
        "Vec2.__add__": [(v2,), (1,)],
        "Vec2.__sub__": [(v2,), ("x",)],
        "Vec2.__mul__": [(2.0,), (v2,)],
        "Vec2.__repr__": [()],
        "Vec2.__radd__": [(v2,), (1,)],
        "Vec2.__rsub__": [(v2,)],
        "Vec2.__rmul__": [(2.0,)],
        "AABB": [(0, 0, 1, 1)],
        "AABB.min_x": "field",
        "AABB.min_y": "field",
        "AABB.max_x": "field",
        "AABB.max_y": "field",
        "AABB.contains": [(v2,)],
        "AABB.intersects": [(m.AABB(1, 1, 3, 3),)],
        "AABB.center": [()],
        "AABB.size": [()],
        "AABB.expand": [(0.5,)],
        "AABB.__repr__": [()],
        "compile_node_graph": [
            (GRAPH,),
            ('{"nodes": [], "edges": []}',),
            ("{",),
            ('{"nodes": [{"id": "a", "type": "Nope"}], "edges": []}',),
        ],
        "lz4_compress": [(b"abc" * 30,), (b"",)],
        "lz4_decompress": [(PACKED,), (b"\x10\x00\x00\x00\xff\xff",), (b"ab",)],
        "compute_layout": [(CHANNELS,), ([("a", "mat4x4f")],), ([("a", "nope")],)],
        "generate_wgsl_struct": [("Pixel", CHANNELS), ("S", [])],
        "TileCache": [(4,)],
        "TileCache.put": [(5, 5, b"xyz"), (0, 0, [1, 2]), (2, 2, bytearray(b"q"))],
        "TileCache.get": [(0, 0), (9, 9)],
        "TileCache.contains": [(1, 0)],
        "TileCache.evict": [(0, 0), (7, 7)],
        "TileCache.keys": [()],
        "TileCache.len": [()],
        "TileCache.capacity": [()],
        "TileCache.clear": [()],
        "Vec3": [(1, 2, 3)],
        "Vec3.x": "field",
        "Vec3.y": "field",
        "Vec3.z": "field",
        "Vec3.dot": [(v3,)],
        "Vec3.cross": [(v3,)],
        "Vec3.length": [()],
        "Vec3.normalize": [()],
        "Vec3.add": [(v3,)],
        "Vec3.sub": [(v3,)],
        "Vec3.mul": [(2.0,)],
        "Vec3.__add__": [(v3,), (v2,)],
        "Vec3.__sub__": [(v3,)],
        "Vec3.__mul__": [(0.5,)],
        "Vec3.__neg__": [()],
        "Vec3.__repr__": [()],
        "Vec3.__radd__": [(v3,)],
        "Vec3.__rsub__": [(v3,)],
        "Vec3.__rmul__": [(0.5,)],
        "Vec4": [(1, 2, 3, 4)],
        "Vec4.x": "field",
        "Vec4.y": "field",
        "Vec4.z": "field",
        "Vec4.w": "field",
        "Vec4.dot": [(m.Vec4(0, 0, 1, 0),)],
        "Vec4.length": [()],
        "Vec4.normalize": [()],
        "Vec4.__repr__": [()],
        "Mat4x4.identity": [()],
        "Mat4x4.from_translation": [(v3,)],
        "Mat4x4.from_scale": [(v3,)],
        "Mat4x4.from_rotation": [(m.Quaternion.identity(),)],
        "Mat4x4.mul": [(m.Mat4x4.identity(),)],
        "Mat4x4.transform_point": [(v3,)],
        "Mat4x4.transform_direction": [(v3,)],
        "Mat4x4.transpose": [()],
        "Mat4x4.data": [()],
        "Mat4x4.__repr__": [()],
        "Quaternion.x": "field",
        "Quaternion.y": "field",
        "Quaternion.z": "field",
        "Quaternion.w": "field",
        "Quaternion.identity": [()],
        "Quaternion.from_axis_angle": [(v3, 0.5)],
        "Quaternion.from_euler_xyz": [(0.1, 0.2, 0.3)],
        "Quaternion.normalize": [()],
        "Quaternion.mul": [(m.Quaternion.identity(),)],
        "Quaternion.conjugate": [()],
        "Quaternion.to_mat4": [()],
        "Quaternion.__mul__": [(m.Quaternion.identity(),), (2,)],
        "Quaternion.__repr__": [()],
        "Quaternion.__rmul__": [(m.Quaternion.identity(),)],
        "Mat4x4": [()],
        "Quaternion": [()],
        "SdfPrimitive": [()],
        "SdfPrimitive.sphere": [(0, 0, 0, 1)],
        "SdfPrimitive.box_": [(0, 0, 0, 1, 1, 1)],
        "SdfPrimitive.cylinder": [(0, 0, 0, 1, 1)],
        "SdfPrimitive.capsule": [(0, 0, 0, 1, 1, 1, 0.5)],
        "SdfPrimitive.cone": [(0, 0, 0, 1, 0.5)],
        "SdfPrimitive.torus": [(0, 0, 0, 2, 0.5)],
        "SdfPrimitive.plane": [(0, 1, 0, 0)],
        "SdfPrimitive.rounded_box": [(0, 0, 0, 1, 1, 1, 0.1)],
        "SdfPrimitive.set_csg_op": [(1,), (7,)],
        "SdfPrimitive.set_smooth_k": [(0.5,)],
        "SdfPrimitive.to_bytes": [()],
        "SdfPrimitive.__repr__": [()],
        "SdfScene": [()],
        "SdfScene.add": [(m.SdfPrimitive.sphere(0, 0, 0, 1),)],
        "SdfScene.clear": [()],
        "SdfScene.len": [()],
        "SdfScene.to_gpu_bytes": [()],
        "SdfScene.__repr__": [()],
        "SdfCollider": [()],
        "SdfCollider.load_bytes": [(scene_bytes(),), (list(scene_bytes()),), (bytes(47),)],
        "SdfCollider.prim_count": [()],
        "SdfCollider.distance": [(0.5, 0, 0)],
        "SdfCollider.normal": [(2, 0, 0)],
        "SdfCollider.aabb_overlaps": [(-1, -1, -1, 1, 1, 1)],
        "SdfCollider.sphere_overlaps": [(3, 0, 0, 1)],
        "SdfCollider.push_out": [(0.5, 0, 0)],
    }
    if hasattr(m, "PhysicsWorld"):
        c.update(
            {
                "BodyType.Dynamic": "constant",
                "BodyType.Kinematic": "constant",
                "BodyType.Static": "constant",
                "BodyType.__int__": [()],
                "BodyType.__repr__": [()],
                "BodyType.__eq__": [
                    (m.BodyType.Static,),
                    (2,),
                    (2.0,),
                    (2**80,),
                    (RaisesOnFloat(),),
                ],
                "BodyType.__ne__": [(m.BodyType.Dynamic,), ("x",)],
                "BodyType.__lt__": [(m.BodyType.Dynamic,)],
                "BodyType.__le__": [(1,)],
                "BodyType.__gt__": [(m.BodyType.Dynamic,)],
                "BodyType.__ge__": [(1,)],
                "BodyType": [()],
                "RigidBody": [(1.0,), (0.0,)],
                "RigidBody.set_position": [(1, 2, 3)],
                "RigidBody.get_position": [()],
                "RigidBody.set_velocity": [(1, 0, 0)],
                "RigidBody.get_velocity": [()],
                "RigidBody.apply_force": [(1, 0, 0, 0.5)],
                "RigidBody.apply_impulse": [(4, 0, 0)],
                "RigidBody.is_static": [()],
                "RigidBody.integrate": [(0, -10, 0, 0.1)],
                "RigidBody.__repr__": [()],
                "PhysicsWorld": [()],
                "PhysicsWorld.set_gravity": [(0, -9.8, 0)],
                "PhysicsWorld.add_body": [(m.RigidBody(1.0),)],
                "PhysicsWorld.remove_body": [(1,), (99,)],
                "PhysicsWorld.step": [(0.016,)],
                "PhysicsWorld.body_count": [()],
                "PhysicsWorld.get_position": [(1,), (99,)],
                "PhysicsWorld.set_position": [(1, 0, 0, 0)],
                "PhysicsWorld.raycast": [(-5, 0, 0, 1, 0, 0), (0, 0, 0, 0, 0, 0)],
                "PhysicsWorld.__repr__": [()],
            }
        )
    return c


# Type attributes that are not the module's own operations.
INHERENT = {"__new__", "__doc__", "__module__", "__hash__"}


def public_members():
    """Every name the table must cover, read from the module itself: each
    function, each class (its constructor, or the refusal of one) and every
    method, field, constant and operator slot the class defines."""
    for name in _core.__all__:
        yield name
        member = getattr(_core, name)
        if isinstance(member, type):
            yield from (f"{name}.{attr}" for attr in vars(member) if attr not in INHERENT)


def test_every_public_member_is_exercised():
    table = calls()
    missing = sorted(set(public_members()) - set(table))
    assert not missing, f"add leak-test entries for: {missing}"


def variants(args):
    """The successful call, then each parameter replaced by each bad value,
    then one argument too many and one unknown keyword."""
    yield args, {}
    for i in range(len(args)):
        for bad in BAD:
            yield args[:i] + (bad,) + args[i + 1 :], {}
    yield args + (1,), {}
    yield args, {"nope": 1}


def invoke(fn, args, kwargs):
    try:
        fn(*args, **kwargs)
    except (
        TypeError,
        ValueError,
        OverflowError,
        RuntimeError,
        KeyError,
        ZeroDivisionError,
        UnicodeEncodeError,
        AttributeError,
    ):
        pass


def bound(name):
    """A function that, given args and kwargs, makes the call `name` names."""
    cls_name, _, attr = name.partition(".")
    if not attr:
        target = getattr(_core, cls_name)
        return lambda *a, **k: target(*a, **k)
    cls = getattr(_core, cls_name)
    if isinstance(vars(cls)[attr], staticmethod):
        target = getattr(cls, attr)
        return lambda *a, **k: target(*a, **k)
    make = receivers()[cls_name]
    return lambda *a, **k: getattr(make(), attr)(*a, **k)


def field_ops(name):
    cls_name, _, attr = name.partition(".")
    make = receivers()[cls_name]

    def run():
        obj = make()
        getattr(obj, attr)
        for value in (1.5, 2, "x", RaisesOnFloat(), None, 10**400):
            invoke(setattr, (obj, attr, value), {})
        invoke(delattr, (obj, attr), {})

    return run


@pytest.fixture(scope="module", autouse=True)
def frozen_heap():
    """What exists before these tests is kept out of the collections they make,
    which then walk only what the calls made: a leak is among that."""
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()


def blocks_after(run):
    gc.collect()
    start = sys.getallocatedblocks()
    for _ in range(ROUNDS):
        run()
    gc.collect()
    return sys.getallocatedblocks() - start


@pytest.mark.parametrize("name", sorted(calls()))
def test_no_growth(name):
    entry = calls()[name]
    if entry == "constant":
        cls_name, _, attr = name.partition(".")
        run = lambda: getattr(getattr(_core, cls_name), attr)  # noqa: E731
    elif entry == "field":
        run = field_ops(name)
    else:
        fn = bound(name)
        cases = [case for args in entry for case in variants(args)]

        def run():
            for args, kwargs in cases:
                invoke(fn, args, kwargs)

    for _ in range(3):
        run()  # freelists, interned strings and caches settle
    growth = min(blocks_after(run) for _ in range(2))
    assert growth <= SLACK, f"{name}: {growth} blocks kept after {ROUNDS} rounds"


def test_sequence_walkers_release_everything():
    """The list kinds on their slow paths: iterators, subclasses, lying
    lengths, elements converted through __float__ and __index__."""

    class F:
        def __float__(self):
            return 0.5

    class I:
        def __index__(self):
            return 7

    class L(list):
        pass

    def gen(n):
        yield from ((F(), 0.25) for _ in range(n))

    def run():
        invoke(_core.convex_hull, (gen(6),), {})
        invoke(_core.convex_hull, (L(PTS),), {})
        invoke(_core.bounding_box, (map(tuple, PTS),), {})
        invoke(_core.compute_bone_lengths, ([(F(), F())] * 3,), {})
        invoke(_core.TileCache(2).put, (0, 0, [I(), 1, I()]), {})
        invoke(_core.TileCache(2).put, (0, 0, iter([1, 2, 300])), {})
        invoke(_core.SdfCollider().load_bytes, (range(48),), {})
        invoke(_core.compute_layout, ((("a", "f32"), ["b", "f32"]),), {})
        invoke(_core.compute_layout, (iter([("a", "f32"), ("b", 5)]),), {})
        invoke(_core.pixel_edge_points, ([F()] * 8, 8, 1, 0, 0.5, 4), {})

    for _ in range(3):
        run()
    assert min(blocks_after(run) for _ in range(2)) <= SLACK


def test_borrow_conflicts_release_everything():
    """Re-entrant calls that meet a held borrow raise and leak nothing."""
    cache = _core.TileCache(4)

    class Reenter:
        def __index__(self):
            cache.clear()  # needs the exclusive borrow held by put
            return 1

    v = _core.Vec2(1, 2)

    class Mutates:
        def __float__(self):
            v.x = 3.0
            return 1.0

    def run():
        invoke(cache.put, (0, 0, [Reenter()]), {})
        invoke(v.lerp, (v, Mutates()), {})
        invoke(operator.mul, (v, Mutates()), {})

    for _ in range(3):
        run()
    assert min(blocks_after(run) for _ in range(2)) <= SLACK
    assert math.isfinite(v.x)
