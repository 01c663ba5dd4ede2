#include "hull/convex_hull.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "hull/exact_hull.hpp"
#include "hull/inner_points.hpp"
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

// ---- judging the scan's result ------------------------------------------------

// cross(u, v) as the scan and the angular order compute it, taken as "not to
// the right" when it is above minus the collinearity tolerance plus a margin
// for the rounding of the two products (2^-20 of their sum, a few units in
// their last place). A NaN or overflowing cross is never accepted.
inline bool not_right(float ux, float uy, float vx, float vy) {
    const float left = ux * vy;
    const float right = uy * vx;
    const float c = left - right;
    const float tolerance = kCollinear + (std::fabs(left) + std::fabs(right)) * 0x1p-20f;
    return c > -tolerance;
}

// Whether q lies on the inner side of the edge a -> b (or on it), judged as
// the scan judges a turn (below a, top b).
inline bool inside_edge(const Point& a, const Point& b, const Point& q) {
    return not_right(b[0] - a[0], b[1] - a[1], q[0] - a[0], q[1] - a[1]);
}

// Judged as the angular order judges it: u and v from the pivot.
inline bool inside_from_pivot(const Point& p, const Point& u, const Point& v) {
    return not_right(u[0] - p[0], u[1] - p[1], v[0] - p[0], v[1] - p[1]);
}

inline bool same(const Point& a, const Point& b) { return a[0] == b[0] && a[1] == b[1]; }

inline float distance2(const Point& p, const Point& q) {
    const float dx = q[0] - p[0], dy = q[1] - p[1];
    return dx * dx + dy * dy;
}

// 0 for an edge heading up (or right along a level line), 1 otherwise.
inline int half(const Point& a, const Point& b) {
    return (b[1] > a[1] || (b[1] == a[1] && b[0] > a[0])) ? 0 : 1;
}

// Whether the angular order takes every pair of points as collinear with the
// pivot (a set within about 2e-5 of it): it then orders them by distance
// alone, which is consistent, whatever the scan makes of them.
bool all_collinear(const std::vector<Point>& points) {
    const Point& p = points[0];
    float reach = 0.0f;
    for (const Point& q : points) {
        reach = std::fmax(reach, std::fmax(std::fabs(q[0] - p[0]), std::fabs(q[1] - p[1])));
    }
    return reach * reach < 4.9e-10f;
}

// When the angular order is not consistent (dense clouds, nearly collinear
// runs), or its rounding misplaces points whose magnitudes lie far apart, the
// stack can wind twice or cut deep into the set. The scan's result stands
// when it is a convex polygon that contains every point, both judged by the
// scan's own float32 tests and tolerance: whatever the tolerance and the
// rounding decide on consistent input is kept as it is.
bool accepted(const std::vector<Point>& hull, const std::vector<Point>& points) {
    const std::size_t k = hull.size();
    const Point& p = hull[0];
    InterruptPoll<> poll;
    if (k == 2) {
        // Every point collinear with the two and no farther from the pivot,
        // as the angular order measures them.
        const Point& h = hull[1];
        const float reach = distance2(p, h);
        for (const Point& q : points) {
            poll.tick();
            if (!inside_from_pivot(p, h, q) || !inside_from_pivot(p, q, h)) return false;
            if (!(distance2(p, q) <= reach)) return false;
        }
        return true;
    }
    // Convex: the scan made every inner turn a left one; the two turns that
    // close the polygon are judged like the angular order, and the edges must
    // rise and then fall exactly once, pivot being the lowest point.
    int rises_then_falls = 0;
    for (std::size_t i = 0; i < k; ++i) {
        const Point& a = hull[i];
        const Point& b = hull[(i + 1) % k];
        if (same(a, b)) return false;
        if (i + 1 < k && half(a, b) == 0 && half(b, hull[(i + 2) % k]) == 1) ++rises_then_falls;
    }
    if (rises_then_falls != 1 || half(p, hull[1]) != 0 || half(hull[k - 1], p) != 1) return false;
    if (!inside_from_pivot(p, hull[k - 2], hull[k - 1])) return false;
    if (!inside_from_pivot(p, hull[1], hull[k - 1])) return false;
    // Contains every point: each is judged against the edge facing it from
    // the pivot.
    for (const Point& q : points) {
        poll.tick();
        if (same(q, p)) continue;
        bool inside;
        if (orientation(p, hull[1], q) < 0) {
            inside = inside_from_pivot(p, hull[1], q);
        } else if (orientation(p, hull[k - 1], q) > 0) {
            inside = inside_from_pivot(p, q, hull[k - 1]);
        } else {
            std::size_t lo = 1, hi = k - 1;
            while (hi - lo > 1) {
                const std::size_t mid = lo + (hi - lo) / 2;
                if (orientation(p, hull[mid], q) >= 0) {
                    lo = mid;
                } else {
                    hi = mid;
                }
            }
            inside = inside_edge(hull[lo], hull[hi], q);
        }
        if (!inside) return false;
    }
    return true;
}

// The exact hull in the scan's form: the pivot first (its own bits), a single
// distinct point twice.
std::vector<Point> exact_hull_from(std::vector<Point> points, const Point& pivot) {
    std::vector<Point> hull = exact_hull(std::move(points));
    if (hull.size() == 1) return {pivot, pivot};
    std::rotate(
        hull.begin(),
        std::find_if(hull.begin(), hull.end(), [&](const Point& q) { return same(q, pivot); }),
        hull.end());
    hull[0] = pivot;
    return hull;
}

// Below this many points the scan runs on all of them.
constexpr std::size_t kDropFrom = 1024;

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
    // With an infinite coordinate neither judging nor an exact hull has a
    // meaning: the scan's result stands as it comes.
    if (has_infinite) return graham<true>(points, true);
    const bool one_line = all_collinear(points);
    if (bounded && !one_line && points.size() >= kDropFrom) {
        if (drop_inner_points(points, 8) && points.size() >= kDropFrom)
            drop_inner_points(points, 64);
    }
    std::vector<Point> hull = bounded ? graham<false>(points, false) : graham<true>(points, false);
    if (one_line || accepted(hull, points)) return hull;
    return exact_hull_from(std::move(points), hull[0]);
}

}  // namespace core
