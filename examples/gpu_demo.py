"""The GPU side through gfxcore.gpu: scene distances and a compiled node
graph, run on whatever WebGPU adapter wgpu finds (Mesa's software Vulkan will
do). Draws two PNG files into $GPU_DEMO_DIR (default: a gpu_demo folder in the
temp directory); the README shows them from docs/images:

- sdf_slice.png: a slice through an SDF scene, as the GPU computes it, as
  SdfCollider computes it, and their difference;
- node_graph.png: a picture before and after a node-graph filter.
"""

import json
import os
import pathlib
import tempfile

import numpy as np
from gfxcore import check_node_graph
from PIL import Image, ImageDraw, ImageFont

from _core import SdfCollider, SdfPrimitive, SdfScene, compile_node_graph

SLICE = 240  # pixels per side of each slice panel
EXTENT = 4.0  # the slice covers [-EXTENT, EXTENT] in x and y, at z = 0
MARGIN, GAP, TITLE = 12, 16, 24  # pixels around, between and above the panels
FONT = ImageFont.load_default(size=13)
GREY = 0.6  # where the distance is exactly 0


def out_dir() -> pathlib.Path:
    path = pathlib.Path(
        os.environ.get("GPU_DEMO_DIR") or pathlib.Path(tempfile.gettempdir()) / "gpu_demo"
    )
    path.mkdir(parents=True, exist_ok=True)
    return path


def open_device():
    """gfxcore.gpu's shared device, or None with the reason printed."""
    try:
        from gfxcore.gpu import NoAdapterError, default_device
    except ImportError as exc:
        print(f"{exc}; skipping the GPU pictures")
        return None
    try:
        device = default_device()
    except NoAdapterError as exc:
        print(f"{exc}; skipping the GPU pictures")
        return None
    print(f"adapter: {device.adapter_info['device']} ({device.adapter_info['backend_type']})")
    return device


# ---- the SDF slice ----------------------------------------------------------------------


def demo_scene() -> SdfScene:
    scene = SdfScene()
    for prim in [
        SdfPrimitive.sphere(-2.6, 2.4, 0.0, 0.9),
        SdfPrimitive.box_(0.0, 2.5, 0.0, 0.8, 0.6, 0.5),
        SdfPrimitive.rounded_box(2.5, 2.5, 0.0, 0.6, 0.6, 0.6, 0.3),
        SdfPrimitive.cylinder(-2.6, -0.1, 0.0, 0.9, 0.6),
        SdfPrimitive.torus(0.0, 0.0, 0.3, 1.1, 0.3),
        SdfPrimitive.cone(2.6, 0.8, 0.0, 1.6, 0.45),
        SdfPrimitive.capsule(-3.0, -2.6, 0.0, -0.6, -1.8, 0.0, 0.35),
        SdfPrimitive.plane(0.2, 1.0, 0.0, -3.4),
    ]:
        scene.add(prim)
    return scene


def slice_points() -> np.ndarray:
    """The slice's pixel centres at z = 0, row by row from the top (y = EXTENT)."""
    axis = np.linspace(-EXTENT, EXTENT, SLICE, dtype=np.float32)
    x, y = np.meshgrid(axis, axis[::-1])
    return np.stack([x.ravel(), y.ravel(), np.zeros(SLICE * SLICE, np.float32)], axis=-1)


def to_rgb8(rgb: np.ndarray) -> np.ndarray:
    return (np.clip(rgb, 0, 1) * 255).astype(np.uint8)


def field_colors(d: np.ndarray) -> np.ndarray:
    """Orange outside, blue inside, darker bands every 0.25 and a white rim;
    grey where the distance is exactly 0, which the cone's field gives across
    a whole wedge of space around and below it rather than on a surface."""
    inside = d < 0
    base = np.where(inside[..., None], [0.35, 0.6, 0.9], [0.9, 0.6, 0.3])
    shade = 1.0 - np.exp(-2.5 * np.abs(d))[..., None] * 0.6
    bands = 0.85 + 0.15 * np.cos(np.pi * 8 * d)[..., None]
    rgb = base * shade * bands
    rgb = np.where((np.abs(d) < 0.02)[..., None], 1.0, rgb)
    return to_rgb8(np.where((d == 0)[..., None], GREY, rgb))


# The difference panel: black where equal, else dark red (1e-8 or less) to yellow (1e-3 or more).
DIFF_DECADES = (-8, -3)


def difference_level_colors(level: np.ndarray) -> np.ndarray:
    """level 0 to 1 -> dark red to yellow."""
    return to_rgb8(np.stack([0.45 + 0.55 * level, level, np.zeros_like(level)], axis=-1))


