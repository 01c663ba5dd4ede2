"""BodyType, RigidBody and PhysicsWorld: integration, handles, the broad phase
against an all-pairs model, ray casts, bad input and fork safety."""

import math
import os
import random
import signal
import time
import warnings

import numpy as np
import pytest
from conftest import ctrl_c_child, f32, same_f32
from models.physics import Model, ref_slab

from _core import BodyType, PhysicsWorld, RigidBody

OUT_OF_RANGE = "out of range integral type conversion attempted"
F = np.float32


def world_of(positions, masses=None):
    w = PhysicsWorld()
    for i, p in enumerate(positions):
        b = RigidBody(0.0 if masses is None else masses[i])
        b.set_position(*p)
        w.add_body(b)
    return w


# ---- BodyType ----------------------------------------------------------------


def test_body_type_members():
    assert [int(BodyType.Dynamic), int(BodyType.Kinematic), int(BodyType.Static)] == [0, 1, 2]
    assert [repr(m) for m in (BodyType.Dynamic, BodyType.Kinematic, BodyType.Static)] == [
        "BodyType.Dynamic",
        "BodyType.Kinematic",
        "BodyType.Static",
    ]
    assert BodyType.Static is BodyType.Static  # created once
    with pytest.raises(TypeError, match="^No constructor defined for BodyType$"):
        BodyType()
    with pytest.raises(TypeError):
        hash(BodyType.Static)
    with pytest.raises(TypeError):
        BodyType.Static < BodyType.Dynamic  # noqa: B015


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class BadIndex:
    def __index__(self):
        raise ZeroDivisionError


@pytest.mark.parametrize(
    "other, equal",
    [
        (BodyType.Static, True),
        (BodyType.Dynamic, False),
        (2, True),
        (0, False),
        (True, False),
        (Index(2), True),
        (Index(3), False),
        (2.0, False),
        ("2", False),
        (None, False),
        (2**64, False),
        (BadIndex(), False),
        (Index(2**70), False),
    ],
)
def test_body_type_equality(other, equal):
    assert (BodyType.Static == other) is equal
    assert (BodyType.Static != other) is (not equal)
    assert (BodyType.Dynamic == False) is True  # noqa: E712 - bool is an int


# ---- RigidBody ---------------------------------------------------------------


@pytest.mark.parametrize(
    "mass, static",
    [
        (0.0, True),
        (-0.0, True),
        (1e-46, True),
        (1.0, False),
        (-2.0, False),
        (math.nan, False),
        (math.inf, False),
    ],
)
def test_body_type_follows_mass(mass, static):
    b = RigidBody(mass)
    assert b.is_static() is static
    if static:
        b.set_velocity(1, 2, 3)
        b.apply_impulse(5, 5, 5)
        b.apply_force(5, 5, 5, 1)
        b.integrate(0, -10, 0, 1)
        assert b.get_velocity() == (1.0, 2.0, 3.0)
        assert b.get_position() == (0.0, 0.0, 0.0)


def test_impulse_force_and_integrate_in_float32():
    b = RigidBody(2.0)
    b.apply_impulse(4.0, 0.0, 0.0)
    assert b.get_velocity() == (2.0, 0.0, 0.0)
    b.apply_force(2.0, 0.0, 0.0, 0.5)
    assert b.get_velocity() == (2.5, 0.0, 0.0)
    n = RigidBody(-1.0)
    n.apply_impulse(1.0, 0.0, 0.0)
    assert n.get_velocity() == (-1.0, 0.0, 0.0)
    c = RigidBody(1.0)
    c.set_velocity(1, 0, 0)
    c.integrate(0.0, -10.0, 0.0, 0.1)
    dt = F(0.1)
    vy = F(0) + F(-10) * dt
    assert c.get_velocity() == (1.0, float(vy), 0.0)
    assert c.get_position() == (float(F(1) * dt), float(vy * dt), 0.0)


