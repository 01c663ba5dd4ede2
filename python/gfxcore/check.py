"""`check_node_graph`: the faults of a node-graph document that
`compile_node_graph` passes through to the WGSL it emits."""

from __future__ import annotations

import difflib
from typing import Callable

from .nodes import NODE_TYPES

__all__ = ["check_node_graph"]

_CYCLE = "Node graph contains a cycle"
# The longest piece of a document's own text a message quotes.
_QUOTE = 80


def check_node_graph(document: str) -> list[str]:
    """The problems of a node-graph document, as messages naming the node or
    edge at fault.

    The document is first given to `compile_node_graph`: a decoding fault
    or a cycle is returned as one problem with the compiler's message, so
    every document the compiler refuses is reported and every document it
    accepts is checked further. Then, for each node and edge:

    - unknown node types, input ports and output ports (naming the ports the
      node has), edges naming a node that does not exist, duplicated ids,
      and edges into an input that an earlier edge already feeds from
      another source;
    - ids and `PixelChannel` channels that would not form WGSL identifiers
      or swizzles, or whose variables would collide with each other or with
      the shader's own names (`out_color` always; `t_color`, `s_color` and
      `warp_uv` where a later line uses the name the variable hides);
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
    into the shader verbatim. Messages quote at most 80 characters of any
    text from the document.

    Args:
        document: the JSON text given to `compile_node_graph`.

    Returns:
        The problems found, in a stable order; empty when there are none.

    Raises:
        TypeError: `document` is not a `str`.
    """
    if not isinstance(document, str):
        raise TypeError(f"document must be a str, not {type(document).__name__}")
    try:
        from ._arrays import _check_node_graph
    except ImportError as exc:
        raise ImportError(
            f"check_node_graph needs gfxcore's native module, which did not load: {exc}"
        ) from exc
    try:
        problems = _check_node_graph(document)
    except UnicodeEncodeError as exc:  # a lone surrogate, which the compiler refuses too
        return [_clip_message(str(exc))]
    wording = _WORDING
    messages = [wording[rule](*fields) for rule, *fields in problems]
    return [m for m in messages if m is not None]


def _clip(text: str) -> str:
    return text if len(text) <= _QUOTE else text[:_QUOTE] + "..."


def _quote(text: str) -> str:
    """`text` as a Python literal, cut to its first 80 characters."""
    return repr(text) if len(text) <= _QUOTE else repr(text[:_QUOTE]) + "..."


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


def _node(node_id: str, kind: str) -> str:
    return f"node {_quote(node_id)} ({_clip(kind)})"


def _edge(k: int, src: str, out: str, dst: str, port: str) -> str:
    return f"edge {k} ({_quote(src)}.{_clip(out)} -> {_quote(dst)}.{_clip(port)})"


def _wants(t) -> str:
    """What a node type takes, in words."""
    if t.rule == "fixed" and t.inputs:
        return " and ".join(f"{p.name} of type {' or '.join(p.accepts)}" for p in t.inputs)
    return t.typing


_WANTS = {name: _wants(t) for name, t in NODE_TYPES.items()}


def _variable(node_id: str, kind: str, maybe: bool = False) -> str | None:
    var = f"{node_id}_{NODE_TYPES[kind].output}"
    if maybe and var.isidentifier():  # beyond ASCII, Python's rule decides
        return None
    return (
        f"{_node(node_id, kind)}: its variable {_quote(var)} is not a WGSL identifier; use "
        "letters, digits and underscores, not a digit first nor two underscores"
    )


def _unknown_param(node_id: str, kind: str, key: str) -> str:
    known = [p.name for p in NODE_TYPES[kind].params]
    takes = f"parameters: {', '.join(known)}" if known else "no parameters"
    return (
        f"{_node(node_id, kind)}: unknown parameter {_quote(key)}{_hint(key, known)}; "
        f"{kind} takes {takes}"
    )


def _no_input_port(k, src, out, dst, port, node_id, kind) -> str:
    ports = [p.name for p in NODE_TYPES[kind].inputs]
    return (
        f"{_edge(k, src, out, dst, port)}: {_node(node_id, kind)} has no input port "
        f"{_quote(port)}{_hint(port, ports)}; its inputs: {', '.join(ports) or 'none'}"
    )


