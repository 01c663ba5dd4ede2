"""gfxcore.dask: chunked results equal one gfxcore.arrays call bit for bit,
with the threaded scheduler and on a cluster of real `dask scheduler` and
`dask worker` processes on 127.0.0.1, one of them killed mid-job."""

import os
import pickle
import random
import shutil
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")
np = pytest.importorskip("numpy")

import cloudpickle  # noqa: E402
import gfxcore.arrays as ga  # noqa: E402
import gfxcore.dask as gd  # noqa: E402
from dask.tokenize import tokenize  # noqa: E402

import _core  # noqa: E402

# The tasks defined here travel by value: the workers cannot import tests.
cloudpickle.register_pickle_by_value(sys.modules[__name__])


def collider(rng, k):
    scene = _core.SdfScene()
    for _ in range(k):
        c = [rng.uniform(-2, 2) for _ in range(3)]
        scene.add(
            rng.choice(
                [
                    lambda: _core.SdfPrimitive.sphere(*c, rng.uniform(0.1, 1)),
                    lambda: _core.SdfPrimitive.box_(*c, 0.3, 0.2, 0.5),
                    lambda: _core.SdfPrimitive.capsule(*c, 0, 1, 0, 0.3),
                    lambda: _core.SdfPrimitive.cone(*c, 1.0, 0.5),
                ]
            )()
        )
    out = _core.SdfCollider()
    out.load_bytes(scene.to_gpu_bytes())
    return out


def random_chunks(rng, n):
    """Row chunks of n, with empty ones now and then."""
    sizes = []
    while sum(sizes) < n:
        sizes.append(min(n - sum(sizes), rng.choice([0, 1, 7, 100, 1000, 5000])))
    return tuple(sizes) or (0,)


def points(rng, n, cols=3):
    p = (
        np.random.default_rng(rng.randrange(2**32))
        .normal(scale=2, size=(n, cols))
        .astype(np.float32)
    )
    if n:
        p[rng.randrange(n)] = 0.0  # an exact zero, and its -0 twin
        p[rng.randrange(n)] = -0.0
    return p


def same(a, b):
    a, b = np.asarray(a), np.asarray(b)
    assert a.dtype == b.dtype and a.shape == b.shape
    assert a.tobytes() == b.tobytes()


def jobs(rng):
    """(lazy result, the one call it must equal) for every function."""
    c = collider(rng, rng.choice([0, 1, 9, 40]))
    m = (
        _core.Quaternion.from_euler_xyz(0.3, -1.2, 2.0)
        .to_mat4()
        .mul(_core.Mat4x4.from_translation(_core.Vec3(1, 2, 3)))
    )
    n = rng.choice([0, 1, 333, 12000])
    p = points(rng, n)
    x = da.from_array(p, chunks=(random_chunks(rng, n), 3))
    r = np.random.default_rng(5).uniform(0, 1, n)
    flat = points(rng, n, 2)
    y = da.from_array(flat, chunks=(random_chunks(rng, n), 2))
    lo, hi, shape = (
        (-2, -1.5, -3),
        _core.Vec3(2, 1, 2.5),
        (rng.randrange(1, 30), rng.randrange(0, 20), rng.randrange(1, 40)),
    )
    grid_chunks = tuple(rng.randrange(1, 12) for _ in range(3))
    return [
        (gd.distances(c, x), lambda: ga.distances(c, p)),
        (gd.normals(c, x), lambda: ga.normals(c, p)),
        (gd.push_out(c, x), lambda: ga.push_out(c, p)),
        (gd.sphere_overlaps(c, x, r), lambda: ga.sphere_overlaps(c, p, r)),
        (gd.transform_points(m, x), lambda: ga.transform_points(m, p)),
        (gd.transform_directions(m, x), lambda: ga.transform_directions(m, p)),
        (
            gd.sample_grid(c, lo, hi, shape, chunks=grid_chunks),
            lambda: ga.sample_grid(c, lo, hi, shape),
        ),
        (gd.convex_hull(y), lambda: ga.convex_hull(flat)),
        (gd.bounding_box(y), lambda: ga.bounding_box(flat)),
    ]


