"""compile_node_graph on generated documents against json.loads of the same
text (decoding alone, in C), and its growth from 2,000 to 20,000 nodes;
check_node_graph against compile_node_graph on the same documents, with and
without faults."""

import json
import pathlib
import random
import sys

from gfxcore import check_node_graph
from gfxcore.nodes import NODE_TYPES

import _core
from common import Case

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from models.node_graphs import random_graph  # noqa: E402

INPUTS = {name: [p.name for p in t.inputs] for name, t in NODE_TYPES.items()}
OUTPUT = {name: t.output for name, t in NODE_TYPES.items() if t.output}
PARAMS = {
    "Clamp": {"min": -0.25, "max": 2},
    "GravityWarp": {"strength": 1.5, "radius": 0.2},
    "PixelChannel": {"channel": "g"},
}


def document(n, seed=11):
    """n nodes in shuffled document order; each input of a node is fed by an
    edge from an earlier-defined node (about one edge per input)."""
    rng = random.Random(seed)
    kinds = list(INPUTS)
    nodes, edges = [], []
    for i in range(n):
        kind = rng.choice(kinds)
        node = {"id": f"node_{i}", "type": kind}
        if kind in PARAMS:
            node["params"] = PARAMS[kind]
        nodes.append(node)
        producers = (
            [j for j in (rng.randrange(i) for _ in range(4)) if nodes[j]["type"] in OUTPUT]
            if i
            else []
        )
        for port, j in zip(INPUTS[kind], producers):
            edges.append(
                {
                    "from_node": f"node_{j}",
                    "from_port": OUTPUT[nodes[j]["type"]],
                    "to_node": f"node_{i}",
                    "to_port": port,
                }
            )
    rng.shuffle(nodes)
    rng.shuffle(edges)
    return json.dumps({"nodes": nodes, "edges": edges}, indent=1)


def with_faults(rng, n):
    """A well-typed graph of n nodes, one in twelve of them a Lerp with every
    input at its default (abstract numbers, which mix() cannot take): each
    is a problem, and the graph still compiles."""
    doc = random_graph(rng, n - n // 12)
    for k in range(n // 12):
        doc["nodes"].insert(
            rng.randrange(len(doc["nodes"]) + 1), {"id": f"lerp{k}", "type": "Lerp"}
        )
    return doc


def cases():
    small, large = document(2_000), document(20_000)
    env = {"compile": _core.compile_node_graph, "loads": json.loads, "small": small, "large": large}
    same_graph = lambda wgsl, doc: wgsl.count("\n") == 21 + len(doc["nodes"])  # noqa: E731
    out = []
    for label, name in (("2,000", "small"), ("20,000", "large")):
        text = env[name]
        out.append(
            Case(
                f"compile_node_graph {label} nodes",
                f"compile({name})",
                f"loads({name})",
                "json.loads",
                env,
                work=f"{label} nodes, {len(text) / 1e6:.1f} MB",
                check=same_graph,
            )
        )
    # The checker against the compiler on the same document, with and
    # without faults: the price of checking every graph before its WGSL
    # reaches a GPU, and of finding what is wrong with one.
    env["check"] = check_node_graph
    for label, n in (("2,000", 2_000), ("20,000", 20_000)):
        clean, faulty = f"clean{n}", f"faulty{n}"
        env[clean] = json.dumps(random_graph(random.Random(3), n), indent=1)
        env[faulty] = json.dumps(with_faults(random.Random(5), n), indent=1)
        for name, words in ((clean, "no faults"), (faulty, f"{n // 12:,} faults")):
            out.append(
                Case(
                    f"check_node_graph {label} nodes, {words}",
                    f"check({name})",
                    f"compile({name})",
                    "compile_node_graph",
                    env,
                    work=f"{label} nodes, {len(env[name]) / 1e6:.1f} MB, {words}",
                    check=lambda problems, wgsl, n=n, name=name: (
                        len(problems) == (0 if name.startswith("clean") else n // 12)
                        and wgsl.count("\n") == n + 22
                    ),
                    goal=2.0,
                )
            )
    out.append(
        Case(
            "check_node_graph 20,000 / 2,000 nodes",
            "check(clean20000)",
            "check(clean2000)",
            "ours at 2,000",
            env,
            work="10x the nodes",
            goal=12.0,
        )
    )
    out.append(
        Case(
            "compile_node_graph 20,000 / 2,000 nodes",
            "compile(large)",
            "compile(small)",
            "ours at 2,000",
            env,
            work="10x the nodes",
            goal=12.0,
        )
    )
    return out
