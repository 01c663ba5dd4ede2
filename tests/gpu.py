"""The GPU tests' device: gfxcore.gpu's shared one, or a pytest skip when
this machine has no adapter at all."""

from __future__ import annotations

import os

import pytest


def gpu_device():
    """gfxcore.gpu's shared GpuDevice."""
    # Set where no GPU stack is installed on purpose (the emulated ARM64 root).
    if os.environ.get("GFXCORE_SKIP_GPU"):
        pytest.skip(os.environ["GFXCORE_SKIP_GPU"])
    gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")
    try:
        return gfxgpu.default_device()
    except gfxgpu.NoAdapterError as exc:
        pytest.skip(str(exc))


def device():
    """The shared wgpu device; skips the calling test when there is no adapter."""
    return gpu_device().device


def render_pipeline(fragment_wgsl: str, entry_point: str = "fs_main"):
    """Compiles a fragment shader of compile_node_graph into a render
    pipeline; raises ValueError when the WGSL compiler refuses it."""
    return gpu_device().render_pipeline(fragment_wgsl, entry_point)


def run_compute(
    code: str, inputs: list[bytes], out_size: int, workgroups: int, entry_point: str = "main"
) -> bytes:
    """GpuDevice.run_compute on the shared device."""
    return gpu_device().run_compute(code, inputs, out_size, workgroups, entry_point)
