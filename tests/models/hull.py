"""The Graham scan written out, every operation in float32, with the
module's own merge sort for the angular order."""

import math
from fractions import Fraction

from .floats import f32, same_f32

TOL = f32(1e-9)


def ref_hull(points):
    pts = [(f32(x), f32(y)) for x, y in points]
    if len(pts) < 3:
        return pts
    best = 0
    for i, q in enumerate(pts):
        if q[1] < pts[best][1] or (q[1] == pts[best][1] and q[0] < pts[best][0]):
            best = i
    pts[0], pts[best] = pts[best], pts[0]
    px, py = pts[0]

    def cross(ux, uy, vx, vy):
        return f32(f32(ux * vy) - f32(uy * vx))

    def cmp(a, b):
        ax, ay, bx, by = f32(a[0] - px), f32(a[1] - py), f32(b[0] - px), f32(b[1] - py)
        c = cross(ax, ay, bx, by)
        if abs(c) < TOL:
            da = f32(f32(ax * ax) + f32(ay * ay))
            db = f32(f32(bx * bx) + f32(by * by))
            return -1 if da < db else (1 if db < da else 0)
        return -1 if c > 0 else 1

    order = [pts[0]] + merge_sort(pts[1:], lambda a, b: cmp(a, b) < 0)
    stack = []
    for q in order:
        while len(stack) >= 2:
            (bx, by), (tx, ty) = stack[-2], stack[-1]
            if cross(f32(tx - bx), f32(ty - by), f32(q[0] - bx), f32(q[1] - by)) > 0:
                break
            stack.pop()
        stack.append(q)
    return stack


def merge_sort(items, less, run=16):
    """The module's own stable merge sort: insertion-sorted runs of 16, then
    bottom-up merges taking the left run on ties. The angular order is not
    transitive for nearly collinear points, so any other algorithm (the
    interpreter's sort among them) may order them differently."""
    items = list(items)
    n = len(items)
    for lo in range(0, n, run):
        for i in range(lo + 1, min(n, lo + run)):
            item, j = items[i], i
            while j > lo and less(item, items[j - 1]):
                items[j] = items[j - 1]
                j -= 1
            items[j] = item
    width = run
    while width < n:
        merged = []
        for lo in range(0, n, 2 * width):
            a, mid, b, hi = lo, min(n, lo + width), min(n, lo + width), min(n, lo + 2 * width)
            while a < mid and b < hi:
                if less(items[b], items[a]):
                    merged.append(items[b])
                    b += 1
                else:
                    merged.append(items[a])
                    a += 1
            merged += items[a:mid] + items[b:hi]
        items, width = merged, width * 2
    return items


def same_points(got, want):
    return len(got) == len(want) and all(
        isinstance(g, tuple) and same_f32(g[0], w[0]) and same_f32(g[1], w[1])
        for g, w in zip(got, want)
    )


# ---- the judged result: the scan's hull when it is convex and contains every
# point by its own float32 tests, else the exact hull in the same form.


def not_right(ux, uy, vx, vy):
    left, right = f32(ux * vy), f32(uy * vx)
    c = f32(left - right)
    tolerance = f32(TOL + f32(f32(abs(left) + abs(right)) * 2.0**-20))
    return c > -tolerance


def _inside_edge(a, b, q):
    return not_right(f32(b[0] - a[0]), f32(b[1] - a[1]), f32(q[0] - a[0]), f32(q[1] - a[1]))


def _from_pivot(p, u, v):
    return not_right(f32(u[0] - p[0]), f32(u[1] - p[1]), f32(v[0] - p[0]), f32(v[1] - p[1]))


def _distance2(p, q):
    dx, dy = f32(q[0] - p[0]), f32(q[1] - p[1])
    return f32(f32(dx * dx) + f32(dy * dy))


def orientation(a, b, c):
    """Exact sign of (b - a) x (c - a)."""
    ax, ay, bx, by, cx, cy = map(Fraction, (*a, *b, *c))
    d = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax)
    return (d > 0) - (d < 0)


