"""gfxcore.gpu.sdf_distances on whatever adapter wgpu finds (Mesa's software
Vulkan driver on a machine without a GPU), against the collider called once
per point and against the numpy field of bench_sdf, for a million points."""

import numpy as np
from bench_sdf import _random_scene, decode, np_field

import _core
from common import Case, same_floats

POINTS = 1_000_000
PRIMS = 16


def cases():
    try:
        from gfxcore.gpu import NoAdapterError, default_device, sdf_distances

        device = default_device()
    except (ImportError, NoAdapterError) as exc:
        print(f"bench_gpu: skipped, {exc}")
        return []
    scene = _random_scene(PRIMS, seed=PRIMS)
    data = bytes(scene.to_gpu_bytes())
    pts = np.random.default_rng(11).uniform(-8, 8, size=(POINTS, 3)).astype(np.float32)
    collider = _core.SdfCollider()
    collider.load_bytes(data)
    env = {
        "sdf_distances": sdf_distances,
        "data": data,
        "pts": pts,
        "dev": device,
        "c": collider,
        "pts_list": pts.tolist(),
        "np_field": np_field,
        "g": decode(data),
        "X": pts[:, 0:1],
        "Y": pts[:, 1:2],
        "Z": pts[:, 2:3],
    }
    ours = "sdf_distances(data, pts, device=dev)"
    work = f"{POINTS:,} points, {PRIMS} prims"
    adapter = device.adapter_info.get("device", "GPU")
    # The cones go through the GPU's sin and cos: a few ulps from the CPU's.
    check = lambda a, b: same_floats(a, b, 1e-4)  # noqa: E731
    return [
        Case(
            f"gfxcore.gpu.sdf_distances on {adapter}",
            ours,
            "[c.distance(x, y, z) for x, y, z in pts_list]",
            "SdfCollider.distance loop",
            env,
            work=work,
            check=check,
            goal=None,
        ),
        Case(
            f"gfxcore.gpu.sdf_distances on {adapter}",
            ours,
            "np_field(g, X, Y, Z)",
            "numpy",
            env,
            work=work,
            check=check,
            goal=None,
        ),
    ]
