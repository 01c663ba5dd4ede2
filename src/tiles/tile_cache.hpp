// A least-recently-used cache of tile data keyed by tile coordinates.
//
// Tiles live in a hash map; each one is also a link of an intrusive,
// circular recency list whose sentinel is `order_`: order_.next is the most
// recently used tile, order_.prev the least recently used one. put, get,
// contains and evict are O(1) on average; keys(), clear() and the copy visit
// every tile, O(n).
#pragma once

#include <cstdint>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace core {

using TileKey = std::tuple<int32_t, int32_t>;

class TileCache {
public:
    explicit TileCache(uint64_t capacity) noexcept : capacity_(capacity == 0 ? 1 : capacity) {}
    TileCache(const TileCache& other);
    TileCache& operator=(const TileCache&) = delete;

    // Stores `data` under the key and makes it the most recently used tile.
    // When that takes the cache over capacity, drops the least recently used
    // tile and returns its key.
    std::optional<TileKey> put(int32_t tile_x, int32_t tile_y, std::vector<uint8_t> data);

    // The tile's data (valid until the next change), refreshing its recency;
    // nullptr when absent.
    const std::vector<uint8_t>* get(int32_t tile_x, int32_t tile_y);

    bool contains(int32_t tile_x, int32_t tile_y) const;
    bool evict(int32_t tile_x, int32_t tile_y);
    std::vector<TileKey> keys() const;  // in the hash map's order
    uint64_t len() const noexcept { return tiles_.size(); }
    uint64_t capacity() const noexcept { return capacity_; }
    void clear() noexcept;

    // Visits every tile from the least to the most recently used, as
    // f(tile_x, tile_y, data): putting them back in that order rebuilds the
    // recency order.
    template <class F>
    void each_oldest_first(F&& f) const {
        for (const Link* l = order_.prev; l != &order_; l = l->prev) {
            const Tile& t = *static_cast<const Tile*>(l);
            f(static_cast<int32_t>(static_cast<uint32_t>(t.key >> 32)),
              static_cast<int32_t>(static_cast<uint32_t>(t.key)), t.data);
        }
    }

private:
    struct Link {
        Link* prev;
        Link* next;
    };
    struct Tile : Link {
        uint64_t key;
        std::vector<uint8_t> data;
    };
    // Mixes the key with a per-process random seed, so that the map's layout
    // cannot be steered by chosen coordinates. The seed is kept in the cache:
    // the array module compiles this file again, with its own copy of the
    // seed, and must find tiles in caches made by _core.
    struct KeyHash {
        KeyHash() noexcept;  // takes the seed of the module that makes the cache
        std::size_t operator()(uint64_t key) const noexcept;
        uint64_t seed;
    };

    void unlink(Link& l) noexcept {
        l.prev->next = l.next;
        l.next->prev = l.prev;
    }
    void push_front(Link& l) noexcept {
        l.prev = &order_;
        l.next = order_.next;
        order_.next->prev = &l;
        order_.next = &l;
    }

    std::unordered_map<uint64_t, Tile, KeyHash> tiles_;
    Link order_{&order_, &order_};
    uint64_t capacity_;
};

}  // namespace core
