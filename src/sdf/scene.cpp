#include "sdf/scene.hpp"

#include "sdf/record.hpp"

namespace core {

std::vector<uint8_t> SdfScene::to_gpu_bytes() const {
    std::vector<uint8_t> out(primitives.size() * record::kSize);
    uint8_t* p = out.data();
    for (const SdfPrimitive& prim : primitives) {
        prim.write_record(p);
        p += record::kSize;
    }
    return out;
}

std::string repr(const SdfScene& s) {
    return "SdfScene(primitives=" + std::to_string(s.primitives.size()) + ")";
}

}  // namespace core
