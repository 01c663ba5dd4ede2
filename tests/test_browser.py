"""The GPU checks again in headless Chromium, whose WGSL compiler and
software adapter are not wgpu's: the same inputs, against the same models,
and the node-graph checker's promise against both compilers. `make
test-browser` runs this file and prints what it compared; `make test` leaves
it out."""

import json
import os
import random

import pytest

if not os.environ.get("GFXCORE_BROWSER"):
    pytest.skip("the browser checks run with make test-browser", allow_module_level=True)

import gfxcore  # noqa: E402
import gpu  # noqa: E402
import numpy as np  # noqa: E402
import webgpu  # noqa: E402
from gfxcore.nodes import NODE_TYPES  # noqa: E402
from test_gpu_sdf import (  # noqa: E402
    check_cone_goal,
    check_hostile_records,
    check_primitive_distances,
    check_sin_cos,
    mixed_scene,
    ulp_diff,
)
from test_gpu_shaders import SIZE, SUFFIX, Reference, random_graph, texture  # noqa: E402
from test_layout import check_gpu_offsets, gpu_channel_lists  # noqa: E402

from _core import SdfCollider, compile_node_graph  # noqa: E402

gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")

RANDOM_GRAPHS = 300
# Two rasterisers and two compilers: exp, normalize and mix may each be
# computed another way (within WGSL's accuracy), which moves a colour by a
# few ulps of the values it was made from, never more. Pixels whose sample
# falls within a hair of a texel edge may read either texel and are left out.
PIXEL_TOLERANCE = 1e-4

COUNTS: dict[str, object] = {}


@pytest.fixture(scope="module")
def browser():
    try:
        session = webgpu.Session()
    except webgpu.NoWebGPU as exc:
        pytest.skip(f"chromium starts but gives no WebGPU adapter here: {exc}")
    COUNTS["adapter"] = session.adapter
    yield session
    session.close()
    print()
    for name, value in COUNTS.items():
        print(f"browser: {name}: {value}")


def mutated(doc, rng):
    """The graph with one edge moved to another node's output: it may now be
    ill-typed or cyclic."""
    edge = rng.choice(doc["edges"])
    source = rng.choice([n for n in doc["nodes"] if n["type"] in SUFFIX])
    edge["from_node"], edge["from_port"] = source["id"], SUFFIX[source["type"]]
    return doc


def node_graphs():
    rng = random.Random(24)
    docs = [{"nodes": [{"id": "n", "type": name}], "edges": []} for name in NODE_TYPES]
    for seed in range(RANDOM_GRAPHS):
        doc = random_graph(random.Random(seed), 2 + seed % 12)
        docs.append(mutated(doc, rng) if seed % 3 == 0 else doc)
    return docs


def test_compilers_refuse_only_graphs_the_checker_reports(browser):
    docs = [json.dumps(d) for d in node_graphs()]
    texts = []
    for doc in docs:
        try:
            texts.append(compile_node_graph(doc))
        except ValueError:  # a cycle
            texts.append(None)
    results = iter(browser.run([browser.render_job(t) for t in texts if t is not None]))
    compiled = refused = reported = cycles = 0
    misses, false_alarms, split = [], [], {"chromium": 0, "wgpu": 0}
    for doc, text in zip(docs, texts):
        problems = gfxcore.check_node_graph(doc)
        reported += bool(problems)
        if text is None:
            cycles += 1
            assert problems, doc
            continue
        errors = {"chromium": next(results)["errors"]}
        try:
            gpu.render_pipeline(text)
            errors["wgpu"] = []
        except ValueError as exc:
            errors["wgpu"] = [str(exc)]
        if any(errors.values()):
            refused += 1
            if not all(errors.values()):  # the two compilers disagree
                split[next(k for k, v in errors.items() if v)] += 1
            if not problems:
                misses.append((len(doc), doc, errors))
        else:
            compiled += 1
            if problems:
                false_alarms.append(problems[0])
    COUNTS["node graphs"] = (
        f"{len(docs)}: compiled by both {compiled}, refused {refused} (by chromium alone "
        f"{split['chromium']}, by wgpu alone {split['wgpu']}), cycles refused by "
        f"compile_node_graph {cycles}; reported by the checker {reported} (of which both "
        f"compiled {len(false_alarms)}: {sorted(set(p.split(':')[0] for p in false_alarms))})"
    )
    assert not misses, min(misses)[1:]


