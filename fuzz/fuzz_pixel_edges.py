"""pixel_edge_points on fuzzed buffers and layouts against the numpy
reference of the tests."""

import atheris
import common  # first: it puts the tests' models on the path
from models.pixel_edges import ref_edges

import _core


def test_one(data):
    fdp = atheris.FuzzedDataProvider(data)
    pixels = common.floats(fdp, fdp.ConsumeIntInRange(0, 64))
    count = fdp.ConsumeIntInRange(0, 80)
    stride = fdp.ConsumeIntInRange(0, 4)
    offset = fdp.ConsumeIntInRange(0, 4)
    threshold = common.floats(fdp, 1)[0]
    width = fdp.ConsumeIntInRange(0, 9)
    got = _core.pixel_edge_points(pixels, count, stride, offset, threshold, width)
    assert got == ref_edges(pixels, count, stride, offset, threshold, width), got


if __name__ == "__main__":
    common.main(test_one)
