"""compile_node_graph: documents built from fuzzed choices against the
reference compiler of the tests, and raw text that must only ever fail with
ValueError."""

import json

import atheris
import common  # first: it puts the tests' models on the path
from models.node_compiler import NODE_TYPES, Compiled, reference_compile

import _core

IDS = ["a", "b", "c", "d", "x y", "é"]
TYPES = sorted(NODE_TYPES) + ["Nope"]
PORTS = ["out", "uv", "val", "color", "a", "b", "t", "x"]
PARAMS = [
    None,
    {"channel": "g"},
    {"channel": "rgb"},
    {"min": 0.25, "max": 2},
    {"strength": 3},
    {"radius": 1e30},
    {"value": [1, 2, 3, 4]},
    {"value": 0.5},
]


def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    if fdp.ConsumeBool():
        text = fdp.ConsumeUnicodeNoSurrogates(fdp.remaining_bytes())
        try:
            _core.compile_node_graph(text)
        except ValueError:
            pass
        return
    nodes, seen = [], set()
    for _ in range(fdp.ConsumeIntInRange(0, 6)):
        node_id = fdp.PickValueInList(IDS)
        if node_id in seen:
            continue  # the reference keys nodes by id
        seen.add(node_id)
        nodes.append((node_id, fdp.PickValueInList(TYPES), fdp.PickValueInList(PARAMS)))
    edges = [
        (
            fdp.PickValueInList(IDS),
            fdp.PickValueInList(PORTS),
            fdp.PickValueInList(IDS),
            fdp.PickValueInList(PORTS),
        )
        for _ in range(fdp.ConsumeIntInRange(0, 6))
    ]
    doc = json.dumps(
        {
            "nodes": [{"id": i, "type": t, **({"params": p} if p else {})} for i, t, p in nodes],
            "edges": [
                dict(zip(("from_node", "from_port", "to_node", "to_port"), e)) for e in edges
            ],
        }
    )
    try:
        want = ("ok", reference_compile([(i, t, p or {}) for i, t, p in nodes], edges))
    except Compiled as e:
        want = ("error", str(e))
    try:
        got = ("ok", _core.compile_node_graph(doc))
    except ValueError as e:
        got = ("error", str(e))
    assert got == want, (doc, got, want)


if __name__ == "__main__":
    common.main(test_one)
