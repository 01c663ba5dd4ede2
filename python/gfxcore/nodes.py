"""The node types that `compile_node_graph` knows, as plain data.

`NODE_TYPES` maps each type name to a `NodeType`: its input ports with the
WGSL text used when no edge feeds them, its output port (the suffix of the
WGSL variable the node defines), its parameters with their kinds and
defaults, the WGSL type of its output, and the line it emits. It is read
from `node_catalogue.json`, which the build writes from the compiler's own
table; the checker (`gfxcore.check_node_graph`) and the docs both read it,
and a test holds it against what `compile_node_graph` emits.

A line template has one `{name}` placeholder per input port and parameter
and `{out}` for the node's variable, `{id}_{output}`. Number parameters are
written with six decimals (`format_number`) and the template adds the `f`.
"""

from __future__ import annotations

import json
import math
import pathlib
import struct
from dataclasses import dataclass
from typing import Any, Literal, Union

__all__ = [
    "NODE_TYPES",
    "NodeType",
    "Param",
    "Port",
    "emitted_line",
    "format_number",
    "number_value",
    "to_f32",
]

#: WGSL types a node's value can have. Every value is made of 32-bit floats.
F32, VEC2, VEC3, VEC4 = "f32", "vec2<f32>", "vec3<f32>", "vec4<f32>"
SCALAR_OR_VECTOR = (F32, VEC2, VEC3, VEC4)


@dataclass(frozen=True)
class Port:
    """An input port.

    Attributes:
        name: the `to_port` text that feeds it.
        default: the WGSL text used when no edge feeds it.
        accepts: the WGSL types an edge may bring; the node's own rule (see
            `NodeType.typing`) may narrow the combination further.
    """

    name: str
    default: str
    accepts: tuple[str, ...]


@dataclass(frozen=True)
class Param:
    """A parameter, read from the node's `params` object.

    Attributes:
        name: the key in `params`.
        kind: "number" (a JSON number, narrowed to a 32-bit float and written
            with six decimals) or "text" (a JSON string, written verbatim).
        default: the value used when the key is absent or holds another kind.
    """

    name: str
    kind: Literal["number", "text"]
    default: Union[float, str]


@dataclass(frozen=True)
class NodeType:
    """One node type.

    Attributes:
        name: the `type` text, matched exactly and case-sensitively.
        inputs: the input ports, in the order the line reads them.
        output: the output port name (`from_port` of edges leaving the node),
            or None for a node that defines no variable.
        output_type: the WGSL type of the output: fixed, or a rule in words.
        params: the parameters the node reads; any other key is ignored.
        line: the emitted WGSL line (see the module docstring).
        typing: how the input types combine, in words ("" when each port
            stands alone).
        rule: the typing rule the checker applies: "fixed" (each input of a
            type its port accepts, the output of `output_type`), "swizzle"
            (f32 or vecN<f32> by the length of the text parameter),
            "broadcast" (`a` and `b` of one type, or either f32) or "mix"
            (`a` and `b` of one type, `t` of that type or f32).
    """

    name: str
    inputs: tuple[Port, ...]
    output: str | None
    output_type: str | None
    params: tuple[Param, ...]
    line: str
    typing: str = ""
    rule: Literal["fixed", "swizzle", "broadcast", "mix"] = "fixed"


def _node_type(entry: dict[str, Any]) -> NodeType:
    return NodeType(
        name=entry["name"],
        inputs=tuple(Port(p["name"], p["default"], tuple(p["accepts"])) for p in entry["inputs"]),
        output=entry["output"] or None,
        output_type=entry["output_type"] or None,
        params=tuple(Param(p["name"], p["kind"], p["default"]) for p in entry["params"]),
        line=entry["line"],
        typing=entry["typing_text"],
        rule=entry["typing"],
    )


NODE_TYPES: dict[str, NodeType] = {
    t.name: t
    for t in map(
        _node_type,
        json.loads(pathlib.Path(__file__).with_name("node_catalogue.json").read_text("utf-8")),
    )
}


def to_f32(value: float) -> float:
    """`value` rounded to the nearest 32-bit float (ties to even), as a Python
    float; a value beyond the 32-bit range becomes an infinity of its sign."""
    try:
        return float(struct.unpack("<f", struct.pack("<f", value))[0])
    except OverflowError:
        return math.copysign(math.inf, value)


def number_value(value: object) -> float | None:
    """A JSON number parameter as the compiler reads it, as a 32-bit float
    held in a Python float (possibly infinite), or None for anything that is
    not a number (booleans included)."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    try:
        return to_f32(float(value))
    except OverflowError:  # an int beyond the float range
        return math.copysign(math.inf, value)


def format_number(value: float) -> str:
    """A number parameter as the compiler writes it: narrowed to a 32-bit
    float, then fixed-point with six decimals, correctly rounded (so 0.1
    gives "0.100000"); infinities give "inf" and "-inf", which no WGSL
    compiler accepts."""
    v = to_f32(value)
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return f"{v:.6f}"


def emitted_line(
    type_name: str,
    node_id: str,
    inputs: dict[str, str] | None = None,
    params: dict[str, object] | None = None,
) -> str:
    """The line `compile_node_graph` emits for a node.

    Args:
        type_name: a key of `NODE_TYPES`.
        node_id: the node's id.
        inputs: the WGSL text of each connected input port ("{from_node}_{from_port}");
            ports not given take their defaults.
        params: the node's `params` as decoded from JSON; a value of the wrong
            kind gives the default, as in the compiler.

    Returns:
        The line, without its line feed.

    Raises:
        KeyError: `type_name` is not a node type.
    """
    node = NODE_TYPES[type_name]
    inputs = inputs or {}
    params = params or {}
    fields = {p.name: inputs.get(p.name, p.default) for p in node.inputs}
    for p in node.params:
        value = params.get(p.name, p.default)
        if p.kind == "number":
            number = number_value(value)
            fields[p.name] = format_number(float(p.default) if number is None else number)
        else:
            fields[p.name] = value if isinstance(value, str) else str(p.default)
    if node.output is not None:
        fields["out"] = f"{node_id}_{node.output}"
    return node.line.format(**fields)
