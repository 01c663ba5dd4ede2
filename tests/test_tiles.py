"""TileCache (LRU of tile data) and the size-prefixed LZ4 functions."""

import ctypes
import ctypes.util
import random
import subprocess
import sys
import textwrap

import lz4.block
import pytest
from models.tiles import RefLRU

from _core import TileCache, lz4_compress, lz4_decompress

OUT_OF_RANGE = "out of range integral type conversion attempted"


def assert_same_recency(cache, ref):
    """Fresh keys push the tiles out oldest first: both must drop the same
    keys in the same order (this empties both of their old tiles)."""
    for i in range(ref.cap):
        key = (2**31 - 1 - i, -(2**31))
        assert cache.put(*key, b"") == ref.put(*key, b"")


# ---- TileCache ---------------------------------------------------------------


def test_capacity_zero_holds_one_tile():
    c = TileCache(0)
    assert c.capacity() == 1
    assert c.put(5, 6, [1]) is None
    assert c.put(7, 8, [2]) == (5, 6)
    assert c.keys() == [(7, 8)]


@pytest.mark.parametrize(
    "touch, evicted",
    [
        ("get", (1, 0)),  # a hit refreshes the tile
        ("contains", (0, 0)),  # contains does not
        ("keys", (0, 0)),
        ("miss", (0, 0)),  # a missed get changes nothing
    ],
)
def test_which_calls_refresh_recency(touch, evicted):
    c = TileCache(2)
    c.put(0, 0, [1])
    c.put(1, 0, [2])
    if touch == "get":
        assert c.get(0, 0) == [1]
    elif touch == "contains":
        assert c.contains(0, 0)
    elif touch == "keys":
        c.keys()
    else:
        assert c.get(9, 9) is None
    assert c.put(2, 0, [3]) == evicted
    assert not c.contains(*evicted)
    assert c.len() == 2


def test_reput_replaces_data_and_refreshes_without_evicting():
    c = TileCache(2)
    c.put(0, 0, [1])
    c.put(1, 0, [2])
    assert c.put(0, 0, [7, 7]) is None
    assert c.len() == 2
    assert c.get(0, 0) == [7, 7]
    assert c.put(2, 0, []) == (1, 0)


def test_data_forms_and_copies():
    c = TileCache(8)
    for i, data in enumerate(
        [
            b"\x01\xff",
            bytearray(b"\x01\xff"),
            (1, 255),
            [1, 255],
            range(1, 256, 254),
            memoryview(b"\x01\xff"),
        ]
    ):
        c.put(i, -i, data)
        assert c.get(i, -i) == [1, 255]
    c.put(-1, -1, b"")
    assert c.get(-1, -1) == []
    out = c.get(0, 0)
    out.append(3)
    source = [4, 5]
    c.put(1, 1, source)
    source[0] = 6
    assert c.get(0, 0) == [1, 255] and c.get(1, 1) == [4, 5]


def test_evict_clear_and_extreme_keys():
    c = TileCache(3)
    assert c.evict(0, 0) is False
    c.put(-(2**31), 2**31 - 1, [1])
    assert c.contains(-(2**31), 2**31 - 1) and not c.contains(2**31 - 1, -(2**31))
    assert c.evict(-(2**31), 2**31 - 1) is True
    assert c.len() == 0 and c.keys() == []
    for i in range(5):
        c.put(i, -i, [i])
    assert sorted(c.keys()) == [(2, -2), (3, -3), (4, -4)]
    assert c.clear() is None
    assert (c.len(), c.keys(), c.capacity()) == (0, [], 3)
    c.put(1, 1, [1])
    assert c.keys() == [(1, 1)]


def test_huge_capacity_is_not_preallocated():
    c = TileCache(2**64 - 1)
    assert c.capacity() == 2**64 - 1
    c.put(0, 0, b"x")
    assert c.len() == 1


def test_no_container_protocols():
    c = TileCache(2)
    c.put(0, 0, b"")
    with pytest.raises(TypeError):
        len(c)
    with pytest.raises(TypeError):
        (0, 0) in c  # noqa: B015
    with pytest.raises(TypeError):
        iter(c)
    assert repr(c).startswith("<builtins.TileCache object at 0x")


