"""MkDocs hooks: pages and files that are made from the repository at build
time, so the site never drifts from what it documents.

- `<!-- node-types -->` in a page becomes one section per node type of the
  node-graph compiler, from the node catalogue.
- bench/ratios.png is published as images/ratios.png.
- src/_core.pyi is laid out as the stubs package `_core-stubs`, the form in
  which it is installed and in which mkdocstrings finds a module that has
  only stubs.
"""
from __future__ import annotations

import pathlib
import sys

from mkdocs.structure.files import File

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "python"))

MARKER = "<!-- node-types -->"
STUBS_DIR = ROOT / "build" / "docs-stubs"

# The node types of src/node_compiler/emit.cpp: (type, inputs as (port,
# default), parameters as (key, kind, default), output suffix, emitted line).
NODE_TYPES = [
    ("UV", [], [], "uv", "let {out} = in.uv;"),
    ("SampleTexture", [("uv", "in.uv")], [], "color",
     "let {out} = textureSample(t_color, s_color, {uv});"),
    ("PixelColor", [], [], "color", "let {out} = textureSample(t_color, s_color, in.uv);"),
    ("PixelChannel", [], [("channel", "text", "r")], "val",
     "let {out} = textureSample(t_color, s_color, in.uv).{channel};"),
    ("Lerp", [("a", "0.0"), ("b", "1.0"), ("t", "0.5")], [], "out",
     "let {out} = mix({a}, {b}, {t});"),
    ("Add", [("a", "0.0"), ("b", "0.0")], [], "out", "let {out} = {a} + {b};"),
    ("Multiply", [("a", "1.0"), ("b", "1.0")], [], "out", "let {out} = {a} * {b};"),
    ("Clamp", [("val", "0.0")], [("min", "number", "0.0"), ("max", "number", "1.0")], "out",
     "let {out} = clamp({val}, {min}f, {max}f);"),
    ("GravityWarp", [("uv", "in.uv")],
     [("strength", "number", "1.0"), ("radius", "number", "0.1")], "out_uv",
     "let {out} = warp_uv({uv}, {strength}f, {radius}f);"),
    ("Discard", [], [], None, "discard;"),
    ("FinalColor", [("color", "vec4<f32>(0.0, 0.0, 0.0, 1.0)")], [], None,
     "out_color = {color};"),
]


def node_sections() -> str:
    out = []
    for type_, inputs, params, suffix, line in NODE_TYPES:
        out.append(f"### {type_} {{ #node-{type_} }}\n")
        if inputs:
            out.append("| input port | default when no edge arrives |\n|---|---|")
            out += [f"| `{port}` | `{default}` |" for port, default in inputs]
        else:
            out.append("No input ports.")
        out.append("")
        if params:
            out.append("| parameter | kind | default |\n|---|---|---|")
            out += [f"| `{key}` | {kind} | `{default}` |" for key, kind, default in params]
        else:
            out.append("No parameters.")
        out.append("")
        out.append(f"Output variable: `{{id}}_{suffix}` (connect from port `{suffix}`)."
                   if suffix else "Output variable: none (nothing can connect from it).")
        out.append("")
        shown = line.replace("{out}", "{id}_" + (suffix or ""))
        out.append(f"```wgsl\n    {shown}\n```\n")
    return "\n".join(out)


def lay_out_stubs() -> None:
    package = STUBS_DIR / "_core-stubs"
    package.mkdir(parents=True, exist_ok=True)
    (package / "__init__.pyi").write_text((ROOT / "src" / "_core.pyi").read_text())


# At import, before mkdocstrings checks that its search paths exist.
lay_out_stubs()


def on_page_markdown(markdown: str, page, config, files) -> str:
    if MARKER in markdown:
        markdown = markdown.replace(MARKER, node_sections())
    return markdown


def on_files(files, config):
    chart = ROOT / "bench" / "ratios.png"
    if chart.exists():
        files.append(File.generated(config, "images/ratios.png", abs_src_path=str(chart)))
    return files
