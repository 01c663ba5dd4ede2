"""gfxcore.arrays' point-set group against _core's per-list calls."""

import numpy as np
import pytest
from gfxcore import arrays
from models.arrays import assert_same_f32, assert_same_outcome, hostile, layouts, outcome

import _core


def same_rows(got, want):
    assert_same_f32(got, np.array(want, np.float32).reshape(-1, 2))


def point_sets(rng):
    """Hostile floats, integer grids (duplicates and collinear runs), huge
    and tiny scales."""
    n = int(rng.integers(0, 60))
    yield hostile(rng, (n, 2), share=0.05)
    yield rng.integers(-3, 4, (n, 2)).astype(np.float64)
    yield rng.uniform(-1, 1, (n, 2)) * 10.0 ** rng.integers(-40, 40)


def test_hull_and_box_match_core():
    rng = np.random.default_rng(51)
    for _ in range(60):
        for values in point_sets(rng):
            for given, rows in layouts(values):
                pairs = [tuple(r) for r in rows]
                want = outcome(_core.convex_hull, pairs)
                assert_same_outcome(lambda: arrays.convex_hull(given), want, same_rows)
                assert arrays.bounding_box(given) == _core.bounding_box(pairs)


def test_split_sort_matches_one_thread():
    # Enough points for the sort to be shared out; nearly collinear bands
    # where the angular order's tolerance decides.
    rng = np.random.default_rng(52)
    t = rng.uniform(-1, 1, 300_000)
    bands = np.column_stack([t, 1e-7 * rng.integers(-2, 3, t.size) + 0.3 * t])
    disc = rng.normal(size=(300_000, 2))
    for points in (bands, disc, np.concatenate([bands, disc, bands[::7]])):
        want = _core.convex_hull([tuple(p) for p in points.astype(np.float32).tolist()])
        for workers in (1, 2, None):
            assert_same_f32(arrays.convex_hull(points, workers=workers), want)


def test_pixel_edges_match_core():
    rng = np.random.default_rng(53)
    for i in range(60):
        h, w, c = (int(k) for k in rng.integers(0, 9, 3))
        c = max(c, 1)
        if i % 3 == 0:  # rows of one, two and three 64-pixel words, the last one partial
            w = int(rng.choice([63, 64, 65, 127, 128, 129, 150]))
        image = hostile(rng, (h, w, c), scale=1.0, share=0.1)
        if i % 2 == 0:  # blobs with insides: the neighbours across word boundaries decide
            image[rng.random((h, w)) < 0.8] = 1.0
        threshold = float(rng.choice([0.0, -0.0, 0.25, -1.0, np.nan, -np.inf, 1 + 2**-30]))
        channel = int(rng.integers(0, c))
        want = _core.pixel_edge_points(image.ravel().tolist(), h * w, c, channel, threshold, w)
        want = np.array(want, np.float32).reshape(-1, 2)
        with np.errstate(over="ignore"):
            narrow = image.astype(np.float32)
        for given in (image, narrow, np.asfortranarray(image)):
            assert_same_f32(arrays.pixel_edge_points(given, threshold, channel), want)
        if c == 1:
            assert_same_f32(arrays.pixel_edge_points(image[:, :, 0], threshold), want)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda: arrays.convex_hull(np.zeros((3, 3))),
            ValueError,
            "argument 'points': expected shape (n, 2), got (3, 3)",
        ),
        (
            lambda: arrays.pixel_edge_points(np.zeros((2, 2, 3)), 0.5, 3),
            ValueError,
            "argument 'channel': expected 0 <= channel < 3, got 3",
        ),
        (
            lambda: arrays.pixel_edge_points(np.zeros(4), 0.5),
            ValueError,
            "argument 'image': expected shape (h, w) or (h, w, c), got (4,)",
        ),
        (
            lambda: arrays.pixel_edge_points(np.zeros((2, 2)), "x"),
            TypeError,
            "argument 'threshold': must be real number, not str",
        ),
    ],
)
def test_refusals(call, error, message):
    with pytest.raises(error) as e:
        call()
    assert str(e.value) == message


def test_integer_images_and_coordinates_match_core():
    # A uint8 channel compares in its own units; np.nonzero's int64
    # coordinates go straight into the hull.
    rng = np.random.default_rng(54)
    for _ in range(30):
        h, w = (int(k) for k in rng.integers(1, 12, 2))
        image = rng.integers(0, 256, (h, w, 2)).astype(np.uint8)
        threshold = float(rng.choice([0, 127, 127.5, 254, 255, -1]))
        for given in (image, image.astype(">i2"), image[:, :, 1] > 127):
            flat = given.reshape(h * w, -1)
            want = _core.pixel_edge_points(
                flat.ravel().tolist(), h * w, flat.shape[1], 0, threshold, w
            )
            same_rows(arrays.pixel_edge_points(given, threshold), want)
        ys, xs = np.nonzero(image[:, :, 0] > threshold)
        want = outcome(_core.convex_hull, list(zip(xs.tolist(), ys.tolist())))
        assert_same_outcome(lambda: arrays.convex_hull(np.column_stack([xs, ys])), want, same_rows)


def test_a_large_box_matches_core():
    # A million points and more take the detached path.
    points = np.random.default_rng(55).normal(size=((1 << 20) + 3, 2))
    points[7] = np.nan
    want = _core.bounding_box(list(map(tuple, points.astype(np.float32).tolist())))
    assert arrays.bounding_box(points) == want
