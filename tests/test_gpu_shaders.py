"""Fragment shaders from compile_node_graph drawn on a real WebGPU stack,
against a numpy evaluation of the same node graph."""

import json
import random

import gpu
import numpy as np
import pytest
from gfxcore.nodes import NODE_TYPES
from models.node_graphs import random_graph  # the browser tests import it from here

from _core import compile_node_graph

gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")

F = np.float32
TEXTURE_ROWS, TEXTURE_COLUMNS = 6, 8
# Pixel centres never fall on a texel edge of the texture: (i + 0.5) / 2 texels.
SIZE = (2 * TEXTURE_COLUMNS, 2 * TEXTURE_ROWS)
CHANNELS = {c: i for i, c in enumerate("rgba")} | {c: i for i, c in enumerate("xyzw")}
SUFFIX = {name: t.output for name, t in NODE_TYPES.items() if t.output}


def texture():
    # Outside [0, 1] too, so that clamping shows.
    return np.random.default_rng(5).uniform(-0.5, 1.5, (TEXTURE_ROWS, TEXTURE_COLUMNS, 4)).astype(F)


class Reference:
    """The graph's value at every pixel of the target, in float32. Scalars
    have shape (rows, columns, 1) so that they broadcast against vectors as
    WGSL's mixed scalar-vector arithmetic does. Pixels that sample within a
    small band around a texel edge are marked: the GPU may land on either side."""

    def __init__(self, doc, tex, size):
        self.doc, self.tex = doc, tex
        width, height = size
        u = (np.arange(width, dtype=F) + F(0.5)) / F(width)
        v = (np.arange(height, dtype=F) + F(0.5)) / F(height)
        self.uv = np.stack(np.meshgrid(u, v), axis=-1).astype(F)
        self.ambiguous = np.zeros((height, width), dtype=bool)
        self.nodes = {n["id"]: n for n in doc["nodes"]}
        self.values = {}

    def const(self, *components):
        return np.broadcast_to(
            np.array(components, dtype=F), self.uv.shape[:2] + (len(components),)
        )

    def input(self, node_id, port, default):
        for e in self.doc["edges"]:
            if e["to_node"] == node_id and e["to_port"] == port:
                return self.value(e["from_node"])
        return default() if callable(default) else self.const(*np.atleast_1d(default))

    def sample(self, uv):
        rows, columns = self.tex.shape[:2]
        x, y = uv[..., 0].astype(np.float64) * columns, uv[..., 1].astype(np.float64) * rows
        for t in (x, y):
            self.ambiguous |= ~np.isfinite(t) | (np.abs(t - np.round(t)) < 1 / 64)
        with np.errstate(invalid="ignore"):
            i = np.clip(np.floor(np.nan_to_num(x)), 0, columns - 1).astype(int)
            j = np.clip(np.floor(np.nan_to_num(y)), 0, rows - 1).astype(int)
        return self.tex[j, i]

    def value(self, node_id):
        if node_id not in self.values:
            self.values[node_id] = self.compute(self.nodes[node_id])
        return self.values[node_id]

    def compute(self, node):
        kind, nid, params = node["type"], node["id"], node.get("params", {})
        if kind == "UV":
            return self.uv
        if kind == "SampleTexture":
            return self.sample(self.input(nid, "uv", lambda: self.uv))
        if kind == "PixelColor":
            return self.sample(self.uv)
        if kind == "PixelChannel":
            return self.sample(self.uv)[..., [CHANNELS[c] for c in params.get("channel", "r")]]
        if kind == "Lerp":
            a, b, t = (self.input(nid, p, d) for p, d in (("a", 0.0), ("b", 1.0), ("t", 0.5)))
            return a * (F(1) - t) + b * t
        if kind == "Add":
            return self.input(nid, "a", 0.0) + self.input(nid, "b", 0.0)
        if kind == "Multiply":
            return self.input(nid, "a", 1.0) * self.input(nid, "b", 1.0)
        if kind == "Clamp":
            val = self.input(nid, "val", 0.0)
            return np.minimum(np.maximum(val, F(params.get("min", 0.0))), F(params.get("max", 1.0)))
        if kind == "GravityWarp":
            uv = self.input(nid, "uv", lambda: self.uv)
            strength, radius = F(params.get("strength", 1.0)), F(params.get("radius", 0.1))
            delta = uv - F(0.5)
            dist = np.sqrt(delta[..., :1] * delta[..., :1] + delta[..., 1:] * delta[..., 1:])
            warp = strength * np.exp(-dist / np.maximum(radius, F(0.001)))
            return uv + delta / dist * warp * dist
        raise AssertionError(kind)

    def final_color(self):
        color = self.const(0.0, 0.0, 0.0, 1.0)
        for node in self.doc["nodes"]:  # the graphs here hold one FinalColor at most
            if node["type"] == "FinalColor":
                color = self.input(node["id"], "color", (0.0, 0.0, 0.0, 1.0))
        return np.broadcast_to(color, self.uv.shape[:2] + (4,))


