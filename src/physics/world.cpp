#include "physics/world.hpp"

#include <cassert>
#include <stdexcept>

#include "common/errors.hpp"
#include "common/seed.hpp"
#include "physics/integrate.hpp"

namespace core {

namespace {

const uint64_t kHandleSeed = process_seed();

}  // namespace

PhysicsWorld::HandleHash::HandleHash() noexcept : seed(kHandleSeed) {}

std::size_t PhysicsWorld::HandleHash::operator()(uint32_t handle) const noexcept {
    uint64_t state = handle + seed;
    return static_cast<std::size_t>(splitmix64(state));
}

uint32_t PhysicsWorld::add_body(const RigidBody& body) {
    // Array indices are 32-bit; this many bodies cannot fit in memory anyway.
    if (bodies_.size() >= UINT32_MAX) throw RuntimeError("too many bodies in one world");
    // After the counter wraps, reissuing a live handle would leave the older
    // body unreachable and let a later swap-remove repoint its entry, so the
    // next free handle is taken instead. Fewer than 2^32 handles are live,
    // so one is always free.
    uint32_t h = next_handle_;
    while (index_.contains(h)) ++h;
    RigidBody stored = body;
    stored.handle = h;
    bodies_.push_back(stored);
    try {
        index_.emplace(h, static_cast<uint32_t>(bodies_.size() - 1));
    } catch (...) {
        bodies_.pop_back();  // a failed add leaves the world as it was
        throw;
    }
    next_handle_ = h + 1;
    assert(index_.size() == bodies_.size());
    return h;
}

void PhysicsWorld::remove_body(uint32_t handle) {
    const auto it = index_.find(handle);
    if (it == index_.end()) return;
    const uint32_t i = it->second;
    assert(i < bodies_.size() && bodies_[i].handle == handle);
    index_.erase(it);
    const uint32_t last = static_cast<uint32_t>(bodies_.size() - 1);
    if (i != last) {
        bodies_[i] = bodies_[last];
        index_.find(bodies_[i].handle)->second = i;
    }
    bodies_.pop_back();
    assert(index_.size() == bodies_.size());
}

const RigidBody* PhysicsWorld::find(uint32_t handle) const {
    const auto it = index_.find(handle);
    if (it == index_.end()) return nullptr;
    assert(it->second < bodies_.size() && bodies_[it->second].handle == handle);
    return &bodies_[it->second];
}

std::optional<Float3> PhysicsWorld::get_position(uint32_t handle) const {
    const RigidBody* b = find(handle);
    if (b == nullptr) return std::nullopt;
    return b->position;
}

void PhysicsWorld::set_position(uint32_t handle, float x, float y, float z) {
    const auto it = index_.find(handle);
    if (it != index_.end()) bodies_[it->second].set_position(x, y, z);
}

std::vector<HandlePair> PhysicsWorld::step(float dt) {
    stepped_.resize(bodies_.size());
    integrate_all(bodies_, stepped_, gravity_, dt);
    std::vector<HandlePair> pairs;
    pairs.reserve(last_pair_count_);
    broad_phase_.find_pairs(stepped_, pairs);
    bodies_.swap(stepped_);
    last_pair_count_ = pairs.size();
    return pairs;
}

void PhysicsWorld::restore(Float3 gravity, std::vector<RigidBody> bodies,
                           std::span<const std::pair<uint32_t, uint32_t>> index,
                           uint32_t next_handle) {
    decltype(index_) fresh;
    fresh.reserve(index.size());
    if (index.size() != bodies.size())
        throw std::invalid_argument("the handle index and the bodies differ in length");
    for (const auto& [handle, at] : index) {
        if (at >= bodies.size() || bodies[at].handle != handle || !fresh.emplace(handle, at).second)
            throw std::invalid_argument("the handle index does not name each body once");
    }
    bodies_ = std::move(bodies);
    index_ = std::move(fresh);
    stepped_.clear();
    gravity_ = gravity;
    next_handle_ = next_handle;
}

}  // namespace core
