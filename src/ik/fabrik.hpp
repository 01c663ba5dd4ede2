// FABRIK for one open 2D chain: the root stays, the end effector reaches for
// the target, every bone keeps the length it is given.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace core {

using Joint = std::array<float, 2>;

// Throws ValueError when `lengths` does not hold one entry per bone (chains
// of fewer than two joints come back unchanged, unchecked).
std::vector<Joint> solve_ik(std::vector<Joint> chain_positions, Joint target,
                            const std::vector<float>& lengths, uint32_t max_iter, float tolerance);

std::vector<float> compute_bone_lengths(const std::vector<Joint>& positions);

}  // namespace core
