#include "common/seed.hpp"

#include <chrono>
#include <random>

namespace core {

uint64_t process_seed() noexcept {
    uint64_t seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        seed ^= (uint64_t{device()} << 32) | device();
    } catch (...) {
        // No entropy source: the clock alone still varies between runs.
    }
    return seed;
}

}  // namespace core
