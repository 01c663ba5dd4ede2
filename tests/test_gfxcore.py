"""gfxcore: the node catalogue against the compiler, check_node_graph against
a real WGSL compiler, and gfxcore.gpu's argument checks."""

import json
import math
import pathlib
import random
import re
import sys

import gpu
import pytest
from conftest import ctrl_c_child
from gfxcore import check_node_graph
from gfxcore.nodes import NODE_TYPES, emitted_line
from models import node_checker
from models.node_graphs import edge, hostile, mutate, node, random_graph

from _core import compile_node_graph

PRELUDE_LINES = 19


def body(doc):
    return compile_node_graph(json.dumps(doc)).splitlines()[PRELUDE_LINES:-2]


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
        named = mutate(rng, doc) if rng.random() < 0.7 else None
        text = json.dumps(doc)
        problems = check_node_graph(text)
        assert isinstance(problems, list) and all(isinstance(p, str) for p in problems)
        if named is None:
            assert problems == [], text
        else:
            assert named in " ".join(problems), (named, problems, text)
        try:
            wgsl = compile_node_graph(text)
        except ValueError:
            assert problems, text
            continue
        assert problems or compiles(wgsl), text


def test_checker_passes_well_typed_graphs():
    from test_gpu_shaders import HAND_GRAPHS

    graphs = [g for name, g in HAND_GRAPHS.items() if name != "no-output"]
    graphs += [random_graph(random.Random(seed), 3 + seed) for seed in range(20)]
    for doc in graphs:
        assert check_node_graph(json.dumps(doc)) == [], doc
    assert check_node_graph(json.dumps(HAND_GRAPHS["no-output"])) == [
        "no FinalColor node: the shader's colour stays (0, 0, 0, 1)"
    ]


@pytest.mark.parametrize("seed", range(4))
def test_checker_words_every_problem_as_the_item_by_item_model(seed):
    rng = random.Random(seed)
    for _ in range(150):
        doc = random_graph(rng, rng.randint(1, 12))
        if rng.random() < 0.7:
            mutate(rng, doc)
        text = hostile(rng, doc)
        assert check_node_graph(text) == node_checker.check(text), text


@pytest.mark.parametrize("later", [None, "PixelColor", "SampleTexture", "GravityWarp"])
def test_shader_names_are_reported_only_where_a_later_line_breaks(later):
    # `t_color` hides the texture, `warp_uv` the function, from the lines
    # after them; a node without edges comes after those before it.
    nodes = [node("t", "SampleTexture"), node("warp", "UV"), node("f", "FinalColor")]
    nodes += [node("late", later)] if later else []
    text = json.dumps({"nodes": nodes, "edges": [edge("t", "color", "f", "color")]})
    problems = check_node_graph(text)
    hidden = {None: None, "GravityWarp": "'warp_uv'"}.get(later, "'t_color'")
    assert [hidden in p for p in problems] == ([True] if hidden else [])
    assert compiles(compile_node_graph(text)) == (later is None)


def test_checker_reads_what_the_compiler_reads_and_quotes_little():
    graph = {"nodes": [node("u", "UV"), node("f", "FinalColor")], "edges": []}
    long_int = "1" + "0" * 5000
    # An integer beyond Python's int-from-text limit, ignored or as a number.
    text = json.dumps(graph)[:-1] + f', "extra": [{long_int}]}}'
    assert check_node_graph(text) == check_node_graph(json.dumps(graph))
    graph["nodes"].append(node("k", "Clamp", max=0))
    graph["nodes"].append(node("x" * 10**6, "Y" * 10**6))
    problems = check_node_graph(json.dumps(graph).replace('"max": 0', f'"max": -{long_int}'))
    assert len(problems) == 2
    assert not any(c * 81 in p for p in problems for c in "0xY")
    assert "'k' (Clamp): parameter 'max' = -1000000000000" in problems[0]


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


# The native pass is no builtin function, which the profiler of
# stopped_inside would see: a call of a good part of a second tells instead.
CHECK_CHILD = """
from gfxcore._arrays import _check_node_graph
# One string of 400 MB, and nothing after it that would make a look at the
# stop flag between whole values.
document = '"' + "x" * 400_000_000 + '"'
print("ready", flush=True)
try:
    _check_node_graph(document)
    print("returned", flush=True)
except KeyboardInterrupt:
    print("stopped", flush=True)
"""


def test_checker_stops_inside_a_huge_document_at_ctrl_c():
    assert ctrl_c_child(CHECK_CHILD, delay=0.05) == "stopped\n"


def test_checker_says_when_its_native_module_cannot_load(monkeypatch):
    monkeypatch.setitem(sys.modules, "gfxcore._arrays", None)  # as a failed import leaves it
    with pytest.raises(ImportError, match="^check_node_graph needs gfxcore's native module"):
        check_node_graph("[[], []]")


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
