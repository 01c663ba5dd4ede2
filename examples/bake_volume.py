"""Bake a level's distance field into a chunked Zarr volume, then draw a slice.

    python examples/bake_volume.py                      # local threads
    python examples/bake_volume.py --size 512 --chunk 64
    python examples/bake_volume.py --scheduler tcp://10.0.0.5:8786

Each chunk of the volume is one task that samples its block of the grid
(`gfxcore.dask.sample_grid`) and writes it to the store where it runs, so
the volume never passes through this process. On a cluster the store must
be a path (or URL) every worker can write: a shared file system or an
object store. The slice is read back from the store, not from memory.
Needs `pip install gfxcore[dask] Pillow`.
"""

from __future__ import annotations

import argparse
import time

import dask.array as da
import gfxcore.dask
import numpy as np
import zarr
from PIL import Image

import _core

# The level fills the box from LO to HI.
LO, HI = (-8.0, -1.0, -8.0), (8.0, 7.0, 8.0)


def level() -> _core.SdfCollider:
    """A small arena: a floor, walls, pillars, a ramp of boxes, an arch."""
    P = _core.SdfPrimitive
    scene = _core.SdfScene()
    scene.add(P.plane(0, 1, 0, 0))  # the floor, y = 0
    for x, z, hx, hz in ((0, -7.5, 8, 0.5), (0, 7.5, 8, 0.5), (-7.5, 0, 0.5, 8), (7.5, 0, 0.5, 8)):
        scene.add(P.box_(x, 1.5, z, hx, 1.5, hz))
    for x in (-4, 4):
        for z in (-4, 4):
            scene.add(P.cylinder(x, 2.5, z, 2.5, 0.6))
    for step in range(6):
        scene.add(
            P.rounded_box(-5 + step, 0.25 + 0.25 * step, 0, 0.5, 0.25 + 0.25 * step, 1.5, 0.05)
        )
    scene.add(P.torus(0, 3.5, 0, 2.5, 0.4))
    scene.add(P.capsule(-6, 1, 6, 6, 4, 6, 0.3))
    scene.add(P.sphere(3, 1, -2, 1.0))
    scene.add(P.cone(0, 0.5, 5, 1.5, 0.4))
    collider = _core.SdfCollider()
    collider.load_bytes(scene.to_gpu_bytes())
    return collider


def bake(store: str, size: int, chunk: int, scheduler: str | None) -> float:
    """Bakes the level at size**3 samples into `store`; the seconds it took."""
    volume = gfxcore.dask.sample_grid(level(), LO, HI, (size, size, size), chunks=chunk)
    job = da.to_zarr(volume, store, overwrite=True, compute=False)
    start = time.perf_counter()
    if scheduler is None:
        from dask.diagnostics import ProgressBar

        with ProgressBar():
            job.compute(scheduler="threads")
    else:
        from distributed import Client, progress

        with Client(scheduler) as client:
            future = client.compute(job)
            progress(future)
            future.result()
            print()
    return time.perf_counter() - start


def draw_slice(store: str, png: str, height: float = 1.0) -> None:
    """The horizontal slice of the volume nearest `height`, as a picture:
    blue inside, warm outside, a dark line every half unit of distance and
    white on the surface."""
    volume = zarr.open_array(store, mode="r")
    ny = volume.shape[1]
    j = round((height - LO[1]) / (HI[1] - LO[1]) * (ny - 1)) if ny > 1 else 0
    d = np.asarray(volume[:, j, :], dtype=np.float32).T  # rows along z, columns along x
    t = np.clip(np.abs(d) / 4.0, 0.0, 1.0)
    inside = d < 0
    rgb = np.empty((*d.shape, 3), np.float32)
    rgb[..., 0] = np.where(inside, 0.15, 0.95 - 0.55 * t)
    rgb[..., 1] = np.where(inside, 0.3 + 0.4 * t, 0.75 - 0.45 * t)
    rgb[..., 2] = np.where(inside, 0.9, 0.35 - 0.2 * t)
    bands = np.abs((d / 0.5) - np.round(d / 0.5)) < 0.06
    rgb[bands] *= 0.6
    rgb[np.abs(d) < 0.04] = 1.0
    image = Image.fromarray((rgb * 255).astype(np.uint8), "RGB")
    image.resize((max(256, d.shape[1]), max(256, d.shape[0])), Image.NEAREST).save(png)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=128, help="samples along each axis")
    parser.add_argument("--chunk", type=int, default=32, help="samples along each axis of a chunk")
    parser.add_argument("--out", default="level.zarr", help="the Zarr store to write")
    parser.add_argument("--png", default="level_slice.png", help="the slice picture to draw")
    parser.add_argument(
        "--scheduler", metavar="ADDRESS", help="a dask scheduler, e.g. tcp://host:8786"
    )
    args = parser.parse_args(argv)
    seconds = bake(args.out, args.size, args.chunk, args.scheduler)
    print(f"baked {args.size}^3 samples into {args.out} in {seconds:.2f} s")
    draw_slice(args.out, args.png)
    print(f"drew {args.png}")


if __name__ == "__main__":
    main()
