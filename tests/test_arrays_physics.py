"""gfxcore.arrays' physics group against the per-body and per-ray calls of
a twin world built the same way."""

import subprocess
import sys
import textwrap

import numpy as np
import pytest
from gfxcore import arrays
from models.arrays import assert_same_f32, hostile

import _core


def twin_worlds(rng, n):
    """Two equal worlds with bodies at hostile positions, some removed."""
    rows = hostile(rng, (n, 3), scale=3.0, share=0.05).tolist()
    masses = rng.choice([0.0, 1.0, 2.5], n).tolist()
    gone = rng.random(n) < 0.2
    worlds = []
    for _ in range(2):
        w = _core.PhysicsWorld()
        handles = []
        for p, m in zip(rows, masses):
            b = _core.RigidBody(m)
            b.set_position(*p)
            handles.append(w.add_body(b))
        for h, g in zip(handles, gone):
            if g:
                w.remove_body(h)
        worlds.append(w)
    return worlds, handles


def assert_same_bodies(ours, theirs, handles):
    """The same bodies, at bit-identical positions."""
    a, b = ([w.get_position(h) for h in handles] for w in (ours, theirs))
    assert [p is None for p in a] == [p is None for p in b]
    assert_same_f32(
        np.array([p for p in a if p is not None], np.float32).reshape(-1, 3),
        [p for p in b if p is not None],
    )


def test_physics_matches_the_per_item_calls():
    rng = np.random.default_rng(61)
    for _ in range(25):
        n = int(rng.integers(0, 80))
        (ours, theirs), handles = twin_worlds(rng, n)
        live = arrays.handles(ours)
        assert live.dtype == np.uint32
        assert_same_f32(arrays.positions(ours), [theirs.get_position(h) for h in live.tolist()])

        # Known, removed, unknown and repeated handles, in several dtypes.
        k = int(rng.integers(0, 2 * n + 1))
        pick = rng.choice(handles + [0, 10**6], k) if k else np.zeros(0, np.int64)
        xyz = hostile(rng, (k, 3), share=0.1)
        dtype = rng.choice([np.int64, np.uint32, np.uint64, np.int32])
        strided = np.repeat(xyz, 2, axis=0)[::2]
        arrays.set_positions(ours, pick.astype(dtype), strided)
        for h, row in zip(pick.tolist(), xyz.tolist()):
            theirs.set_position(h, *row)
        assert_same_bodies(ours, theirs, handles)

        dt = float(rng.choice([0.016, -0.5, 1e-40, np.nan]))
        pairs = arrays.step(ours, dt)
        assert pairs.dtype == np.uint32 and pairs.shape[1:] == (2,)
        assert pairs.tolist() == [list(p) for p in theirs.step(dt)]
        assert_same_f32(arrays.positions(ours), arrays.positions(theirs))

        rays = hostile(rng, (int(rng.integers(0, 30)), 6), share=0.1)
        hit, handle, t = arrays.raycasts(ours, rays[:, :3], rays[:, 3:])
        want = [theirs.raycast(*r) for r in rays.tolist()]
        assert hit.tolist() == [bool(w) for w in want]
        assert handle.tolist() == [w[0][0] if w else 0 for w in want]
        assert_same_f32(t, [w[0][1] if w else np.inf for w in want])