def test_random_body_arithmetic_matches_float32(rng):
    vals = [0.0, -0.0, 1e-45, 0.1, 3.0, -7.5, 1e30, -1e38, 16777217.0, math.inf, math.nan]
    for _ in range(300):
        m, *a = [rng.choice(vals) * rng.choice([1, -1]) for _ in range(11)]
        b = RigidBody(m)
        b.set_velocity(*a[:3])
        b.apply_force(*a[3:7])
        b.apply_impulse(*a[7:10])
        b.integrate(a[1], a[2], a[0], a[3])
        with np.errstate(all="ignore"):
            v = np.array(a[:3], dtype=F)
            if F(m) != 0:
                inv = F(1) / F(m)
                v = v + (np.array(a[3:6], dtype=F) * inv) * F(a[6])
                v = v + np.array(a[7:10], dtype=F) * inv
                v = v + np.array([a[1], a[2], a[0]], dtype=F) * F(a[3])
                p = np.zeros(3, dtype=F) + v * F(a[3])
            else:
                p = np.zeros(3, dtype=F)
        assert all(map(same_f32, b.get_velocity(), map(float, v)))
        assert all(map(same_f32, b.get_position(), map(float, p)))


@pytest.mark.parametrize(
    "pos, mass, text",
    [
        ((0, 0, 0), 1.0, "RigidBody(handle=0, pos=(0.000,0.000,0.000), mass=1.000)"),
        (
            (-0.0, 0.0005, -0.0001),
            0.0,
            "RigidBody(handle=0, pos=(-0.000,0.001,-0.000), mass=0.000)",
        ),
        (
            (0.0625, 1e39, math.nan),
            -math.inf,
            "RigidBody(handle=0, pos=(0.062,inf,NaN), mass=-inf)",
        ),
        ((1e10, 0, 0), 2.5, "RigidBody(handle=0, pos=(10000000000.000,0.000,0.000), mass=2.500)"),
    ],
)
def test_body_repr(pos, mass, text):
    b = RigidBody(mass)
    b.set_position(*pos)
    assert repr(b) == text


def test_docstrings_and_signatures():
    assert RigidBody.apply_force.__doc__ == (
        "Accumulate a force over dt into velocity (F = ma \u2192 \u0394v = (F/m)*dt)."
    )
    assert RigidBody.apply_impulse.__doc__ == "Apply an instantaneous impulse (\u0394v = I/m)."
    assert RigidBody.integrate.__text_signature__ == "($self, gx, gy, gz, dt)"
    assert RigidBody.__text_signature__ == "(mass)" and RigidBody.__doc__ == ""
    assert PhysicsWorld.__text_signature__ == "()"
    assert PhysicsWorld.step.__doc__ == (
        "Step the simulation: integrate dynamics, then broad-phase AABB collision detection.\n"
        "Returns (handle_a, handle_b) pairs whose AABBs overlap this step."
    )
    assert PhysicsWorld.raycast.__doc__ == (
        "Raycast against all body AABBs.\nReturns (handle, distance) pairs sorted nearest-first."
    )
    assert PhysicsWorld.remove_body.__doc__ == (
        "Remove a body by handle. Uses swap-remove to keep the Vec dense."
    )
    assert PhysicsWorld.add_body.__doc__ == "Add a body to the world and return its handle."
    assert PhysicsWorld.set_position.__text_signature__ == "($self, handle, x, y, z)"
    assert BodyType.__doc__ is None


# ---- PhysicsWorld scenarios --------------------------------------------------


def test_new_world():
    w = PhysicsWorld()
    assert w.body_count() == 0 and w.step(0.016) == [] and w.raycast(0, 0, 0, 1, 0, 0) == []
    assert repr(w) == "PhysicsWorld(bodies=0, gravity=(0.0,-980.0,0.0))"
    w.set_gravity(-0.04, 1e20, math.nan)
    assert repr(w) == "PhysicsWorld(bodies=0, gravity=(-0.0,100000002004087734272.0,NaN))"


