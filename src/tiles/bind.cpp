// Python surface of the tile cache and the size-prefixed LZ4 functions.
#include "module/bind.hpp"
#include "tiles/lz4_block.hpp"
#include "tiles/tile_cache.hpp"

// clang-format off: the registrations read as a table, laid out by hand

namespace core {
namespace {

using namespace py;

TileCache make_tile_cache(uint64_t capacity) { return TileCache(capacity); }

const Registration tile_cache{"TileCache", [](PyObject*) {
    return member(
        Class<TileCache>("TileCache", "(capacity)")
            .constructor<&make_tile_cache>()
            .method<&TileCache::put>(
                "put($self, tile_x, tile_y, data)",
                "Insert or update a tile. Returns the evicted tile key if capacity was exceeded.")
            .method<&TileCache::get>("get($self, tile_x, tile_y)",
                                     "Get a tile's data (marks it as recently used).")
            .method<&TileCache::contains>(
                "contains($self, tile_x, tile_y)",
                "Check if a tile is in cache (does not update LRU order).")
            .method<&TileCache::evict>("evict($self, tile_x, tile_y)", "Remove a tile from cache.")
            .method<&TileCache::keys>("keys($self)", "Return all tile keys currently in cache.")
            .method<&TileCache::len>("len($self)", "Current number of cached tiles.")
            .method<&TileCache::capacity>("capacity($self)", "Maximum capacity.")
            .method<&TileCache::clear>("clear($self)", "Clear all tiles.")
            .finish());
}};

const Registration compress{"lz4_compress", [](PyObject* m) {
    return function<&lz4_compress>(
        m, "lz4_compress(data)",
        "Compress bytes using lz4 block format.\n"
        "The original size is prepended as a 4-byte header, so decompression\n"
        "does not need the caller to supply it separately.");
}};

const Registration decompress{"lz4_decompress", [](PyObject* m) {
    return function<&lz4_decompress>(
        m, "lz4_decompress(data)",
        "Decompress lz4 bytes that were compressed with lz4_compress.\n"
        "The original size is read from the 4-byte header prepended during compression.");
}};

}  // namespace
}  // namespace core
