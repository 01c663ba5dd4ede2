"""Float32 rounding, bit patterns and ULP distances for exact comparisons,
and the float values arithmetic gets wrong first."""

import math
import struct


def f32(x: float) -> float:
    """x rounded to the nearest float32 (inf beyond the range), widened back."""
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def bits(x: float) -> int:
    """The float32 bit pattern of x (x must already be a float32 value)."""
    return struct.unpack("<I", struct.pack("<f", x))[0]


def same_f32(a: float, b: float) -> bool:
    """Bit-identical as float32; all NaNs count as equal."""
    if math.isnan(a) and math.isnan(b):
        return True
    return bits(a) == bits(b)


def ulps_apart(a: float, b: float) -> int:
    """How many float32 steps lie between a and b (float32 values); -0 and
    +0 are one apart, adjacent values across zero likewise."""

    def key(v):
        i = struct.unpack("<i", struct.pack("<f", v))[0]
        return i if i >= 0 else -(i & 0x7FFFFFFF)

    return abs(key(a) - key(b))


# Seeded float32 inputs that include the cases arithmetic gets wrong first.
SPECIAL_F32 = [
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.1,
    1e-45,
    -1e-45,
    1.1754942e-38,
    3.4028235e38,
    -3.4028235e38,
    math.inf,
    -math.inf,
    math.nan,
    16777217.0,
    1e20,
    1e-7,
]
