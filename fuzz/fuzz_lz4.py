"""lz4_decompress on any bytes, against the lz4 package's block decoder;
lz4_compress round trips."""

import lz4.block

import _core
import common

LIMIT = 1 << 22  # the anchor allocates the full claimed size: keep it small


def anchor(block, size):
    try:
        return lz4.block.decompress(block, uncompressed_size=size)
    except lz4.block.LZ4BlockError:
        return None


def test_one(data):
    try:
        ours = bytes(_core.lz4_decompress(data))
    except RuntimeError as e:
        ours, error = None, str(e)
    if ours is not None or error == "Decompression failed. Input invalid or too long?":
        claimed = int.from_bytes(data[:4], "little")
        # Decoding into the claimed size, as the format defines it; when that
        # is too large for the anchor, into the bound our decoder uses.
        size = claimed if claimed <= LIMIT else min(claimed, 255 * (len(data) - 4))
        if size <= LIMIT:
            assert anchor(data[4:], size) == ours, (data.hex(), ours)
        elif ours is not None:
            assert len(ours) <= claimed
            assert anchor(data[4:], len(ours)) in (ours, None)
    else:
        assert error in (
            "Source buffer must at least contain size prefix.",
            "Parsed size prefix in buffer must not be negative.",
            "Given size parameter is too big",
        ), error
    packed = bytes(_core.lz4_compress(data))
    assert packed[:4] == len(data).to_bytes(4, "little")
    assert bytes(_core.lz4_decompress(packed)) == data
    assert lz4.block.decompress(packed) == data


if __name__ == "__main__":
    common.main(test_one)