def check(result, want, compute):
    got = compute(result)
    if isinstance(want, tuple):
        assert [float(v).hex() for v in got] == [v.hex() for v in want]
        return
    if not np.isnan(result.shape[0]):
        assert result.shape == want.shape and result.dtype == want.dtype
        assert result.chunks[1:] == tuple((s,) for s in want.shape[1:]) or result.ndim == 3
    same(got, want)


def test_threaded_results_are_one_call():
    rng = random.Random(21)
    for _ in range(6):
        for result, one_call in jobs(rng):
            check(result, one_call(), lambda r: r.compute(scheduler="threads"))


def test_grid_blocks_are_the_whole_grid():
    rng = random.Random(4)
    c = collider(rng, 12)
    shape = (13, 7, 29)
    whole = ga.sample_grid(c, (-2, -2, -2), (2.5, 1, 3), shape)
    for _ in range(20):
        offset = tuple(rng.randrange(n + 1) for n in shape)
        block = tuple(rng.randrange(n - o + 1) for n, o in zip(shape, offset))
        part = ga.sample_grid(c, (-2, -2, -2), (2.5, 1, 3), shape, offset=offset, block=block)
        i, j, k = offset
        bx, by, bz = block
        same(part, whole[i : i + bx, j : j + by, k : k + bz])
    with pytest.raises(ValueError, match="block"):
        ga.sample_grid(c, (0, 0, 0), (1, 1, 1), (4, 4, 4), offset=(1, 0, 0), block=(4, 1, 1))
    with pytest.raises(ValueError, match="offset"):
        ga.sample_grid(c, (0, 0, 0), (1, 1, 1), (4, 4, 4), offset=(5, 0, 0))


def test_the_collider_enters_the_graph_once_under_a_key_from_its_bytes():
    rng = random.Random(8)
    c = collider(rng, 500)
    x = da.ones((100_000, 3), chunks=(1000, 3), dtype=np.float32)
    graph = dict(gd.distances(c, x).__dask_graph__())
    size = len(cloudpickle.dumps(graph))
    assert (
        len(pickle.dumps(c)) < size < len(pickle.dumps(c)) + 100 * 1024
    )  # 100 chunks, < 1 KiB each
    twin = pickle.loads(pickle.dumps(c))
    assert tokenize(twin) == tokenize(c) != tokenize(collider(rng, 500))
    assert gd.distances(twin, x).name == gd.distances(c, x).name


def test_zero_size_probes_are_answered():
    c = collider(random.Random(1), 3)
    m = _core.Mat4x4.identity()
    for block, obj, want in (
        (gd._distances_block, c, (0,)),
        (gd._normals_block, c, (0, 3)),
        (gd._transform_points_block, m, (0, 3)),
    ):
        for probe in (np.empty((0, 0)), np.empty((0, 3), np.float64), np.empty((0,))):
            out = block(probe, obj, None)
            assert out.shape == want and out.dtype == np.float32


# The cluster: one scheduler and two one-thread workers, as a deployment
# starts them, stopped whatever the tests do.


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def dask_command():
    exe = Path(sys.executable).with_name("dask")
    return [str(exe)] if exe.exists() else [shutil.which("dask") or "dask"]


