"""compile_node_graph on generated documents against json.loads of the same
text (decoding alone, in C), and its growth from 2,000 to 20,000 nodes."""

import json
import random

import _core
from common import Case

INPUTS = {
    "UV": [],
    "SampleTexture": ["uv"],
    "PixelColor": [],
    "PixelChannel": [],
    "Lerp": ["a", "b", "t"],
    "Add": ["a", "b"],
    "Multiply": ["a", "b"],
    "Clamp": ["val"],
    "GravityWarp": ["uv"],
    "Discard": [],
    "FinalColor": ["color"],
}
OUTPUT = {
    "UV": "uv",
    "SampleTexture": "color",
    "PixelColor": "color",
    "PixelChannel": "val",
    "Lerp": "out",
    "Add": "out",
    "Multiply": "out",
    "Clamp": "out",
    "GravityWarp": "out_uv",
}
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
