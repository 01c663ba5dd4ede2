"""gfxcore.arrays' byte group against _core's list-of-ints calls."""

import array
import ctypes

import numpy as np
import pytest
from conftest import ctrl_c_child
from gfxcore import arrays
from models.arrays import assert_same_outcome, outcome

import _core


def buffers(data: bytes):
    """The same bytes as every accepted kind of buffer, one strided."""
    wide = np.zeros(2 * len(data), np.uint8)
    wide[::2] = np.frombuffer(data, np.uint8)
    return [
        data,
        bytearray(data),
        memoryview(data),
        array.array("B", data),
        np.frombuffer(data, np.int8),
        wide[::2],
        (ctypes.c_uint8 * len(data)).from_buffer_copy(data),
        (ctypes.c_char * len(data)).from_buffer_copy(data),
        np.frombuffer(data, np.uint8).reshape(1, -1, 1)[:, ::-1][:, ::-1],
    ]


def same_bytes(got, want):
    assert type(got) is bytes and got == bytes(want)


def test_bytes_match_core():
    rng = np.random.default_rng(71)
    for _ in range(40):
        n = int(rng.integers(0, 3000))
        data = rng.choice([rng.bytes(n), bytes(rng.integers(0, 3, n).astype(np.uint8))])
        packed = bytes(_core.lz4_compress(data))
        # Intact, cut short, with a flipped byte, and a lying header.
        damaged = [packed, packed[: int(rng.integers(0, len(packed) + 1))]]
        damaged.append(bytes(b ^ 0x55 if i == n % len(packed) else b for i, b in enumerate(packed)))
        damaged.append(bytes([255, 255, 255, rng.integers(0, 256)]) + packed[4:])
        for given in buffers(data):
            assert_same_outcome(lambda: arrays.lz4_compress(given), packed, same_bytes)
        for blob in damaged:
            want = outcome(_core.lz4_decompress, blob)
            for given in buffers(blob):
                assert_same_outcome(lambda: arrays.lz4_decompress(given), want, same_bytes)


def test_scene_and_tiles_match_core():
    rng = np.random.default_rng(72)
    scene = _core.SdfScene()
    for _ in range(5):
        scene.add(_core.SdfPrimitive.sphere(*rng.uniform(-2, 2, 3).tolist(), 0.5))
    data = arrays.scene_bytes(scene)
    assert data == bytes(scene.to_gpu_bytes())
    ours, theirs = _core.SdfCollider(), _core.SdfCollider()
    arrays.load_scene(ours, np.frombuffer(data + b"\x01\x02", np.uint8))
    theirs.load_bytes(data + b"\x01\x02")
    assert ours.prim_count() == theirs.prim_count() == 5
    assert ours.distance(0.1, 0.2, 0.3) == theirs.distance(0.1, 0.2, 0.3)

    # The same random puts and gets on two caches: same tiles, same evictions.
    ours, theirs = _core.TileCache(8), _core.TileCache(8)
    for _ in range(400):
        x, y = (int(v) for v in rng.integers(-3, 3, 2))
        if rng.random() < 0.5:
            tile = rng.bytes(int(rng.integers(0, 40)))
            assert arrays.put_tile(ours, x, y, bytearray(tile)) == theirs.put(x, y, tile)
        else:
            want = theirs.get(x, y)
            assert arrays.tile_bytes(ours, x, y) == (None if want is None else bytes(want))
    assert sorted(ours.keys()) == sorted(theirs.keys())


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda: arrays.lz4_compress("text"),
            TypeError,
            "argument 'data': expected a bytes-like object or a uint8 array, got 'str' object",
        ),
        (
            lambda: arrays.lz4_compress(np.zeros(3, np.float32)),
            TypeError,
            "argument 'data': expected a bytes-like object or a uint8 array, got dtype float32",
        ),
        (
            lambda: arrays.tile_bytes(_core.TileCache(1), 2**31, 0),
            OverflowError,
            "argument 'x': out of range integral type conversion attempted",
        ),
        (
            lambda: arrays.put_tile(_core.TileCache(1), 0, "y", b""),
            TypeError,
            "argument 'y': 'str' object cannot be interpreted as an integer",
        ),
        (
            lambda: arrays.scene_bytes(_core.SdfCollider()),
            TypeError,
            "argument 'scene': 'SdfCollider' object cannot be converted to 'SdfScene'",
        ),
    ],
)
def test_refusals(call, error, message):
    with pytest.raises(error) as e:
        call()
    assert str(e.value) == message


LOAD_CHILD = """
import _core
from gfxcore import arrays
c = _core.SdfCollider()
one = bytes(_core.SdfPrimitive.sphere(0, 0, 0, 1).to_bytes())
c.load_bytes(one)
data = one * 3_000_000
print("ready", flush=True)
try:
    arrays.load_scene(c, data)
    print("finished", end=" ")
except KeyboardInterrupt:
    print("stopped", end=" ")
print(c.prim_count(), c.distance(0, 0, 0))
"""


def test_a_stopped_load_keeps_the_old_scene():
    # The decode of 3M records takes most of a second, in one piece.
    assert ctrl_c_child(LOAD_CHILD, delay=0.02) == "stopped 1 -1.0\n"


LZ4_CHILD = """
import time
import numpy as np
from gfxcore import arrays
data = bytearray(np.random.default_rng(0).integers(0, 4, 256 << 20, dtype=np.uint8))
print("ready", flush=True)
try:
    arrays.lz4_compress(data)
    print("finished")
except KeyboardInterrupt:
    # Stopped at once: the abandoned work still reads `data`, which stays
    # held (not resizable) until its end gives it back.
    def held():
        try:
            data.append(0)
            return False
        except BufferError:
            return True
    print("stopped", held(), end=" ")
    deadline = time.monotonic() + 60
    while held() and time.monotonic() < deadline:
        time.sleep(0.01)
    print("given back", not held())
"""


def test_a_long_lz4_call_stops_at_once_and_gives_its_buffers_back():
    assert ctrl_c_child(LZ4_CHILD) == "stopped True given back True\n"


def test_a_large_lz4_call_matches_core():
    data = np.random.default_rng(73).integers(0, 8, 9 << 20, dtype=np.uint8)
    packed = arrays.lz4_compress(data)
    assert packed == bytes(_core.lz4_compress(data.tobytes()))
    assert arrays.lz4_decompress(bytearray(packed)) == data.tobytes()
