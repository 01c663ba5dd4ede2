"""bench/ratios.png: each operation's ours/anchor time ratio as a bar on a
log axis, with its goal marked. Drawn with Pillow from the rows of
RESULTS.md, so the chart and the table always show the same run."""

from __future__ import annotations

import math
import pathlib

from PIL import Image, ImageDraw, ImageFont

UNITS = {"ns": 1e-9, "µs": 1e-6, "ms": 1e-3, "s": 1.0, "MB": 1.0}  # a ratio of MB to MB

GREEN, RED, GREY, INK, RULE = (
    (46, 139, 87),
    (200, 55, 45),
    (150, 150, 150),
    (20, 20, 20),
    (225, 225, 225),
)
WIDTH, LABELS, ROW, TOP, BOTTOM, VALUES = 1160, 430, 19, 118, 48, 60


def seconds(text: str) -> float:
    value, unit = text.split()
    return float(value) * UNITS[unit]


def draw_ratios(rows: list[tuple[str, ...]], path: pathlib.Path) -> None:
    """rows: the table's rows (operation, work, anchor, ours, anchor time,
    ratio, goal, met); the ratio is recomputed from the two times, since the
    table rounds it to two decimals."""
    bars = []
    for name, _work, anchor, ours, anchor_time, shown, goal, met in rows:
        # sizes too small for the table's unit (bytes in MB) keep its ratio
        theirs = seconds(anchor_time)
        ratio = seconds(ours) / theirs if theirs > 0 else float(shown)
        target = float(goal.removeprefix("≤").strip()) if goal else None
        colour = GREY if target is None else (GREEN if met == "yes" else RED)
        bars.append((name, anchor, ratio, target, colour))

    logs = [math.log10(v) for _, _, r, g, _ in bars for v in (r, g) if v]
    lo, hi = math.floor(min(logs + [0.0])), math.ceil(max(logs + [0.0]))
    left, right = LABELS + 10, WIDTH - VALUES - 20

    def x(value: float) -> float:
        return left + (math.log10(value) - lo) / (hi - lo) * (right - left)

    height = TOP + ROW * len(bars) + BOTTOM
    img = Image.new("RGB", (WIDTH, height), "white")
    draw = ImageDraw.Draw(img)
    font = ImageFont.load_default(size=12)
    bold = ImageFont.load_default(size=17)

    draw.text(
        (16, 12),
        "_core time / anchor time, per operation (log scale: left of 1, _core is faster)",
        font=bold,
        fill=INK,
    )
    legend = [
        (GREEN, "meets its goal"),
        (RED, "misses its goal (see the notes)"),
        (GREY, "no goal: reported only"),
    ]
    lx = 16
    for colour, text in legend:
        draw.rectangle((lx, 44, lx + 14, 56), fill=colour)
        draw.text((lx + 20, 43), text, font=font, fill=INK)
        lx += 40 + int(draw.textlength(text, font=font))
    goal_mark(draw, lx + 4, 44, 56)
    draw.text((lx + 14, 43), "goal: at or below this ratio", font=font, fill=INK)

    plot_top, plot_bottom = TOP - 8, TOP + ROW * len(bars)
    for p in range(lo, hi + 1):
        px = x(10.0**p)
        draw.line((px, plot_top, px, plot_bottom), fill=RULE if p else INK, width=1 if p else 2)
        label = f"{10.0**p:g}"
        draw.text(
            (px - draw.textlength(label, font=font) / 2, plot_bottom + 6),
            label,
            font=font,
            fill=INK,
        )
    draw.text((x(1.0) + 6, plot_top - 22), "1 = same time as the anchor", font=font, fill=INK)
    axis = "ours / anchor (time ratio)"
    draw.text(
        ((left + right) / 2 - draw.textlength(axis, font=font) / 2, plot_bottom + 24),
        axis,
        font=font,
        fill=INK,
    )

    one = x(1.0)
    for i, (name, anchor, ratio, goal, colour) in enumerate(bars):
        y = TOP + i * ROW
        shown = f"{name}  vs {anchor}"
        while draw.textlength(shown, font=font) > LABELS - 16:  # shorten the name, keep the anchor
            name = name[:-2]
            shown = f"{name}…  vs {anchor}"
        draw.text((LABELS - draw.textlength(shown, font=font), y + 2), shown, font=font, fill=INK)
        end = x(ratio)
        draw.rectangle((min(one, end), y + 3, max(one, end), y + ROW - 4), fill=colour)
        if goal:
            goal_mark(draw, x(goal), y + 1, y + ROW - 2)
        value = f"{ratio:.3g}"
        draw.text(
            (WIDTH - 14 - draw.textlength(value, font=font), y + 2), value, font=font, fill=INK
        )
    draw.text(
        (WIDTH - 14 - draw.textlength("ratio", font=font), plot_top - 22),
        "ratio",
        font=font,
        fill=INK,
    )
    img.save(path, optimize=True)


def goal_mark(draw: ImageDraw.ImageDraw, gx: float, top: float, bottom: float) -> None:
    """A bar with a notch on top, visible even on the line at 1."""
    draw.line((gx, top, gx, bottom), fill=INK, width=2)
    draw.polygon(((gx - 5, top - 1), (gx + 5, top - 1), (gx, top + 5)), fill=INK)
