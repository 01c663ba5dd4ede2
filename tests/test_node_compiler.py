"""compile_node_graph: decoding, ordering and WGSL emission, checked against a
plain-Python compiler on seeded random documents and against a real WGSL
compiler on the GPU."""

import json
import random

import gpu
import pytest
from models.node_compiler import (
    CLOSING,
    NODE_TYPES,
    PRELUDE,
    Compiled,
    reference_compile,
)  # noqa: F401
from models.node_graphs import one_node_graph, random_graph

import _core

compile_node_graph = _core.compile_node_graph


def outcome(call):
    try:
        return ("ok", call())
    except (ValueError, Compiled) as exc:
        return ("error", str(exc))


# ---- documents written with our own serialiser (repeated keys, array forms) --------


def dump(value, rng, ascii_only):
    if isinstance(value, Obj):
        items = list(value.pairs)
        return (
            "{"
            + ", ".join(dump(k, rng, ascii_only) + ":" + dump(v, rng, ascii_only) for k, v in items)
            + "}"
        )
    if isinstance(value, list):
        return "[" + ",".join(dump(v, rng, ascii_only) for v in value) + "]"
    return json.dumps(value, ensure_ascii=ascii_only)


class Obj:
    """A JSON object that may repeat keys."""

    def __init__(self, *pairs):
        self.pairs = pairs


IDS = ["a", "b", "c", "n1", "n2", "", "with space", "ü", 'q"t', "a-b"]
PORTS = ["uv", "a", "b", "t", "val", "color", "out", "x", "UV"]
TYPES = list(NODE_TYPES) + ["add", "Mystery"]
PARAM_VALUES = [
    0,
    2,
    -3,
    1.5,
    -0.5,
    -0.0,
    1e-50,
    1e39,
    -1e39,
    2**64,
    -(2**63) - 1,
    2**70 + 1,
    0.1,
    16777217,
    "rgb",
    "x",
    "",
    True,
    False,
    None,
    [1, [2]],
    Obj(("k", 1)),
]


def random_params(rng):
    keys = ["channel", "min", "max", "strength", "radius", "other"]
    return [(rng.choice(keys), rng.choice(PARAM_VALUES)) for _ in range(rng.randrange(4))]


def random_document(rng):
    """A seeded random document, its text, and the records as the reference reads them."""
    acyclic = rng.random() < 0.6
    n = rng.randrange(8)
    ids = rng.sample(IDS, n) if acyclic else [rng.choice(IDS) for _ in range(n)]
    nodes, node_json = [], []
    for node_id in ids:
        node_type = rng.choice(TYPES) if rng.random() < 0.1 else rng.choice(list(NODE_TYPES))
        params = random_params(rng)
        nodes.append((node_id, node_type, dict(params)))
        form = rng.randrange(4)
        if form == 0:
            node_json.append([node_id, node_type, Obj(*params)])
        elif form == 1 and not params:
            node_json.append([node_id, node_type])
        else:
            pairs = [("type", node_type), ("id", node_id), ("params", Obj(*params))]
            if not params and rng.random() < 0.5:
                pairs.pop()
            if rng.random() < 0.3:
                pairs.insert(rng.randrange(len(pairs) + 1), ("extra", rng.choice(PARAM_VALUES)))
            node_json.append(Obj(*pairs))
    edges = []
    for _ in range(rng.randrange(10)):
        if acyclic and n >= 2:
            i, j = sorted(rng.sample(range(n), 2))
            src, dst = ids[i], ids[j]
        else:
            src, dst = rng.choice(IDS), rng.choice(IDS)
        edges.append((src, rng.choice(PORTS), dst, rng.choice(PORTS)))
    if edges and rng.random() < 0.3:
        edges.append(rng.choice(edges))  # repeated edge
    edge_json = [
        list(e)
        if rng.random() < 0.3
        else Obj(("to_port", e[3]), ("from_node", e[0]), ("to_node", e[2]), ("from_port", e[1]))
        for e in edges
    ]
    if rng.random() < 0.3:
        doc = [node_json, edge_json]
    else:
        doc = Obj(("edges", edge_json), ("meta", Obj(("v", [1, 2.5, None]))), ("nodes", node_json))
    return dump(doc, rng, rng.random() < 0.5), nodes, edges


@pytest.mark.parametrize("seed", range(400))
def test_matches_reference_compiler_on_random_documents(seed):
    rng = random.Random(seed)
    text, nodes, edges = random_document(rng)
    assert outcome(lambda: compile_node_graph(text)) == outcome(
        lambda: reference_compile(nodes, edges)
    )


