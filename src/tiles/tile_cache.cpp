#include "tiles/tile_cache.hpp"

#include "common/seed.hpp"

namespace core {
namespace {

uint64_t pack(int32_t x, int32_t y) noexcept {
    return (uint64_t{static_cast<uint32_t>(x)} << 32) | static_cast<uint32_t>(y);
}

TileKey unpack(uint64_t key) noexcept {
    return {static_cast<int32_t>(static_cast<uint32_t>(key >> 32)),
            static_cast<int32_t>(static_cast<uint32_t>(key))};
}

const uint64_t kSeed = process_seed();

}  // namespace

TileCache::KeyHash::KeyHash() noexcept : seed(kSeed) {}

std::size_t TileCache::KeyHash::operator()(uint64_t key) const noexcept {
    // Every input bit reaches every output bit.
    uint64_t state = key + seed;
    return static_cast<std::size_t>(splitmix64(state));
}

TileCache::TileCache(const TileCache& other) : capacity_(other.capacity_) {
    // The links point into the other map, so rebuild them oldest first.
    tiles_.reserve(other.tiles_.size());
    for (const Link* l = other.order_.prev; l != &other.order_; l = l->prev) {
        const Tile& src = *static_cast<const Tile*>(l);
        Tile& t = tiles_[src.key];
        t.key = src.key;
        t.data = src.data;
        push_front(t);
    }
}

std::optional<TileKey> TileCache::put(int32_t tile_x, int32_t tile_y, std::vector<uint8_t> data) {
    const uint64_t key = pack(tile_x, tile_y);
    if (auto it = tiles_.find(key); it != tiles_.end()) {
        Tile& t = it->second;
        t.data = std::move(data);
        unlink(t);
        push_front(t);
        return std::nullopt;
    }
    if (tiles_.size() < capacity_) {
        Tile& t = tiles_[key];
        t.key = key;
        t.data = std::move(data);
        push_front(t);
        return std::nullopt;
    }
    // Full: the least recently used tile goes, and its node is reused for
    // the new one.
    Tile& lru = *static_cast<Tile*>(order_.prev);
    const uint64_t evicted = lru.key;
    unlink(lru);
    auto node = tiles_.extract(evicted);
    node.key() = key;
    Tile& t = node.mapped();
    t.key = key;
    t.data = std::move(data);
    tiles_.insert(std::move(node));
    push_front(t);
    return unpack(evicted);
}

const std::vector<uint8_t>* TileCache::get(int32_t tile_x, int32_t tile_y) {
    auto it = tiles_.find(pack(tile_x, tile_y));
    if (it == tiles_.end()) return nullptr;
    Tile& t = it->second;
    unlink(t);
    push_front(t);
    return &t.data;
}

bool TileCache::contains(int32_t tile_x, int32_t tile_y) const {
    return tiles_.contains(pack(tile_x, tile_y));
}

bool TileCache::evict(int32_t tile_x, int32_t tile_y) {
    auto it = tiles_.find(pack(tile_x, tile_y));
    if (it == tiles_.end()) return false;
    unlink(it->second);
    tiles_.erase(it);
    return true;
}

std::vector<TileKey> TileCache::keys() const {
    std::vector<TileKey> out;
    out.reserve(tiles_.size());
    for (const auto& [key, tile] : tiles_) out.push_back(unpack(key));
    return out;
}

void TileCache::clear() noexcept {
    tiles_.clear();
    order_ = {&order_, &order_};
}

}  // namespace core
