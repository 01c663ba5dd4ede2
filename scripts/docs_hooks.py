"""MkDocs hooks: pages and files that are made from the repository at build
time, so the site never drifts from what it documents.

- `<!-- node-types -->` in a page becomes one section per node type of the
  node-graph compiler, from the node catalogue `gfxcore.nodes.NODE_TYPES`
  (which a test holds against what the compiler emits). Its data file is
  written by the small program the build runs for it (tools/), compiled
  here on its own: the module itself is not built.
- `<!-- readme: Title -->` becomes the README's section of that title (its
  subsections included, headings shifted to fit the page, links to docs/
  and to the contributor pages rewritten), so README and site say the same.
- `<!-- gallery -->` becomes the live gallery: per example node graph, a
  canvas that docs/gallery.js draws with WebGPU beside the picture
  gfxcore.gpu drew at build time, and the WGSL; `scripts/gallery` made the
  pictures and shaders in build/gallery, published as gallery/.
- bench/ratios.png is published as images/ratios.png.
- src/_core.pyi is laid out as the stubs package `_core-stubs`, the form in
  which it is installed and in which mkdocstrings finds a module that has
  only stubs.
"""

from __future__ import annotations

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

from mkdocs.structure.files import File

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCS_BUILD = ROOT / "build" / "docs"


def lay_out_package() -> pathlib.Path:
    """gfxcore's sources beside the node catalogue the build would install."""
    package = DOCS_BUILD / "python" / "gfxcore"
    shutil.rmtree(package, ignore_errors=True)
    shutil.copytree(ROOT / "python" / "gfxcore", package)
    tool = DOCS_BUILD / "node_catalogue"
    compiler = os.environ.get("CXX", "c++")
    subprocess.run(
        [compiler, "-std=c++20", "-O1", f"-I{ROOT / 'src'}", "-o", str(tool)]
        + [str(ROOT / "tools" / "node_catalogue.cpp")],
        check=True,
    )
    subprocess.run([str(tool), str(package / "node_catalogue.json")], check=True)
    return package.parent


sys.path.insert(0, str(lay_out_package()))

# Plain data, importable without the native module.
from gfxcore.nodes import NODE_TYPES  # noqa: E402

MARKER = "<!-- node-types -->"
README_MARKER = re.compile(r"<!-- readme: (.+?) -->")
LINKS = {
    "](docs/": "](",
    "](CONTRIBUTING.md": "](contributing.md",
    "](CHANGELOG.md": "](changelog.md",
    "](bench/ratios.png": "](images/ratios.png",
}
STUBS_DIR = ROOT / "build" / "docs-stubs"
GALLERY_MARKER = "<!-- gallery -->"
GALLERY_DIR = ROOT / "build" / "gallery"


def node_sections() -> str:
    out = []
    for node in NODE_TYPES.values():
        out.append(f"### {node.name} {{ #node-{node.name} }}\n")
        if node.inputs:
            out.append("| input port | default when no edge arrives | accepts |\n|---|---|---|")
            out += [
                f"| `{p.name}` | `{p.default}` | {', '.join(f'`{t}`' for t in p.accepts)} |"
                for p in node.inputs
            ]
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
            out.append(
                f"Output: variable `{{id}}_{node.output}` (edges leave from port "
                f"`{node.output}`), of type {node.output_type}."
            )
        else:
            out.append("Output: none; no edge can leave this node.")
        if node.typing:
            out.append(f"Types: {node.typing}.")
        out.append("")
        line = node.line.replace("{out}", "{id}_" + (node.output or ""))
        out.append(f"```wgsl\n{line}\n```\n")
    return "\n".join(out)


def gallery_sections() -> str:
    index = GALLERY_DIR / "examples.json"
    if not index.exists():
        raise FileNotFoundError(f"{index} is missing: make docs runs scripts/gallery first")
    info = json.loads(index.read_text())
    size = info["size"]
    out = []
    for example in info["examples"]:
        name = example["name"]
        out.append(f"### {example['title']} {{ #gallery-{name} }}\n\n{example['note']}\n")
        out.append(
            f'<div class="gallery-example" data-example="{name}">\n'
            f'<figure><canvas width="{size}" height="{size}" hidden></canvas>'
            "<figcaption>WebGPU, in your browser</figcaption></figure>\n"
            f'<figure><img src="gallery/{name}.png" width="{size}" height="{size}" '
            f'alt="{name}, drawn by gfxcore.gpu"><figcaption>gfxcore.gpu, at build time'
            "</figcaption></figure>\n</div>\n"
        )
        document = json.dumps(example["document"], indent=1)
        out.append('??? note "The document"\n\n    ```json\n' + indent(document) + "    ```\n")
        out.append(
            '??? note "The WGSL compile_node_graph made"\n\n    ```wgsl\n'
            + indent(example["wgsl"])
            + "    ```\n"
        )
    return "\n".join(out)


def indent(text: str) -> str:
    return "".join(f"    {line}\n" if line else "\n" for line in text.splitlines())


def headings(lines: list[str]):
    """(index, level, title) of each Markdown heading outside code fences."""
    fenced = False
    for i, line in enumerate(lines):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and (m := re.match(r"(#+) (.*)", line)):
            yield i, len(m.group(1)), m.group(2)


def readme_section(title: str) -> str:
    lines = (ROOT / "README.md").read_text().splitlines()
    found = [(i, level) for i, level, text in headings(lines) if text.startswith(title)]
    if not found:
        raise ValueError(f"README.md has no section {title!r}")
    start, level = found[0]
    end = next((i for i, lv, _ in headings(lines) if i > start and lv <= level), len(lines))
    body = lines[start + 1 : end]
    shift = {i: lv for i, lv, _ in headings(body)}
    top = min(shift.values(), default=2)
    for i, lv in shift.items():
        body[i] = "#" * (lv - top + 2) + body[i][lv:]
    text = "\n".join(body).strip() + "\n"
    for old, new in LINKS.items():
        text = text.replace(old, new)
    return text


def lay_out_stubs() -> None:
    package = STUBS_DIR / "_core-stubs"
    package.mkdir(parents=True, exist_ok=True)
    (package / "__init__.pyi").write_text((ROOT / "src" / "_core.pyi").read_text())


# At import, before mkdocstrings checks that its search paths exist.
lay_out_stubs()


def on_page_markdown(markdown: str, page, config, files) -> str:
    if MARKER in markdown:
        markdown = markdown.replace(MARKER, node_sections())
    if GALLERY_MARKER in markdown:
        markdown = markdown.replace(GALLERY_MARKER, gallery_sections())
    return README_MARKER.sub(lambda m: readme_section(m.group(1)), markdown)


def on_files(files, config):
    chart = ROOT / "bench" / "ratios.png"
    if chart.exists():
        files.append(File.generated(config, "images/ratios.png", abs_src_path=str(chart)))
    for path in sorted(GALLERY_DIR.glob("*")):
        files.append(File.generated(config, f"gallery/{path.name}", abs_src_path=str(path)))
    return files
