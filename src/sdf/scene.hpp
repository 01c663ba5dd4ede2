// An ordered list of primitives that serialises to the GPU scene buffer: the
// records of all primitives end to end, 48 bytes each, no header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdf/primitive.hpp"

namespace core {

struct SdfScene {
    std::vector<SdfPrimitive> primitives;

    void add(const SdfPrimitive& p) { primitives.push_back(p); }
    void clear() noexcept { primitives.clear(); }
    uint64_t len() const noexcept { return primitives.size(); }
    std::vector<uint8_t> to_gpu_bytes() const;
};

std::string repr(const SdfScene& s);

}  // namespace core
