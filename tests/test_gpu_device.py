"""gfxcore.gpu's images and device argument: integer images are scaled to
[0, 1] and back, and a device that is not a GpuDevice is refused by name."""

import gpu
import numpy as np
import pytest

gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")

# Each pixel's texel with red doubled and 1 taken from green: what the shader
# makes of 0..1 leaves that range both ways.
STRETCH = """
struct VertexOutput {
    @builtin(position) pos: vec4<f32>,
    @location(0) uv: vec2<f32>,
}

@group(0) @binding(0) var t_color: texture_2d<f32>;
@group(0) @binding(1) var s_color: sampler;

@fragment
fn fs_main(in: VertexOutput) -> @location(0) vec4<f32> {
    let c = textureSample(t_color, s_color, in.uv);
    return vec4<f32>(c.r * 2.0, c.g - 1.0, c.b, c.a);
}
"""


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
def test_integer_images_are_scaled_and_come_back_in_their_type(dtype):
    top = np.iinfo(dtype).max
    rng = np.random.default_rng(5)
    image = rng.integers(0, top, (8, 16, 4), dtype=dtype, endpoint=True)
    image[0, :4] = [[0, 0, 0, 0], [top, top, top, top], [1, 1, 1, 1], [top - 1] * 4]
    got = gfxgpu.apply_node_graph(STRETCH, image, device=gpu.gpu_device())
    assert got.dtype == dtype and got.shape == image.shape
    wide = image.astype(np.int64)
    want = np.stack(
        [np.minimum(2 * wide[..., 0], top), 0 * wide[..., 1], wide[..., 2], wide[..., 3]], -1
    )
    assert np.array_equal(got, want)


def test_float_images_are_not_scaled():
    got = gfxgpu.apply_node_graph(STRETCH, [[[200, 3, -7, 0.5]]], device=gpu.gpu_device())
    assert got.dtype == np.float32 and got.tolist() == [[[400, 2, -7, 0.5]]]


@pytest.mark.parametrize("device", ["cpu", 0, object()])
def test_a_device_that_is_not_a_gpu_device_is_a_type_error(monkeypatch, device):
    monkeypatch.setattr(gfxgpu, "default_device", lambda: pytest.fail("reached the GPU"))
    message = f"device must be a GpuDevice or None, not {type(device).__name__}"
    for call in (
        lambda: gfxgpu.sdf_distances([], [(0, 0, 0)], device=device),
        lambda: gfxgpu.sdf_normals([], [(0, 0, 0)], device=device),
        lambda: gfxgpu.apply_node_graph(STRETCH, [[[0, 0, 0, 1]]], device=device),
    ):
        with pytest.raises(TypeError, match=message):
            call()
