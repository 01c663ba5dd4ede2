"""gfxcore: the node catalogue against the compiler, check_node_graph against
a real WGSL compiler, and gfxcore.gpu's argument checks."""

import json
import math
import pathlib
import random
import re

import gpu
import pytest
from gfxcore import check_node_graph
from gfxcore.nodes import NODE_TYPES, emitted_line

from _core import compile_node_graph

PRELUDE_LINES = 19


def body(doc):
    return compile_node_graph(json.dumps(doc)).splitlines()[PRELUDE_LINES:-2]


def edge(src, port, dst, to_port):
    return {"from_node": src, "from_port": port, "to_node": dst, "to_port": to_port}


@pytest.mark.parametrize("name", NODE_TYPES)
def test_catalogue_is_what_the_compiler_emits(name):
    kind = NODE_TYPES[name]
    alone = {"nodes": [{"id": "n", "type": name}], "edges": []}
    assert body(alone) == [emitted_line(name, "n")]
    # Every port fed and every parameter set: each lands in its own place.
    params = {p.name: ("g" if p.kind == "text" else 2.5 + i) for i, p in enumerate(kind.params)}
    fed = {
        "nodes": [{"id": f"s{p.name}", "type": "UV"} for p in kind.inputs]
        + [{"id": "n", "type": name, "params": params}],
        "edges": [edge(f"s{p.name}", "uv", "n", p.name) for p in kind.inputs],
    }
    line = emitted_line(name, "n", {p.name: f"s{p.name}_uv" for p in kind.inputs}, params)
    assert body(fed)[-1] == line
    assert (line != emitted_line(name, "n")) == bool(kind.inputs or kind.params)


# ---- check_node_graph against wgpu's WGSL compiler ----------------------------------------

SCALAR_TYPES = [t for t in NODE_TYPES if t not in ("Discard", "FinalColor")]


def random_graph(rng, n):
    """n nodes of random types, each input fed (or not) by a random earlier
    node: well and badly typed graphs alike, every name and value valid."""
    nodes, edges = [], []
    for i in range(n):
        name = rng.choice(list(NODE_TYPES) + SCALAR_TYPES)
        kind, params = NODE_TYPES[name], {}
        for p in kind.params:
            if rng.random() < 0.5:
                params[p.name] = (
                    rng.choice(["r", "g", "ba", "xyz", "abgr"])
                    if p.kind == "text"
                    else rng.choice([rng.uniform(-1, 2), 3, -0.0])
                )
        if name == "Clamp" and params.get("min", 0.0) > params.get("max", 1.0):
            params["min"], params["max"] = params.get("max", 1.0), params.get("min", 0.0)
        sources = [m for m in nodes if NODE_TYPES[m["type"]].output]
        for p in kind.inputs:
            if sources and rng.random() < 0.75:
                src = rng.choice(sources[-4:])
                edges.append(edge(src["id"], NODE_TYPES[src["type"]].output, f"n{i}", p.name))
        nodes.append({"id": f"n{i}", "type": name, "params": params})
    rng.shuffle(nodes)
    return {"nodes": nodes, "edges": edges}