def test_handles_and_swap_remove_order():
    w = world_of([(0, 0, 0)] * 3)
    assert w.step(0) == [(1, 2), (1, 3), (2, 3)]
    w.remove_body(1)
    assert w.step(0) == [(3, 2)]  # the last body took slot 0
    assert w.add_body(RigidBody(0)) == 4
    assert w.step(0) == [(3, 2), (3, 4), (2, 4)]
    for h in (99, 1, 0):
        assert w.remove_body(h) is None and w.get_position(h) is None
        assert w.set_position(h, 1, 2, 3) is None
    w.remove_body(4)  # the last slot: nothing moves
    assert w.step(0) == [(3, 2)] and w.body_count() == 2


def test_added_body_is_a_copy():
    b = RigidBody(1.0)
    b.set_position(1, 2, 3)
    w = PhysicsWorld()
    h = w.add_body(b)
    b.set_position(9, 9, 9)
    assert repr(b).startswith("RigidBody(handle=0,")
    assert w.get_position(h) == (1.0, 2.0, 3.0)
    w.set_position(h, 0.1, -0.0, 5)
    assert w.get_position(h) == (f32(0.1), -0.0, 5.0) and b.get_position() == (9.0, 9.0, 9.0)


@pytest.mark.parametrize("x, touching", [(1.0, True), (1.0001, False), (-1.0, True)])
def test_touching_static_boxes_overlap(x, touching):
    w = world_of([(0, 0, 0), (x, 0, 0)])
    assert w.step(0.016) == ([(1, 2)] if touching else [])


def test_gravity_moves_only_dynamic_bodies():
    w = world_of([(0, 0, 0), (0, 100, 0)], masses=[1.0, 0.0])
    w.step(0.1)
    vy = F(-980) * F(0.1)
    assert w.get_position(1) == (0.0, float(vy * F(0.1)), 0.0)
    assert w.get_position(2) == (0.0, 100.0, 0.0)


def random_world_positions(rng, kind, n):
    if kind == "cluster":
        return [(rng.uniform(-3, 3), rng.uniform(-3, 3), rng.uniform(-3, 3)) for _ in range(n)]
    if kind == "lattice":  # boxes touching exactly, some shifted by one ulp
        pts = [
            (rng.randrange(-4, 4) * 0.5, rng.randrange(-4, 4) * 1.0, rng.randrange(3))
            for _ in range(n)
        ]
        return [
            (math.nextafter(x, rng.choice([-9, 9])) if rng.random() < 0.3 else x, y, z)
            for x, y, z in pts
        ]
    if kind == "same":
        return [(1.5, -2.5, 0.0)] * n
    if kind == "cell_edges":  # x - 0.5 and x + 0.5 round across cell boundaries
        return [
            (
                k + rng.choice([0.5 - 2**-25, 0.5 + 2**-24, -0.5 + 2**-26, 0.0, 2**-30]),
                rng.choice([0.0, 1.0]),
                rng.choice([0.0, -1e-8]),
            )
            for k in (rng.randrange(-3, 3) for _ in range(n))
        ]
    if kind == "huge":  # x +- 0.5 rounds: boxes 2.0 apart can touch
        base = rng.choice([2.0**22, 2.0**23, 2.0**24, 2.0**62, 1e30, -(2.0**23), 3.4e38])
        zs = rng.choice([[0.0], [0.0, 2.0**23 + 1, -(2.0**23) - 3]])  # packed or spread cells
        return [
            (
                base + rng.randrange(-4, 5) * max(1.0, base * 2**-23),
                rng.randrange(2) * 1.0,
                rng.choice(zs),
            )
            for _ in range(n)
        ]
    specials = [math.inf, -math.inf, math.nan, 0.0, 0.4, 1e39, -1e39]
    return [tuple(rng.choice(specials) for _ in range(3)) for _ in range(n)]


