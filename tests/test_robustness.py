"""Every public callable, fed hostile arguments, answers with a Python
exception or a result: never a crash, never a PanicException."""

import inspect
import math
import random

import pytest
from conftest import RaisesOnFloat
from test_module import EXPECTED_ORDER, MAKE

import _core


class Reenters:
    """Converts by calling back into whatever object it was handed."""

    target = None

    def __float__(self):
        if Reenters.target is not None:
            for name in dir(Reenters.target):
                if not name.startswith("_"):
                    try:
                        attr = getattr(Reenters.target, name)
                        if callable(attr):
                            attr()
                    except Exception:
                        pass
        return 1.0

    def __index__(self):
        self.__float__()
        return 1


HOSTILE = [
    None,
    0,
    -1,
    1.5,
    math.nan,
    math.inf,
    -math.inf,
    2**31,
    -(2**31) - 1,
    2**64,
    10**400,
    True,
    "",
    "abc",
    b"",
    b"\x00\xff" * 30,
    bytearray(b"abc"),
    [],
    [1, 2, 3],
    [300],
    (1.0, 2.0),
    (1.0, 2.0, 3.0),
    {},
    object(),
    RaisesOnFloat(),
    Reenters(),
    range(5),
    [0] * 100,
    _core.Vec2(1, 2),
    _core.AABB(0, 0, 1, 1),
]


def _tile_cache():
    cache = _core.TileCache(2)
    cache.put(0, 0, b"ab")
    return cache


# An instance of each class with one to make, as the refusal table makes it;
# the tile cache holds a tile.
INSTANCES = {
    name: make for name, make in MAKE.items() if name not in ("RigidBody", "PhysicsWorld")
} | {"TileCache": _tile_cache}


def instances():
    for make in INSTANCES.values():
        yield make()


def test_every_class_is_fed_through_an_instance_or_has_none_to_make():
    # Classes without a plain instance: an enumeration, and those that a
    # world makes or that take a world.
    without = {"BodyType", "RigidBody", "PhysicsWorld"}
    classes = {name for name in EXPECTED_ORDER if inspect.isclass(getattr(_core, name))}
    assert classes == set(INSTANCES) | without


def callables():
    for name in _core.__all__:
        member = getattr(_core, name)
        if inspect.isclass(member):
            yield f"{name}()", member
            for attr, value in vars(member).items():
                if not attr.startswith("_") and callable(value):
                    yield f"{name}.{attr}", getattr(member, attr)
        else:
            yield name, member
    for obj in instances():
        for attr in dir(obj):
            if not attr.startswith("__"):
                value = getattr(obj, attr)
                if callable(value):
                    yield f"{type(obj).__name__}().{attr}", value


def test_hostile_arguments_never_crash():
    rng = random.Random(7)
    calls = 0
    for label, fn in callables():
        Reenters.target = getattr(fn, "__self__", None)
        for _ in range(60):
            args = [rng.choice(HOSTILE) for _ in range(rng.randrange(0, 8))]
            try:
                fn(*args)
            except (
                TypeError,
                ValueError,
                OverflowError,
                RuntimeError,
                ZeroDivisionError,
                AttributeError,
            ):
                pass
            except BaseException as e:  # a PanicException or anything unexpected
                pytest.fail(f"{label}{tuple(args)!r} raised {type(e).__name__}: {e}")
            calls += 1
    assert calls > 1000


# CPython's own refusals when neither operand's slot takes the other: an
# operator slot must answer NotImplemented, never raise from inside.
OPERATOR_REFUSALS = (
    "unsupported operand type(s) for ",
    "bad operand type for unary -: ",
    "can't multiply sequence by non-int of type ",
)


def test_hostile_operands_never_crash():
    outcomes = set()
    for obj in instances():
        for other in HOSTILE + list(instances()):
            for op in (
                lambda a, b: a + b,
                lambda a, b: a - b,
                lambda a, b: a * b,
                lambda a, b: b * a,
                lambda a, b: -a,
            ):
                before = repr(obj)
                try:
                    result = op(obj, other)
                except TypeError as e:
                    assert str(e).startswith(OPERATOR_REFUSALS), (obj, other, e)
                    outcomes.add("refused")
                else:
                    assert type(result) in (type(obj), type(other)), (obj, other, result)
                    outcomes.add("value")
                assert repr(obj) == before
    assert outcomes == {"refused", "value"}


@pytest.mark.parametrize(
    "plane, x, expected",
    [
        ((1e38, 0, 0, 0), 0.0, (0.0, 0.0, 0.0)),  # squared length overflows
        ((-3e38, 0, 0, 0), 1.134, (math.nan, 0.0, 0.0)),  # one difference is infinite
        ((0, 0, 0, 0), 0.0, (0.0, 1.0, 0.0)),  # the gradient vanishes
    ],
)
def test_normal_near_the_float_limit_follows_the_arithmetic(plane, x, expected):
    scene = _core.SdfScene()
    scene.add(_core.SdfPrimitive.plane(*plane))
    collider = _core.SdfCollider()
    collider.load_bytes(scene.to_gpu_bytes())
    got = collider.normal(x, 0, 0)
    assert [math.isnan(v) for v in got] == [math.isnan(v) for v in expected]
    assert [v for v in got if not math.isnan(v)] == [v for v in expected if not math.isnan(v)]
