"""`check_node_graph`: the faults of a node-graph document that
`compile_node_graph` passes through to the WGSL it emits."""

from __future__ import annotations

import difflib
import json
import math
from dataclasses import dataclass
from typing import Any

from .nodes import F32, NODE_TYPES, VEC2, VEC4, NodeType, number_value

__all__ = ["check_node_graph"]

_CYCLE = "Node graph contains a cycle"
_UNKNOWN_TYPE = "Unknown node type: "
# Names the emitted shader declares itself; a node variable must not take them.
_SHADER_NAMES = {
    "out_color": "declared twice, it does not compile",
    "t_color": "every texture sample after it fails to compile",
    "s_color": "every texture sample after it fails to compile",
    "warp_uv": "every GravityWarp after it fails to compile",
}
_SWIZZLE_SETS = ("rgba", "xyzw")
# The WGSL type of each default input text; numbers are abstract until used.
_ABSTRACT = "a number"
_DEFAULT_TYPES = {"in.uv": VEC2, "vec4<f32>(0.0, 0.0, 0.0, 1.0)": VEC4}


@dataclass
class _Node:
    index: int
    id: str
    type: str
    params: dict[str, Any]

    @property
    def kind(self) -> NodeType | None:
        return NODE_TYPES.get(self.type)

    def __str__(self) -> str:
        return f"node {self.id!r} ({self.type})"


@dataclass
class _Edge:
    index: int
    from_node: str
    from_port: str
    to_node: str
    to_port: str

    def __str__(self) -> str:
        return (
            f"edge {self.index} ({self.from_node!r}.{self.from_port} -> "
            f"{self.to_node!r}.{self.to_port})"
        )


def check_node_graph(document: str) -> list[str]:
    """The problems of a node-graph document, as messages naming the node or
    edge at fault.

    The document is first given to `compile_node_graph`: a decoding fault
    or a cycle is returned as one problem with the compiler's message, so
    every document the compiler refuses is reported and every document it
    accepts is checked further. Then, for each node and edge:

    - unknown node types, input ports and output ports (naming the ports the
      node has), edges naming a node that does not exist, duplicated ids,
      and edges into an input that an earlier edge already feeds;
    - ids and `PixelChannel` channels that would not form WGSL identifiers
      or swizzles, or whose variables would collide with each other or with
      the shader's own names (`out_color`, `t_color`, `s_color`, `warp_uv`);
    - unknown parameters, parameters of the wrong kind, numbers that are not
      finite as 32-bit floats, and a `Clamp` whose `min` is above its `max`;
    - inputs whose WGSL types do not fit the node (each output's type is
      inferred: `vec2<f32>` from UV and GravityWarp, `vec4<f32>` from a
      texture sample, `f32` or `vecN<f32>` from a channel, and WGSL's rules
      for `mix`, `+`, `*` and `clamp`);
    - a graph without `FinalColor`, whose picture stays black.

    An empty list means the emitted WGSL compiles. Some problems (an unknown
    input port or parameter, no `FinalColor`) still compile but give a
    silently wrong picture. A graph from an untrusted source should pass this
    check before its WGSL reaches a GPU: ids and channel texts are pasted
    into the shader verbatim.

    Args:
        document: the JSON text given to `compile_node_graph`.

    Returns:
        The problems found, in a stable order; empty when there are none.

    Raises:
        TypeError: `document` is not a `str`.
    """
    if not isinstance(document, str):
        raise TypeError(f"document must be a str, not {type(document).__name__}")
    from _core import compile_node_graph

    compiler_message = ""
    try:
        compile_node_graph(document)
    except ValueError as exc:  # UnicodeEncodeError included
        compiler_message = str(exc)
        if compiler_message != _CYCLE and not compiler_message.startswith(_UNKNOWN_TYPE):
            return [compiler_message]
    try:
        nodes, edges = _read(json.loads(document))
    except (ValueError, TypeError, KeyError, IndexError, RecursionError) as exc:
        return [f"the document cannot be read as a node graph: {exc}"]
    return _Checker(nodes, edges).run(compiler_message == _CYCLE)


def _read(doc: Any) -> tuple[list[_Node], list[_Edge]]:
    """Nodes and edges of a document the compiler has decoded, in its object
    or array form."""
    raw_nodes, raw_edges = (doc["nodes"], doc["edges"]) if isinstance(doc, dict) else doc
    nodes = []
    for i, n in enumerate(raw_nodes):
        if isinstance(n, dict):
            nodes.append(_Node(i, n["id"], n["type"], n.get("params", {})))
        else:
            nodes.append(_Node(i, n[0], n[1], n[2] if len(n) > 2 else {}))
    edges = []
    for i, e in enumerate(raw_edges):
        fields = (
            [e[k] for k in ("from_node", "from_port", "to_node", "to_port")]
            if isinstance(e, dict)
            else list(e)
        )
        edges.append(_Edge(i, *fields))
    return nodes, edges


def _number_or(value: Any, default: float) -> float:
    number = number_value(value)
    return default if number is None else number


def _hint(word: str, choices: list[str]) -> str:
    close = difflib.get_close_matches(word, choices, n=1)
    return f" (did you mean {close[0]!r}?)" if close else ""


