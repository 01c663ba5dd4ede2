"""A tour of the tile storage: an LRU cache of tiles and size-prefixed LZ4."""

from _core import TileCache, lz4_compress, lz4_decompress


def main():
    # A cache that holds at most three tiles, keyed by (tile_x, tile_y).
    cache = TileCache(3)
    for x in range(3):
        cache.put(x, 0, bytes([x] * 4))
    cache.get(0, 0)  # (0, 0) is now the most recently used
    evicted = cache.put(3, 0, b"\xff" * 4)  # over capacity: the oldest tile goes
    print("evicted", evicted)  # (1, 0)
    print("tiles", sorted(cache.keys()), "of", cache.capacity())
    print("tile (3, 0)", cache.get(3, 0))  # a list of ints
    print("contains (1, 0)?", cache.contains(1, 0))

    # Compressed tiles carry their own length, so they decode on their own.
    tile = bytes(range(16)) * 64
    packed = lz4_compress(tile)
    print(f"{len(tile)} bytes -> {len(packed)} bytes, header {packed[:4]}")
    cache.put(9, 9, packed)
    restored = bytes(lz4_decompress(bytes(cache.get(9, 9))))
    print("round trip ok:", restored == tile)

    try:
        lz4_decompress(b"\x05\x00\x00\x00\x50abcd")  # block one byte short
    except RuntimeError as e:
        print("deliberate bad input, refused as expected -> RuntimeError:", e)


if __name__ == "__main__":
    main()
