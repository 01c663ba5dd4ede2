"""A wgpu device shared by the GPU tests (created once), or a pytest skip
when no adapter can be created on this machine."""
from __future__ import annotations

import functools
import os
import tempfile

import pytest

import gfxcore


@functools.cache
def _adapter():
    # Set where no GPU stack is installed on purpose (the emulated ARM64 root).
    if os.environ.get("GFXCORE_SKIP_GPU"):
        return None, os.environ["GFXCORE_SKIP_GPU"]
    # A headless session has no runtime directory, and Mesa says so on stderr.
    os.environ.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="xdg-"))
    try:
        import wgpu
    except ImportError as exc:  # pragma: no cover - wgpu is a test dependency
        return None, f"wgpu cannot be imported: {exc}"
    try:
        adapter = wgpu.gpu.request_adapter_sync(power_preference="high-performance")
    except Exception as exc:  # noqa: BLE001 - any failure here means no adapter
        return None, f"no GPU adapter can be created: {exc}"
    if adapter is None:
        return None, "no GPU adapter can be created"
    return adapter, ""


@functools.cache
def _device():
    adapter, _ = _adapter()
    return adapter.request_device_sync()


def device():
    """The shared device; skips the calling test when there is no adapter."""
    adapter, reason = _adapter()
    if adapter is None:
        pytest.skip(reason)
    return _device()




def render_pipeline(fragment_wgsl: str, entry_point: str = "fs_main", layout="auto",
                    target_format: str = "rgba8unorm"):
    """Compiles `fragment_wgsl` into a render pipeline behind a full-screen
    vertex stage; raises when the GPU's shader compiler refuses it."""
    import wgpu

    dev = device()
    vertex = dev.create_shader_module(code=gfxcore.fullscreen_vertex_wgsl())
    fragment = dev.create_shader_module(code=fragment_wgsl)
    return dev.create_render_pipeline(
        layout=layout,
        vertex={"module": vertex, "entry_point": "vs_main"},
        primitive={"topology": wgpu.PrimitiveTopology.triangle_strip},
        fragment={"module": fragment, "entry_point": entry_point,
                  "targets": [{"format": target_format}]},
    )


def render_node_graph(fragment_wgsl: str, texture, size: tuple[int, int]):
    """Draws a compiled node graph over the whole of a `size` = (width,
    height) rgba32float target, with `texture` (a float32 array of shape
    (rows, columns, 4)) bound as t_color and a nearest, clamp-to-edge sampler
    as s_color; returns the target as an array of shape (height, width, 4).
    Row 0 is the top of the target, where uv.y is 0."""
    import numpy as np
    import wgpu

    dev = device()
    # 32-bit float textures are not filterable everywhere: bind them as
    # unfilterable, read through a non-filtering sampler.
    group_layout = dev.create_bind_group_layout(entries=[
        {"binding": 0, "visibility": wgpu.ShaderStage.FRAGMENT,
         "texture": {"sample_type": wgpu.TextureSampleType.unfilterable_float}},
        {"binding": 1, "visibility": wgpu.ShaderStage.FRAGMENT,
         "sampler": {"type": wgpu.SamplerBindingType.non_filtering}},
    ])
    pipeline = render_pipeline(
        fragment_wgsl, layout=dev.create_pipeline_layout(bind_group_layouts=[group_layout]),
        target_format=wgpu.TextureFormat.rgba32float)
    texture = np.ascontiguousarray(texture, dtype=np.float32)
    rows, columns = texture.shape[:2]
    source = dev.create_texture(size=(columns, rows, 1), format=wgpu.TextureFormat.rgba32float,
                                usage=wgpu.TextureUsage.TEXTURE_BINDING | wgpu.TextureUsage.COPY_DST)
    dev.queue.write_texture({"texture": source}, texture, {"bytes_per_row": 16 * columns},
                            (columns, rows, 1))
    sampler = dev.create_sampler(mag_filter="nearest", min_filter="nearest",
                                 address_mode_u="clamp-to-edge", address_mode_v="clamp-to-edge")
    bind_group = dev.create_bind_group(layout=group_layout, entries=[
        {"binding": 0, "resource": source.create_view()}, {"binding": 1, "resource": sampler}])
    width, height = size
    target = dev.create_texture(size=(width, height, 1), format=wgpu.TextureFormat.rgba32float,
                                usage=wgpu.TextureUsage.RENDER_ATTACHMENT | wgpu.TextureUsage.COPY_SRC)
    encoder = dev.create_command_encoder()
    draw = encoder.begin_render_pass(color_attachments=[{
        "view": target.create_view(), "load_op": wgpu.LoadOp.clear,
        "store_op": wgpu.StoreOp.store, "clear_value": (0, 0, 0, 0)}])
    draw.set_pipeline(pipeline)
    draw.set_bind_group(0, bind_group)
    draw.draw(4)
    draw.end()
    dev.queue.submit([encoder.finish()])
    data = dev.queue.read_texture({"texture": target}, {"bytes_per_row": 16 * width},
                                  (width, height, 1))
    return np.frombuffer(data, dtype=np.float32).reshape(height, width, 4).copy()


def run_compute(code: str, inputs: list[bytes], out_size: int, workgroups: int,
                entry_point: str = "main") -> bytes:
    """Runs a compute shader whose bindings 0 .. len(inputs) - 1 of group 0 are
    read-only storage buffers holding `inputs` and whose next binding is a
    read-write storage buffer of `out_size` bytes; returns that buffer."""
    import wgpu

    dev = device()
    pipeline = dev.create_compute_pipeline(
        layout="auto", compute={"module": dev.create_shader_module(code=code),
                                "entry_point": entry_point})
    buffers = [dev.create_buffer_with_data(data=data, usage=wgpu.BufferUsage.STORAGE)
               for data in inputs]
    out = dev.create_buffer(size=out_size,
                            usage=wgpu.BufferUsage.STORAGE | wgpu.BufferUsage.COPY_SRC)
    bind_group = dev.create_bind_group(
        layout=pipeline.get_bind_group_layout(0),
        entries=[{"binding": i, "resource": {"buffer": b}} for i, b in enumerate(buffers + [out])])
    encoder = dev.create_command_encoder()
    compute = encoder.begin_compute_pass()
    compute.set_pipeline(pipeline)
    compute.set_bind_group(0, bind_group)
    compute.dispatch_workgroups(workgroups)
    compute.end()
    dev.queue.submit([encoder.finish()])
    return bytes(dev.queue.read_buffer(out))