@pytest.mark.parametrize("kind", ["cluster", "lattice", "same", "cell_edges", "huge", "non_finite"])
def test_step_matches_all_pairs_model(kind):
    rng = random.Random(kind)  # str seeds go through SHA-512: the same on every Python
    for trial in range(12):
        w, m = PhysicsWorld(), Model()
        if trial % 3:
            w.set_gravity(0, 0, 0)
            m.g = np.zeros(3, dtype=F)
        n = rng.randrange(0, 60)
        pts = random_world_positions(rng, kind, n)
        if trial % 2:  # far apart from the rest: no dense grid of cells fits both
            pts += random_world_positions(rng, "cluster", 5)
        for p in pts:
            mass = rng.choice([0.0, 1.0, 2.0])
            b = RigidBody(mass)
            b.set_position(*p)
            m.add(w.add_body(b), b.get_position(), (0, 0, 0), mass)
        for _ in range(3):
            dt = rng.choice([0.0, 0.016, 1e-3])
            assert w.step(dt) == m.step(dt)
            for h, p in zip(m.handles, m.pos):
                assert all(map(same_f32, w.get_position(h), map(float, p)))
            for h in rng.sample(range(0, n + 8), 4):
                w.remove_body(h)
                m.remove(h)


def test_large_world_integrates_as_the_sequential_rule():
    rng = np.random.default_rng(5)
    n = 40000  # enough bodies for the pool to take part
    pts = rng.uniform(-50, 50, (n, 3)).astype(F)
    masses = rng.choice([0.0, 1.0, -3.0], n)
    w = PhysicsWorld()
    for p, mass in zip(pts.tolist(), masses.tolist()):
        b = RigidBody(mass)
        b.set_position(*p)
        w.add_body(b)
    w.step(0.01)
    w.step(0.02)
    g, expect, v = np.array([0, -980, 0], dtype=F), pts.copy(), np.zeros((n, 3), dtype=F)
    moving = masses != 0
    for dt in (F(0.01), F(0.02)):
        v[moving] = v[moving] + g * dt
        expect[moving] = expect[moving] + v[moving] * dt
    got = np.array([w.get_position(h) for h in range(1, n + 1)], dtype=F)
    assert np.array_equal(got.view(np.uint32), expect.view(np.uint32))


# ---- raycast -----------------------------------------------------------------


@pytest.mark.parametrize(
    "ray, hits",
    [
        ((-5, 0, 0, 1, 0, 0), [4.5]),
        ((-5, 0, 0, 2, 0, 0), [2.25]),
        ((0, 0, 0, 1, 0, 0), [0.5]),  # from inside: the exit
        ((5, 0, 0, 1, 0, 0), []),  # behind the ray
        ((0, 0, 0, 0, 0, 0), [math.inf]),  # zero direction inside the box
        ((0, 2, 0, 0, 0, 0), []),
        ((-5, 0.5, 0, 1, 0, 0), [4.5]),  # grazing the top face
        ((-5, 0.6, 0, 1, 0, 0), []),
        ((-5, 0.4, 0, 1, 1e-9, 0), [4.5]),  # 1e-9 counts as parallel
        ((-5, 0.6, 0, 1, 1e-9, 0), []),
    ],
)
def test_raycast_scenarios(ray, hits):
    w = world_of([(0, 0, 0)])
    assert w.raycast(*ray) == [(1, t) for t in hits]


def test_raycast_sorts_stably_nearest_first():
    w = world_of([(5, 0, 0), (2, 0, 0), (5, 0, 0), (-3, 0, 0), (2, 0, 0)])
    assert w.raycast(0, 0, 0, 1, 0, 0) == [(2, 1.5), (5, 1.5), (1, 4.5), (3, 4.5)]


def test_raycast_matches_slab_model_on_hostile_input():
    # The interval starts infinite and fmax/fmin drop NaN operands, so no
    # distance is NaN; non-finite input must still sort and never crash.
    rng = random.Random(11)
    vals = [0.0, -0.0, 0.5, -0.5, 1.0, 3.0, -7.0, 1e-9, 1e-8, 1e30, math.inf, -math.inf, math.nan]
    for _ in range(200):
        pts = [tuple(rng.choice(vals) for _ in range(3)) for _ in range(rng.randrange(8))]
        w = world_of(pts)
        ray = [rng.choice(vals) for _ in range(6)]
        o, d = np.array(ray[:3], dtype=F), np.array(ray[3:], dtype=F)
        found = [(h, ref_slab(np.array(p, dtype=F), o, d)) for h, p in enumerate(pts, 1)]
        hits = [(h, t) for h, t in found if t is not None]
        assert not any(math.isnan(t) for _, t in hits)
        assert w.raycast(*ray) == sorted(hits, key=lambda ht: ht[1])


