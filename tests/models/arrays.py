"""Inputs and comparisons for the differential tests of gfxcore.arrays: the
array call against the per-item _core call on every element."""

import ctypes

import numpy as np
import pytest

# float64 values that narrow badly: specials, subnormals of both widths,
# values that round (or overflow) when narrowed, huge ones.
HOSTILE_F64 = np.array(
    [
        0.0,
        -0.0,
        np.nan,
        np.inf,
        -np.inf,
        5e-324,
        -1e-45,
        1e-46,
        1.1754942e-38,
        0.1,
        1 + 2**-24,
        1 + 3 * 2**-25,
        16777217.0,
        3.4028235e38,
        3.4028236e38,
        -1e39,
        1e300,
        -1e300,
        # NaNs of either sign and with payloads (kept when narrowed).
        -np.nan,
        np.frombuffer(bytes.fromhex("0000002000f8ff7f"), "<f8")[0],
        np.frombuffer(bytes.fromhex("000000e0fffffffF"), "<f8")[0],
    ]
)


def hostile(rng: np.random.Generator, shape, scale: float = 4.0, share: float = 0.2) -> np.ndarray:
    """float64 values in [-scale, scale), a `share` of them from HOSTILE_F64."""
    values = rng.uniform(-scale, scale, shape)
    pick = rng.random(shape) < share
    values[pick] = rng.choice(HOSTILE_F64, int(pick.sum()))
    return values


def layouts(values: np.ndarray):
    """The same values as float64, float32, strided, Fortran-ordered and
    memoryview arrays, and an empty one, each with the rows (as Python
    floats) that the per-item calls should get."""
    with np.errstate(over="ignore"):
        narrow = values.astype(np.float32)
    wide = np.empty((values.shape[0] * 2,) + values.shape[1:])
    wide[::2] = values
    exact, rounded = values.tolist(), narrow.tolist()
    yield values, exact
    yield narrow, rounded
    yield wide[::2], exact
    yield np.asfortranarray(narrow), rounded
    yield memoryview(np.ascontiguousarray(values)), exact
    yield values[:0], []


class DLPackOnly:
    """An array that offers only __dlpack__, as other libraries' arrays do."""

    def __init__(self, array):
        self.array = array

    def __dlpack__(self, **kwargs):
        return self.array.__dlpack__(**kwargs)

    def __dlpack_device__(self):
        return self.array.__dlpack_device__()


# Integers that round on their way to float32 (through float64, as a Python
# int goes), and the ends of the widths.
HOSTILE_INTS = [
    0,
    1,
    -1,
    127,
    -128,
    255,
    2**24 + 1,
    2**53 + 1,
    2**62 + 2**38 + 1,
    2**63 - 1,
    -(2**63),
]


def number_layouts(rng: np.random.Generator, rows: int, cols: int):
    """The same kind of (rows, cols) argument in every number dtype the
    per-item calls take a value of (integers, bools, float16, either byte
    order, long double) and from other exporters (ctypes, DLPack only),
    each with its rows as the Python numbers those calls should get."""
    ints = rng.integers(-1000, 1000, (rows, cols))
    pick = rng.random((rows, cols)) < 0.3
    ints[pick] = rng.choice(np.array(HOSTILE_INTS), int(pick.sum()))
    floats = hostile(rng, (rows, cols))
    with np.errstate(over="ignore"):
        arrays = [ints.astype(t) for t in ("i1", "u1", "i2", "<u2", ">i4", "u4", ">i8", "u8")]
        arrays += [ints > 0] + [floats.astype(t) for t in ("f2", ">f2", ">f4", ">f8", "g")]
        arrays.append(np.asfortranarray(ints))
    for a in arrays:
        yield a, a.tolist()
    packed = np.ascontiguousarray(floats)
    yield np.ctypeslib.as_ctypes(packed), floats.tolist()
    yield (
        (ctypes.c_int16 * cols * rows)(*map(tuple, ints.astype(np.int16))),
        ints.astype(np.int16).tolist(),
    )
    yield DLPackOnly(ints), ints.tolist()
    yield DLPackOnly(floats[::-1]), floats[::-1].tolist()


def assert_same_f32(got: np.ndarray, want) -> None:
    """Same shape, dtype float32, and the same bits everywhere: a NaN's sign
    and payload included."""
    want = np.asarray(want, dtype=np.float32).reshape(got.shape)
    assert got.dtype == np.float32
    bad = np.argwhere(got.view(np.uint32) != want.view(np.uint32))
    assert bad.size == 0, (
        f"{len(bad)} differ, first at {bad[0]}: "
        f"{got.view(np.uint32)[tuple(bad[0])]:#010x} != {want.view(np.uint32)[tuple(bad[0])]:#010x}"
    )


def outcome(fn, *args):
    """fn(*args), or the ValueError or RuntimeError it raised."""
    try:
        return fn(*args)
    except (ValueError, RuntimeError) as e:
        return e


def assert_same_outcome(call, want, check) -> None:
    """call() raises the error `want` is (same type, same message), or its
    result passes check(result, want)."""
    if isinstance(want, Exception):
        with pytest.raises(type(want)) as e:
            call()
        assert str(e.value) == str(want)
    else:
        check(call(), want)