def _names(words: list[str]) -> str:
    return ", ".join(words) if words else "none"


class _Checker:
    def __init__(self, nodes: list[_Node], edges: list[_Edge]) -> None:
        self.nodes, self.edges = nodes, edges
        self.by_id: dict[str, _Node] = {}
        for n in nodes:
            self.by_id.setdefault(n.id, n)
        self.problems: list[str] = []
        # The edge that feeds each (node, input port): the first one.
        self.feeds: dict[tuple[str, str], _Edge] = {}
        self.types: dict[str, str | None] = {}

    def report(self, message: str) -> None:
        self.problems.append(message)

    def run(self, cycle: bool) -> list[str]:
        self.check_ids()
        for node in self.nodes:
            self.check_node(node)
        for edge in self.edges:
            self.check_edge(edge)
        order, stuck = self.ordered()
        if cycle or stuck:  # the compiler's count can miss a cycle among duplicated ids
            self.report_cycle(stuck)
        else:
            # Every input's source comes earlier in this order.
            for node_id in order:
                self.types[node_id] = self.infer(self.by_id[node_id])
        if not any(n.type == "FinalColor" for n in self.nodes):
            self.report("no FinalColor node: the shader's colour stays (0, 0, 0, 1)")
        return self.problems

    # ---- ids and variables -------------------------------------------------------------

    def check_ids(self) -> None:
        positions: dict[str, list[int]] = {}
        for n in self.nodes:
            positions.setdefault(n.id, []).append(n.index)
        for node_id, where in positions.items():
            if len(where) > 1:
                self.report(
                    f"node id {node_id!r} is used by the nodes at positions "
                    f"{', '.join(map(str, where))}; ids must be unique"
                )
        variables: dict[str, _Node] = {}
        for n in self.nodes:
            kind = n.kind
            if kind is None or kind.output is None or positions[n.id][0] != n.index:
                continue
            var = f"{n.id}_{kind.output}"
            if not var.isidentifier() or var.startswith("__"):
                self.report(
                    f"{n}: its variable {var!r} is not a WGSL identifier; use letters, "
                    "digits and underscores, not a digit first nor two underscores"
                )
            elif var in _SHADER_NAMES:
                self.report(
                    f"{n}: its variable {var!r} takes the name of the shader's own {var!r} "
                    f"({_SHADER_NAMES[var]}); rename the node"
                )
            elif var in variables:
                self.report(f"{n} and {variables[var]} both define the WGSL variable {var!r}")
            variables.setdefault(var, n)

    # ---- node types and parameters -------------------------------------------------------

    def check_node(self, node: _Node) -> None:
        kind = node.kind
        if kind is None:
            hint = _hint(node.type, list(NODE_TYPES))
            self.report(
                f"{node}: unknown node type {node.type!r}{hint}; "
                f"known types: {', '.join(NODE_TYPES)}"
            )
            return
        known = {p.name: p for p in kind.params}
        for key, value in node.params.items():
            param = known.get(key)
            if param is None:
                takes = f"parameters: {', '.join(known)}" if known else "no parameters"
                self.report(
                    f"{node}: unknown parameter {key!r}{_hint(key, list(known))}; "
                    f"{kind.name} takes {takes}"
                )
            elif param.kind == "text" and not isinstance(value, str):
                self.report(f"{node}: parameter {key!r} must be text, not {json.dumps(value)}")
            elif param.kind == "number":
                number = number_value(value)
                if number is None:
                    self.report(
                        f"{node}: parameter {key!r} must be a number, not {json.dumps(value)}"
                    )
                elif math.isinf(number):
                    self.report(
                        f"{node}: parameter {key!r} = {value!r} is not finite as a 32-bit float"
                    )
        if kind.name == "PixelChannel":
            channel = node.params.get("channel", "r")
            if isinstance(channel, str) and not (
                1 <= len(channel) <= 4 and any(set(channel) <= set(s) for s in _SWIZZLE_SETS)
            ):
                self.report(
                    f"{node}: channel {channel!r} is not a swizzle: 1 to 4 letters, "
                    "all from rgba or all from xyzw"
                )
        if kind.name == "Clamp":
            low, high = (_number_or(node.params.get(k), d) for k, d in (("min", 0.0), ("max", 1.0)))
            if low > high and not math.isinf(low - high):
                self.report(f"{node}: min {low!r} is above max {high!r}")

    # ---- edges ---------------------------------------------------------------------------

    def check_edge(self, edge: _Edge) -> None:
        source, target = self.by_id.get(edge.from_node), self.by_id.get(edge.to_node)
        for end, name in ((source, edge.from_node), (target, edge.to_node)):
            if end is None:
                self.report(f"{edge}: no node has the id {name!r}")
        if source is not None and source.kind is not None:
            output = source.kind.output
            if output is None:
                self.report(f"{edge}: {source} has no output")
            elif edge.from_port != output:
                self.report(
                    f"{edge}: {source} has no output port {edge.from_port!r}; "
                    f"its output is {output!r}"
                )
        if target is not None and target.kind is not None:
            ports = [p.name for p in target.kind.inputs]
            if edge.to_port not in ports:
                self.report(
                    f"{edge}: {target} has no input port {edge.to_port!r}"
                    f"{_hint(edge.to_port, ports)}; its inputs: {_names(ports)}"
                )
            elif (edge.to_node, edge.to_port) in self.feeds:
                first = self.feeds[(edge.to_node, edge.to_port)]
                self.report(
                    f"{edge}: input {edge.to_port!r} of {target} is already fed by "
                    f"edge {first.index}; this edge is ignored"
                )
            else:
                self.feeds[(edge.to_node, edge.to_port)] = edge

    def ordered(self) -> tuple[list[str], list[str]]:
        """The ids in an order where every edge between two nodes runs
        forward, and the ids that wait on each other in a cycle."""
        waiting = {n.id: 0 for n in self.nodes}
        after: dict[str, list[str]] = {}
        for e in self.edges:
            if e.from_node in waiting and e.to_node in waiting:
                waiting[e.to_node] += 1
                after.setdefault(e.from_node, []).append(e.to_node)
        order = [i for i, count in waiting.items() if count == 0]
        for done in order:  # grows as it goes
            for later in after.get(done, []):
                waiting[later] -= 1
                if waiting[later] == 0:
                    order.append(later)
        return order, [i for i, count in waiting.items() if count > 0]

    def report_cycle(self, stuck: list[str]) -> None:
        """The compiler's cycle message, with the nodes that wait on each
        other, or else a pointer to the faults that make it count wrong."""
        if stuck:
            more = f" and {len(stuck) - 8} more" if len(stuck) > 8 else ""
            self.report(
                f"{_CYCLE}: the nodes {', '.join(map(repr, stuck[:8]))}{more} wait on each other"
            )
        else:
            self.report(
                f"{_CYCLE}, as compile_node_graph counts the duplicated ids and edges to "
                "missing nodes reported above"
            )

    # ---- WGSL types --------------------------------------------------------------------

    def input(self, node: _Node, port: str) -> tuple[str | None, str]:
        """The type reaching an input and where it comes from, in words."""
        edge = self.feeds.get((node.id, port))
        if edge is None:
            kind = NODE_TYPES[node.type]
            default = next(p.default for p in kind.inputs if p.name == port)
            return _DEFAULT_TYPES.get(default, _ABSTRACT), f"its default {default}"
        source = self.by_id.get(edge.from_node)
        if source is None or source.kind is None or edge.from_port != source.kind.output:
            return None, ""
        return self.types.get(source.id), f"{source.id!r}"

    def infer(self, node: _Node) -> str | None:
        kind = node.kind
        if kind is None or kind.output is None and not kind.inputs:
            return None
        got = {p.name: self.input(node, p.name) for p in kind.inputs}
        types = {port: t for port, (t, _) in got.items() if t is not None}
        if len(types) < len(got):
            return None
        name = kind.name
        if name == "PixelChannel":
            channel = node.params.get("channel", "r")
            channel = channel if isinstance(channel, str) else "r"
            return {1: F32, 2: VEC2, 3: "vec3<f32>", 4: VEC4}.get(len(channel))
        if name in ("UV", "PixelColor"):
            return kind.output_type
        result = _combine(name, types)
        if result is None:
            inputs = "; ".join(f"{port} is {t} from {where}" for port, (t, where) in got.items())
            self.report(f"{node}: its inputs do not fit ({inputs}); {name} takes {_WANTS[name]}")
        return result


