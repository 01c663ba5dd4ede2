"""Node-graph documents made from the node catalogue (gfxcore.nodes): well
typed random graphs, one graph per node type, and mutations that break a
graph in one way the checker must name."""

import json

from gfxcore.nodes import NODE_TYPES

F32, VEC4 = "f32", "vec4<f32>"
SWIZZLES = ["r", "g", "b", "a", "x", "w", "rg", "xyz", "bgra", "abgr"]
# Types whose output type is fixed and that need no input: the sources.
SOURCES = {
    name: t.output_type
    for name, t in NODE_TYPES.items()
    if t.rule == "fixed" and t.output and not t.inputs
}


def node(node_id, kind, **params):
    return {"id": node_id, "type": kind, "params": params}


def edge(src, port, dst, to_port):
    return {"from_node": src, "from_port": port, "to_node": dst, "to_port": to_port}


def random_params(rng, kind):
    params = {}
    for p in NODE_TYPES[kind].params:
        if rng.random() < 0.8:
            # Numbers near their defaults keep a Clamp's min below its max.
            params[p.name] = (
                rng.choice(SWIZZLES) if p.kind == "text" else p.default + rng.uniform(-0.5, 0.5)
            )
    return params


def output_type(kind, params, fed):
    """The WGSL type of a node's output; `fed` maps its ports to input types."""
    t = NODE_TYPES[kind]
    if t.rule == "swizzle":
        (text,) = [params.get(p.name, p.default) for p in t.params]
        return F32 if len(text) == 1 else f"vec{len(text)}<f32>"
    if t.rule == "fixed":
        return t.output_type
    return fed["a"]  # broadcast and mix: `a` is always fed with the wanted type


def random_graph(rng, n):
    """n well typed nodes, each input fed (or left at its default) by a
    recent earlier node whose output type the input accepts, ending in one
    FinalColor fed by the last colour made; the document lists the nodes in
    a shuffled order, so that it differs from the order of definition."""
    first = rng.choice([k for k, t in SOURCES.items() if t == VEC4])
    made = [("n0", VEC4, NODE_TYPES[first].output)]  # (id, output type, output port)
    nodes, edges = [node("n0", first)], []
    kinds = [k for k, t in NODE_TYPES.items() if t.output]

    def feed(nid, port, wanted, required=False):
        choices = [m for m in made if m[1] in wanted][-3:]  # recent ones: deep graphs
        if choices and (required or rng.random() < 0.8):
            src, t, out = rng.choice(choices)
            edges.append(edge(src, out, nid, port))
            return t
        return None

    for i in range(1, n):
        nid, kind = f"n{i}", rng.choice(kinds)
        t, params, fed = NODE_TYPES[kind], random_params(rng, kind), {}
        if t.rule in ("fixed", "swizzle"):
            for p in t.inputs:
                feed(nid, p.name, p.accepts)
        else:  # `a` of a type made so far, `b` of that type, `t` of that type or f32
            wanted = VEC4 if rng.random() < 0.6 else rng.choice(made)[1]
            fed["a"] = feed(nid, "a", {wanted}, required=True)
            if t.rule == "mix":
                feed(nid, "b", {wanted}, required=True)
                feed(nid, "t", {F32})
            elif not feed(nid, "b", {wanted}):
                feed(nid, "b", {F32})
        nodes.append(node(nid, kind, **params))
        made.append((nid, output_type(kind, params, fed), t.output))
    src, _, out = [m for m in made if m[1] == VEC4][-1]
    nodes.append(node("final", "FinalColor"))
    edges.append(edge(src, out, "final", "color"))
    rng.shuffle(nodes)
    return {"nodes": nodes, "edges": edges}


def one_node_graph(kind):
    """A graph of one node of type `kind`, every parameter set and every
    input fed by a source of a type it accepts, after three sources."""
    sources = [node("u", "UV"), node("c", "PixelColor"), node("v", "PixelChannel", channel="g")]
    typed = {"c": VEC4, "u": "vec2<f32>", "v": F32}
    t = NODE_TYPES[kind]
    params = {p.name: "a" if p.kind == "text" else p.default + 0.5 for p in t.params}
    edges = []
    for p in t.inputs:
        src = next(s for s in sources if typed[s["id"]] in p.accepts)
        edges.append(edge(src["id"], NODE_TYPES[src["type"]].output, "n", p.name))
    return {"nodes": sources + [node("n", kind, **params)], "edges": edges}