@pytest.mark.parametrize("capacity", [0, 1, 2, 7, 64])
def test_random_operations_match_reference(capacity):
    rng = random.Random(capacity)
    c, ref = TileCache(capacity), RefLRU(capacity)
    span = 2 * max(capacity, 1) + 2
    for step in range(6000):
        x, y = rng.randrange(span) - span // 2, rng.choice([0, -1, 2**31 - 1])
        op = rng.random()
        if op < 0.45:
            data = bytes(rng.randrange(256) for _ in range(rng.randrange(5)))
            assert c.put(x, y, data) == ref.put(x, y, data)
        elif op < 0.85:
            assert c.get(x, y) == ref.get(x, y)
        elif op < 0.93:
            assert c.contains(x, y) == ((x, y) in ref.d)
        elif op < 0.99:
            assert c.evict(x, y) == ref.evict(x, y)
        else:
            c.clear()
            ref.d.clear()
        if step % 97 == 0:
            assert c.len() == len(ref.d)
            assert sorted(c.keys()) == sorted(ref.d)
    assert_same_recency(c, ref)


class Raising:
    """A sequence whose iteration fails after the first element."""

    def __len__(self):
        return 2

    def __getitem__(self, i):
        if i == 0:
            return 1
        raise KeyError("boom")


@pytest.mark.parametrize(
    "args, exc, message",
    [
        ((2**31, 0, b""), OverflowError, OUT_OF_RANGE),
        ((0, -(2**31) - 1, b""), OverflowError, OUT_OF_RANGE),
        ((0.5, 0, b""), TypeError, "argument 'tile_x': "),
        ((0, 0, "ab"), TypeError, "argument 'data': Can't extract `str` to `Vec`"),
        ((0, 0, 5), TypeError, "argument 'data': 'int' object cannot be converted to 'Sequence'"),
        ((0, 0, [1, 256]), OverflowError, OUT_OF_RANGE),
        ((0, 0, [1, -1]), OverflowError, OUT_OF_RANGE),
        ((0, 0, Raising()), KeyError, "boom"),
    ],
)
def test_failed_put_changes_nothing(args, exc, message):
    c, ref = TileCache(3), RefLRU(3)
    for k in [(0, 0), (1, 0), (2, 0)]:
        c.put(*k, [k[0]])
        ref.put(*k, [k[0]])
    with pytest.raises(exc) as info:
        c.put(*args)
    assert str(info.value.args[0]).startswith(message)
    assert c.get(0, 0) == [0]  # (0, 0) kept its data and was not refreshed by the failure
    ref.get(0, 0)
    assert sorted(c.keys()) == sorted(ref.d)
    assert_same_recency(c, ref)


def test_reentrant_access_during_put_is_refused():
    c = TileCache(2)
    c.put(0, 0, [1])

    class Sneaky:
        def __index__(self):
            c.evict(0, 0)
            return 1

    with pytest.raises(RuntimeError, match="Already borrowed"):
        c.put(1, 1, [Sneaky()])
    assert c.keys() == [(0, 0)] and c.get(0, 0) == [1]


@pytest.mark.parametrize("args", [(), (-1,), (1.0,), ("3",)])
def test_constructor_errors(args):
    with pytest.raises(TypeError if args != (-1,) else OverflowError):
        TileCache(*args)


def test_keywords_and_docstrings():
    c = TileCache(capacity=2)
    assert c.put(tile_x=1, tile_y=2, data=b"\x03") is None
    assert c.get(tile_y=2, tile_x=1) == [3]
    assert c.contains(1, tile_y=2) and c.evict(tile_x=1, tile_y=2)
    assert TileCache.put.__text_signature__ == "($self, tile_x, tile_y, data)"
    assert TileCache.get.__doc__ == "Get a tile's data (marks it as recently used)."
    assert TileCache.__text_signature__ == "(capacity)" and TileCache.__doc__ == ""


