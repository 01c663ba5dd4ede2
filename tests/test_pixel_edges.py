"""pixel_edge_points against a numpy model of the outline rule."""

import math
import random

import pytest
from conftest import ctrl_c_every, f32
from models.pixel_edges import ref_edges

from _core import pixel_edge_points

U64 = 2**64 - 1


def square(v=1.0):
    return [v] * 9


@pytest.mark.parametrize(
    "args, want",
    [
        ((square(), 9, 1, 0, 0.5, 0), []),
        ((square(), 9, 0, 0, 0.5, 3), []),
        ((square(), 0, 1, 0, 0.5, 3), []),
        (
            (square(), 9, 1, 0, 0.5, 3),
            [(0, 0), (1, 0), (2, 0), (0, 1), (2, 1), (0, 2), (1, 2), (2, 2)],
        ),
        ((square(), 9, 1, 0, 1.0, 3), []),
        (([0, 0, 0, 0, 1, 0, 0, 0, 0], 9, 1, 0, 0.5, 3), [(1, 1)]),
        (([1, 1, 0, 1], 4, 1, 0, 0.5, 1), [(0, 0), (0, 1), (0, 3)]),
        (
            ([1.0] * 10, 10, 1, 0, 0.5, 4),
            [(0, 0), (1, 0), (2, 0), (3, 0), (0, 1), (2, 1), (3, 1), (0, 2), (1, 2)],
        ),
        # past the end of the list values read 0.0, active under a negative threshold
        (([], 4, 3, 1, -1.0, 2), [(0, 0), (1, 0), (0, 1), (1, 1)]),
        # channel indices beyond 64 bits read 0.0 as well
        (([5.0] * 8, 4, 2**63, 1, 0.5, 2), [(0, 0)]),
        (([5.0] * 8, 4, 2**63, 1, -0.5, 2), [(0, 0), (1, 0), (0, 1), (1, 1)]),
        (([5.0] * 8, 4, 1, U64, -0.5, 2), [(0, 0), (1, 0), (0, 1), (1, 1)]),
    ],
)
def test_examples(args, want):
    got = pixel_edge_points(*args)
    assert got == [(float(x), float(y)) for x, y in want]
    assert all(type(c) is float for p in got for c in p)


def test_reads_only_its_channel():
    # stride 4, offset 3: the other three floats of each record are noise
    rng = random.Random(5)
    chan = [rng.choice([0.0, 1.0]) for _ in range(30)]
    data = []
    for v in chan:
        data += [rng.uniform(-9, 9), math.nan, 7.0, v]
    assert pixel_edge_points(data, 30, 4, 3, 0.5, 6) == ref_edges(chan, 30, 1, 0, 0.5, 6)


@pytest.mark.parametrize("seed", range(12))
def test_matches_reference(seed):
    rng = random.Random(seed)
    width = rng.choice([1, 2, 3, 7, 16])
    count = rng.randint(1, 120)
    stride = rng.choice([1, 2, 4])
    offset = rng.randint(0, stride + 1)
    short = rng.random() < 0.4
    size = count * stride + offset - (rng.randint(0, count * stride) if short else 0)
    pool = [0.0, 1.0, -1.0, 0.3, math.nan, math.inf, -math.inf, 1e-45, 0.30000000000000004]
    data = [rng.choice(pool) for _ in range(max(size, 0))]
    threshold = rng.choice([0.0, 0.3, -0.5, f32(0.3), 1e-46])
    args = (data, count, stride, offset, threshold, width)
    assert pixel_edge_points(*args) == ref_edges(*args)


def test_huge_count_with_short_list_follows_the_list():
    # Nothing past the list can be active, so this returns at once.
    got = pixel_edge_points([1.0, 1.0, 1.0, 0.0], U64, 1, 0, 0.5, 2)
    assert got == [(0.0, 0.0), (1.0, 0.0), (0.0, 1.0)]


@pytest.mark.parametrize(
    "name, value, exc",
    [
        ("pixel_count", -1, OverflowError),
        ("width", 2**64, OverflowError),
        ("stride_floats", 1.0, TypeError),
        ("pixel_data", "abc", TypeError),
        ("threshold", None, TypeError),
    ],
)
def test_bad_arguments(name, value, exc):
    args = dict(
        pixel_data=[1.0],
        pixel_count=1,
        stride_floats=1,
        channel_offset_f32=0,
        threshold=0.5,
        width=1,
    )
    args[name] = value
    with pytest.raises(exc):
        pixel_edge_points(**args)


def test_long_scan_is_interruptible():
    # Past the list every pixel is active under a negative threshold, so this
    # walks 2**64 positions (few of them edges) unless the interrupt stops it.
    with ctrl_c_every(0.2), pytest.raises(KeyboardInterrupt):
        pixel_edge_points([], U64, 1, 0, -1.0, 2**20)