def mutate(rng, doc):
    """Breaks the graph one way; returns the text that some problem must name."""
    nodes, edges = doc["nodes"], doc["edges"]
    node = rng.choice(nodes)
    kind = NODE_TYPES[node["type"]]
    what = rng.randrange(12)
    if what == 0 and edges:
        e = rng.choice(edges)
        e[rng.choice(["from_port", "to_port"])] += rng.choice(["x", "_", "s"])
        return f"edge {edges.index(e)} "
    if what == 1:
        node["type"] = rng.choice([node["type"].lower(), "Blur", ""])
        return repr(node["id"])
    if what == 2:
        old = node["id"]
        node["id"] = rng.choice(["a;}\nfn x(){", "1n", "_", "__n", "n n", "é", ""])
        for e in edges:
            for end in ("from_node", "to_node"):
                e[end] = node["id"] if e[end] == old else e[end]
        fine = node["id"] in ("é", "") or not kind.output  # no variable, or a valid one
        return "" if fine else repr(node["id"])
    if what == 3:
        node["params"][rng.choice([p.name for p in kind.params] + ["factor"])] = rng.choice(
            ["q", None, True, [1], {"a": 1}, 1e39, -4e38, "0.5"]
        )
        return repr(node["id"])
    if what == 4:
        clash = rng.choice(nodes)
        node["id"] = clash["id"]
        return repr(clash["id"]) if clash is not node else ""
    if what == 5:
        edges.append(
            edge(node["id"], kind.output or "out", rng.choice(["ghost", node["id"] + "x"]), "a")
        )
        return f"edge {len(edges) - 1} "
    if what == 6:
        nodes.append(
            {
                "id": "c",
                "type": "PixelChannel",
                "params": {"channel": rng.choice(["rx", "", "rgbar", "R", "r;}", "q"])},
            }
        )
        return "'c'"
    if what == 7:
        name, node_id = rng.choice(
            [
                ("GravityWarp", "p"),
                ("PixelColor", "out"),
                ("PixelColor", "t"),
                ("SampleTexture", "s"),
                ("UV", "warp"),
            ]
        )
        nodes.append({"id": node_id, "type": name, "params": {}})
        if node_id == "p":
            nodes.append({"id": "p_out", "type": "UV", "params": {}})
        return repr(node_id)
    if what == 8:
        nodes.append({"id": "k", "type": "Clamp", "params": {"min": 0.75, "max": 0.25}})
        return "'k'"
    if what == 9 and edges:
        e = rng.choice(edges)
        edges.append(edge(e["to_node"], "out", e["from_node"], "a"))  # a cycle
        return "cycle"
    if what == 10:
        doc["nodes"] = [n for n in nodes if n["type"] != "FinalColor"]
        doc["edges"] = [e for e in edges if e["to_node"] in {n["id"] for n in doc["nodes"]}]
        return "FinalColor"
    if edges:
        e = rng.choice(edges)
        edges.append(dict(e))
        return f"edge {len(edges) - 1} "
    return ""


def compiles(wgsl):
    try:
        gpu.render_pipeline(wgsl)
    except ValueError:
        return False
    return True


@pytest.mark.parametrize("seed", range(8))
def test_checker_reports_whatever_the_wgsl_compiler_refuses(seed):
    gpu.gpu_device()
    rng = random.Random(seed)
    for _ in range(30):
        doc = random_graph(rng, rng.randint(1, 9))
        named = mutate(rng, doc) if rng.random() < 0.6 else None
        text = json.dumps(doc)
        problems = check_node_graph(text)
        assert isinstance(problems, list) and all(isinstance(p, str) for p in problems)
        if named is not None:
            assert named in " ".join(problems), (named, problems, text)
        try:
            wgsl = compile_node_graph(text)
        except ValueError:
            assert problems, text
            continue
        assert problems or compiles(wgsl), text


def test_checker_passes_well_typed_graphs():
    from test_gpu_shaders import HAND_GRAPHS
    from test_gpu_shaders import random_graph as typed_graph

    graphs = [g for name, g in HAND_GRAPHS.items() if name != "no-output"]
    graphs += [typed_graph(random.Random(seed), 3 + seed) for seed in range(20)]
    for doc in graphs:
        assert check_node_graph(json.dumps(doc)) == [], doc
    assert check_node_graph(json.dumps(HAND_GRAPHS["no-output"])) == [
        "no FinalColor node: the shader's colour stays (0, 0, 0, 1)"
    ]


@pytest.mark.parametrize(
    "document, problem",
    [
        ("[[1]]", "invalid type: integer `1`, expected struct Node at line 1 column 4"),
        ('{"nodes": []}', "missing field `edges` at line 1 column 13"),
        ('{"nodes": [["\ud800", "UV"]], "edges": []}', "surrogates not allowed"),
    ],
)
def test_documents_the_compiler_refuses_are_one_problem(document, problem):
    problems = check_node_graph(document)
    assert len(problems) == 1 and problem in problems[0]


