"""The Graham scan written out, every operation in float32, with the
module's own merge sort for the angular order."""

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