def test_large_random_dag_matches_reference():
    rng = random.Random(7)
    n = 300
    kinds = list(NODE_TYPES)
    nodes = [(f"n{i}", rng.choice(kinds), {}) for i in range(n)]
    edges = []
    for j in range(1, n):
        for _ in range(rng.randrange(3)):
            i = rng.randrange(j)
            edges.append((f"n{i}", "out", f"n{j}", rng.choice(PORTS)))
    rng.shuffle(edges)
    doc = {
        "nodes": [{"id": a, "type": t} for a, t, _ in nodes],
        "edges": [dict(zip(("from_node", "from_port", "to_node", "to_port"), e)) for e in edges],
    }
    assert compile_node_graph(json.dumps(doc)) == reference_compile(nodes, edges)


# ---- the worked examples ------------------------------------------------------------


def graph(nodes, edges=()):
    return json.dumps(
        {
            "nodes": [{"id": i, "type": t, **({"params": p} if p else {})} for i, t, p in nodes],
            "edges": [
                dict(zip(("from_node", "from_port", "to_node", "to_port"), e)) for e in edges
            ],
        }
    )


def body(text):
    assert text.startswith(PRELUDE) and text.endswith(CLOSING)
    return text[len(PRELUDE) : -len(CLOSING)].splitlines()


def test_empty_graph_is_prelude_and_closing():
    out = compile_node_graph('{"nodes": [], "edges": []}')
    assert len(PRELUDE.encode()) == 587
    assert out == PRELUDE + CLOSING and len(out) == 611


def test_texture_chain():
    out = compile_node_graph(
        graph(
            [("uv1", "UV", None), ("tex", "SampleTexture", None), ("fin", "FinalColor", None)],
            [("uv1", "uv", "tex", "uv"), ("tex", "color", "fin", "color")],
        )
    )
    assert body(out) == [
        "    let uv1_uv = in.uv;",
        "    let tex_color = textureSample(t_color, s_color, uv1_uv);",
        "    out_color = tex_color;",
    ]


@pytest.mark.parametrize(
    "nodes, edges, order",
    [
        ("ABCD", [("A", "D"), ("A", "B"), ("C", "B")], "ACDB"),
        ("XAB", [("X", "A")], "XBA"),
        ("DCBA", [], "DCBA"),
        ("ABC", [("A", "C"), ("A", "B")], "ABC"),  # successors by position, not edge order
    ],
)
def test_breadth_first_order_with_position_tie_break(nodes, edges, order):
    out = compile_node_graph(
        graph([(n, "UV", None) for n in nodes], [(a, "uv", b, "zz") for a, b in edges])
    )
    assert [line.split()[1] for line in body(out)] == [f"{n}_uv" for n in order]


@pytest.mark.parametrize(
    "params, line",
    [
        (None, "    let c_out = clamp(0.0, 0.000000f, 1.000000f);"),
        ({"min": -0.5, "max": 2}, "    let c_out = clamp(0.0, -0.500000f, 2.000000f);"),
        ({"min": -0.0, "max": 1e39}, "    let c_out = clamp(0.0, -0.000000f, inff);"),
        ({"min": "1", "max": None}, "    let c_out = clamp(0.0, 0.000000f, 1.000000f);"),
        ({"min": 0.0000005, "max": 0.0000015}, "    let c_out = clamp(0.0, 0.000000f, 0.000002f);"),
    ],
)
def test_clamp_parameters(params, line):
    assert body(compile_node_graph(graph([("c", "Clamp", params)]))) == [line]


@pytest.mark.parametrize(
    "params, numbers",
    [
        ({"strength": 2}, "2.000000f, 0.100000f"),
        ({"strength": "2"}, "1.000000f, 0.100000f"),
        (
            {"radius": 3.4028234663852886e38},
            "1.000000f, 340282346638528859811704183484516925440.000000f",
        ),
    ],
)
def test_gravity_warp_parameters(params, numbers):
    assert body(compile_node_graph(graph([("g", "GravityWarp", params)]))) == [
        f"    let g_out_uv = warp_uv(in.uv, {numbers});"
    ]


def test_repeated_param_key_takes_the_later_value():
    text = (
        '{"nodes": [{"id": "p", "type": "PixelChannel", "params": {"channel": "g", "channel": "rgb"}},'
        ' {"id": "q", "type": "PixelChannel", "params": {"channel": "g", "channel": 5}}], "edges": []}'
    )
    assert body(compile_node_graph(text)) == [
        "    let p_val = textureSample(t_color, s_color, in.uv).rgb;",
        "    let q_val = textureSample(t_color, s_color, in.uv).r;",
    ]