def difference_colors(gpu: np.ndarray, cpu: np.ndarray) -> np.ndarray:
    diff = np.abs(gpu.astype(np.float64) - cpu.astype(np.float64))
    low, high = DIFF_DECADES
    level = np.clip((np.log10(np.maximum(diff, 1e-30)) - low) / (high - low), 0, 1)
    return np.where((diff > 0)[..., None], difference_level_colors(level), 0).astype(np.uint8)


def label(
    draw: ImageDraw.ImageDraw, xy: tuple[float, float], text: str, anchor: str = "la"
) -> None:
    draw.text(xy, text, fill=(30, 30, 30), font=FONT, anchor=anchor)


def colour_bar(img: Image.Image, box: tuple[int, int, int, int], colors: np.ndarray) -> None:
    """Pastes a row of colours stretched over box (left, top, right, bottom)."""
    left, top, right, bottom = box
    bar = Image.fromarray(np.repeat(colors[None], bottom - top, axis=0))
    img.paste(bar.resize((right - left, bottom - top), Image.NEAREST), (left, top))
    ImageDraw.Draw(img).rectangle((left - 1, top - 1, right, bottom), outline=(90, 90, 90))


def swatch(img: Image.Image, x: int, y: int, rgb: tuple[int, int, int], text: str) -> int:
    """A square of colour and its meaning; returns the x after it."""
    draw = ImageDraw.Draw(img)
    draw.rectangle((x, y, x + 12, y + 12), fill=rgb, outline=(90, 90, 90))
    label(draw, (x + 18, y - 1), text)
    return x + 18 + int(draw.textlength(text, font=FONT)) + 16


def sdf_picture(path: pathlib.Path) -> Image.Image:
    from gfxcore.gpu import sdf_distances

    scene = demo_scene()
    points = slice_points()
    gpu = sdf_distances(scene, points)
    collider = SdfCollider()
    collider.load_bytes(scene.to_gpu_bytes())
    cpu = np.array([collider.distance(x, y, z) for x, y, z in points.tolist()], dtype=np.float32)
    differ = gpu != cpu
    print(
        f"slice z = 0 through {collider.prim_count()} primitives, {len(points)} points: "
        f"{int(differ.sum())} GPU distances differ from the collider's, "
        f"by at most {float(np.abs(gpu - cpu).max()):.3g}"
    )

    panels = [
        field_colors(gpu.reshape(SLICE, SLICE)),
        field_colors(cpu.reshape(SLICE, SLICE)),
        difference_colors(gpu, cpu).reshape(SLICE, SLICE, 3),
    ]
    titles = [
        "GPU: gfxcore.gpu.sdf_distances",
        "CPU: SdfCollider.distance",
        "difference, GPU - CPU",
    ]
    width = 2 * MARGIN + 3 * SLICE + 2 * GAP
    img = Image.new("RGB", (width, MARGIN + TITLE + SLICE + 124), "white")
    draw = ImageDraw.Draw(img)
    lefts = [MARGIN + i * (SLICE + GAP) for i in range(3)]
    for left, panel, title in zip(lefts, panels, titles):
        label(draw, (left + SLICE / 2, MARGIN + TITLE / 2), title, anchor="mm")
        img.paste(Image.fromarray(panel), (left, MARGIN + TITLE))

    # Under the two fields: distance colour bar, the rim and the cone's grey wedge.
    top = MARGIN + TITLE + SLICE + 14
    left, right = lefts[0] + 20, lefts[1] + SLICE - 20
    distances = np.linspace(-1.0, 3.0, right - left)
    colour_bar(img, (left, top, right, top + 14), field_colors(distances))
    for d in range(-1, 4):
        x = left + (d + 1) / 4 * (right - left)
        draw.line((x, top + 14, x, top + 18), fill=(90, 90, 90))
        label(draw, (x, top + 20), f"{d:+d}" if d else "0", anchor="ma")
    label(
        draw,
        ((left + right) / 2, top + 38),
        "signed distance at z = 0 (blue inside, orange outside, bands every 0.25)",
        anchor="ma",
    )
    x = swatch(img, lefts[0] + 20, top + 62, (255, 255, 255), "surface, |distance| < 0.02")
    swatch(img, x, top + 62, (round(255 * GREY),) * 3, "exactly 0: the cone's wedge")

    # Under the difference: black, then the scale of the colours.
    left, right = lefts[2] + 10, lefts[2] + SLICE - 10
    swatch(img, left, top, (0, 0, 0), "black: the same float32 bits")
    bar_top = top + 34
    colour_bar(
        img,
        (left, bar_top, right, bar_top + 14),
        difference_level_colors(np.linspace(0, 1, right - left)),
    )
    low, high = DIFF_DECADES
    label(draw, (left, bar_top + 20), f"1e{low} or less")
    label(draw, (right, bar_top + 20), f"1e{high} or more", anchor="ra")
    label(
        draw,
        ((left + right) / 2, bar_top + 40),
        "colour: |GPU - CPU| where they differ",
        anchor="ma",
    )
    img.save(path)
    return img


