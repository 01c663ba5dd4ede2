"""A tour of the point-set and chain utilities. Draws three PNG files into
$POINTS_DEMO_DIR (default: a folder in the system temp directory); the pictures of
the docs come from POINTS_DEMO_DIR=docs/images."""

import math
import os
import pathlib
import random
import tempfile

from PIL import Image, ImageDraw, ImageFont

from _core import bounding_box, compute_bone_lengths, convex_hull, pixel_edge_points, solve_ik

SIZE = 320


def out_dir() -> pathlib.Path:
    path = pathlib.Path(
        os.environ.get("POINTS_DEMO_DIR") or pathlib.Path(tempfile.gettempdir()) / "points_demo"
    )
    path.mkdir(parents=True, exist_ok=True)
    return path


def to_canvas(points, box, margin=16):
    """Maps points into the image, y up."""
    min_x, min_y, max_x, max_y = box
    scale = (SIZE - 2 * margin) / max(max_x - min_x, max_y - min_y, 1e-9)
    return [(margin + (x - min_x) * scale, SIZE - margin - (y - min_y) * scale) for x, y in points]


def titled(img, title, legend):
    """The picture under a band with its title and a legend: (colour, text,
    shape) entries, shape "dot", "line" or "box"."""
    font, bold = ImageFont.load_default(size=12), ImageFont.load_default(size=15)
    band = 30 + 18 * len(legend)
    out = Image.new("RGB", (img.width, img.height + band), "white")
    out.paste(img, (0, band))
    draw = ImageDraw.Draw(out)
    draw.text((8, 6), title, font=bold, fill="black")
    for i, (colour, text, shape) in enumerate(legend):
        y = 30 + 18 * i
        if shape == "dot":
            draw.ellipse((12, y + 3, 20, y + 11), fill=colour)
        elif shape == "line":
            draw.line((8, y + 7, 24, y + 7), fill=colour, width=3)
        else:
            draw.rectangle((9, y + 1, 23, y + 13), fill=colour, outline="gray")
        draw.text((32, y), text, font=font, fill="black")
    return out


def hull_picture(path):
    rng = random.Random(4)
    cloud = [(rng.gauss(0, 1), rng.gauss(0, 0.6)) for _ in range(400)]
    hull = convex_hull(cloud)
    box = bounding_box(cloud)
    print(f"{len(cloud)} points, hull of {len(hull)} starting at the lowest {hull[0]}")
    print("bounding box", tuple(round(v, 3) for v in box))
    img = Image.new("RGB", (SIZE, SIZE), "white")
    draw = ImageDraw.Draw(img)
    for x, y in to_canvas(cloud, box):
        draw.ellipse((x - 1.5, y - 1.5, x + 1.5, y + 1.5), fill="gray")
    ring = to_canvas(hull, box)
    draw.line(ring + ring[:1], fill="red", width=2)
    titled(
        img,
        "convex_hull of a Gaussian cloud",
        [
            ("gray", f"the {len(cloud)} input points", "dot"),
            ("red", f"the hull: {len(hull)} vertices, counter-clockwise", "line"),
        ],
    ).save(path)


def edges_picture(path):
    w, h = 64, 48
    # 4 floats per pixel, the 4th is coverage: a disc with a square hole
    data = []
    for i in range(w * h):
        x, y = i % w, i // w
        inside = math.hypot(x - 30, y - 24) < 18 and not (26 <= x < 34 and 20 <= y < 28)
        data += [x / w, y / h, 0.0, 1.0 if inside else 0.0]
    edges = pixel_edge_points(data, w * h, 4, 3, 0.5, w)
    print(f"{w}x{h} image: {len(edges)} edge pixels, first {edges[:3]}")
    img = Image.new("RGB", (w, h), "black")
    for i in range(w * h):
        if data[4 * i + 3] > 0.5:
            img.putpixel((i % w, i // w), (60, 60, 120))
    for x, y in edges:
        img.putpixel((int(x), int(y)), (255, 220, 0))
    titled(
        img.resize((w * 5, h * 5), Image.NEAREST),
        "pixel_edge_points of a disc with a hole",
        [
            ((60, 60, 120), "active pixel: coverage channel > 0.5", "box"),
            ((255, 220, 0), "edge pixel returned: touches an inactive one", "box"),
            ((0, 0, 0), "inactive pixel", "box"),
        ],
    ).save(path)


def chain_picture(path):
    chain = [(float(i), 0.0) for i in range(8)]
    lengths = compute_bone_lengths(chain)
    target = (3.0, 4.5)
    solved = solve_ik(chain, target, lengths, max_iter=50)
    print("bone lengths", lengths[:3], "...")
    print("end effector", tuple(round(v, 4) for v in solved[-1]), "target", target)
    far = solve_ik(chain, (20.0, 20.0), lengths)
    print(
        "out of reach: the chain stretches towards the target, tip at",
        tuple(round(v, 3) for v in far[-1]),
    )
    box = (-1.0, -1.0, 8.0, 8.0)
    img = Image.new("RGB", (SIZE, SIZE), "white")
    draw = ImageDraw.Draw(img)
    for pts, colour in ((chain, "lightgray"), (solved, "blue")):
        c = to_canvas(pts, box)
        draw.line(c, fill=colour, width=3)
        for x, y in c:
            draw.ellipse((x - 3, y - 3, x + 3, y + 3), fill=colour)
    ((tx, ty),) = to_canvas([target], box)
    draw.line((tx - 6, ty, tx + 6, ty), fill="red", width=2)
    draw.line((tx, ty - 6, tx, ty + 6), fill="red", width=2)
    titled(
        img,
        "solve_ik: an 8-joint chain reaching a target",
        [
            ("lightgray", "the chain as given, root at the left", "line"),
            ("blue", "the solved chain: same root, same bone lengths", "line"),
            ("red", "the target", "dot"),
        ],
    ).save(path)


def main():
    folder = out_dir()
    hull_picture(folder / "hull.png")
    edges_picture(folder / "edges.png")
    chain_picture(folder / "chain.png")
    try:
        convex_hull([(0, 0), (1, float("nan")), (2, 2)])
    except ValueError as e:
        print("deliberate bad input, refused as expected -> ValueError:", e)
    print(f"pictures: {folder}/hull.png, edges.png, chain.png")


if __name__ == "__main__":
    main()
