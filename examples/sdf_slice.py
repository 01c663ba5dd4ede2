"""A picture of an SDF scene's distance field: one slice through z = 0,
sampled by one gfxcore.arrays.sample_grid call and written as a PNG.

usage: python examples/sdf_slice.py [out.png] [side]
"""

import sys

import numpy as np
from gfxcore import arrays
from PIL import Image
from sdf_demo import demo_scene

from _core import SdfCollider


def scene_collider() -> SdfCollider:
    collider = SdfCollider()
    collider.load_bytes(demo_scene().to_gpu_bytes())
    return collider


def picture(d: np.ndarray) -> Image.Image:
    """Blue inside, orange outside, darker with distance, stripes every 0.25
    units and a white surface line."""
    shade = np.exp(-np.abs(d) * 0.8)[..., None]
    inside = np.array([65, 105, 225], np.float32) * (1.2 - 0.6 * shade)
    outside = np.array([240, 150, 60], np.float32) * (1.2 - 0.6 * shade)
    rgb = np.where(d[..., None] < 0, inside, outside)
    rgb *= 0.85 + 0.15 * np.cos(d * 8 * np.pi)[..., None]
    rgb[np.abs(d) < 0.02] = 255
    return Image.fromarray(np.clip(rgb, 0, 255).astype(np.uint8))


def main(path: str = "sdf_slice.png", side: int = 512) -> None:
    # x across, y up: rows run from y = 3 down to y = -3.
    grid = arrays.sample_grid(scene_collider(), (-3.0, 3.0, 0.0), (3.0, -3.0, 0.0), (side, side, 1))
    picture(grid[:, :, 0].T).save(path)
    print(f"wrote {path}: {side}x{side} distances, from {grid.min():+.2f} to {grid.max():+.2f}")


if __name__ == "__main__":
    main(
        sys.argv[1] if len(sys.argv) > 1 else "sdf_slice.png",
        int(sys.argv[2]) if len(sys.argv) > 2 else 512,
    )
