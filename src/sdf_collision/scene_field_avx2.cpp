// The scene field's many-point kernel on eight AVX2 lanes. The build compiles
// this file alone with AVX2 enabled (and without fused multiply-add), and
// SceneField calls it only on a CPU that reports AVX2.
#define CORE_LANES_ISA avx2
#include "sdf_collision/nearest_points.hpp"

namespace core::field {

#if CORE_LANES_AVX2
bool nearest_points_8(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept {
    return nearest_points<lanes::F8>(groups, columns, x, y, z, n, out);
}
void first_zeros_8(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept {
    first_zeros<lanes::F8>(groups, columns, positions, x, y, z, n, out);
}
void cell_candidates_8(std::span<const SceneField::Group> groups, const float* columns,
                       const Reach* reach, const float* cx, const float* cy, const float* cz,
                       const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                       std::size_t stride, uint32_t* counts) noexcept {
    cell_candidates<lanes::F8>(groups, columns, reach, cx, cy, cz, r, norm, cells, lists, stride,
                               counts);
}
#else
// Built without AVX2 (another CPU family, or the plain lanes): never chosen.
bool nearest_points_8(std::span<const SceneField::Group> groups, const float* columns,
                      const float* x, const float* y, const float* z, std::size_t n,
                      float* out) noexcept {
    return nearest_points_4(groups, columns, x, y, z, n, out);
}
void first_zeros_8(std::span<const SceneField::Group> groups, const float* columns,
                   const uint32_t* positions, const float* x, const float* y, const float* z,
                   std::size_t n, float* out) noexcept {
    first_zeros_4(groups, columns, positions, x, y, z, n, out);
}
void cell_candidates_8(std::span<const SceneField::Group> groups, const float* columns,
                       const Reach* reach, const float* cx, const float* cy, const float* cz,
                       const float* r, const float* norm, std::size_t cells, uint32_t* lists,
                       std::size_t stride, uint32_t* counts) noexcept {
    cell_candidates_4(groups, columns, reach, cx, cy, cz, r, norm, cells, lists, stride, counts);
}
#endif

}  // namespace core::field
