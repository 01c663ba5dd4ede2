"""The scene's distance field written record by record in numpy float32, one
rounding per operation. Squares are products (`x * x`): numpy's float32
power is not the correctly rounded product for every input."""

import ctypes
import ctypes.util
import math
import struct

import numpy as np

F = np.float32
EMPTY = 3.4028234663852886e38
RECORD = 48

# The single-precision sine and cosine of the C library, so that the model
# can match cones bit for bit; without it, callers allow 1 ulp for them.
_libm_name = ctypes.util.find_library("m")
libm = ctypes.CDLL(_libm_name) if _libm_name else None
if libm is not None:
    libm.sinf.argtypes = libm.cosf.argtypes = [ctypes.c_float]
    libm.sinf.restype = libm.cosf.restype = ctypes.c_float


def sincos(a):
    if libm is not None:
        return F(libm.sinf(float(a))), F(libm.cosf(float(a)))
    return F(math.sin(a)), F(math.cos(a))


def sq(v):
    return v * v


def outside(*q):
    """Length of the positive parts of q, summed left to right."""
    z = F(0)
    total = sq(np.fmax(q[0], z))
    for v in q[1:]:
        total = total + sq(np.fmax(v, z))
    return np.sqrt(total)


def ref_box(d, h):
    q = [np.abs(d[i]) - h[i] for i in range(3)]
    return np.fmin(np.fmax(np.fmax(q[0], q[1]), q[2]), F(0)) + outside(*q)


def ref_primitive(rec, p):
    cx, cy, cz, p0, p1, p2, _k, p3 = (F(v) for v in struct.unpack_from("<8f", rec))
    code = struct.unpack_from("<I", rec, 32)[0]
    c = (cx, cy, cz)
    d = [p[i] - c[i] for i in range(3)]
    z = F(0)
    if code == 0:
        return np.sqrt(sq(d[0]) + sq(d[1]) + sq(d[2])) - p0
    if code in (1, 7):
        r = ref_box(d, (p0, p1, p2))
        return r - p3 if code == 7 else r
    if code == 2:
        e1 = np.sqrt(sq(d[0]) + sq(d[2])) - p1
        e2 = np.abs(d[1]) - p0
        return np.fmin(np.fmax(e1, e2), z) + outside(e2, e1)
    if code == 3:
        h = [v * F(0.5) for v in (p0, p1, p2)]
        a = [c[i] - h[i] for i in range(3)]
        b = [c[i] + h[i] for i in range(3)]
        pa = [p[i] - a[i] for i in range(3)]
        ba = [b[i] - a[i] for i in range(3)]
        bb = sq(ba[0]) + sq(ba[1]) + sq(ba[2])
        t = z
        if bb > 0:
            t = (pa[0] * ba[0] + pa[1] * ba[1] + pa[2] * ba[2]) / bb
            t = z if t < 0 else t
            t = F(1) if t > 1 else t
        e = [pa[i] - ba[i] * t for i in range(3)]
        return np.sqrt(sq(e[0]) + sq(e[1]) + sq(e[2])) - p3
    if code == 4:
        q = np.sqrt(sq(d[0]) + sq(d[2]))
        sn, cs = sincos(p1)
        a1 = cs * q - d[1] * sn
        a2 = (d[1] * cs + sn * q) - p0 / cs
        return np.fmin(np.fmax(-a1, a2), z) + outside(a1, a2)
    if code == 5:
        t = np.sqrt(sq(d[0]) + sq(d[2])) - p0
        return np.sqrt(sq(d[1]) + sq(t)) - p1
    if code == 6:
        return (p[0] * cx + p[1] * cy + p[2] * cz) - p0
    return F(EMPTY)


def ref_scene(buf, p):
    """The first least distance over the whole records of buf; NaN never wins."""
    best = F(EMPTY)
    for i in range(len(buf) // RECORD):
        d = ref_primitive(buf[RECORD * i : RECORD * (i + 1)], p)
        if d < best:
            best = d
    return best


def ref_normal(buf, p):
    h = F(0.001)
    g = []
    for i in range(3):
        hi, lo = list(p), list(p)
        hi[i] = hi[i] + h
        lo[i] = lo[i] - h
        g.append(ref_scene(buf, hi) - ref_scene(buf, lo))
    n = np.sqrt(sq(g[0]) + sq(g[1]) + sq(g[2]))
    if n > F(1e-10):
        return tuple(float(v / n) for v in g)
    return (0.0, 1.0, 0.0)
