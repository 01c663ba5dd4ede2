"""A short tour of _core. Run with `make demo`."""

import pathlib
import runpy

from _core import AABB, Vec2


def section(title: str) -> None:
    print(f"\n== {title} ==")


section("2D vectors and boxes")
a, b = Vec2(3, 4), Vec2(1, -2)
print(f"a = {a!r}, b = {b!r}")
print(f"a + b = {a + b!r}, a - b = {a - b!r}, a * 0.5 = {a * 0.5!r}")
print(f"a.length() = {a.length()}, a.normalize() = {a.normalize()!r}, a.dot(b) = {a.dot(b)}")
print(f"a.lerp(b, 0.25) = {a.lerp(b, 0.25)!r}")
print(f"Vec2(0.1, 1e20) prints the shortest digits of its float32 values: {Vec2(0.1, 1e20)!r}")
box = AABB(0, 0, 4, 3)
print(f"box = {box!r}, center {box.center()!r}, size {box.size()!r}")
print(
    f"box.contains(a) = {box.contains(a)}, box.intersects(AABB(4, 3, 5, 5)) = "
    f"{box.intersects(AABB(4, 3, 5, 5))} (corners touch)"
)
print(f"box.expand(-2) = {box.expand(-2)!r} (a negative amount may invert a box)")

# Every other unit has a small demo of its own beside this file.
here = pathlib.Path(__file__).resolve().parent
for path in sorted(here.glob("*_demo.py")):
    section(path.stem.removesuffix("_demo").replace("_", " "))
    runpy.run_path(str(path), run_name="__main__")