def mutate(rng, doc):
    """Breaks a graph of random_graph in one way; returns the text that some
    problem of check_node_graph must hold."""
    nodes, edges = doc["nodes"], doc["edges"]
    with_output = [m for m in nodes if NODE_TYPES[m["type"]].output]
    what = rng.randrange(13)
    if what == 0:  # a port name no node has
        k = rng.randrange(len(edges))
        edges[k][rng.choice(["from_port", "to_port"])] += rng.choice(["x", "_", "s"])
        return f"edge {k} "
    if what == 1:
        m = rng.choice(nodes)
        m["type"] = rng.choice([m["type"].lower(), "Blur", ""])
        return repr(m["id"])
    if what == 2:  # an id whose variable is no WGSL identifier
        m = rng.choice(with_output)
        old, m["id"] = m["id"], rng.choice(["a;}\nfn x(){", "1n", "_", "__n", "n n"])
        for e in edges:
            for end in ("from_node", "to_node"):
                e[end] = m["id"] if e[end] == old else e[end]
        return repr(m["id"])
    if what == 3:
        m = rng.choice(nodes)
        names = [p.name for p in NODE_TYPES[m["type"]].params] + ["factor"]
        m["params"][rng.choice(names)] = rng.choice(
            ["q", None, True, [1], {"a": 1}, 1e39, -4e38, "0.5"]
        )
        return repr(m["id"])
    if what == 4:
        m, other = rng.sample(nodes, 2)
        m["id"] = other["id"]
        return repr(other["id"])
    if what == 5:
        m = rng.choice(nodes)
        out = NODE_TYPES[m["type"]].output or "out"
        edges.append(edge(m["id"], out, rng.choice(["ghost", m["id"] + "x"]), "a"))
        return f"edge {len(edges) - 1} "
    if what == 6:
        channel = rng.choice(["rx", "", "rgbar", "R", "r;}", "q"])
        nodes.append(node("c", "PixelChannel", channel=channel))
        return "'c'"
    if what == 7:  # a variable named like the shader's own, with a later line using it
        node_id, kind, later = rng.choice(
            [("t", "PixelColor", "PixelColor"), ("s", "SampleTexture", "PixelChannel"),
             ("warp", "UV", "GravityWarp"), ("out", "PixelColor", None),
             ("p", "GravityWarp", None)]
        )  # fmt: skip
        nodes.insert(0, node(node_id, kind))
        if later:
            nodes.append(node("late", later))
        if node_id == "p":
            nodes.append(node("p_out", "UV"))
        return repr(node_id)
    if what == 8:
        nodes.append(node("k", "Clamp", min=0.75, max=0.25))
        return "'k'"
    if what == 9:
        e = rng.choice(edges)
        edges.append(edge(e["to_node"], "out", e["from_node"], "a"))
        return "cycle"
    if what == 10:
        doc["nodes"] = [m for m in nodes if m["type"] != "FinalColor"]
        doc["edges"] = [e for e in edges if e["to_node"] in {m["id"] for m in doc["nodes"]}]
        return "FinalColor"
    if what == 11:  # a second edge, from another source, into a fed input
        e = rng.choice(edges)
        nodes.append(node("extra", "UV"))
        edges.append(edge("extra", "uv", e["to_node"], e["to_port"]))
        return f"edge {len(edges) - 1} "
    # An input fed with a type it does not take: an input of a fixed-typed
    # node (FinalColor's always is one) from a source of another type.
    wrong = {"wrong2": "UV", "wrong4": "PixelColor"}
    nodes += [node(i, kind) for i, kind in wrong.items()]
    kind_of = {m["id"]: NODE_TYPES[m["type"]] for m in nodes}
    choices = []
    for e in edges:
        t = kind_of[e["to_node"]]
        if t.rule == "fixed":
            accepts = next(p.accepts for p in t.inputs if p.name == e["to_port"])
            choices += [(e, s) for s, k in wrong.items() if kind_of[s].output_type not in accepts]
    e, src = rng.choice(choices)
    e["from_node"], e["from_port"] = src, kind_of[src].output
    return repr(e["to_node"])


# Numbers at the edges of float32: FLT_MAX, the last double that rounds to
# it, the first that rounds to infinity, integers beyond 64 bits, and a pair
# that differs only below float32's precision.
EDGE_NUMBERS = [3.4028234663852886e38, 3.4028235677973362e38, 3.4028235677973366e38,
                2**64, -(2**63) - 1, 1e-50, 1.00000001, 1]  # fmt: skip
# Values of the wrong kind, as a message must show them.
ODD_VALUES = [None, True, [], {}, [1, [2.5, {"k": "v"}]], {"a": 1, "b": [None, False]},
              [1e-5, 1e16, 123.0, -0.0, 1e400, 0.0001], ["é\n\"\\\x7f😀", "x" * 90],
              [0] * 40, "0.5", "", "x" * 200, -0.0, 1e22, 2**70]  # fmt: skip
ODD_IDS = ["é", "naïve", "x·y", "١", "_é", "__é", "a\u200bb", "ｆｕｌｌ", "😀", "x" * 100,
           "q'uote", 'd"q', "tab\t", "t", "s", "warp", "out"]  # fmt: skip


def hostile(rng, doc):
    """`doc` with some of its values made odd (numbers at float32's edges,
    values of other kinds, ids beyond ASCII, keys no node type reads, long
    texts), as JSON text; sometimes in the array form, sometimes with a
    parameter key given twice."""
    for m in doc["nodes"]:
        params = m["params"]
        for key in list(params):
            if rng.random() < 0.15:
                params[key] = rng.choice(EDGE_NUMBERS) * rng.choice([1, -1])
            elif rng.random() < 0.1:
                params[key] = rng.choice(ODD_VALUES)
        if rng.random() < 0.05:
            params[rng.choice(["mín", "radius", "max", "x" * 100, "channel"])] = 1
        if rng.random() < 0.05:
            old, m["id"] = m["id"], rng.choice(ODD_IDS)
            for e in doc["edges"]:
                for end in ("from_node", "to_node"):
                    e[end] = m["id"] if e[end] == old else e[end]
    if rng.random() < 0.3:
        doc = [[[m["id"], m["type"], m["params"]] for m in doc["nodes"]],
               [list(e.values()) for e in doc["edges"]]]  # fmt: skip
    text = json.dumps(doc, ensure_ascii=rng.random() < 0.5)
    if rng.random() < 0.2:  # a key given twice: the first place, the last value
        text = text.replace('"params": {', '"params": {"max": "q", "zz": 1, ', 1)
        text = text.replace('"params": {}', '"params": {"zz": 2, "min": 3, "zz": 4}', 1)
    return text
