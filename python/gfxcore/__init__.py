"""WGSL that ships beside the `_core` module.

`sdf_wgsl()` is the shader library for the scene buffer that
`SdfScene.to_gpu_bytes()` writes: the 48-byte record as a WGSL struct, one
distance function per primitive, and the scene's distance and normal, computed
in the same float32 steps as `SdfCollider`. Paste it in front of your own
shader code and bind the scene buffer (see `scene_buffer`).

`fullscreen_vertex_wgsl()` is a vertex stage to draw the fragment shaders of
`compile_node_graph` over a whole render target.

`check_node_graph(document)` lists what is wrong with a node graph before
its WGSL reaches a GPU; `gfxcore.nodes.NODE_TYPES` describes every node type.

`gfxcore.gpu` (install `gfxcore[gpu]`, which brings wgpu and numpy) runs all
of this on a GPU: scene distances and normals for many points at once, and a
compiled node graph over an image.
"""

from __future__ import annotations

import functools
import importlib.metadata
import importlib.resources
from collections.abc import Iterable

from .check import check_node_graph

try:
    #: The installed distribution's version, e.g. "0.2.0".
    __version__ = importlib.metadata.version("gfxcore")
except importlib.metadata.PackageNotFoundError:  # imported from a source tree
    __version__ = "0+unknown"

__all__ = ["RECORD_SIZE", "check_node_graph", "fullscreen_vertex_wgsl", "scene_buffer", "sdf_wgsl"]

#: Bytes per primitive record in a scene buffer.
RECORD_SIZE = 48

# Every _core object pickles and deep-copies once gfxcore is imported. The
# pure-Python half also loads alone (a source tree, the docs build), where
# there is nothing to register.
try:
    from . import _pickle
except ImportError:
    pass
else:
    _pickle.register()

_BINDING_LINE = "@group(0) @binding(0) var<storage, read> sdf_scene: array<SdfPrimitive>;"

# A record whose type code names no primitive: it adds nothing to the union,
# so a buffer of just this one is the empty scene.
_EMPTY_RECORD = bytes(32) + b"\xff\xff\xff\xff" + bytes(12)


@functools.cache
def _source(name: str) -> str:
    return importlib.resources.files(__name__).joinpath(name).read_text(encoding="utf-8")


def sdf_wgsl(group: int = 0, binding: int = 0) -> str:
    """The WGSL library for SDF scene buffers, with the scene declared as
    `var<storage, read> sdf_scene: array<SdfPrimitive>` at `@group(group)
    @binding(binding)`."""
    for name, value in (("group", group), ("binding", binding)):
        if type(value) is not int or not 0 <= value < 2**32:
            raise ValueError(f"{name} must be an int from 0 to 4294967295, not {value!r}")
    return _source("sdf.wgsl").replace(
        _BINDING_LINE,
        _BINDING_LINE.replace("@group(0) @binding(0)", f"@group({group}) @binding({binding})"),
    )


def fullscreen_vertex_wgsl() -> str:
    """A vertex stage `vs_main` for the fragment shaders of
    `compile_node_graph`: 4 vertices drawn as a triangle strip cover the
    target, with uv (0, 0) at its top left and (1, 1) at its bottom right."""
    return _source("fullscreen.wgsl")


def scene_buffer(data: Iterable[int]) -> bytes:
    """The bytes to upload for a scene buffer (such as the list returned by
    `SdfScene.to_gpu_bytes()`) so that the shader sees exactly the records the
    collider evaluates: a partial trailing record is dropped, and an empty
    scene, which a storage binding cannot hold, becomes one record that
    matches no primitive."""
    raw = bytes(data)
    raw = raw[: len(raw) - len(raw) % RECORD_SIZE]
    return raw or _EMPTY_RECORD
