"""The GPU side: the shipped WGSL scene library and a compiled node graph, run
on whatever WebGPU adapter wgpu finds (Mesa's software Vulkan will do). Draws
two PNG files into $GPU_DEMO_DIR (default: a gpu_demo folder in the temp
directory):

- sdf_slice.png: a slice through an SDF scene, as the GPU library computes
  it, as SdfCollider computes it, and their difference;
- node_graph.png: a picture before and after a node-graph filter.
"""
import json
import os
import pathlib
import tempfile

import numpy as np
from PIL import Image

import gfxcore
from _core import SdfCollider, SdfPrimitive, SdfScene, compile_node_graph

SLICE = 240  # pixels per side of each slice panel
EXTENT = 4.0  # the slice covers [-EXTENT, EXTENT] in x and y, at z = 0


def out_dir() -> pathlib.Path:
    path = pathlib.Path(os.environ.get("GPU_DEMO_DIR")
                        or pathlib.Path(tempfile.gettempdir()) / "gpu_demo")
    path.mkdir(parents=True, exist_ok=True)
    return path


def open_device():
    """A wgpu device, or None with the reason printed."""
    # Mesa's Vulkan loader complains on stderr when there is no runtime
    # directory (a headless session); give it a private one.
    os.environ.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="xdg-"))
    try:
        import wgpu
        adapter = wgpu.gpu.request_adapter_sync(power_preference="high-performance")
    except Exception as exc:  # noqa: BLE001 - no usable WebGPU stack
        print(f"no GPU adapter can be created ({exc}); skipping the GPU pictures")
        return None
    if adapter is None:
        print("no GPU adapter can be created; skipping the GPU pictures")
        return None
    print(f"adapter: {adapter.info['device']} ({adapter.info['backend_type']})")
    return adapter.request_device_sync()


# ---- the SDF slice ----------------------------------------------------------------------

SLICE_KERNEL = gfxcore.sdf_wgsl() + """
@group(0) @binding(1) var<storage, read> points: array<vec4<f32>>;
@group(0) @binding(2) var<storage, read_write> distances: array<f32>;

@compute @workgroup_size(64)
fn main(@builtin(global_invocation_id) id: vec3<u32>) {
    if id.x < arrayLength(&points) {
        distances[id.x] = sdf_scene_distance(points[id.x].xyz);
    }
}
"""


def demo_scene() -> SdfScene:
    scene = SdfScene()
    for prim in [SdfPrimitive.sphere(-2.6, 2.4, 0.0, 0.9),
                 SdfPrimitive.box_(0.0, 2.5, 0.0, 0.8, 0.6, 0.5),
                 SdfPrimitive.rounded_box(2.5, 2.5, 0.0, 0.6, 0.6, 0.6, 0.3),
                 SdfPrimitive.cylinder(-2.6, -0.1, 0.0, 0.9, 0.6),
                 SdfPrimitive.torus(0.0, 0.0, 0.3, 1.1, 0.3),
                 SdfPrimitive.cone(2.6, 0.8, 0.0, 1.6, 0.45),
                 SdfPrimitive.capsule(-3.0, -2.6, 0.0, -0.6, -1.8, 0.0, 0.35),
                 SdfPrimitive.plane(0.2, 1.0, 0.0, -3.4)]:
        scene.add(prim)
    return scene


def slice_points() -> np.ndarray:
    axis = np.linspace(-EXTENT, EXTENT, SLICE, dtype=np.float32)
    x, y = np.meshgrid(axis, axis[::-1])  # row 0 at the top: y = EXTENT
    points = np.zeros((SLICE * SLICE, 4), dtype=np.float32)
    points[:, 0], points[:, 1] = x.ravel(), y.ravel()
    return points