def test_checker_takes_text_only():
    with pytest.raises(TypeError, match="document must be a str, not bytes"):
        check_node_graph(b"{}")


# ---- gfxcore.gpu refuses bad arguments before touching the GPU ------------------------------


@pytest.fixture
def no_gpu(monkeypatch):
    gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")
    monkeypatch.setattr(gfxgpu, "default_device", lambda: pytest.fail("reached the GPU"))
    return gfxgpu


BAD = [
    ("sdf_distances", ([], [(1, 2)]), ValueError, "points must have shape (n, 3), not (1, 2)"),
    ("sdf_distances", ([], [[1, 2, 3], [4]]), ValueError, "points must be an array of shape"),
    ("sdf_normals", ([], [("a", "b", "c")]), TypeError, "points must hold real numbers, not <U1"),
    ("sdf_normals", ([], [(1j, 0, 0)]), TypeError, "points must hold real numbers"),
    ("sdf_distances", ([], [(0, math.nan, 0)]), ValueError, "points must be finite"),
    ("sdf_distances", ([], [(0, 1e39, 0)]), ValueError, "points must be finite"),
    ("sdf_distances", ("abc", [(0, 0, 0)]), TypeError, "scene must be bytes, a list of ints"),
    ("sdf_distances", (48, [(0, 0, 0)]), TypeError, "not int"),
    ("sdf_normals", ([256], [(0, 0, 0)]), ValueError, "scene must hold ints 0 to 255"),
    ("sdf_normals", (["x"], [(0, 0, 0)]), TypeError, "scene must hold ints 0 to 255"),
    ("apply_node_graph", (b"fn", [[[0, 0, 0, 1]]]), TypeError, "wgsl must be a str, not bytes"),
    (
        "apply_node_graph",
        ("", [[[0, 0, 0]]]),
        ValueError,
        "image must have shape (height, width, 4), not (1, 1, 3)",
    ),
    ("apply_node_graph", ("", [[0, 0, 0, 1]]), ValueError, "image must have shape"),
    ("apply_node_graph", ("", [[["a"] * 4]]), TypeError, "image must hold real numbers"),
    ("apply_node_graph", ("", [[[0] * 4]], (0, 4)), ValueError, "size must be from 1 to"),
    ("apply_node_graph", ("", [[[0] * 4]], [4, 4]), TypeError, "size must be a tuple"),
]


@pytest.mark.parametrize("function, args, error, message", BAD)
def test_gpu_arguments_are_checked_first(no_gpu, function, args, error, message):
    kwargs = {"size": args[2]} if len(args) > 2 else {}
    with pytest.raises(error) as info:
        getattr(no_gpu, function)(*args[:2], **kwargs)
    assert message in str(info.value)


def test_wgsl_compile_errors_carry_the_compilers_message():
    gfxgpu = pytest.importorskip("gfxcore.gpu", reason="gfxcore.gpu needs wgpu and numpy")
    doc = {
        "nodes": [{"id": "u", "type": "UV"}, {"id": "t", "type": "SampleTexture"}],
        "edges": [edge("u", "typo", "t", "uv")],
    }
    with pytest.raises(ValueError, match="no definition in scope for identifier: `u_typo`"):
        gfxgpu.apply_node_graph(
            compile_node_graph(json.dumps(doc)), [[[0.0] * 4]], device=gpu.gpu_device()
        )


def test_readme_gpu_examples_run_as_written(capsys):
    gpu.gpu_device()
    readme = (pathlib.Path(__file__).parent.parent / "README.md").read_text()
    section = re.split(r"\n#+ On the GPU:", readme, maxsplit=1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    assert len(blocks) == 2
    for code in blocks:
        exec(compile(code, "README.md", "exec"), {})
    assert capsys.readouterr().out == "[-1.  1.]\n[[0. 1. 0.]]\n"
