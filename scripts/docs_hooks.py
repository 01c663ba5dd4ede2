"""MkDocs hooks: pages and files that are made from the repository at build
time, so the site never drifts from what it documents.

- `<!-- node-types -->` in a page becomes one section per node type of the
  node-graph compiler, from the node catalogue `gfxcore.nodes.NODE_TYPES`
  (which a test holds against what the compiler emits).
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

# Plain data, importable without the native module.
from gfxcore.nodes import NODE_TYPES  # noqa: E402

MARKER = "<!-- node-types -->"
STUBS_DIR = ROOT / "build" / "docs-stubs"


def node_sections() -> str:
    out = []
    for node in NODE_TYPES.values():
        out.append(f"### {node.name} {{ #node-{node.name} }}\n")
        if node.inputs:
            out.append("| input port | default when no edge arrives | accepts |\n|---|---|---|")
            out += [f"| `{p.name}` | `{p.default}` | {', '.join(f'`{t}`' for t in p.accepts)} |"
                    for p in node.inputs]
        else:
            out.append("No input ports.")
        out.append("")
        if node.params:
            out.append("| parameter | kind | default |\n|---|---|---|")
            out += [f"| `{p.name}` | {p.kind} | `{p.default}` |" for p in node.params]
        else:
            out.append("No parameters.")
        out.append("")
        if node.output:
            out.append(f"Output: variable `{{id}}_{node.output}` (edges leave from port "
                       f"`{node.output}`), of type {node.output_type}.")
        else:
            out.append("Output: none; no edge can leave this node.")
        if node.typing:
            out.append(f"Types: {node.typing}.")
        out.append("")
        line = node.line.replace("{out}", "{id}_" + (node.output or ""))
        out.append(f"```wgsl\n{line}\n```\n")
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
