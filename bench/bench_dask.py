"""gfxcore.dask on a two-process cluster (a `dask scheduler` and two
one-thread `dask worker` processes on 127.0.0.1, started on first use and
stopped at exit) against the one-process call with both cores.

Scaled for a two-core machine: 48M points in chunks of 6M (the rate per
point is what the row compares, and a chunk's work then outweighs its
task's cost, as on a real cluster), a 384^3 bake in slabs of 48.
"""

from __future__ import annotations

import atexit
import pickle
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import numpy as np
from bench_sdf import _random_scene
from gfxcore import arrays

import _core
from common import Case

POINTS = 48_000_000
POINT_CHUNK = 6_000_000
GRID = 384
GRID_CHUNK = 48

_cluster: dict = {}


def _start():
    """The client of the cluster, started once."""
    if "client" in _cluster:
        return _cluster["client"]
    import distributed

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    exe = Path(sys.executable).with_name("dask")
    dask_cmd = [str(exe)] if exe.exists() else [shutil.which("dask") or "dask"]
    address = f"tcp://127.0.0.1:{port}"
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
    procs = [
        subprocess.Popen(
            [*dask_cmd, "scheduler", "--host", "127.0.0.1", "--port", str(port), "--no-dashboard"],
            **quiet,
        )
    ]
    for _ in range(2):
        procs.append(
            subprocess.Popen(
                [*dask_cmd, "worker", address, "--nthreads", "1", "--no-nanny"]
                + ["--host", "127.0.0.1", "--no-dashboard"],
                **quiet,
            )
        )

    def stop():
        client = _cluster.get("client")
        if client is not None:
            client.close()
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()

    atexit.register(stop)
    client = distributed.Client(address, timeout=60)
    _cluster["client"] = client
    client.wait_for_workers(2, timeout=60)
    _cluster["pids"] = [p.pid for p in procs[1:]]
    return client


class Jobs:
    """The work of each row, the cluster started when first needed."""

    def __init__(self):
        scene = _random_scene(16, seed=16)
        self.c = _core.SdfCollider()
        self.c.load_bytes(scene.to_gpu_bytes())
        self.p = np.random.default_rng(7).uniform(-8, 8, size=(POINTS, 3)).astype(np.float32)
        self._x = None

    def points_on_workers(self):
        if self._x is None:
            import dask.array as da
            import distributed

            client = _start()
            self._x = client.persist(da.from_array(self.p, chunks=(POINT_CHUNK, 3)))
            distributed.wait(self._x)
        return self._x

    def cluster_distances(self, gather=False):
        import distributed
        import gfxcore.dask as gd

        client = _start()
        r = client.persist(gd.distances(self.c, self.points_on_workers()))
        distributed.wait(r)
        return r.compute() if gather else None

    def grid(self):
        import gfxcore.dask as gd

        return gd.sample_grid(
            self.c, (-8, -8, -8), (8, 8, 8), (GRID,) * 3, chunks=(GRID_CHUNK, GRID, GRID)
        )

    def cluster_bake(self, gather=False):
        import distributed

        client = _start()
        r = client.persist(self.grid())
        distributed.wait(r)
        return r.compute() if gather else None

    def local_bake(self):
        return self.grid().compute(scheduler="threads")

    def task_cost(self):
        """(seconds a one-row chunk task costs on the cluster, the 5 ms budget)."""
        import dask.array as da
        import gfxcore.dask as gd

        client = _start()
        n = 200
        pts = da.from_array(self.p[:n], chunks=(1, 3))
        best = float("inf")
        for _ in range(3):
            start = time.perf_counter()
            client.compute(gd.distances(self.c, pts)).result()
            best = min(best, time.perf_counter() - start)
        return best / n, 0.005

    def bytes_per_chunk(self):
        """(graph bytes a chunk adds beside its points and the one collider, 1 KiB)."""
        import cloudpickle
        import dask.array as da
        import gfxcore.dask as gd

        x = da.ones((POINTS, 3), chunks=(POINT_CHUNK // 10, 3), dtype=np.float32)
        points = dict(x.__dask_graph__())
        graph = dict(gd.distances(self.c, x).__dask_graph__())
        extra = {k: v for k, v in graph.items() if k not in points}
        size = len(cloudpickle.dumps(extra)) - len(pickle.dumps(self.c))
        return size / x.numblocks[0], 1024.0

    def peak_memory(self):
        """(most memory a worker holds above idle while the volume is
        written to Zarr, three chunks' bytes)."""
        import dask.array as da
        import psutil

        client = _start()
        workers = [psutil.Process(pid) for pid in _cluster["pids"]]
        with tempfile.TemporaryDirectory() as tmp:
            store = str(Path(tmp) / "v.zarr")
            job = da.to_zarr(self.grid(), store, overwrite=True, compute=False)
            client.compute(job).result()  # the imports and pools are warm
            client.run(lambda: __import__("gc").collect())
            idle = [w.memory_info().rss for w in workers]
            peak = list(idle)
            done = threading.Event()

            def watch():
                while not done.is_set():
                    for i, w in enumerate(workers):
                        peak[i] = max(peak[i], w.memory_info().rss)
                    time.sleep(0.002)

            watcher = threading.Thread(target=watch)
            watcher.start()
            try:
                client.compute(job).result()
            finally:
                done.set()
                watcher.join()
        chunk = GRID_CHUNK * GRID * GRID * 4
        return float(max(p - i for p, i in zip(peak, idle))), 3.0 * chunk


def _same_bits(a, b):
    return np.asarray(a).tobytes() == np.asarray(b).tobytes()


def cases():
    try:
        import distributed  # noqa: F401
        import gfxcore.dask  # noqa: F401
    except ImportError:  # installed without gfxcore[dask]
        return []
    jobs = Jobs()
    env = {"jobs": jobs, "arrays": arrays}
    return [
        Case(
            "dask distances, 2-worker cluster vs one call workers=2",
            "jobs.cluster_distances()",
            "arrays.distances(jobs.c, jobs.p, workers=2)",
            "one call, workers=2",
            env,
            work=f"{POINTS // 10**6}M points, 16 prims, chunks of {POINT_CHUNK // 10**6}M",
            check=lambda _a, _b: _same_bits(
                jobs.cluster_distances(gather=True), arrays.distances(jobs.c, jobs.p)
            ),
            goal=1 / 0.85,
        ),
        Case(
            "dask chunk task cost (1-row chunks) vs 5 ms",
            "",
            "",
            "budget",
            env,
            work="200 chunk tasks on the cluster",
            quantity=jobs.task_cost,
        ),
        Case(
            "dask graph bytes per chunk beside the points vs 1 KiB",
            "",
            "",
            "budget",
            env,
            work="80 chunks, 16 prims",
            quantity=jobs.bytes_per_chunk,
            unit="B",
        ),
        Case(
            f"dask sample_grid {GRID}^3, cluster vs local threads",
            "jobs.cluster_bake()",
            "jobs.local_bake()",
            "local threads",
            env,
            work=f"{GRID}^3 samples, 16 prims, chunks of {GRID_CHUNK} slabs",
            check=lambda _a, _b: _same_bits(jobs.cluster_bake(gather=True), jobs.local_bake()),
            goal=1.2,
        ),
        Case(
            "dask worker peak memory writing Zarr vs 3 chunks",
            "",
            "",
            "3 chunks",
            env,
            work=f"{GRID}^3 volume in {GRID // GRID_CHUNK} chunks",
            quantity=jobs.peak_memory,
            unit="B",
        ),
    ]
