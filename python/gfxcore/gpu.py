"""The scene library and compiled node graphs, run on a GPU through wgpu.

Install with the extra: ``pip install "gfxcore[gpu]"`` (it brings wgpu and
numpy). Any WebGPU adapter will do, software ones included (Mesa's software
Vulkan driver runs everything here on the CPU)::

    from gfxcore.gpu import sdf_distances
    distances = sdf_distances(scene, [(0, 0, 0), (2, 0, 0)])  # numpy float32

`sdf_distances` and `sdf_normals` evaluate the WGSL of `gfxcore.sdf_wgsl()`,
which follows `SdfCollider` step by step; `apply_node_graph` draws a
fragment shader of `compile_node_graph` over an image. All of them share one
`GpuDevice` (`default_device()`), which keeps its compiled pipelines.

Every argument is checked before anything reaches the GPU: a wrong type is a
`TypeError`, a wrong shape or value a `ValueError`, each naming the argument.
Results are float32 arrays, except that `apply_node_graph` gives an 8- or
16-bit image (as Pillow makes them) back in its own type.

Environment: Mesa's Vulkan driver prints a warning on stderr when
``XDG_RUNTIME_DIR`` is not set, as in a headless session. When it is unset,
the first `GpuDevice` sets it, for this process, to a private folder of its
own (mode 0700) that is removed at exit; a value already set is left alone.
"""

from __future__ import annotations

import atexit
import importlib.util
import math
import os
import shutil
import tempfile
import threading
from collections import OrderedDict
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Union, overload

try:
    import numpy as np
except ImportError as _exc:  # pragma: no cover - depends on the installation
    raise ImportError('gfxcore.gpu needs numpy and wgpu: pip install "gfxcore[gpu]"') from _exc
if importlib.util.find_spec("wgpu") is None:  # pragma: no cover
    raise ImportError('gfxcore.gpu needs wgpu: pip install "gfxcore[gpu]"')

from _core import SdfScene

from . import fullscreen_vertex_wgsl, scene_buffer, sdf_wgsl

if TYPE_CHECKING:
    import numpy.typing as npt
    from numpy.typing import NDArray

__all__ = [
    "IMAGE_FORMAT",
    "GpuDevice",
    "NoAdapterError",
    "SceneLike",
    "apply_node_graph",
    "default_device",
    "sdf_distances",
    "sdf_normals",
]

#: What `sdf_distances` and `sdf_normals` take as a scene.
SceneLike = Union[SdfScene, bytes, bytearray, memoryview, Sequence[int]]

#: The texture format of `apply_node_graph`'s input and output: four 32-bit
#: floats per pixel, read through a non-filtering sampler.
IMAGE_FORMAT = "rgba32float"

# The compute kernels' workgroup size, written into their WGSL.
_WORKGROUP = 64
_PIPELINE_CACHE_SIZE = 32


class NoAdapterError(RuntimeError):
    """No WebGPU adapter at all, not even a software one."""


def _compile_error(exc: Exception) -> ValueError:
    # wgpu puts its own call chain before the compiler's message.
    text = str(exc).strip()
    start = text.find("Shader ")
    return ValueError(f"the WGSL does not compile: {text[start:] if start >= 0 else text}")


def _private_runtime_dir() -> None:
    if "XDG_RUNTIME_DIR" in os.environ:
        return
    path = tempfile.mkdtemp(prefix="gfxcore-xdg-")
    os.environ["XDG_RUNTIME_DIR"] = path
    atexit.register(shutil.rmtree, path, ignore_errors=True)


def _find_adapter(wgpu: Any, power_preference: str) -> Any:
    """The preferred adapter, else the fallback (software) one, else any."""
    tried = []
    for options in ({"power_preference": power_preference}, {"force_fallback_adapter": True}):
        try:
            adapter = wgpu.gpu.request_adapter_sync(**options)
        except Exception as exc:  # noqa: BLE001 - each failure is one more attempt
            tried.append(f"{exc}".strip().splitlines()[0] if str(exc).strip() else repr(exc))
            continue
        if adapter is not None:
            return adapter
    try:
        adapters = wgpu.gpu.enumerate_adapters_sync()
    except Exception as exc:  # noqa: BLE001
        tried.append(repr(exc))
        adapters = []
    if adapters:
        return adapters[0]
    raise NoAdapterError(
        "no WebGPU adapter found; install a GPU driver with Vulkan, Metal or D3D12 support, "
        "or a software one (on Debian: apt-get install mesa-vulkan-drivers)"
        + (f" [{'; '.join(tried)}]" if tried else "")
    )


