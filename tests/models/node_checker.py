"""The node-graph checker's model: every rule looked for item by item, on
the records Python's json module reads, worded as gfxcore.check_node_graph
words them. The native pass is held against it."""

from __future__ import annotations

import difflib
import gc
import json
import math
import re
from typing import Any

from gfxcore.nodes import F32, NODE_TYPES, VEC2, VEC3, VEC4, NodeType, number_value

from _core import compile_node_graph

_CYCLE = "Node graph contains a cycle"
_UNKNOWN_TYPE = "Unknown node type: "
# The longest piece of a document's own text a message quotes.
_QUOTE = 80
# Names the emitted shader declares itself. A node variable named like the
# function's own `out_color` declares it twice; one named like a module-scope
# name hides it from the lines after it, which breaks only those lines that
# use the name (found in the catalogue's line templates).
_FUNCTION_NAMES = {"out_color": "declared twice, it does not compile"}
_MODULE_NAMES = ("t_color", "s_color", "warp_uv")
_USERS = {
    name: frozenset(t.name for t in NODE_TYPES.values() if re.search(rf"\b{name}\b", t.line))
    for name in _MODULE_NAMES
}
_SWIZZLE_SETS = (frozenset("rgba"), frozenset("xyzw"))
_VECTOR_OF_LENGTH = {1: F32, 2: VEC2, 3: VEC3, 4: VEC4}
# An input left at a number default is abstract until WGSL's rules give it a type.
_ABSTRACT = "a number"
_SCALARS = (_ABSTRACT, F32)


def _default_type(port) -> str:
    try:
        float(port.default)
    except ValueError:  # a constructor or `in.uv`: of the one type the port accepts
        (only,) = port.accepts
        return only
    return _ABSTRACT


class _Kind:
    """A node type with what the checker looks up per node at hand."""

    def __init__(self, t: NodeType) -> None:
        self.type = t
        self.name, self.output, self.rule = t.name, t.output, t.rule
        self.inputs = [
            (p.name, p.default, _default_type(p), frozenset(p.accepts) | _accepts_abstract(p))
            for p in t.inputs
        ]
        self.ports = [p.name for p in t.inputs]
        self.params = {p.name: p for p in t.params}
        self.min_max = "min" in self.params and "max" in self.params
        if t.rule == "fixed" and t.inputs:
            self.wants = " and ".join(
                f"{p.name} of type {' or '.join(p.accepts)}" for p in t.inputs
            )
        else:
            self.wants = t.typing


def _accepts_abstract(port) -> frozenset[str]:
    return frozenset((_ABSTRACT,)) if F32 in port.accepts else frozenset()


_KINDS = {name: _Kind(t) for name, t in NODE_TYPES.items()}


class _LongInt(float):
    """An integer too long for Python's int-from-text limit, which the
    compiler reads as a number of its sign beyond any float."""

    text: str

    def __repr__(self) -> str:
        return self.text


def _parse_int(text: str) -> int | float:
    if len(text) < 4000:
        return int(text)
    value = _LongInt(-math.inf if text.startswith("-") else math.inf)
    value.text = text
    return value


def check(document: str) -> list[str]:
    """The problems of `document`, looked for node by node and edge by edge."""

    wgsl, cycle = None, False
    try:
        wgsl = compile_node_graph(document)
    except ValueError as exc:  # UnicodeEncodeError included
        message = str(exc)
        cycle = message == _CYCLE
        if not cycle and not message.startswith(_UNKNOWN_TYPE):
            return [_clip_message(message)]
    # The compiler decoded it, so every record has its shape and every field
    # its kind; only integers too long for int() need a hand.
    # The records are fresh and acyclic: the cycle collector, which would walk
    # them again and again as they are made, is held off until they are read.
    collecting = gc.isenabled()
    gc.disable()
    try:
        return _Checker(json.loads(document, parse_int=_parse_int), wgsl).run(cycle)
    finally:
        if collecting:
            gc.enable()


def _clip(text: str) -> str:
    return text if len(text) <= _QUOTE else text[:_QUOTE] + "..."


def _quote(text: str) -> str:
    """`text` as a Python literal, cut to its first 80 characters."""
    return repr(text) if len(text) <= _QUOTE else repr(text[:_QUOTE]) + "..."