# ---- the node-graph filter ----------------------------------------------------------------

FILTER = {
    "nodes": [
        {"id": "uv", "type": "UV"},
        {"id": "warp", "type": "GravityWarp", "params": {"strength": 0.8, "radius": 0.35}},
        {"id": "warped", "type": "SampleTexture"},
        {"id": "plain", "type": "PixelColor"},
        {"id": "green", "type": "PixelChannel", "params": {"channel": "g"}},
        {"id": "mask", "type": "Clamp", "params": {"min": 0.1, "max": 0.9}},
        {"id": "mixed", "type": "Lerp"},
        {"id": "gain", "type": "Multiply"},
        {"id": "glow", "type": "Add"},
        {"id": "final", "type": "FinalColor"},
    ],
    "edges": [
        {"from_node": "uv", "from_port": "uv", "to_node": "warp", "to_port": "uv"},
        {"from_node": "warp", "from_port": "out_uv", "to_node": "warped", "to_port": "uv"},
        {"from_node": "green", "from_port": "val", "to_node": "mask", "to_port": "val"},
        {"from_node": "plain", "from_port": "color", "to_node": "mixed", "to_port": "a"},
        {"from_node": "warped", "from_port": "color", "to_node": "mixed", "to_port": "b"},
        {"from_node": "mask", "from_port": "out", "to_node": "mixed", "to_port": "t"},
        {"from_node": "mixed", "from_port": "out", "to_node": "gain", "to_port": "a"},
        {"from_node": "mask", "from_port": "out", "to_node": "gain", "to_port": "b"},
        {"from_node": "gain", "from_port": "out", "to_node": "glow", "to_port": "a"},
        {"from_node": "mixed", "from_port": "out", "to_node": "glow", "to_port": "b"},
        {"from_node": "glow", "from_port": "out", "to_node": "final", "to_port": "color"},
    ],
}


def source_picture(n: int) -> np.ndarray:
    """A checkerboard of hues with rings: straight lines show a warp well."""
    y, x = (np.mgrid[0:n, 0:n] + 0.5) / n
    hue = (x + y) * 0.5
    rgb = 0.5 + 0.5 * np.cos(2 * np.pi * (hue[..., None] + np.array([0.0, 1 / 3, 2 / 3])))
    checks = ((np.floor(x * 8) + np.floor(y * 8)) % 2)[..., None]
    rings = 0.75 + 0.25 * np.cos(np.hypot(x - 0.5, y - 0.5) * 60)[..., None]
    rgb = rgb * (0.55 + 0.45 * checks) * rings
    return np.concatenate([rgb, np.ones((n, n, 1))], axis=-1).astype(np.float32)


def filter_picture(path: pathlib.Path, size: int = 256) -> Image.Image:
    from gfxcore.gpu import apply_node_graph

    document = json.dumps(FILTER)
    problems = check_node_graph(document)
    assert not problems, problems
    wgsl = compile_node_graph(document)
    src = source_picture(size)
    out = apply_node_graph(wgsl, src)
    panels = [(src, "before: the picture"), (out, "after: the node graph")]
    img = Image.new("RGB", (2 * MARGIN + 2 * size + GAP, MARGIN + TITLE + size + 40), "white")
    draw = ImageDraw.Draw(img)
    for i, (pixels, title) in enumerate(panels):
        left = MARGIN + i * (size + GAP)
        label(draw, (left + size / 2, MARGIN + TITLE / 2), title, anchor="mm")
        img.paste(Image.fromarray(to_rgb8(pixels[..., :3])), (left, MARGIN + TITLE))
    label(
        draw,
        (img.width / 2, MARGIN + TITLE + size + 10),
        "GravityWarp, then sample; blend with the plain pixel by its clamped green; boost",
        anchor="ma",
    )
    img.save(path)
    print(
        f"node graph of {len(FILTER['nodes'])} nodes, checked and compiled to {len(wgsl)} "
        f"bytes of WGSL, drawn over a {size}x{size} picture"
    )
    return img


def main() -> None:
    if open_device() is None:
        return
    folder = out_dir()
    sdf_picture(folder / "sdf_slice.png")
    filter_picture(folder / "node_graph.png")
    print(f"pictures written to {folder}: sdf_slice.png, node_graph.png")


if __name__ == "__main__":
    main()