def crowded_world(rng, n):
    """Bodies on a small integer lattice (repeated places: equal distances),
    scattered ones, and a few NaN or infinite ones."""
    w = _core.PhysicsWorld()
    lattice = rng.integers(-3, 4, (n, 3)).astype(np.float64)
    scattered = hostile(rng, (n, 3), scale=20.0, share=0.02)
    rows = np.where(rng.random((n, 1)) < 0.6, lattice, scattered)
    for p in rows.tolist():
        b = _core.RigidBody(1.0)
        b.set_position(*p)
        w.add_body(b)
    for h in rng.choice(np.arange(1, n + 1), n // 5).tolist():  # swap-removals reorder
        w.remove_body(h)
    return w


def test_raycasts_match_the_per_ray_calls_in_crowded_worlds():
    rng = np.random.default_rng(62)
    axes = np.array([[1, 0, 0], [0, -1, 0], [0, 0, 1], [0, 0, 0], [1e-9, 1, 0], [1, 1, 1]], float)
    for _ in range(12):
        w = crowded_world(rng, int(rng.integers(0, 600)))
        k = 150
        origins = np.where(
            rng.random((k, 1)) < 0.5,
            rng.integers(-6, 7, (k, 3)) + rng.choice([0.0, 0.5], (k, 3)),
            hostile(rng, (k, 3), scale=30.0, share=0.05),
        )
        directions = np.where(
            rng.random((k, 1)) < 0.5,
            axes[rng.integers(0, len(axes), k)] * rng.choice([1.0, -2.0], (k, 1)),
            hostile(rng, (k, 3), share=0.05),
        )
        hit, handle, t = arrays.raycasts(w, origins, directions, workers=2)
        want = [w.raycast(*o, *d) for o, d in zip(origins.tolist(), directions.tolist())]
        assert hit.tolist() == [bool(x) for x in want]
        assert handle.tolist() == [x[0][0] if x else 0 for x in want]
        assert_same_f32(t, [x[0][1] if x else np.inf for x in want])


def test_bulk_bodies_match_the_loops():
    rng = np.random.default_rng(63)
    for _ in range(20):
        (ours, theirs), _ = twin_worlds(rng, int(rng.integers(0, 40)))
        n = int(rng.integers(0, 50))
        masses = rng.choice([0.0, -0.0, 1.0, 2.5, np.nan, -1.0], n)
        xyz = hostile(rng, (n, 3), scale=3.0, share=0.1)
        vxyz = hostile(rng, (n, 3), share=0.1) if rng.random() < 0.7 else None
        got = arrays.add_bodies(ours, masses, np.asfortranarray(xyz), vxyz)
        want = []
        for i, m in enumerate(masses.tolist()):
            b = _core.RigidBody(m)
            b.set_position(*xyz[i].tolist())
            if vxyz is not None:
                b.set_velocity(*vxyz[i].tolist())
            want.append(theirs.add_body(b))
        assert got.dtype == np.uint32 and got.tolist() == want
        assert arrays.step(ours, 0.25).tolist() == [list(p) for p in theirs.step(0.25)]
        assert_same_f32(arrays.positions(ours), arrays.positions(theirs))

        live = arrays.handles(ours)
        asked = rng.choice(np.concatenate([live, [0, 10**6]]), (int(rng.integers(0, 30)), 2))
        index = {h: i for i, h in enumerate(live.tolist())}
        rows = arrays.rows(ours, asked.astype(rng.choice([np.int64, np.uint32])))
        assert rows.dtype == np.int64 and rows.shape == asked.shape
        assert rows.tolist() == [[index.get(h, -1) for h in pair] for pair in asked.tolist()]

        gone = asked[:, 0] if rng.random() < 0.5 else asked  # repeats and unknowns too
        arrays.remove_bodies(ours, gone)
        for h in gone.ravel().tolist():
            theirs.remove_body(h)
        assert arrays.handles(ours).tolist() == arrays.handles(theirs).tolist()
        assert_same_f32(arrays.positions(ours), arrays.positions(theirs))


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda w: arrays.add_bodies(w, np.ones(2), np.zeros((2, 3)), np.zeros((3, 3))),
            ValueError,
            "argument 'velocities': expected shape (2, 3), as many rows as masses has, got (3, 3)",
        ),
        (
            lambda w: arrays.add_bodies(w, np.ones(2), np.zeros((2, 2))),
            ValueError,
            "argument 'positions': expected shape (n, 3), got (2, 2)",
        ),
        (
            lambda w: arrays.remove_bodies(w, np.array([1, 2**32])),
            OverflowError,
            "argument 'handles': out of range integral type conversion attempted",
        ),
        (
            lambda w: arrays.remove_bodies(w, np.array([1.0])),
            TypeError,
            "argument 'handles': expected an integer array, got dtype float64",
        ),
        (
            lambda w: arrays.add_bodies(w, np.ones(1), np.zeros((1, 3)), out=np.zeros(1, np.uint8)),
            TypeError,
            "argument 'out': expected a writable uint32 array, got dtype uint8",
        ),
    ],
)
def test_refused_bulk_calls_change_nothing(call, error, message):
    (w, _), _ = twin_worlds(np.random.default_rng(2), 5)
    before = arrays.handles(w).tolist()
    with pytest.raises(error) as e:
        call(w)
    assert str(e.value) == message
    assert arrays.handles(w).tolist() == before
    assert w.add_body(_core.RigidBody(1.0)) == 6  # the counter did not move