def _cycle(count: int, *ids: str) -> str:
    more = f" and {count - 8} more" if count > 8 else ""
    return f"{_CYCLE}: the nodes {', '.join(map(_quote, ids))}{more} wait on each other"


def _misfit(node_id: str, kind: str, *inputs: str | None) -> str:
    described = "; ".join(
        f"{p.name} is {t} from {f'its default {p.default}' if src is None else _quote(src)}"
        for p, t, src in zip(NODE_TYPES[kind].inputs, inputs[::2], inputs[1::2])
    )
    return (
        f"{_node(node_id, kind)}: its inputs do not fit ({described}); {kind} takes {_WANTS[kind]}"
    )


# Each rule of the native pass, worded from the texts of the document it
# names (ids and texts cut after 80 characters); None for an id beyond ASCII
# that makes an identifier after all.
_WORDING: dict[str, Callable[..., str | None]] = {
    "refused": _clip_message,
    "duplicate_id": lambda node_id, positions: (
        f"node id {_quote(node_id)} is used by the nodes at positions {positions}; "
        "ids must be unique"
    ),
    "not_identifier": _variable,
    "maybe_identifier": lambda node_id, kind: _variable(node_id, kind, maybe=True),
    "function_name": lambda node_id, kind, var: (
        f"{_node(node_id, kind)}: its variable {var!r} takes the name of the shader's own "
        f"{var!r} (declared twice, it does not compile); rename the node"
    ),
    "same_variable": lambda first_id, first_kind, node_id, kind, var: (
        f"{_node(first_id, first_kind)} and {_node(node_id, kind)} both define the WGSL "
        f"variable {_quote(var)}"
    ),
    "hides_name": lambda node_id, kind, var, user_id, user_kind: (
        f"{_node(node_id, kind)}: its variable {var!r} hides the shader's own {var!r} from "
        f"{_node(user_id, user_kind)}, which comes after it and fails to compile; rename the node"
    ),
    "unknown_type": lambda node_id, kind: (
        f"{_node(node_id, kind)}: unknown node type {_quote(kind)}"
        f"{_hint(kind, list(NODE_TYPES))}; known types: {', '.join(NODE_TYPES)}"
    ),
    "unknown_param": _unknown_param,
    "not_text": lambda node_id, kind, key, shown: (
        f"{_node(node_id, kind)}: parameter {key!r} must be text, not {_clip(shown)}"
    ),
    "not_swizzle": lambda node_id, kind, key, text, *sets: (
        f"{_node(node_id, kind)}: {key} {_quote(text)} is not a swizzle: 1 to 4 letters, "
        + " or ".join(f"all from {s}" for s in sets)
    ),
    "not_number": lambda node_id, kind, key, text, shown: (
        f"{_node(node_id, kind)}: parameter {key!r} must be a number, not "
        + (_quote(text) if text is not None else _clip(shown))
    ),
    "not_finite": lambda node_id, kind, key, shown: (
        f"{_node(node_id, kind)}: parameter {key!r} = {_clip(shown)} is not finite as a "
        "32-bit float"
    ),
    "min_above_max": lambda node_id, kind, low, high: (
        f"{_node(node_id, kind)}: min {low!r} is above max {high!r}"
    ),
    "no_node": lambda k, src, out, dst, port, name: (
        f"{_edge(k, src, out, dst, port)}: no node has the id {_quote(name)}"
    ),
    "no_output": lambda k, src, out, dst, port, node_id, kind: (
        f"{_edge(k, src, out, dst, port)}: {_node(node_id, kind)} has no output"
    ),
    "no_output_port": lambda k, src, out, dst, port, node_id, kind: (
        f"{_edge(k, src, out, dst, port)}: {_node(node_id, kind)} has no output port "
        f"{_quote(out)}; its output is {NODE_TYPES[kind].output!r}"
    ),
    "no_input_port": _no_input_port,
    "already_fed": lambda k, src, out, dst, port, node_id, kind, first: (
        f"{_edge(k, src, out, dst, port)}: input {port!r} of {_node(node_id, kind)} is "
        f"already fed by edge {first}; this edge is ignored"
    ),
    "cycle": _cycle,
    "cycle_miscounted": lambda: (
        f"{_CYCLE}, as compile_node_graph counts the duplicated ids and edges to missing nodes "
        "reported above"
    ),
    "misfit": _misfit,
    "no_final_color": lambda: "no FinalColor node: the shader's colour stays (0, 0, 0, 1)",
}
