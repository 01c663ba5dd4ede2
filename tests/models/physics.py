"""The physics world written the plain way, in float32 numpy arithmetic."""

import numpy as np

F = np.float32


class Model:
    """The world written the plain way: float32 numpy arithmetic, a list in
    array order with swap-remove, the all-pairs loop."""

    def __init__(self):
        self.handles, self.pos, self.vel, self.mass = [], [], [], []
        self.g = np.array([0.0, -980.0, 0.0], dtype=F)

    def add(self, h, p, v, m):
        self.handles.append(h)
        self.pos.append(np.array(p, dtype=F))
        self.vel.append(np.array(v, dtype=F))
        self.mass.append(F(m))

    def remove(self, h):
        if h not in self.handles:
            return
        i = self.handles.index(h)
        for arr in (self.handles, self.pos, self.vel, self.mass):
            arr[i] = arr[-1]
            arr.pop()

    def step(self, dt):
        dt = F(dt)
        with np.errstate(all="ignore"):
            for i, m in enumerate(self.mass):
                if m != 0:
                    self.vel[i] = self.vel[i] + self.g * dt
                    self.pos[i] = self.pos[i] + self.vel[i] * dt
            if not self.pos:
                return []
            p = np.array(self.pos, dtype=F).reshape(-1, 3)
            lo, hi = p - F(0.5), p + F(0.5)
        pairs = []
        for i in range(len(p) - 1):
            ok = np.all((lo[i] <= hi[i + 1 :]) & (lo[i + 1 :] <= hi[i]), axis=1)
            pairs += [(self.handles[i], self.handles[i + 1 + j]) for j in np.nonzero(ok)[0]]
        return pairs


def ref_slab(p, o, d):
    """One box's slab test, float32 step by step; None on a miss."""
    tmin, tmax = F(-np.inf), F(np.inf)
    with np.errstate(all="ignore"):
        for k in range(3):
            lo, hi = F(p[k]) - F(0.5), F(p[k]) + F(0.5)
            if abs(d[k]) < F(1e-8):
                if o[k] < lo or o[k] > hi:
                    return None
                continue
            inv = F(1.0) / d[k]
            t1, t2 = inv * (lo - o[k]), inv * (hi - o[k])
            near, far = (t1, t2) if t1 < t2 else (t2, t1)
            tmin, tmax = np.fmax(tmin, near), np.fmin(tmax, far)
            if tmin > tmax:
                return None
    if tmax < 0:
        return None
    return float(tmin if tmin >= 0 else tmax)
