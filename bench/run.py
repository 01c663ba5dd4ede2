"""Runs every bench/bench_*.py, prints ours/anchor ratios, writes RESULTS.md.

Usage: python bench/run.py [substring ...]   (only cases whose name matches)
"""
from __future__ import annotations

import datetime
import os
import importlib.util
import pathlib
import platform
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from common import measure  # noqa: E402


def load_cases():
    for path in sorted(HERE.glob("bench_*.py")):
        found = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(found)
        found.loader.exec_module(module)
        yield from module.cases()


def cpu_name() -> str:
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def fmt_time(s: float) -> str:
    if s < 1e-6:
        return f"{s * 1e9:.1f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.2f} µs"
    return f"{s * 1e3:.2f} ms"


def main(argv: list[str]) -> int:
    filters = argv[1:]
    rows = []
    for case in load_cases():
        if filters and not any(f in case.name for f in filters):
            continue
        r = measure(case)
        goal = "" if case.goal is None else f"≤ {case.goal:.3g}"
        met = "" if case.goal is None else ("yes" if r.ratio <= case.goal else "NO")
        rows.append((case.name, case.work, case.anchor_name, fmt_time(r.ours_s),
                     fmt_time(r.anchor_s), f"{r.ratio:.2f}", goal, met))
        print(f"{case.name:<44} {r.ratio:6.2f}  ours {fmt_time(r.ours_s):>10}  "
              f"{case.anchor_name} {fmt_time(r.anchor_s):>10}", flush=True)

    if filters:
        return 0  # a partial run does not overwrite the table
    header = ("operation", "work", "anchor", "ours", "anchor time", "ours/anchor", "goal", "met")
    lines = [
        "# Benchmark results",
        "",
        f"Date: {datetime.date.today().isoformat()}. Machine: {platform.machine()}, "
        f"{cpu_name()}, {os.cpu_count()} cores, Python {platform.python_version()}, "
        f"{platform.system()} {platform.release()}.",
        "",
        "Best of 7 alternating repeats per operation, ours and the anchor in one process. "
        "A ratio below 1.0 means we are faster.",
        "",
        "| " + " | ".join(header) + " |",
        "|" + "|".join("---" for _ in header) + "|",
    ]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    table = "\n".join(lines) + "\n"
    (HERE / "RESULTS.md").write_text(table)
    print(f"wrote {HERE / 'RESULTS.md'}")
    quote_in_readme(table)
    return 0


def quote_in_readme(table: str) -> None:
    """Replaces the README's quoted table (between the bench markers)."""
    readme = HERE.parent / "README.md"
    start, end = "<!-- bench:start -->", "<!-- bench:end -->"
    text = readme.read_text()
    if start not in text or end not in text:
        return
    body = table.split("\n", 2)[2]  # drop the title line
    before, rest = text.split(start, 1)
    after = rest.split(end, 1)[1]
    readme.write_text(f"{before}{start}\n{body}{end}{after}")
    print(f"updated {readme}")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