BULK_CHILD = """
import numpy as np
import _core
from gfxcore import arrays
n = 3_000_000
w = _core.PhysicsWorld()
arrays.add_bodies(w, np.ones(n), np.arange(3 * n, dtype=np.float32).reshape(n, 3))
before = arrays.handles(w)
call, args = {call}
print("ready", flush=True)
try:
    call(*args)
    print("finished", end=" ")
except KeyboardInterrupt:
    print("interrupted", end=" ")
print(np.array_equal(arrays.handles(w), before), w.body_count(), w.add_body(_core.RigidBody(1.0)))
"""


@pytest.mark.parametrize(
    "call",
    [
        "arrays.remove_bodies, (w, np.random.default_rng(1).permutation(before))",
        "arrays.add_bodies, (w, np.ones(n), np.zeros((n, 3), np.float32))",
    ],
)
def test_ctrl_c_stops_bulk_calls_and_changes_nothing(call):
    # Removals in random order swap bodies all over a large world: the call
    # runs far longer than the 0.05 s of work after which the signal comes.
    from conftest import ctrl_c_child

    out = ctrl_c_child(BULK_CHILD.replace("{call}", call), delay=0.05)
    assert out == "interrupted True 3000000 3000001\n"


HANDLES = "argument 'handles': "


@pytest.mark.parametrize(
    "handles, error, message",
    [
        (
            np.array([1, -1]),
            OverflowError,
            f"{HANDLES}out of range integral type conversion attempted",
        ),
        (
            np.array([1, 2**32]),
            OverflowError,
            f"{HANDLES}out of range integral type conversion attempted",
        ),
        (
            np.array([2**63], np.uint64),
            OverflowError,
            f"{HANDLES}Python int too large to convert to C long",
        ),
        (
            np.array([1.0, 2.0]),
            TypeError,
            "argument 'handles': expected an integer array, got dtype float64",
        ),
        (
            np.array([1, 2, 3]),
            ValueError,
            "argument 'xyz': expected shape (3, 3), as many rows as handles has, got (2, 3)",
        ),
    ],
)
def test_refused_handles_move_nothing(handles, error, message):
    (w, _), hs = twin_worlds(np.random.default_rng(1), 3)
    before = arrays.positions(w)
    with pytest.raises(error) as e:
        arrays.set_positions(w, handles, np.ones((2, 3)))
    assert str(e.value) == message
    assert_same_f32(arrays.positions(w), before)


def test_ctrl_c_stops_a_step_and_a_hull_and_changes_nothing():
    script = textwrap.dedent(
        """
        import os, signal, threading
        import numpy as np
        import _core
        from gfxcore import arrays
        w = _core.PhysicsWorld()
        for _ in range(6000):
            w.add_body(_core.RigidBody(1.0))  # all in one place: 18M pairs
        before = arrays.positions(w)
        # on a circle every point is on the hull: none is dropped before the sort
        angles = np.random.default_rng(0).random(8_000_000) * (2 * np.pi)
        points = np.column_stack([np.cos(angles), np.sin(angles)])
        for call in (lambda: arrays.step(w, 0.5), lambda: arrays.convex_hull(points)):
            threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
            try:
                call()
                print("finished")
            except KeyboardInterrupt:
                print("interrupted")
        print(np.array_equal(arrays.positions(w), before))
        """
    )
    out = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=300
    )
    assert out.stdout.split() == ["interrupted", "interrupted", "True"], out.stderr