class GpuDevice:
    """A wgpu device on the first adapter found, with its compiled pipelines.

    Pipelines are cached by their WGSL text and entry point (the most
    recently used 32), so running the same shader again compiles nothing.

    Args:
        power_preference: "high-performance" or "low-power": which adapter
            to ask for first. When none answers, the fallback (software)
            adapter is asked for, then any adapter at all.

    Raises:
        NoAdapterError: there is no adapter at all.

    Attributes:
        device: the `wgpu.GPUDevice`, for work of your own.
        adapter_info: the adapter's description (vendor, device, backend).
        max_points_per_dispatch: how many points `sdf_distances` and
            `sdf_normals` send in one dispatch; larger inputs are split.
    """

    def __init__(self, power_preference: str = "high-performance") -> None:
        _private_runtime_dir()
        import wgpu  # type: ignore[import-untyped]  # wgpu ships no type information

        self._wgpu = wgpu
        adapter = _find_adapter(wgpu, power_preference)
        self.adapter_info: dict[str, Any] = dict(adapter.info)
        self.device: Any = adapter.request_device_sync()
        limits = self.device.limits
        self.max_storage_bytes: int = min(
            limits["max-storage-buffer-binding-size"], limits["max-buffer-size"]
        )
        self.max_texture_size: int = limits["max-texture-dimension-2d"]
        groups = limits["max-compute-workgroups-per-dimension"]
        # Points travel as three floats and come back as up to three.
        self.max_points_per_dispatch: int = min(groups * _WORKGROUP, self.max_storage_bytes // 12)
        self._pipelines: OrderedDict[tuple[str, str, str], Any] = OrderedDict()
        self._lock = threading.RLock()
        self._image_layout: Any = None

    def __repr__(self) -> str:
        info = self.adapter_info
        return f"GpuDevice({info.get('device', '?')!r}, {info.get('backend_type', '?')})"

    def shader_module(self, code: str) -> Any:
        """Compiles WGSL into a `wgpu.GPUShaderModule`.

        Raises:
            TypeError: `code` is not a str.
            ValueError: the WGSL compiler refuses it; the message is the
                compiler's, with the line at fault.
        """
        if not isinstance(code, str):
            raise TypeError(f"code must be a str of WGSL, not {type(code).__name__}")
        try:
            return self.device.create_shader_module(code=code)
        except self._wgpu.GPUError as exc:
            raise _compile_error(exc) from None

    def _cached(self, key: tuple[str, str, str], make: Any) -> Any:
        with self._lock:
            pipeline = self._pipelines.get(key)
            if pipeline is None:
                try:
                    pipeline = make()
                except self._wgpu.GPUError as exc:
                    raise _compile_error(exc) from None
                self._pipelines[key] = pipeline
                if len(self._pipelines) > _PIPELINE_CACHE_SIZE:
                    self._pipelines.popitem(last=False)
            self._pipelines.move_to_end(key)
            return pipeline

    def compute_pipeline(self, code: str, entry_point: str = "main") -> Any:
        """The compute pipeline of a WGSL module's entry point, with the
        layout the WGSL declares (compiled once, then cached).

        Raises:
            TypeError: `code` is not a str.
            ValueError: the WGSL compiler refuses it.
        """

        def make() -> Any:
            stage = {"module": self.shader_module(code), "entry_point": entry_point}
            return self.device.create_compute_pipeline(layout="auto", compute=stage)

        return self._cached(("compute", code, entry_point), make)

    def image_layout(self) -> Any:
        """The bind group layout of `compile_node_graph`'s shaders as this
        device binds them: `t_color` an unfilterable float texture and
        `s_color` a non-filtering sampler, so that 32-bit float images work
        where they cannot be filtered."""
        with self._lock:
            if self._image_layout is None:
                wgpu = self._wgpu
                self._image_layout = self.device.create_bind_group_layout(
                    entries=[
                        {
                            "binding": 0,
                            "visibility": wgpu.ShaderStage.FRAGMENT,
                            "texture": {"sample_type": wgpu.TextureSampleType.unfilterable_float},
                        },
                        {
                            "binding": 1,
                            "visibility": wgpu.ShaderStage.FRAGMENT,
                            "sampler": {"type": wgpu.SamplerBindingType.non_filtering},
                        },
                    ]
                )
            return self._image_layout

    def render_pipeline(self, fragment_wgsl: str, entry_point: str = "fs_main") -> Any:
        """The render pipeline of a fragment shader of `compile_node_graph`
        behind `fullscreen_vertex_wgsl()`, drawing 4 vertices as a triangle
        strip into an `IMAGE_FORMAT` target, bound by `image_layout()`
        (compiled once, then cached).

        Raises:
            TypeError: `fragment_wgsl` is not a str.
            ValueError: the WGSL compiler refuses it.
        """
        wgpu = self._wgpu

        def make() -> Any:
            return self.device.create_render_pipeline(
                layout=self.device.create_pipeline_layout(bind_group_layouts=[self.image_layout()]),
                vertex={
                    "module": self.shader_module(fullscreen_vertex_wgsl()),
                    "entry_point": "vs_main",
                },
                primitive={"topology": wgpu.PrimitiveTopology.triangle_strip},
                fragment={
                    "module": self.shader_module(fragment_wgsl),
                    "entry_point": entry_point,
                    "targets": [{"format": IMAGE_FORMAT}],
                },
            )

        return self._cached(("render", fragment_wgsl, entry_point), make)

    def run_compute(
        self,
        code: str,
        inputs: Sequence[bytes],
        out_size: int,
        workgroups: int,
        entry_point: str = "main",
    ) -> bytes:
        """Runs a compute shader once and returns its output.

        Args:
            code: WGSL whose group 0 binds, at 0 to len(inputs) - 1, read-only
                storage buffers and at len(inputs) a read-write storage buffer;
                the entry point must use every one of them.
            inputs: the contents of the read-only buffers, in binding order
                (each a non-empty multiple of 4 bytes).
            out_size: the size of the output buffer in bytes (a multiple of 4).
            workgroups: the number of workgroups dispatched along x.
            entry_point: the compute entry point.

        Returns:
            The output buffer's bytes after the dispatch.

        Raises:
            ValueError: the WGSL compiler refuses `code`.
        """
        wgpu = self._wgpu
        dev = self.device
        pipeline = self.compute_pipeline(code, entry_point)
        buffers = [
            dev.create_buffer_with_data(data=data, usage=wgpu.BufferUsage.STORAGE)
            for data in inputs
        ]
        out = dev.create_buffer(
            size=max(out_size, 4), usage=wgpu.BufferUsage.STORAGE | wgpu.BufferUsage.COPY_SRC
        )
        group = dev.create_bind_group(
            layout=pipeline.get_bind_group_layout(0),
            entries=[
                {"binding": i, "resource": {"buffer": b}} for i, b in enumerate([*buffers, out])
            ],
        )
        encoder = dev.create_command_encoder()
        compute = encoder.begin_compute_pass()
        compute.set_pipeline(pipeline)
        compute.set_bind_group(0, group)
        compute.dispatch_workgroups(workgroups)
        compute.end()
        dev.queue.submit([encoder.finish()])
        return bytes(dev.queue.read_buffer(out))[:out_size]

    def run_render(
        self,
        fragment_wgsl: str,
        image: bytes,
        image_size: tuple[int, int],
        size: tuple[int, int],
        entry_point: str = "fs_main",
    ) -> bytes:
        """Draws a fragment shader of `compile_node_graph` over an image once
        and returns the result.

        The image is bound as `t_color` with `s_color` a nearest,
        clamp-to-edge sampler (see `image_layout()`); the shader draws
        `render_pipeline()`'s full-screen strip into an `IMAGE_FORMAT` target.

        Args:
            fragment_wgsl: the fragment shader text.
            image: the image's `IMAGE_FORMAT` texels, rows top to bottom.
            image_size: the image's (width, height) in pixels.
            size: the (width, height) of the result in pixels.
            entry_point: the fragment entry point.

        Returns:
            The target's `IMAGE_FORMAT` texels after the draw, rows top to
            bottom.

        Raises:
            ValueError: the WGSL compiler refuses `fragment_wgsl`, or `image`
                is not 16 bytes for each pixel of `image_size`.
        """
        columns, rows = image_size
        if len(image) != 16 * columns * rows:
            raise ValueError(
                f"image must be 16 bytes a pixel for {columns} x {rows}, not {len(image)} bytes"
            )
        width, height = size
        pipeline = self.render_pipeline(fragment_wgsl, entry_point)
        wgpu, dev = self._wgpu, self.device
        usage = wgpu.TextureUsage
        source = dev.create_texture(
            size=(columns, rows, 1),
            format=IMAGE_FORMAT,
            usage=usage.TEXTURE_BINDING | usage.COPY_DST,
        )
        dev.queue.write_texture(
            {"texture": source}, image, {"bytes_per_row": 16 * columns}, (columns, rows, 1)
        )
        sampler = dev.create_sampler(
            mag_filter="nearest",
            min_filter="nearest",
            address_mode_u="clamp-to-edge",
            address_mode_v="clamp-to-edge",
        )
        group = dev.create_bind_group(
            layout=self.image_layout(),
            entries=[
                {"binding": 0, "resource": source.create_view()},
                {"binding": 1, "resource": sampler},
            ],
        )
        target = dev.create_texture(
            size=(width, height, 1),
            format=IMAGE_FORMAT,
            usage=usage.RENDER_ATTACHMENT | usage.COPY_SRC,
        )
        encoder = dev.create_command_encoder()
        draw = encoder.begin_render_pass(
            color_attachments=[
                {
                    "view": target.create_view(),
                    "load_op": wgpu.LoadOp.clear,
                    "store_op": wgpu.StoreOp.store,
                    "clear_value": (0, 0, 0, 0),
                }
            ]
        )
        draw.set_pipeline(pipeline)
        draw.set_bind_group(0, group)
        draw.draw(4)
        draw.end()
        dev.queue.submit([encoder.finish()])
        data = dev.queue.read_texture(
            {"texture": target}, {"bytes_per_row": 16 * width}, (width, height, 1)
        )
        return bytes(data)


_default: GpuDevice | None = None
_default_lock = threading.Lock()


def default_device() -> GpuDevice:
    """The `GpuDevice` shared by the functions of this module, created on
    first use.

    Raises:
        NoAdapterError: there is no adapter at all.
    """
    global _default
    with _default_lock:
        if _default is None:
            _default = GpuDevice()
        return _default


# ---- SDF scenes ----------------------------------------------------------------------

_SCENE_KERNEL = (
    sdf_wgsl(group=0, binding=0)
    + """
@group(0) @binding(1) var<storage, read> points: array<f32>;
@group(0) @binding(2) var<storage, read_write> result: array<f32>;

@compute @workgroup_size(WORKGROUP)
fn main(@builtin(global_invocation_id) id: vec3<u32>) {
    let k = id.x;
    if k < arrayLength(&points) / 3u {
        let p = vec3<f32>(points[3u * k], points[3u * k + 1u], points[3u * k + 2u]);
        RESULT
    }
}
"""
)
_SCENE_KERNEL = _SCENE_KERNEL.replace("WORKGROUP", str(_WORKGROUP))
_DISTANCE_KERNEL = _SCENE_KERNEL.replace("RESULT", "result[k] = sdf_scene_distance(p);")
_NORMAL_KERNEL = _SCENE_KERNEL.replace(
    "RESULT",
    """let n = sdf_scene_normal(p);
        result[3u * k] = n.x;
        result[3u * k + 1u] = n.y;
        result[3u * k + 2u] = n.z;""",
)


def _device(device: GpuDevice | None) -> GpuDevice:
    if device is None:
        return default_device()
    if not isinstance(device, GpuDevice):
        raise TypeError(f"device must be a GpuDevice or None, not {type(device).__name__}")
    return device


def _scene_bytes(scene: SceneLike) -> bytes:
    if isinstance(scene, SdfScene):
        data = bytes(scene.to_gpu_bytes())
    elif isinstance(scene, (bytes, bytearray, memoryview, list, tuple)):
        try:
            data = bytes(scene)
        except (TypeError, ValueError) as exc:
            raise type(exc)(f"scene must hold ints 0 to 255: {exc}") from None
    else:
        raise TypeError(
            "scene must be bytes, a list of ints 0 to 255 or an SdfScene, "
            f"not {type(scene).__name__}"
        )
    return scene_buffer(data)


def _real_array(value: Any, name: str, shape: str) -> NDArray[Any]:
    """`value` as an array, or TypeError for values that are not real numbers
    and ValueError for ragged sequences."""
    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{name} must be an array of shape {shape}: {exc}") from None
    if array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must hold real numbers, not {array.dtype}")
    return array


def _float32(array: NDArray[Any]) -> NDArray[np.float32]:
    with np.errstate(over="ignore"):  # beyond float32: infinite, refused by the caller
        return np.ascontiguousarray(array, dtype=np.float32)


def _points(points: npt.ArrayLike) -> NDArray[np.float32]:
    array = _float32(_real_array(points, "points", "(n, 3)"))
    if array.ndim != 2 or array.shape[1] != 3:
        raise ValueError(f"points must have shape (n, 3), not {array.shape}")
    if not np.isfinite(array).all():
        raise ValueError(
            "points must be finite as 32-bit floats (no NaN, no infinity, "
            "nothing beyond 3.4028235e38)"
        )
    return array


def _evaluate(
    kernel: str, scene: SceneLike, points: npt.ArrayLike, width: int, device: GpuDevice | None
) -> NDArray[np.float32]:
    data = _points(points)
    records = _scene_bytes(scene)
    gpu = _device(device)
    if len(records) > gpu.max_storage_bytes:
        raise ValueError(
            f"scene of {len(records)} bytes is larger than this device's storage "
            f"buffers ({gpu.max_storage_bytes} bytes)"
        )
    n = len(data)
    out = np.empty((n, width), dtype=np.float32)
    step = max(_WORKGROUP, gpu.max_points_per_dispatch // _WORKGROUP * _WORKGROUP)
    for start in range(0, n, step):
        chunk = data[start : start + step]
        raw = gpu.run_compute(
            kernel, [records, chunk.tobytes()], 4 * width * len(chunk), -(-len(chunk) // _WORKGROUP)
        )
        out[start : start + len(chunk)] = np.frombuffer(raw, dtype=np.float32).reshape(-1, width)
    return out


def sdf_distances(
    scene: SceneLike, points: npt.ArrayLike, *, device: GpuDevice | None = None
) -> NDArray[np.float32]:
    """Signed distances of points to a scene, computed on the GPU.

    The same float32 steps as `SdfCollider.distance`, so the results match
    it bit for bit wherever the GPU rounds +, -, *, / and sqrt correctly (as
    Mesa's software driver does); a cone also takes the GPU's sin and cos,
    which may move its distance by a few ulps of its largest term.

    Args:
        scene: an `SdfScene`, or its buffer (`bytes`, `bytearray`, or a list
            of ints 0 to 255 such as `SdfScene.to_gpu_bytes()`). A partial
            trailing record is ignored; an empty scene gives 3.4028235e38
            everywhere, as `SdfCollider` does.
        points: an array-like of shape (n, 3) of real numbers (scene units),
            narrowed to float32; n may be 0. Large inputs are split into
            several dispatches within the device's limits.
        device: the device to run on, a `GpuDevice`; `default_device()`
            when None.

    Returns:
        A float32 array of shape (n,): negative inside, positive outside.

    Raises:
        TypeError: `scene` is not one of the kinds above, `points` does
            not hold real numbers, or `device` is not a `GpuDevice`.
        ValueError: `points` is not of shape (n, 3) or not finite as float32,
            a scene byte is out of range, or the scene is larger than the
            device's storage buffers.
        NoAdapterError: there is no GPU adapter at all.
    """
    return _evaluate(_DISTANCE_KERNEL, scene, points, 1, device).reshape(-1)


def sdf_normals(
    scene: SceneLike, points: npt.ArrayLike, *, device: GpuDevice | None = None
) -> NDArray[np.float32]:
    """Outward normals of a scene at points, computed on the GPU by
    `SdfCollider.normal`'s central differences (step 0.001).

    Args:
        scene: as for `sdf_distances`. An empty scene gives (0, 1, 0)
            everywhere, as `SdfCollider` does.
        points: as for `sdf_distances`.
        device: the device to run on; `default_device()` when None.

    Returns:
        A float32 array of shape (n, 3): unit vectors, or (0, 1, 0) where the
        field's gradient vanishes.

    Raises:
        TypeError, ValueError, NoAdapterError: as for `sdf_distances`.
    """
    return _evaluate(_NORMAL_KERNEL, scene, points, 3, device)


# ---- node graphs ----------------------------------------------------------------------


def _check_size(name: str, size: tuple[int, int], limit: float) -> None:
    if not all(1 <= v <= limit for v in size):
        raise ValueError(f"{name} must be from 1 to {limit} pixels each way, not {size!r}")


# Integer images and the value of their largest sample, which the shader sees
# as 1.
_INTEGER_IMAGES = {np.dtype(np.uint8): 255, np.dtype(np.uint16): 65535}


@overload
def apply_node_graph(
    wgsl: str,
    image: NDArray[np.uint8],
    *,
    size: tuple[int, int] | None = None,
    device: GpuDevice | None = None,
) -> NDArray[np.uint8]: ...
@overload
def apply_node_graph(
    wgsl: str,
    image: NDArray[np.uint16],
    *,
    size: tuple[int, int] | None = None,
    device: GpuDevice | None = None,
) -> NDArray[np.uint16]: ...
@overload
def apply_node_graph(
    wgsl: str,
    image: npt.ArrayLike,
    *,
    size: tuple[int, int] | None = None,
    device: GpuDevice | None = None,
) -> NDArray[np.float32]: ...
def apply_node_graph(
    wgsl: str,
    image: npt.ArrayLike,
    *,
    size: tuple[int, int] | None = None,
    device: GpuDevice | None = None,
) -> NDArray[Any]:
    """Draws a fragment shader of `compile_node_graph` over an image.

    The image is uploaded as an `rgba32float` texture and bound as `t_color`,
    an unfilterable float texture, with `s_color` a nearest, clamp-to-edge
    sampler: 32-bit floats need no filtering feature, so any device runs it,
    and every pixel reads exactly one texel. The shader draws into an
    `rgba32float` target, so values outside [0, 1] survive.

    An image of uint8 or uint16 (such as `np.asarray` of a Pillow RGBA
    image) is scaled to [0, 1] on the way in, its largest value becoming 1,
    and the result comes back in the same type: scaled back, rounded to the
    nearest integer and clipped to the type's range (NaN gives 0).

    Args:
        wgsl: the fragment shader text (`compile_node_graph`'s result), with
            entry point `fs_main`.
        image: an array-like of shape (height, width, 4) of real numbers,
            narrowed to float32, or an array of uint8 or uint16: rgba, row 0
            at the top, where uv.y is 0.
        size: the (width, height) of the result in pixels; the image's own
            size when None.
        device: the device to run on, a `GpuDevice`; `default_device()`
            when None.

    Returns:
        An array of shape (height, width, 4): the shader's colour at each
        pixel's centre, row 0 at the top; float32, or the image's own type
        for uint8 and uint16.

    Raises:
        TypeError: `wgsl` is not a str, `image` does not hold real numbers,
            `size` is not a tuple of two ints, or `device` is not a
            `GpuDevice`.
        ValueError: `image` is not of shape (height, width, 4) with both
            sides from 1 to the device's texture limit, `size` is out of
            that range, or the WGSL compiler refuses `wgsl` (the message is
            the compiler's).
        NoAdapterError: there is no GPU adapter at all.
    """
    if not isinstance(wgsl, str):
        raise TypeError(f"wgsl must be a str, not {type(wgsl).__name__}")
    source = _real_array(image, "image", "(height, width, 4)")
    scale = _INTEGER_IMAGES.get(source.dtype)
    pixels = _float32(source)
    if pixels.ndim != 3 or pixels.shape[2] != 4 or 0 in pixels.shape:
        raise ValueError(f"image must have shape (height, width, 4), not {pixels.shape}")
    rows, columns = pixels.shape[:2]
    if size is None:
        size = (columns, rows)
    elif (
        not isinstance(size, tuple)
        or len(size) != 2
        or not all(isinstance(v, int) and not isinstance(v, bool) for v in size)
    ):
        raise TypeError(f"size must be a tuple (width, height) of two ints, not {size!r}")
    _check_size("size", size, math.inf)
    gpu = _device(device)
    _check_size("image", (columns, rows), gpu.max_texture_size)
    _check_size("size", size, gpu.max_texture_size)
    if scale is not None:
        pixels = pixels / np.float32(scale)
    width, height = size
    data = gpu.run_render(wgsl, pixels.tobytes(), (columns, rows), size)
    result = np.frombuffer(data, dtype=np.float32).reshape(height, width, 4).copy()
    if scale is None:
        return result
    scaled = np.rint(np.nan_to_num(result * np.float32(scale), nan=0.0))
    back: NDArray[Any] = np.clip(scaled, 0, scale).astype(source.dtype)
    return back