# ---- LZ4 -----------------------------------------------------------------------


def header(n):
    return n.to_bytes(4, "little")


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "Source buffer must at least contain size prefix."),
        (b"abc", "Source buffer must at least contain size prefix."),
        (bytes([0, 0, 0, 0x80]), "Parsed size prefix in buffer must not be negative."),
        (bytes([255, 255, 255, 255, 0]), "Parsed size prefix in buffer must not be negative."),
        (header(2113929217), "Given size parameter is too big"),
        (header(2147483647) + b"\x00", "Given size parameter is too big"),
        (bytes(4), "Decompression failed. Input invalid or too long?"),
        (header(5) + b"\x50abcd", "Decompression failed. Input invalid or too long?"),
        (header(5) + b"\x50abcdef", "Decompression failed. Input invalid or too long?"),
        (header(1) + b"\x50abcde", "Decompression failed. Input invalid or too long?"),
        (header(0) + b"\x10a", "Decompression failed. Input invalid or too long?"),
        (header(100) + b"\x0f\x05\x00\x00", "Decompression failed. Input invalid or too long?"),
    ],
)
def test_decompress_errors(data, message):
    with pytest.raises(RuntimeError) as info:
        lz4_decompress(data)
    assert str(info.value) == message


def test_decompress_small_valid_blocks():
    assert lz4_decompress(bytes(5)) == []
    assert lz4_decompress(header(2113929216) + b"\x00") == []
    assert lz4_decompress(header(5) + b"\x50abcde") == list(b"abcde")
    # A header larger than the content is accepted.
    assert lz4_decompress(header(100) + b"\x50abcde") == list(b"abcde")


@pytest.mark.parametrize("fn", [lz4_compress, lz4_decompress])
@pytest.mark.parametrize(
    "arg", [bytearray(b"12345"), [0, 0, 0, 0, 0], "12345", memoryview(b"12345"), None]
)
def test_only_bytes_accepted(fn, arg):
    with pytest.raises(TypeError) as info:
        fn(arg)
    assert str(info.value) == (
        f"argument 'data': '{type(arg).__qualname__}' object cannot be converted to 'PyBytes'"
    )


def test_bytes_subclass_and_keyword_accepted():
    class B(bytes):
        pass

    packed = lz4_compress(data=B(b"tile"))
    assert lz4_decompress(data=B(bytes(packed))) == list(b"tile")


def payloads():
    rng = random.Random(7)
    yield b""
    yield b"x"
    yield bytes(rng.randrange(256) for _ in range(1000))
    yield b"abc" * 5000
    yield bytes(70000)
    yield b"".join(
        rng.choice([b"tile ", b"cache ", b"lz4 ", bytes([rng.randrange(256)])])
        for _ in range(1 << 18)
    )  # about 1 MiB, text-like
    yield rng.randbytes(1 << 20)


@pytest.mark.parametrize("data", list(payloads()), ids=lambda d: f"{len(d)}B")
def test_round_trip_and_interop(data):
    packed = lz4_compress(data)
    assert type(packed) is list and all(type(b) is int for b in packed[:64])
    assert bytes(packed[:4]) == header(len(data))
    assert bytes(lz4_decompress(bytes(packed))) == data
    # Both directions with the lz4 package's size-prefixed block format.
    assert lz4.block.decompress(bytes(packed)) == data
    assert bytes(lz4_decompress(lz4.block.compress(data, store_size=True))) == data
    if data:
        # A header one short of the true length makes decoding fail.
        short = header(len(data) - 1) + bytes(packed[4:])
        with pytest.raises(RuntimeError, match="Decompression failed"):
            lz4_decompress(short)


def test_raised_header_still_gives_true_content():
    packed = bytes(lz4_compress(b"hello"))
    assert lz4_decompress(header(100) + packed[4:]) == list(b"hello")
    packed = bytes(lz4_compress(bytes(100000)))
    for n in [100000, 100001, 10**9, 2113929216]:
        assert lz4_decompress(header(n) + packed[4:]) == [0] * 100000


