"""A plain-Python node-graph compiler, written from the rules."""

import math

from .floats import f32

PRELUDE = """struct VertexOutput {
    @builtin(position) pos: vec4<f32>,
    @location(0) uv: vec2<f32>,
}

@group(0) @binding(0) var t_color: texture_2d<f32>;
@group(0) @binding(1) var s_color: sampler;

fn warp_uv(uv: vec2<f32>, strength: f32, radius: f32) -> vec2<f32> {
    let center = vec2<f32>(0.5, 0.5);
    let delta = uv - center;
    let dist = length(delta);
    let warp = strength * exp(-dist / max(radius, 0.001));
    return uv + normalize(delta) * warp * dist;
}

@fragment
fn fs_main(in: VertexOutput) -> @location(0) vec4<f32> {
    var out_color = vec4<f32>(0.0, 0.0, 0.0, 1.0);
"""
CLOSING = "    return out_color;\n}\n"


def number_text(value, default):
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        try:
            x = f32(float(value))
        except OverflowError:
            x = math.copysign(math.inf, value)
    else:
        x = default
    return "inf" if x == math.inf else "-inf" if x == -math.inf else f"{x:.6f}"


# type: (output suffix, [(port, default)], template over (var, inputs, params))
NODE_TYPES = {
    "UV": ("uv", [], lambda v, i, p: f"let {v} = in.uv;"),
    "SampleTexture": (
        "color",
        [("uv", "in.uv")],
        lambda v, i, p: f"let {v} = textureSample(t_color, s_color, {i[0]});",
    ),
    "PixelColor": (
        "color",
        [],
        lambda v, i, p: f"let {v} = textureSample(t_color, s_color, in.uv);",
    ),
    "PixelChannel": (
        "val",
        [],
        lambda v, i, p: "let {} = textureSample(t_color, s_color, in.uv).{};".format(
            v, p["channel"] if isinstance(p.get("channel"), str) else "r"
        ),
    ),
    "Lerp": (
        "out",
        [("a", "0.0"), ("b", "1.0"), ("t", "0.5")],
        lambda v, i, p: f"let {v} = mix({i[0]}, {i[1]}, {i[2]});",
    ),
    "Add": ("out", [("a", "0.0"), ("b", "0.0")], lambda v, i, p: f"let {v} = {i[0]} + {i[1]};"),
    "Multiply": (
        "out",
        [("a", "1.0"), ("b", "1.0")],
        lambda v, i, p: f"let {v} = {i[0]} * {i[1]};",
    ),
    "Clamp": (
        "out",
        [("val", "0.0")],
        lambda v, i, p: "let {} = clamp({}, {}f, {}f);".format(
            v, i[0], number_text(p.get("min"), 0.0), number_text(p.get("max"), 1.0)
        ),
    ),
    "GravityWarp": (
        "out_uv",
        [("uv", "in.uv")],
        lambda v, i, p: "let {} = warp_uv({}, {}f, {}f);".format(
            v, i[0], number_text(p.get("strength"), 1.0), number_text(p.get("radius"), f32(0.1))
        ),
    ),
    "Discard": (None, [], lambda v, i, p: "discard;"),
    "FinalColor": (
        None,
        [("color", "vec4<f32>(0.0, 0.0, 0.0, 1.0)")],
        lambda v, i, p: f"out_color = {i[0]};",
    ),
}


class Compiled(Exception):
    pass


def reference_compile(nodes, edges):
    """nodes: [(id, type, params dict)], edges: [(from_node, from_port, to_node, to_port)]."""
    in_degree, successors = {}, {}
    for node_id, _, _ in nodes:
        in_degree[node_id] = 0
        successors.setdefault(node_id, [])
    for src, _, dst, _ in edges:
        in_degree[dst] = in_degree.get(dst, 0) + 1
        successors.setdefault(src, []).append(dst)
    position = {node_id: i for i, (node_id, _, _) in enumerate(nodes)}
    pos = lambda i: position.get(i, math.inf)  # noqa: E731
    queue = sorted((i for i, d in in_degree.items() if d == 0), key=pos)
    order = []
    while queue:
        current = queue.pop(0)
        order.append(current)
        for s in sorted(successors.get(current, []), key=pos):
            in_degree[s] -= 1
            if in_degree[s] == 0:
                queue.append(s)
    if len(order) != len(nodes):
        raise Compiled("Node graph contains a cycle")
    by_id = {node_id: (t, params) for node_id, t, params in nodes}
    lines = []
    for node_id in order:
        if node_id not in by_id:
            continue
        node_type, params = by_id[node_id]
        if node_type not in NODE_TYPES:
            raise Compiled(f"Unknown node type: {node_type}")
        suffix, ports, template = NODE_TYPES[node_type]
        inputs = []
        for port, default in ports:
            found = next((e for e in edges if e[2] == node_id and e[3] == port), None)
            inputs.append(default if found is None else f"{found[0]}_{found[1]}")
        lines.append("    " + template(f"{node_id}_{suffix}", inputs, params) + "\n")
    return PRELUDE + "".join(lines) + CLOSING