def _show(value: Any) -> str:
    """A JSON value for a message, cut to about 80 characters."""
    if isinstance(value, str):
        return _quote(value)
    if isinstance(value, _LongInt):
        return _clip(value.text)
    try:
        return _clip(json.dumps(value))
    except ValueError:  # nested too deeply to write out again
        return f"a {type(value).__name__}"


def _clip_message(message: str) -> str:
    """The compiler's message with the document's string it quotes cut short."""
    start = message.find('string "')
    end = message.rfind('", expected')
    if start < 0 or end - start - 8 <= _QUOTE:
        return message
    return message[: start + 8 + _QUOTE] + "..." + message[end:]


def _hint(word: str, choices: list[str]) -> str:
    if len(word) > _QUOTE:  # nothing that long is close to a name, and difflib is quadratic
        return ""
    close = difflib.get_close_matches(word, choices, n=1)
    return f" (did you mean {close[0]!r}?)" if close else ""


def _names(words: list[str]) -> str:
    return ", ".join(words) if words else "none"


def _combine(kind: _Kind, t: dict[str, str]) -> str | None:
    """The output type of a node whose inputs have the types `t`, by WGSL's
    rules for its expression ("" for a node that defines no value), or None
    when they do not fit."""
    rule = kind.rule
    if rule == "fixed":
        for name, _, _, accepts in kind.inputs:
            if t[name] not in accepts:
                return None
        return kind.type.output_type or ""
    a, b = t["a"], t["b"]
    if rule == "broadcast":
        if a in _SCALARS:
            return F32 if b in _SCALARS else b
        return a if b in _SCALARS or b == a else None
    # mix: mix(T, T, T) or mix(vecN, vecN, f32).
    if a in _SCALARS and b in _SCALARS:
        return F32 if t["t"] in _SCALARS and (a, b, t["t"]) != (_ABSTRACT,) * 3 else None
    return a if a == b and t["t"] in (*_SCALARS, a) else None