def node(node_id, kind, **params):
    return {"id": node_id, "type": kind, "params": params}


def graph(nodes, links):
    """nodes: node dicts; links: (from id, to id, to port), the from port
    being the producing node's output suffix."""
    kinds = {n["id"]: n["type"] for n in nodes}
    return {
        "nodes": nodes,
        "edges": [
            {"from_node": s, "from_port": SUFFIX[kinds[s]], "to_node": d, "to_port": p}
            for s, d, p in links
        ],
    }


HAND_GRAPHS = {
    "sample-at-uv": graph(
        [node("u", "UV"), node("tex", "SampleTexture"), node("f", "FinalColor")],
        [("u", "tex", "uv"), ("tex", "f", "color")],
    ),
    "warp-then-tint": graph(
        [
            node("f", "FinalColor"),
            node("u", "UV"),
            node("w", "GravityWarp", strength=0.4, radius=0.25),
            node("tex", "SampleTexture"),
            node("r", "PixelChannel", channel="r"),
            node("m", "Multiply"),
        ],
        [
            ("u", "w", "uv"),
            ("w", "tex", "uv"),
            ("tex", "m", "a"),
            ("r", "m", "b"),
            ("m", "f", "color"),
        ],
    ),
    "clamped-blend": graph(
        [
            node("c", "PixelColor"),
            node("w", "GravityWarp", strength=-0.3),
            node("warped", "SampleTexture"),
            node("g", "PixelChannel", channel="g"),
            node("k", "Clamp", min=0.2, max=0.8),
            node("l", "Lerp"),
            node("z", "PixelChannel", channel="bgra"),
            node("a", "Add"),
            node("f", "FinalColor"),
        ],
        [
            ("w", "warped", "uv"),
            ("g", "k", "val"),
            ("c", "l", "a"),
            ("warped", "l", "b"),
            ("k", "l", "t"),
            ("l", "a", "a"),
            ("z", "a", "b"),
            ("a", "f", "color"),
        ],
    ),
    "default-color": graph([node("u", "UV"), node("f", "FinalColor")], []),
    "no-output": graph([node("c", "PixelColor")], []),
}


def render(doc, tex):
    return gfxgpu.apply_node_graph(
        compile_node_graph(json.dumps(doc)), tex, size=SIZE, device=gpu.gpu_device()
    )


def check(doc):
    tex = texture()
    got = render(doc, tex)
    ref = Reference(doc, tex, SIZE)
    expected = ref.final_color()
    keep = ~ref.ambiguous
    assert keep.mean() > 0.5, "too few pixels sample away from texel edges to compare"
    # exp, normalize and mix may be computed differently on the GPU (mix as
    # a + t * (b - a), normalize through an inverse square root), which moves
    # results by a few ulps of the operands, never more.
    np.testing.assert_allclose(got[keep], expected[keep], rtol=2e-5, atol=2e-5)


@pytest.mark.parametrize("name", HAND_GRAPHS)
def test_hand_written_graphs_match_numpy(name):
    check(HAND_GRAPHS[name])


@pytest.mark.parametrize("seed", range(12))
def test_random_graphs_match_numpy(seed):
    check(random_graph(random.Random(seed), 3 + seed))


def test_texture_is_drawn_upright():
    # Each texel holds its own row and column, so a mix-up of the texture's
    # orientation or of the target's cannot cancel out in the comparison.
    rows, columns = np.mgrid[0:TEXTURE_ROWS, 0:TEXTURE_COLUMNS].astype(F)
    tex = np.stack([rows, columns, rows * 0, rows * 0 + 1], axis=-1)
    got = render(HAND_GRAPHS["sample-at-uv"], tex)
    assert got[0, 0].tolist() == [0, 0, 0, 1]
    assert got[-1, -1].tolist() == [TEXTURE_ROWS - 1, TEXTURE_COLUMNS - 1, 0, 1]
