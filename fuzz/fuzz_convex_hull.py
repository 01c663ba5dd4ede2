"""convex_hull on fuzzed point sets: never a crash, ValueError only where the
orientation is undefined, hull vertices taken from the input, and the same
hull as the float32 Graham scan of the tests where the angular comparison is
a consistent order (coordinates on the half-integer grid: every cross
product is then exact, so "within tolerance" means exactly collinear)."""

import atheris
import common  # first: it puts the tests' models on the path
from models.floats import bits, f32
from models.hull import ref_hull, same_points

import _core


def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    n = fdp.ConsumeIntInRange(0, 24)
    values = common.floats(fdp, 2 * n)
    points = [(values[2 * i], values[2 * i + 1]) for i in range(n)]
    try:
        got = _core.convex_hull(points)
    except ValueError as e:
        assert "convex_hull" in str(e)
        return
    inputs = {(bits(f32(x)), bits(f32(y))) for x, y in points}
    assert all((bits(x), bits(y)) in inputs for x, y in got), (points, got)
    if all(abs(v) <= 4 and v * 2 == int(v * 2) for v in values):
        assert same_points(got, ref_hull(points)), (points, got)
    if points:
        assert len(_core.bounding_box(points)) == 4


if __name__ == "__main__":
    common.main(test_one)