def _half(a, b):
    return 0 if b[1] > a[1] or (b[1] == a[1] and b[0] > a[0]) else 1


def all_collinear(pts):
    p = pts[0]
    reach = max(max(abs(f32(q[0] - p[0])), abs(f32(q[1] - p[1]))) for q in pts)
    return f32(reach * reach) < f32(4.9e-10)


def accepted(hull, pts):
    k, p = len(hull), hull[0]
    if k == 2:
        h, reach = hull[1], _distance2(p, hull[1])
        return all(
            _from_pivot(p, h, q) and _from_pivot(p, q, h) and _distance2(p, q) <= reach for q in pts
        )
    rises = 0
    for i in range(k):
        a, b = hull[i], hull[(i + 1) % k]
        if a[0] == b[0] and a[1] == b[1]:
            return False
        if i + 1 < k and _half(a, b) == 0 and _half(b, hull[(i + 2) % k]) == 1:
            rises += 1
    if rises != 1 or _half(p, hull[1]) != 0 or _half(hull[-1], p) != 1:
        return False
    if not (_from_pivot(p, hull[-2], hull[-1]) and _from_pivot(p, hull[1], hull[-1])):
        return False
    for q in pts:
        if q[0] == p[0] and q[1] == p[1]:
            continue
        if orientation(p, hull[1], q) < 0:
            ok = _from_pivot(p, hull[1], q)
        elif orientation(p, hull[-1], q) > 0:
            ok = _from_pivot(p, q, hull[-1])
        else:
            lo, hi = 1, k - 1
            while hi - lo > 1:
                mid = lo + (hi - lo) // 2
                if orientation(p, hull[mid], q) >= 0:
                    lo = mid
                else:
                    hi = mid
            ok = _inside_edge(hull[lo], hull[hi], q)
        if not ok:
            return False
    return True


def exact_hull(pts, pivot):
    """Monotone chain in exact arithmetic, in the scan's form: pivot first,
    counter-clockwise, no point on an edge; one distinct point twice."""

    def key(q):
        return (q[0], q[1], math.copysign(1, q[0]) > 0, math.copysign(1, q[1]) > 0)

    distinct = []
    for q in sorted(pts, key=key):
        if not distinct or q[0] != distinct[-1][0] or q[1] != distinct[-1][1]:
            distinct.append(q)
    if len(distinct) == 1:
        return [pivot, pivot]

    def chain(seq):
        out = []
        for q in seq:
            while len(out) >= 2 and orientation(out[-2], out[-1], q) <= 0:
                out.pop()
            out.append(q)
        return out[:-1]

    hull = chain(distinct) + chain(distinct[::-1])
    at = next(i for i, q in enumerate(hull) if q[0] == pivot[0] and q[1] == pivot[1])
    hull = hull[at:] + hull[:at]
    hull[0] = pivot
    return hull


def judged_hull(points):
    """What convex_hull returns for finite points."""
    pts = [(f32(x), f32(y)) for x, y in points]
    scan = ref_hull(pts)
    if len(pts) < 3 or all_collinear(pivot_first(pts)) or accepted(scan, pts):
        return scan
    return exact_hull(pts, scan[0])


def pivot_first(pts):
    best = 0
    for i, q in enumerate(pts):
        if q[1] < pts[best][1] or (q[1] == pts[best][1] and q[0] < pts[best][0]):
            best = i
    pts = list(pts)
    pts[0], pts[best] = pts[best], pts[0]
    return pts


def dense_cloud(kind, n, seed):
    """n float32 points, seeded: uniform in a unit disc ("disc") or square
    ("square"), or standard normal ("gaussian"): the clouds users bring."""
    import numpy as np

    rng = np.random.default_rng(seed)
    if kind == "disc":
        r, a = np.sqrt(rng.random(n)), rng.random(n) * (2 * np.pi)
        pts = np.column_stack([r * np.cos(a), r * np.sin(a)])
    elif kind == "square":
        pts = rng.random((n, 2))
    else:
        pts = rng.standard_normal((n, 2))
    return np.ascontiguousarray(pts.astype(np.float32))