class _Checker:
    def __init__(self, doc: Any, wgsl: str | None) -> None:
        raw_nodes, raw_edges = (doc["nodes"], doc["edges"]) if isinstance(doc, dict) else doc
        self.ids: list[str] = []
        self.types: list[str] = []
        self.params: list[dict[str, Any]] = []
        for n in raw_nodes:
            if isinstance(n, dict):
                self.ids.append(n["id"])
                self.types.append(n["type"])
                self.params.append(n.get("params", {}))
            else:
                self.ids.append(n[0])
                self.types.append(n[1])
                self.params.append(n[2] if len(n) > 2 else {})
        self.edges = [
            (e["from_node"], e["from_port"], e["to_node"], e["to_port"])
            if isinstance(e, dict)
            else tuple(e)
            for e in raw_edges
        ]
        self.wgsl = wgsl
        self.kinds = [_KINDS.get(t) for t in self.types]
        # The node an id stands for is the last one with it, as in the compiler.
        self.by_id = {node_id: i for i, node_id in enumerate(self.ids)}
        self.problems: list[str] = []
        # The edge that feeds each (node, input port): the first one.
        self.feeds: dict[tuple[str, str], int] = {}
        self.out_types: dict[str, str | None] = {}

    def report(self, message: str) -> None:
        self.problems.append(message)

    def node(self, i: int) -> str:
        return f"node {_quote(self.ids[i])} ({_clip(self.types[i])})"

    def edge(self, k: int) -> str:
        src, out, dst, port = self.edges[k]
        return f"edge {k} ({_quote(src)}.{_clip(out)} -> {_quote(dst)}.{_clip(port)})"

    def run(self, cycle: bool) -> list[str]:
        self.check_ids()
        for i, kind in enumerate(self.kinds):
            if kind is None:
                self.report_unknown_type(i)
            elif self.params[i] or kind.params:
                self.check_params(i, kind)
        for k in range(len(self.edges)):
            self.check_edge(k)
        order, stuck = self.ordered()
        if cycle or stuck:  # the compiler's count can miss a cycle among duplicated ids
            self.report_cycle(stuck)
        else:
            # Every input's source comes earlier in this order.
            out_types = self.out_types
            for i in order:
                out_types[self.ids[i]] = self.infer(i)
        if "FinalColor" not in self.types:
            self.report("no FinalColor node: the shader's colour stays (0, 0, 0, 1)")
        return self.problems

    # ---- ids and variables -------------------------------------------------------------

    def check_ids(self) -> None:
        ids, by_id = self.ids, self.by_id
        if len(by_id) < len(ids):
            positions: dict[str, list[int]] = {}
            for i, node_id in enumerate(ids):
                positions.setdefault(node_id, []).append(i)
            for node_id, where in positions.items():
                if len(where) > 1:
                    self.report(
                        f"node id {_quote(node_id)} is used by the nodes at positions "
                        f"{', '.join(map(str, where))}; ids must be unique"
                    )
        variables: dict[str, int] = {}
        hidden = []
        kinds = self.kinds
        for node_id, i in by_id.items():  # the nodes the compiler emits
            kind = kinds[i]
            if kind is None or kind.output is None:
                continue
            var = f"{node_id}_{kind.output}"
            if not var.isidentifier() or var.startswith("__"):
                self.report(
                    f"{self.node(i)}: its variable {_quote(var)} is not a WGSL identifier; use "
                    "letters, digits and underscores, not a digit first nor two underscores"
                )
            elif var in _FUNCTION_NAMES:
                self.report(
                    f"{self.node(i)}: its variable {var!r} takes the name of the shader's own "
                    f"{var!r} ({_FUNCTION_NAMES[var]}); rename the node"
                )
            elif var in _USERS:
                hidden.append((var, i))
            if var in variables:
                first = variables[var]
                self.report(
                    f"{self.node(first)} and {self.node(i)} both define the WGSL variable {_quote(var)}"
                )
            else:
                variables[var] = i
        for var, i in hidden:
            user = self.later_user(var, i, variables)
            if user is not None:
                self.report(
                    f"{self.node(i)}: its variable {var!r} hides the shader's own {var!r} from "
                    f"{user}, which comes after it and fails to compile; rename the node"
                )

    def later_user(self, name: str, i: int, variables: dict[str, int]) -> str | None:
        """A node emitted after node `i` whose line uses the shader's `name`,
        in words, or None. Without the compiled text (the graph has other
        faults) any other such node counts."""
        users = _USERS[name]
        if self.wgsl is None:
            later = [j for j in self.by_id.values() if j != i and self.types[j] in users]
        else:
            later = []
            seen = False
            for line in self.wgsl.split("\n"):
                if not line.startswith("    let "):
                    continue
                var = line[8 : line.find(" = ")]
                if var == name:
                    seen = True
                elif seen:
                    j = variables.get(var)
                    if j is not None and self.types[j] in users:
                        later.append(j)
                        break
        return self.node(later[0]) if later else None

    # ---- node types and parameters -------------------------------------------------------

    def report_unknown_type(self, i: int) -> None:
        name = self.types[i]
        self.report(
            f"{self.node(i)}: unknown node type {_quote(name)}{_hint(name, list(NODE_TYPES))}; "
            f"known types: {', '.join(NODE_TYPES)}"
        )

    def check_params(self, i: int, kind: _Kind) -> None:
        params, known = self.params[i], kind.params
        for key, value in params.items():
            param = known.get(key)
            if param is None:
                takes = f"parameters: {', '.join(known)}" if known else "no parameters"
                self.report(
                    f"{self.node(i)}: unknown parameter {_quote(key)}{_hint(key, list(known))}; "
                    f"{kind.name} takes {takes}"
                )
            elif param.kind == "text":
                if not isinstance(value, str):
                    self.report(
                        f"{self.node(i)}: parameter {key!r} must be text, not {_show(value)}"
                    )
                elif kind.rule == "swizzle" and not (
                    1 <= len(value) <= 4 and any(set(value) <= s for s in _SWIZZLE_SETS)
                ):
                    self.report(
                        f"{self.node(i)}: {key} {_quote(value)} is not a swizzle: 1 to 4 "
                        "letters, all from rgba or all from xyzw"
                    )
            else:
                number = number_value(value)
                if number is None:
                    self.report(
                        f"{self.node(i)}: parameter {key!r} must be a number, not {_show(value)}"
                    )
                elif math.isinf(number):
                    self.report(
                        f"{self.node(i)}: parameter {key!r} = {_show(value)} is not finite as a "
                        "32-bit float"
                    )
        if kind.min_max:
            low, high = (self.number(i, known[k]) for k in ("min", "max"))
            if low > high and not math.isinf(low - high):
                self.report(f"{self.node(i)}: min {low!r} is above max {high!r}")

    def number(self, i: int, param) -> float:
        number = number_value(self.params[i].get(param.name))
        return float(param.default) if number is None else number

    # ---- edges ---------------------------------------------------------------------------

    def check_edge(self, k: int) -> None:
        src, out, dst, port = self.edges[k]
        source, target = self.by_id.get(src), self.by_id.get(dst)
        for end, name in ((source, src), (target, dst)):
            if end is None:
                self.report(f"{self.edge(k)}: no node has the id {_quote(name)}")
        if source is not None and (kind := self.kinds[source]) is not None:
            if kind.output is None:
                self.report(f"{self.edge(k)}: {self.node(source)} has no output")
            elif out != kind.output:
                self.report(
                    f"{self.edge(k)}: {self.node(source)} has no output port {_quote(out)}; "
                    f"its output is {kind.output!r}"
                )
        if target is not None and (kind := self.kinds[target]) is not None:
            ports = kind.ports
            if port not in ports:
                self.report(
                    f"{self.edge(k)}: {self.node(target)} has no input port {_quote(port)}"
                    f"{_hint(port, ports)}; its inputs: {_names(ports)}"
                )
            elif (dst, port) in self.feeds:
                first = self.feeds[(dst, port)]
                if self.edges[first][:2] != (src, out):  # a repeated edge changes nothing
                    self.report(
                        f"{self.edge(k)}: input {port!r} of {self.node(target)} is already fed "
                        f"by edge {first}; this edge is ignored"
                    )
            else:
                self.feeds[(dst, port)] = k

    def ordered(self) -> tuple[list[int], list[int]]:
        """The emitted nodes in an order where every edge between two of them
        runs forward, and the nodes that wait on each other in a cycle."""
        by_id = self.by_id
        waiting = dict.fromkeys(by_id.values(), 0)
        after: dict[int, list[int]] = {}
        for src, _, dst, _ in self.edges:
            i, j = by_id.get(src), by_id.get(dst)
            if i is not None and j is not None:
                waiting[j] += 1
                if i in after:
                    after[i].append(j)
                else:
                    after[i] = [j]
        order = [i for i, count in waiting.items() if count == 0]
        for done in order:  # grows as it goes
            for later in after.get(done, ()):
                waiting[later] -= 1
                if waiting[later] == 0:
                    order.append(later)
        return order, [i for i, count in waiting.items() if count > 0]

    def report_cycle(self, stuck: list[int]) -> None:
        """The compiler's cycle message, with the nodes that wait on each
        other, or else a pointer to the faults that make it count wrong."""
        if stuck:
            more = f" and {len(stuck) - 8} more" if len(stuck) > 8 else ""
            self.report(
                f"{_CYCLE}: the nodes {', '.join(_quote(self.ids[i]) for i in stuck[:8])}{more} "
                "wait on each other"
            )
        else:
            self.report(
                f"{_CYCLE}, as compile_node_graph counts the duplicated ids and edges to "
                "missing nodes reported above"
            )

    # ---- WGSL types --------------------------------------------------------------------

    def infer(self, i: int) -> str | None:
        kind = self.kinds[i]
        if kind is None:
            return None
        if kind.rule == "swizzle":
            channel = self.params[i].get("channel", "r")
            return _VECTOR_OF_LENGTH.get(len(channel) if isinstance(channel, str) else 1)
        if not kind.inputs:
            return kind.type.output_type
        node_id, feeds, edges = self.ids[i], self.feeds, self.edges
        types = {}
        for name, _, default_type, _ in kind.inputs:
            k = feeds.get((node_id, name))
            if k is None:
                types[name] = default_type
                continue
            src, out = edges[k][:2]
            source = self.by_id.get(src)
            if source is None or (s := self.kinds[source]) is None or out != s.output:
                return None
            t = self.out_types.get(src)
            if not t:
                return None
            types[name] = t
        result = _combine(kind, types)
        if result is None:
            self.report(
                f"{self.node(i)}: its inputs do not fit ({self.described(i, kind, types)}); "
                f"{kind.name} takes {kind.wants}"
            )
        return result

    def described(self, i: int, kind: _Kind, types: dict[str, str]) -> str:
        words = []
        for name, default, _, _ in kind.inputs:
            k = self.feeds.get((self.ids[i], name))
            where = f"its default {default}" if k is None else _quote(self.edges[k][0])
            words.append(f"{name} is {types[name]} from {where}")
        return "; ".join(words)