def test_first_edge_into_a_port_wins_and_ids_are_verbatim():
    out = compile_node_graph(
        graph(
            [
                ("my id", "UV", None),
                ("x-y", "UV", None),
                ("f", "FinalColor", None),
                ("d", "Discard", None),
            ],
            [("x-y", "uv", "f", "color"), ("my id", "uv", "f", "color")],
        )
    )
    assert body(out) == [
        "    let my id_uv = in.uv;",
        "    let x-y_uv = in.uv;",
        "    discard;",
        "    out_color = x-y_uv;",
    ]


@pytest.mark.parametrize(
    "text, message",
    [
        (graph([("a", "UV", None)], [("a", "uv", "a", "uv")]), "Node graph contains a cycle"),
        (
            graph(
                [("a", "Nope", None), ("b", "UV", None)],
                [("a", "o", "b", "x"), ("b", "o", "a", "x")],
            ),
            "Node graph contains a cycle",
        ),
        (graph([("a", "uv", None)]), "Unknown node type: uv"),
        (graph([("a", "", None)]), "Unknown node type: "),
        (graph([("a", "UV", None)], [("ghost", "uv", "a", "uv")]), "Node graph contains a cycle"),
    ],
)
def test_graph_level_errors(text, message):
    with pytest.raises(ValueError) as info:
        compile_node_graph(text)
    assert str(info.value) == message


def test_edges_between_absent_ids_succeed_on_empty_nodes():
    assert compile_node_graph(graph([], [("x", "a", "y", "b")])) == PRELUDE + CLOSING


# ---- decoding faults ------------------------------------------------------------------


@pytest.mark.parametrize(
    "text, message",
    [
        ('{"nodes": []}', "missing field `edges` at line 1 column 13"),
        ('{"edges": []}', "missing field `nodes` at line 1 column 13"),
        ('{"nodes": [{"type": "UV"}], "edges": []}', "missing field `id` at line 1 column 25"),
        ('{"nodes": [{"id": "a"}], "edges": []}', "missing field `type` at line 1 column 22"),
        (
            '{"nodes": [], "edges": [{"from_node": "a", "from_port": "b", "to_node": "c"}]}',
            "missing field `to_port` at line 1 column 76",
        ),
        ('{"nodes": [], "nodes": [], "edges": []}', "duplicate field `nodes` at line 1 column 21"),
        (
            '{"nodes": [["a", "UV", {}, 1]], "edges": []}',
            "invalid length 4, expected struct Node with 3 elements at line 1 column 29",
        ),
        ("[[]]", "invalid length 1, expected struct NodeGraph with 2 elements at line 1 column 4"),
        (
            '[[], [["a"]]]',
            "invalid length 1, expected struct Edge with 4 elements at line 1 column 11",
        ),
        (
            '{"nodes": [["a", "UV", null]], "edges": []}',
            "invalid type: null, expected a map at line 1 column 24",
        ),
        (
            '{"nodes": {}, "edges": []}',
            "invalid type: map, expected a sequence at line 1 column 11",
        ),
        (
            '{"nodes": [5], "edges": []}',
            "invalid type: integer `5`, expected struct Node at line 1 column 13",
        ),
        (
            '{"nodes": [], "edges": ["e"]}',
            'invalid type: string "e", expected struct Edge at line 1 column 27',
        ),
        (
            '{"nodes": [{"id": 1.5, "type": "UV"}], "edges": []}',
            "invalid type: floating point `1.5`, expected a string at line 1 column 22",
        ),
        (
            '{"nodes": [{"id": true, "type": "UV"}], "edges": []}',
            "invalid type: boolean `true`, expected a string at line 1 column 19",
        ),
        ('"graph"', 'invalid type: string "graph", expected struct NodeGraph at line 1 column 7'),
        ("", "EOF while parsing a value at line 1 column 0"),
        ('{"nodes": [', "EOF while parsing a list at line 1 column 11"),
        ('{"nodes": [["a", ', "EOF while parsing a value at line 1 column 17"),
        ('{"nodes": [["a", "UV"]', "EOF while parsing a list at line 1 column 22"),
        ('{"nodes": "ab', "EOF while parsing a string at line 1 column 13"),
        ('{"nodes": []', "EOF while parsing an object at line 1 column 12"),
        ('{"nodes": [], }', "trailing comma at line 1 column 15"),
        ("[[], [],\n]", "trailing comma at line 2 column 1"),
        ('{"nodes": [], 5: 1}', "key must be a string at line 1 column 15"),
        ('{"nodes" []}', "expected `:` at line 1 column 10"),
        ("[[] []]", "expected `,` or `]` at line 1 column 5"),
        ('{"nodes": [] "edges": []}', "expected `,` or `}` at line 1 column 14"),
        ('{"nodes": [], "edges": [x]}', "expected value at line 1 column 25"),
        ('{"nodes": [-], "edges": []}', "invalid number at line 1 column 13"),
        ('{"nodes": [], "edges": []}\n\n  x', "trailing characters at line 3 column 3"),
        ('{"nodes": [], "edges": []} {}', "trailing characters at line 1 column 28"),
        ('["\\q", []]', "invalid escape at line 1 column 4"),
        (
            '["\x01", []]',
            "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3",
        ),
        ('["\\ud800", []]', "lone surrogate in hex escape at line 1 column 9"),
        ('\n {"nödes": [],\n "x": [1,\n 2,, 3]}', "expected value at line 4 column 4"),
    ],
)
def test_decoding_faults(text, message):
    with pytest.raises(ValueError) as info:
        compile_node_graph(text)
    assert str(info.value) == message


