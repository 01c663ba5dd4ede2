"""The cone's sine and cosine: the C library's sinf and cosf (which the
collider calls), and a numpy float32 replay of sdf_sin_cos in sdf.wgsl, step
for step, with the constants read from the shader itself."""

from __future__ import annotations

import ctypes
import ctypes.util
import re

import gfxcore
import numpy as np

F = np.float32
_libm = ctypes.CDLL(ctypes.util.find_library("m") or "libm.so.6")
for _name in ("sinf", "cosf"):
    getattr(_libm, _name).restype = ctypes.c_float
    getattr(_libm, _name).argtypes = [ctypes.c_float]
_sinf = np.frompyfunc(_libm.sinf, 1, 1)
_cosf = np.frompyfunc(_libm.cosf, 1, 1)


def libm_sin_cos(angles) -> tuple[np.ndarray, np.ndarray]:
    """sinf and cosf of each float32 angle."""
    a = np.asarray(angles, dtype=F)
    return _sinf(a).astype(F), _cosf(a).astype(F)


def ulps(a, b) -> np.ndarray:
    """How many float32 steps lie between a and b, elementwise (+0 and -0 one
    apart, as in models.floats.ulps_apart); NaN against anything but NaN
    counts 2**40, NaN against NaN 0."""
    a, b = np.asarray(a, dtype=F), np.asarray(b, dtype=F)
    i, j = (v.view(np.int32).astype(np.int64) for v in (a, b))
    i, j = (np.where(v < 0, -(v & 0x7FFFFFFF) - 1, v) for v in (i, j))
    nan_a, nan_b = np.isnan(a), np.isnan(b)
    return np.where(nan_a & nan_b, 0, np.where(nan_a | nan_b, 2**40, np.abs(i - j)))


def _constants() -> dict[str, np.float32]:
    found = re.findall(r"const SDF_(\w+): f32 = ([^;]+?)f;", gfxcore.sdf_wgsl())
    return {name: F(float.fromhex(v) if "0x" in v else float(v)) for name, v in found}


#: The largest angle sdf_sin_cos computes itself (2π rounded up to float32).
LIMIT = _constants()["TRIG_LIMIT"]


def wgsl_sin_cos(angles) -> tuple[np.ndarray, np.ndarray]:
    """sdf_sin_cos of each float32 angle, as a GPU that rounds every float32
    operation correctly computes it; angles beyond the limit get NaN (the
    shader gives those to the GPU's built-ins)."""
    c = _constants()
    x = np.asarray(angles, dtype=F)
    with np.errstate(all="ignore"):
        k = np.rint(x * c["TWO_OVER_PI"]).astype(F)
        a = x - k * c["PIO2_1"]
        b = k * c["PIO2_2"]
        hi = a - b
        bv = hi - a
        lo = ((a - (hi - bv)) + (-b - bv)) - (k * c["PIO2_3"] + k * c["PIO2_4"])
        r = hi + lo
        rl = lo - (r - hi)
        z = r * r
        sn = r + (rl + z * r * (c["SIN_1"] + z * (c["SIN_2"] + z * c["SIN_3"])))
        hz = F(0.5) * z
        w = F(1) - hz
        poly = z * z * (c["COS_1"] + z * (c["COS_2"] + z * c["COS_3"]))
        cs = w + (((F(1) - w) - hz) + (poly - r * rl))
        quadrant = np.nan_to_num(k).astype(np.int64) & 3
        s = np.choose(quadrant, [sn, cs, -sn, -cs])
        co = np.choose(quadrant, [cs, -sn, -cs, sn])
        small = np.abs(x) < F(2.0**-12)
        beyond = np.abs(x) > c["TRIG_LIMIT"]
        s = np.where(small, x, np.where(beyond, F(np.nan), s))
        co = np.where(small, F(1), np.where(beyond, F(np.nan), co))
    return s.astype(F), co.astype(F)