_SCALARS = (_ABSTRACT, F32)

_WANTS = {
    "SampleTexture": "a vec2<f32> uv",
    "GravityWarp": "a vec2<f32> uv",
    "FinalColor": "a vec4<f32> color",
    "Clamp": "an f32 val (the bounds are f32)",
    "Add": "a and b of one type, or f32 with a vector",
    "Multiply": "a and b of one type, or f32 with a vector",
    "Lerp": (
        "a and b of one type, with t of that type or f32, and at least one input connected "
        "(the WGSL compiler cannot type mix of three numbers)"
    ),
}


def _combine(name: str, t: dict[str, str]) -> str | None:
    """The output type of a node with inputs of types `t`, by WGSL's rules
    for its expression, or None when they do not fit."""
    if name in ("SampleTexture", "GravityWarp"):
        if t["uv"] != VEC2:
            return None
        return VEC4 if name == "SampleTexture" else VEC2
    if name == "FinalColor":
        return VEC4 if t["color"] == VEC4 else None
    if name == "Clamp":
        return F32 if t["val"] in _SCALARS else None
    a, b = t["a"], t["b"]
    if name in ("Add", "Multiply"):
        if a in _SCALARS:
            return F32 if b in _SCALARS else b
        return a if b in _SCALARS or b == a else None
    # Lerp: mix(T, T, T) or mix(vecN, vecN, f32).
    if a in _SCALARS and b in _SCALARS:
        return F32 if t["t"] in _SCALARS and (a, b, t["t"]) != (_ABSTRACT,) * 3 else None
    return a if a == b and t["t"] in (*_SCALARS, a) else None