def gpu_distances(dev, buffer: bytes, points: np.ndarray) -> np.ndarray:
    import wgpu

    pipeline = dev.create_compute_pipeline(
        layout="auto", compute={"module": dev.create_shader_module(code=SLICE_KERNEL),
                                "entry_point": "main"})
    inputs = [dev.create_buffer_with_data(data=data, usage=wgpu.BufferUsage.STORAGE)
              for data in (gfxcore.scene_buffer(buffer), points.tobytes())]
    out = dev.create_buffer(size=4 * len(points),
                            usage=wgpu.BufferUsage.STORAGE | wgpu.BufferUsage.COPY_SRC)
    group = dev.create_bind_group(layout=pipeline.get_bind_group_layout(0), entries=[
        {"binding": i, "resource": {"buffer": b}} for i, b in enumerate(inputs + [out])])
    encoder = dev.create_command_encoder()
    compute = encoder.begin_compute_pass()
    compute.set_pipeline(pipeline)
    compute.set_bind_group(0, group)
    compute.dispatch_workgroups(-(-len(points) // 64))
    compute.end()
    dev.queue.submit([encoder.finish()])
    return np.frombuffer(dev.queue.read_buffer(out), dtype=np.float32)


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
    rgb = np.where((d == 0)[..., None], 0.6, rgb)
    return (np.clip(rgb, 0, 1) * 255).astype(np.uint8)


def difference_colors(gpu: np.ndarray, cpu: np.ndarray) -> np.ndarray:
    """Black where the two agree bit for bit; red to yellow by the size of
    the difference otherwise."""
    diff = np.abs(gpu.astype(np.float64) - cpu.astype(np.float64))
    level = np.where(diff > 0, np.clip((np.log10(np.maximum(diff, 1e-12)) + 9) / 6, 0.6, 1), 0)
    rgb = np.stack([level, level * level, np.zeros_like(level)], axis=-1)
    return (rgb * 255).astype(np.uint8)


def sdf_picture(dev, path: pathlib.Path) -> Image.Image:
    buffer = bytes(demo_scene().to_gpu_bytes())
    points = slice_points()
    gpu = gpu_distances(dev, buffer, points)
    collider = SdfCollider()
    collider.load_bytes(buffer)
    cpu = np.array([collider.distance(x, y, z) for x, y, z, _ in points.tolist()], dtype=np.float32)
    differ = gpu != cpu
    print(f"slice z = 0 through {collider.prim_count()} primitives, {len(points)} points: "
          f"{int(differ.sum())} GPU distances differ from the collider's, "
          f"by at most {float(np.abs(gpu - cpu).max()):.3g}")
    panels = [field_colors(gpu.reshape(SLICE, SLICE)), field_colors(cpu.reshape(SLICE, SLICE)),
              difference_colors(gpu, cpu).reshape(SLICE, SLICE, 3)]
    gap = np.full((SLICE, 6, 3), 255, dtype=np.uint8)
    img = Image.fromarray(np.concatenate([panels[0], gap, panels[1], gap, panels[2]], axis=1))
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

def source_picture(n: int = 128) -> np.ndarray:
    """A checkerboard of hues with rings: straight lines show a warp well."""
    y, x = (np.mgrid[0:n, 0:n] + 0.5) / n
    hue = (x + y) * 0.5
    rgb = 0.5 + 0.5 * np.cos(2 * np.pi * (hue[..., None] + np.array([0.0, 1 / 3, 2 / 3])))
    checks = ((np.floor(x * 8) + np.floor(y * 8)) % 2)[..., None]
    rings = 0.75 + 0.25 * np.cos(np.hypot(x - 0.5, y - 0.5) * 60)[..., None]
    rgb = rgb * (0.55 + 0.45 * checks) * rings
    return np.concatenate([rgb, np.ones((n, n, 1))], axis=-1).astype(np.float16)


def filter_picture(dev, path: pathlib.Path, size: int = 256) -> Image.Image:
    import wgpu

    wgsl = compile_node_graph(json.dumps(FILTER))
    pipeline = dev.create_render_pipeline(
        layout="auto",
        vertex={"module": dev.create_shader_module(code=gfxcore.fullscreen_vertex_wgsl()), "entry_point": "vs_main"},
        primitive={"topology": wgpu.PrimitiveTopology.triangle_strip},
        fragment={"module": dev.create_shader_module(code=wgsl), "entry_point": "fs_main",
                  "targets": [{"format": wgpu.TextureFormat.rgba8unorm}]})
    src = source_picture()
    n = src.shape[0]
    texture = dev.create_texture(size=(n, n, 1), format=wgpu.TextureFormat.rgba16float,
                                 usage=wgpu.TextureUsage.TEXTURE_BINDING | wgpu.TextureUsage.COPY_DST)
    dev.queue.write_texture({"texture": texture}, src, {"bytes_per_row": 8 * n}, (n, n, 1))
    sampler = dev.create_sampler(mag_filter="linear", min_filter="linear",
                                 address_mode_u="mirror-repeat", address_mode_v="mirror-repeat")
    group = dev.create_bind_group(layout=pipeline.get_bind_group_layout(0), entries=[
        {"binding": 0, "resource": texture.create_view()}, {"binding": 1, "resource": sampler}])
    target = dev.create_texture(size=(size, size, 1), format=wgpu.TextureFormat.rgba8unorm,
                                usage=wgpu.TextureUsage.RENDER_ATTACHMENT | wgpu.TextureUsage.COPY_SRC)
    encoder = dev.create_command_encoder()
    draw = encoder.begin_render_pass(color_attachments=[{
        "view": target.create_view(), "load_op": wgpu.LoadOp.clear,
        "store_op": wgpu.StoreOp.store, "clear_value": (0, 0, 0, 1)}])
    draw.set_pipeline(pipeline)
    draw.set_bind_group(0, group)
    draw.draw(4)
    draw.end()
    dev.queue.submit([encoder.finish()])
    out = np.frombuffer(dev.queue.read_texture({"texture": target}, {"bytes_per_row": 4 * size},
                                               (size, size, 1)), dtype=np.uint8)
    before = Image.fromarray((np.clip(src[..., :3].astype(np.float32), 0, 1) * 255).astype(np.uint8))
    before = before.resize((size, size), Image.BILINEAR)
    after = Image.fromarray(out.reshape(size, size, 4)[..., :3].copy())
    img = Image.new("RGB", (2 * size + 6, size), "white")
    img.paste(before, (0, 0))
    img.paste(after, (size + 6, 0))
    img.save(path)
    print(f"node graph of {len(FILTER['nodes'])} nodes compiled to {len(wgsl)} bytes of WGSL "
          f"and drawn over a {n}x{n} picture")
    return img


def main() -> None:
    dev = open_device()
    if dev is None:
        return
    folder = out_dir()
    sdf_picture(dev, folder / "sdf_slice.png")
    filter_picture(dev, folder / "node_graph.png")
    print(f"pictures written to {folder}: sdf_slice.png, node_graph.png")


if __name__ == "__main__":
    main()
