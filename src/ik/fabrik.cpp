#include "ik/fabrik.hpp"

#include <cmath>
#include <string>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace core {
namespace {

constexpr float kEps = 1.1920929e-7f;  // 2^-23

inline float length(float x, float y) { return std::sqrt(x * x + y * y); }

// The point at distance `l` from `anchor` towards `toward`; a zero direction
// leaves it on the anchor, and a NaN length falls back to the guard.
inline Joint place(const Joint& anchor, const Joint& toward, float l) {
    float dx = toward[0] - anchor[0], dy = toward[1] - anchor[1];
    // max(length, EPS) with a NaN length giving EPS, as fmax would; written
    // out because the library call sits on the chain's critical path.
    float len = length(dx, dy);
    float lambda = l / (len > kEps ? len : kEps);
    return {anchor[0] + dx * lambda, anchor[1] + dy * lambda};
}

}  // namespace

std::vector<Joint> solve_ik(std::vector<Joint> p, Joint target, const std::vector<float>& lengths,
                            uint32_t max_iter, float tolerance) {
    const std::size_t n = p.size();
    if (n < 2) return p;
    if (lengths.size() != n - 1) {
        throw ValueError("lengths must have exactly " + std::to_string(n - 1) +
                         " element(s) for a chain of " + std::to_string(n) + " joints, got " +
                         std::to_string(lengths.size()));
    }
    const Joint root = p[0];
    float total = 0.0f;
    for (float l : lengths) total += l;

    if (length(root[0] - target[0], root[1] - target[1]) >= total) {
        for (std::size_t i = 0; i + 1 < n; ++i) p[i + 1] = place(p[i], target, lengths[i]);
        return p;
    }
    // Counted in joint placements so that long chains and many iterations
    // alike reach the interrupt check.
    InterruptPoll<> poll;
    for (uint32_t done = 0; done < max_iter;) {
        p[n - 1] = target;
        for (std::size_t i = n - 1; i-- > 0;) p[i] = place(p[i + 1], p[i], lengths[i]);
        p[0] = root;
        for (std::size_t i = 1; i < n; ++i) p[i] = place(p[i - 1], p[i], lengths[i - 1]);
        ++done;
        if (length(p[n - 1][0] - target[0], p[n - 1][1] - target[1]) < tolerance) break;
        poll.tick(2 * n);
    }
    return p;
}

std::vector<float> compute_bone_lengths(const std::vector<Joint>& positions) {
    std::vector<float> out;
    if (positions.size() < 2) return out;
    out.reserve(positions.size() - 1);
    for (std::size_t i = 0; i + 1 < positions.size(); ++i) {
        out.push_back(
            length(positions[i + 1][0] - positions[i][0], positions[i + 1][1] - positions[i][1]));
    }
    return out;
}

}  // namespace core
