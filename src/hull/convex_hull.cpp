#include "hull/convex_hull.hpp"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "hull/stable_sort.hpp"

namespace core {
namespace {

// Below this magnitude every difference of two coordinates stays under 2^63
// and every product of two differences under 2^126, so no orientation test
// can overflow into inf - inf.
constexpr float kNoOverflow = 4611686018427387904.0f;  // 2^62

constexpr float kCollinear = 1e-9f;

inline float cross(float ux, float uy, float vx, float vy) { return ux * vy - uy * vx; }

// The angular order around the pivot, nearer first among points it takes as
// collinear. `Checked` records an orientation that came out NaN instead of
// assuming none can (from any thread of the sort).
template <bool Checked>
struct AngularLess {
    Point pivot;
    std::atomic<bool>* nan_seen;

    bool operator()(const Point& a, const Point& b) const {
        float ax = a[0] - pivot[0], ay = a[1] - pivot[1];
        float bx = b[0] - pivot[0], by = b[1] - pivot[1];
        float c = cross(ax, ay, bx, by);
        if constexpr (Checked) {
            if (std::isnan(c)) nan_seen->store(true, std::memory_order_relaxed);
        }
        if (std::fabs(c) < kCollinear) return ax * ax + ay * ay < bx * bx + by * by;
        return c > 0.0f;
    }
};

std::size_t lowest(const std::vector<Point>& points) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const Point& q = points[i];
        const Point& b = points[best];
        bool lower_y = q[1] < b[1];
        bool lower_x = q[1] == b[1] && q[0] < b[0];
        if (lower_y || lower_x) best = i;
    }
    return best;
}

// Returns false when an orientation test came out NaN (only possible when
// `Checked`).
template <bool Checked>
bool scan(const std::vector<Point>& sorted, std::vector<Point>& stack) {
    bool nan_seen = false;
    stack.reserve(sorted.size());
    InterruptPoll<> poll;
    for (const Point& q : sorted) {
        poll.tick();
        while (stack.size() >= 2) {
            const Point& top = stack[stack.size() - 1];
            const Point& below = stack[stack.size() - 2];
            float c = cross(top[0] - below[0], top[1] - below[1], q[0] - below[0], q[1] - below[1]);
            if constexpr (Checked) {
                if (std::isnan(c)) nan_seen = true;
            }
            if (!(c <= 0.0f)) break;
            stack.pop_back();
        }
        stack.push_back(q);
    }
    return !nan_seen;
}

// A NaN orientation comes from an infinite coordinate or from finite ones so
// large that a difference or a cross product overflows to inf - inf; the
// message says which, since only the first is visible in the input.
template <bool Checked>
std::vector<Point> graham(std::vector<Point>& points, bool has_infinite) {
    std::atomic<bool> nan_seen{false};
    AngularLess<Checked> less{points[0], &nan_seen};
    stable_merge_sort(points.data() + 1, points.size() - 1, less);
    std::vector<Point> hull;
    if (!scan<Checked>(points, hull) || nan_seen.load()) {
        throw ValueError(has_infinite
                             ? "convex_hull(): infinite coordinates make the orientation of "
                               "some points undefined"
                             : "convex_hull(): coordinates too large for the orientation test "
                               "make the orientation of some points undefined");
    }
    return hull;
}

}  // namespace

std::vector<Point> convex_hull(std::vector<Point> points) {
    if (points.size() < 3) return points;
    bool bounded = true;
    bool has_infinite = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        float x = points[i][0], y = points[i][1];
        if (std::isnan(x) || std::isnan(y)) {
            throw ValueError("convex_hull(): point " + std::to_string(i) + " has a NaN coordinate");
        }
        bounded = bounded && std::fabs(x) <= kNoOverflow && std::fabs(y) <= kNoOverflow;
        has_infinite = has_infinite || std::isinf(x) || std::isinf(y);
    }
    std::swap(points[0], points[lowest(points)]);
    return bounded ? graham<false>(points, false) : graham<true>(points, has_infinite);
}

}  // namespace core