def longest_block(extension_bytes):
    """A block that expands as far as the format allows: one literal, then
    one match at offset 1 whose length takes `extension_bytes` bytes of 255,
    then the closing 5 literals."""
    match = b"\x1fa\x01\x00" + b"\xff" * extension_bytes + b"\xfe"
    return match + b"\x50bcdef", 1 + 19 + 255 * extension_bytes + 254 + 5


@pytest.mark.parametrize("ext", [0, 1, 100, 4000])
def test_highest_expansion_blocks(ext):
    block, size = longest_block(ext)
    expected = b"a" * (size - 5) + b"bcdef"
    for n in [size, size + 1, size + 12, 255 * len(block), 2**31 - 2**25]:
        assert bytes(lz4_decompress(header(n) + block)) == expected
    with pytest.raises(RuntimeError, match="Decompression failed"):
        lz4_decompress(header(size - 1) + block)


def lz4_library():
    path = ctypes.util.find_library("lz4")
    if path is None:
        pytest.skip("liblz4 not found for ctypes")
    lib = ctypes.CDLL(path)
    lib.LZ4_decompress_safe.argtypes = [
        ctypes.c_char_p,
        ctypes.c_char_p,
        ctypes.c_int,
        ctypes.c_int,
    ]
    return lib


def test_bounded_buffer_decodes_like_a_full_size_one():
    """With a header far above what the block can produce, the result and
    every failure are those of decoding into a buffer of the header's size."""
    lib = lz4_library()
    rng = random.Random(11)
    seeds = [
        bytes(lz4_compress(d))[4:]
        for d in [b"abcabcabcabc" * 40, bytes(300), rng.randbytes(50), b"ab" * 7 + b"xyz" * 30]
    ]
    seeds += [longest_block(e)[0] for e in (0, 2, 9)]
    for trial in range(3000):
        block = bytearray(rng.choice(seeds))
        for _ in range(rng.randrange(4)):
            i = rng.randrange(len(block))
            block[i] = rng.choice([0, 255, 0x0F, 0xF0, 0x1F, rng.randrange(256)])
        if rng.random() < 0.2:
            block = block[: rng.randrange(1, len(block) + 1)]
        block = bytes(block)
        capacity = 255 * len(block) + 4096  # comfortably more than we allocate
        out = ctypes.create_string_buffer(capacity)
        produced = lib.LZ4_decompress_safe(block, out, len(block), capacity)
        try:
            ours = bytes(lz4_decompress(header(capacity) + block))
        except RuntimeError as e:
            assert str(e) == "Decompression failed. Input invalid or too long?"
            assert produced < 0, block.hex()
        else:
            assert produced >= 0 and ours == out.raw[:produced], block.hex()


@pytest.mark.parametrize(
    "blocks",
    [
        'b"\\x00", b"\\x10a", b"\\x50abcde", b"\\xff" * 60',
        # Enough garbage that the decodable bound reaches the header's 2 GB.
        "random.Random(5).randbytes(8 * 2**20), bytes(8 * 2**20)",
    ],
)
def test_lying_header_does_not_drive_memory(blocks):
    script = textwrap.dedent(f"""
        import random, resource
        from _core import lz4_decompress
        def peak():
            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        blocks = [(2_113_929_216).to_bytes(4, "little") + b for b in [{blocks}]]
        before = peak()
        for data in blocks:
            try:
                lz4_decompress(data)
            except RuntimeError:
                pass
        print(peak() - before)
    """)
    grown = int(
        subprocess.run(
            [sys.executable, "-c", script], check=True, capture_output=True, text=True
        ).stdout
    )
    assert grown < 48 * 2**20


def test_compress_output_is_a_valid_raw_block():
    data = b"size-prefixed " * 100
    packed = bytes(lz4_compress(data))
    assert lz4.block.decompress(packed[4:], uncompressed_size=len(data)) == data
    assert lz4_compress(b"") == [0, 0, 0, 0, 0]
    assert lz4_compress.__text_signature__ == "(data)"
    assert lz4_decompress.__doc__.startswith("Decompress lz4 bytes that were compressed")