def test_pictures_match_wgpu(browser):
    tex = texture()
    docs = [random_graph(random.Random(seed), 2 + seed % 12) for seed in range(60)]
    texts = [compile_node_graph(json.dumps(doc)) for doc in docs]
    results = browser.run([browser.render_job(t, tex, SIZE) for t in texts])
    compared = 0
    for doc, text, result in zip(docs, texts, results):
        got = browser.pixels(result, SIZE)
        want = gfxgpu.apply_node_graph(text, tex, size=SIZE, device=gpu.gpu_device())
        ref = Reference(doc, tex, SIZE)
        ref.final_color()
        keep = ~ref.ambiguous
        compared += int(keep.sum())
        np.testing.assert_allclose(
            got[keep], want[keep], rtol=PIXEL_TOLERANCE, atol=PIXEL_TOLERANCE
        )
    COUNTS["pictures"] = f"{len(docs)} graphs, {compared} pixels within {PIXEL_TOLERANCE}"


def test_struct_fields_land_at_the_computed_offsets(browser):
    lists = gpu_channel_lists(count=40)
    for channels in lists:
        check_gpu_offsets(channels, browser.compute)
    COUNTS["struct layouts"] = len(lists)


@pytest.mark.parametrize(
    "code",
    range(8),
    ids=["sphere", "box", "cylinder", "capsule", "cone", "torus", "plane", "rounded_box"],
)
def test_primitive_distances_match_the_collider(browser, code):
    name = ["sphere", "box", "cylinder", "capsule", "cone", "torus", "plane", "rounded_box"][code]
    COUNTS[f"sdf points, {name}"] = check_primitive_distances(code, browser.compute)


def test_hostile_records_match_the_collider(browser):
    COUNTS["sdf points, hostile records"] = check_hostile_records(browser.compute)


SCENE_KERNEL = (
    gfxcore.sdf_wgsl()
    + """
@group(0) @binding(1) var<storage, read> points: array<vec4<f32>>;
@group(0) @binding(2) var<storage, read_write> result: array<vec4<f32>>;

@compute @workgroup_size(64)
fn main(@builtin(global_invocation_id) id: vec3<u32>) {
    if id.x < arrayLength(&points) {
        let p = points[id.x].xyz;
        result[id.x] = vec4<f32>(sdf_scene_distance(p), sdf_scene_normal(p));
    }
}
"""
)


def test_scene_distance_and_normal_match_the_collider(browser):
    points = np.random.default_rng(6).uniform(-4, 4, (2000, 4)).astype(np.float32)
    for seed in range(4):
        buffer = mixed_scene(random.Random(seed), with_cones=False)
        collider = SdfCollider()
        collider.load_bytes(buffer)
        expected = np.array(
            [(collider.distance(*p), *collider.normal(*p)) for p in points[:, :3].tolist()],
            dtype=np.float32,
        )
        out = browser.compute(
            SCENE_KERNEL, [gfxcore.scene_buffer(buffer), points.tobytes()], points.nbytes, 32
        )
        got = np.frombuffer(out, dtype=np.float32).reshape(-1, 4)
        bad = np.nonzero(ulp_diff(got, expected).any(axis=1))[0]
        assert bad.size == 0, [(points[k], got[k], expected[k]) for k in bad[:5]]
    COUNTS["sdf points, mixed scenes (distance and normal)"] = 4 * len(points)


def test_cone_distances_on_both_adapters(browser):
    for adapter, run in (("chromium", browser.compute), ("wgpu", gpu.run_compute)):
        same = check_sin_cos(run)
        COUNTS[f"cone sine and cosine on {adapter}"] = (
            f"within 1 ulp of sinf/cosf, {same:.4g} bit for bit"
        )
        stats = check_cone_goal(run)
        COUNTS[f"cones on {adapter}"] = ", ".join(
            f"{k} {v:.4g}" if isinstance(v, float) else f"{k} {v}" for k, v in stats.items()
        )