# ---- bad input ---------------------------------------------------------------


class Fails:
    def __float__(self):
        raise ZeroDivisionError("boom")


class Reenter:
    def __init__(self, target):
        self.target = target

    def __float__(self):
        self.target.step(0.1)
        return 7.0


@pytest.mark.parametrize(
    "call",
    [
        lambda w: w.set_position(1, 5, 5, Fails()),
        lambda w: w.set_position(1, "x", 5, 5),
        lambda w: w.set_position(-1, 5, 5, 5),
        lambda w: w.add_body(5),
        lambda w: w.add_body(w),
        lambda w: w.step(Fails()),
        lambda w: w.set_gravity(1, 2, "3"),
        lambda w: w.set_position(1, Reenter(w), 0, 0),
    ],
)
def test_failing_calls_change_nothing(call):
    w = world_of([(1, 2, 3)], masses=[1.0])
    before = (repr(w), w.get_position(1))
    with pytest.raises((TypeError, ZeroDivisionError, OverflowError, RuntimeError)):
        call(w)
    assert (repr(w), w.get_position(1)) == before


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda w: w.get_position(-1), OverflowError, OUT_OF_RANGE),
        (lambda w: w.remove_body(2**32), OverflowError, OUT_OF_RANGE),
        (lambda w: w.set_position(1, Reenter(w), 0, 0), RuntimeError, "Already borrowed"),
    ],
)
def test_bad_input_messages(call, error, message):
    with pytest.raises(error) as info:
        call(world_of([(0, 0, 0)]))
    assert str(info.value) == message


def test_body_held_by_its_own_setter_cannot_be_added():
    b = RigidBody(1.0)

    class Sneaky:
        def __float__(self):
            w.add_body(b)
            return 1.0

    w = PhysicsWorld()
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        b.set_position(Sneaky(), 0, 0)
    assert w.body_count() == 0 and b.get_position() == (0.0, 0.0, 0.0)


CROWD_CHILD = """
import _core
world = _core.PhysicsWorld()
for _ in range(6000):  # one point: 18 million pairs, long enough on a busy machine
    world.add_body(_core.RigidBody(1.0))
try:
    print("ready", flush=True)
    world.step(0.01)
    print("finished")
except KeyboardInterrupt:
    print("interrupted", world.get_position(1), world.get_position(6000))
"""


def test_ctrl_c_while_pairs_are_found_leaves_the_world_unmoved():
    # 0.02 s is well inside the search for pairs, which takes far longer.
    out = ctrl_c_child(CROWD_CHILD, delay=0.02)
    assert out == "interrupted (0.0, 0.0, 0.0) (0.0, 0.0, 0.0)\n"


# ---- fork safety -------------------------------------------------------------


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_child_forked_after_pooled_step_can_step():
    n = 40000  # enough bodies for the pool to take part
    w = PhysicsWorld()
    for i in range(n):
        b = RigidBody(1.0)
        b.set_position(i * 3.0, 0, 0)
        w.add_body(b)
    w.step(0.01)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads alive
        pid = os.fork()
    if pid == 0:
        ok = False
        try:
            w.step(0.01)
            ok = w.get_position(n) is not None and w.step(0.01) == []
        finally:
            os._exit(0 if ok else 1)
    expected = w.step(0.01)
    for _ in range(1200):  # a hung child is a failure, not a hung test run
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        time.sleep(0.05)
    else:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        pytest.fail("the forked child did not finish its step")
    assert os.waitstatus_to_exitcode(status) == 0
    assert expected == []