def start_worker(address, procs):
    procs.append(
        subprocess.Popen(
            [
                *dask_command(),
                "worker",
                address,
                "--nthreads",
                "1",
                "--no-nanny",
                "--host",
                "127.0.0.1",
                "--no-dashboard",
                "--death-timeout",
                "60",
            ],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
    )
    return procs[-1]


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


@pytest.fixture(scope="module")
def cluster():
    procs = []
    try:
        port = free_port()
        address = f"tcp://127.0.0.1:{port}"
        procs.append(
            subprocess.Popen(
                [
                    *dask_command(),
                    "scheduler",
                    "--host",
                    "127.0.0.1",
                    "--port",
                    str(port),
                    "--no-dashboard",
                ],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
                start_new_session=True,
            )
        )
        for _ in range(2):
            start_worker(address, procs)
        client = distributed.Client(address, timeout=60)
        try:
            client.wait_for_workers(2, timeout=60)
            yield client, address, procs
        finally:
            client.close()
    finally:
        for proc in reversed(procs):
            stop(proc)


def test_cluster_results_are_one_call(cluster):
    client, _, _ = cluster
    rng = random.Random(99)
    for _ in range(2):
        for result, one_call in jobs(rng):
            check(result, one_call(), lambda r: client.compute(r).result())


def world_after(seed, steps):
    rng = random.Random(seed)
    world = _core.PhysicsWorld()
    for _ in range(50):
        body = _core.RigidBody(rng.choice([0.0, 1.0]))
        body.set_position(*[rng.uniform(-5, 5) for _ in range(3)])
        body.set_velocity(*[rng.uniform(-1, 1) for _ in range(3)])
        world.add_body(body)
    pairs = [ga.step(world, 0.01).tobytes() for _ in range(steps)]
    return world, pairs


def test_objects_travel_both_ways_and_workers_split_by_their_threads(cluster):
    client, _, _ = cluster
    # A world made on a worker comes back whole; one sent there answers as here.
    # (A lambda: plain pickle, which distributed tries first, would send
    # world_after by name, and the workers cannot import this file.)
    worlds = client.gather(client.map(lambda seed: world_after(seed, 20), range(6)))
    for seed, (world, pairs) in enumerate(worlds):
        here, here_pairs = world_after(seed, 20)
        assert pairs == here_pairs
        same(ga.positions(world), ga.positions(here))
        assert world.add_body(_core.RigidBody(1.0)) == here.add_body(_core.RigidBody(1.0))
    c = collider(random.Random(2), 20)
    assert client.submit(lambda c: c.distance(0.5, 0.25, 0), c).result() == c.distance(0.5, 0.25, 0)
    assert client.submit(tokenize, c).result() == tokenize(c)
    assert client.submit(gd._threads, None, pure=False).result() == 1
    assert gd._threads(None) is None and gd._threads(3) == 3


def test_a_worker_killed_mid_job_changes_no_bit(cluster):
    client, address, procs = cluster
    before = set(client.scheduler_info()["workers"])
    victim = start_worker(address, procs)
    client.wait_for_workers(3, timeout=60)
    (victim_address,) = set(client.scheduler_info()["workers"]) - before
    rng = random.Random(5)
    c = collider(rng, 200)
    shape = (96, 96, 96)
    want = ga.sample_grid(c, (-3, -3, -3), (3, 3, 3), shape)
    future = client.compute(gd.sample_grid(c, (-3, -3, -3), (3, 3, 3), shape, chunks=(2, 96, 96)))
    # Wait until the victim holds a result or runs a task, then kill it.
    deadline = time.monotonic() + 30
    while not (client.processing().get(victim_address) or client.has_what().get(victim_address)):
        assert time.monotonic() < deadline and not future.done()
        time.sleep(0.01)
    os.kill(victim.pid, signal.SIGKILL)
    victim.wait()
    same(future.result(timeout=120), want)


def test_the_bake_example_writes_the_grid_to_zarr_on_the_cluster(cluster, tmp_path):
    pytest.importorskip("zarr")
    pytest.importorskip("PIL")
    import importlib.util

    import zarr

    path = Path(__file__).parents[1] / "examples" / "bake_volume.py"
    found = importlib.util.spec_from_file_location("bake_volume", path)
    bake = importlib.util.module_from_spec(found)
    found.loader.exec_module(bake)
    _, address, _ = cluster
    for scheduler in (address, None):
        store, png = tmp_path / f"v{bool(scheduler)}.zarr", tmp_path / "slice.png"
        bake.main(
            ["--size", "24", "--chunk", "10", "--out", str(store), "--png", str(png)]
            + (["--scheduler", address] if scheduler else [])
        )
        want = ga.sample_grid(bake.level(), bake.LO, bake.HI, (24, 24, 24))
        same(zarr.open_array(str(store), mode="r")[:], want)
        assert png.stat().st_size > 1000


def test_readme_section_runs():
    import pathlib
    import re

    readme = (pathlib.Path(__file__).parent.parent / "README.md").read_text()
    section = readme.split("\n## Past one process:", 1)[1].split("\n## ", 1)[0]
    (code,) = re.findall(r"```python\n(.*?)```", section, re.S)
    names = {}
    exec(
        compile(
            code.replace("10_000_000", "100_000").replace("2_000_000", "30_000"),
            "README.md",
            "exec",
        ),
        names,
    )
    assert names["volume"].shape == (256, 256, 256)