@pytest.mark.parametrize("depth, ok", [(127, True), (128, False)])
def test_nesting_limit_counts_ignored_values(depth, ok):
    text = '{"nodes": [], "edges": [], "x": ' + "[" * (depth - 1) + "]" * (depth - 1) + "}"
    if ok:
        assert compile_node_graph(text) == PRELUDE + CLOSING
    else:
        with pytest.raises(ValueError, match=r"^recursion limit exceeded at line 1 column \d+$"):
            compile_node_graph(text)


@pytest.mark.parametrize(
    "text",
    [
        "[" * 1_000_000,
        '{"a":' * 300_000,
        " " * 5_000_000,
        "[[" + "1e999999999," * 1000 + "1],[]]",
        '[["' + "\\u00e9" * 200_000 + '", "UV"]' + "," * 3 + "]",
    ],
)
def test_hostile_documents_raise_value_error(text):
    with pytest.raises(ValueError):
        compile_node_graph(text)


def test_escaped_and_non_ascii_texts_survive():
    doc = {"nodes": [{"id": 'é"\\\t' * 50, "type": "UV"}], "edges": []}
    assert body(compile_node_graph(json.dumps(doc))) == [
        f"    let {doc['nodes'][0]['id']}_uv = in.uv;"
    ]


@pytest.mark.parametrize(
    "arg, exc, message",
    [
        (
            b"{}",
            TypeError,
            "argument 'node_graph_json': 'bytes' object cannot be converted to 'PyString'",
        ),
        (
            None,
            TypeError,
            "argument 'node_graph_json': 'NoneType' object cannot be converted to 'PyString'",
        ),
        ('{"nodes": [["\ud800", "UV"]], "edges": []}', UnicodeEncodeError, None),
    ],
)
def test_argument_must_be_encodable_text(arg, exc, message):
    with pytest.raises(exc) as info:
        compile_node_graph(arg)
    if message:
        assert str(info.value) == message


def test_keyword_argument_and_signature():
    assert compile_node_graph(node_graph_json="[[], []]") == PRELUDE + CLOSING
    assert compile_node_graph.__doc__ is None
    assert compile_node_graph.__text_signature__ == "(node_graph_json)"


# ---- a real WGSL compiler agrees ----------------------------------------------------


@pytest.mark.parametrize("node_type", list(NODE_TYPES))
def test_every_node_type_compiles_on_the_gpu(node_type):
    gpu.render_pipeline(compile_node_graph(json.dumps(one_node_graph(node_type))))


def test_lone_lerp_text_is_kept_although_the_gpu_compiler_cannot_type_it():
    # mix(0.0, 1.0, 0.5) is valid WGSL, but the GPU compiler in use cannot yet
    # give the abstract result a concrete type, so it is left out of the
    # compile checks.
    assert body(compile_node_graph(graph([("l", "Lerp", None)]))) == [
        "    let l_out = mix(0.0, 1.0, 0.5);"
    ]


@pytest.mark.parametrize("seed", range(12))
def test_random_well_typed_graphs_compile_on_the_gpu(seed):
    rng = random.Random(seed)
    gpu.render_pipeline(compile_node_graph(json.dumps(random_graph(rng, 4 + seed * 3))))


@pytest.mark.parametrize("token", ["tru", "fals", '"\\u12', '"\\ud800\\u0041"', "truex", "1.5e"])
def test_a_fault_is_worded_alike_wherever_it_lies_in_a_long_document(token):
    # Long documents are read in pieces of 256 KiB; a token cut by a piece's
    # end is still worded as the parser words it whole.
    def fault(spaces):
        with pytest.raises(ValueError) as info:
            compile_node_graph('{"nodes": [' + " " * spaces + token + '], "edges": []}')
        words, column = str(info.value).rsplit(" column ", 1)
        return words, int(column) - spaces

    far = fault(1000)
    for piece_end in (1 << 18, 3 << 18):
        for shift in range(-8, 3):
            assert fault(piece_end - 11 + shift) == far, shift
