// Four float lanes evaluated together: SSE2 on x86-64, NEON on ARM64, plain
// C++ elsewhere or when CORE_PLAIN_LANES is defined (the build option of the
// same name, so that CI tests them on x86-64 too); eight AVX2 lanes in a
// translation unit compiled for AVX2; and the same operations on a single
// float. Every operation is the lane-wise IEEE operation, correctly rounded
// (no reciprocal or square-root estimates, no fused multiply-add), so all of
// them give the bits of the same formula written with scalar floats.
//
// Everything here sits in an inline namespace named after the instruction set
// of the translation unit (CORE_LANES_ISA): an inline function compiled with
// AVX2 must never be the one copy the linker keeps for code that runs on a
// machine without it.
#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(CORE_PLAIN_LANES)
#elif defined(__SSE2__)
#include <emmintrin.h>
#define CORE_LANES_SSE2 1
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define CORE_LANES_NEON 1
#endif

#if defined(__AVX2__) && !defined(CORE_PLAIN_LANES)
#include <immintrin.h>
#define CORE_LANES_AVX2 1
#endif
#if defined(__AVX512F__) && !defined(CORE_PLAIN_LANES)
#define CORE_LANES_AVX512 1
#endif

#ifndef CORE_LANES_ISA
#define CORE_LANES_ISA base
#endif

namespace core::lanes {
inline namespace CORE_LANES_ISA {

constexpr std::size_t kWidth = 4;

#if CORE_LANES_SSE2

struct F4 {
    __m128 v;
};
struct Mask {
    __m128 v;
};

inline F4 load(const float* p) noexcept { return {_mm_loadu_ps(p)}; }
inline void store(float* p, F4 a) noexcept { _mm_storeu_ps(p, a.v); }
inline F4 splat(float x) noexcept { return {_mm_set1_ps(x)}; }
inline F4 operator+(F4 a, F4 b) noexcept { return {_mm_add_ps(a.v, b.v)}; }
inline F4 operator-(F4 a, F4 b) noexcept { return {_mm_sub_ps(a.v, b.v)}; }
inline F4 operator*(F4 a, F4 b) noexcept { return {_mm_mul_ps(a.v, b.v)}; }
inline F4 operator/(F4 a, F4 b) noexcept { return {_mm_div_ps(a.v, b.v)}; }
inline F4 operator-(F4 a) noexcept { return {_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))}; }
inline F4 sqrt(F4 a) noexcept { return {_mm_sqrt_ps(a.v)}; }
inline F4 abs(F4 a) noexcept { return {_mm_andnot_ps(_mm_set1_ps(-0.0f), a.v)}; }
inline Mask operator<(F4 a, F4 b) noexcept { return {_mm_cmplt_ps(a.v, b.v)}; }
inline Mask operator<=(F4 a, F4 b) noexcept { return {_mm_cmple_ps(a.v, b.v)}; }
// Bit j set where lane j of the mask is set.
inline unsigned bits(Mask m) noexcept { return static_cast<unsigned>(_mm_movemask_ps(m.v)); }
inline Mask is_nan(F4 a) noexcept { return {_mm_cmpunord_ps(a.v, a.v)}; }
inline F4 select(Mask m, F4 a, F4 b) noexcept {
    return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))};
}
// The instruction returns its second operand unless the first is less: NaN
// and equal operands keep `b`.
inline F4 less_or(F4 a, F4 b) noexcept { return {_mm_min_ps(a.v, b.v)}; }
inline F4 greater_or(F4 a, F4 b) noexcept { return {_mm_max_ps(a.v, b.v)}; }
inline float lowest_lane(F4 a) noexcept {
    const __m128 m = _mm_min_ps(a.v, _mm_movehl_ps(a.v, a.v));
    return _mm_cvtss_f32(_mm_min_ss(m, _mm_shuffle_ps(m, m, 1)));
}

#elif CORE_LANES_NEON

struct F4 {
    float32x4_t v;
};
struct Mask {
    uint32x4_t v;
};

inline F4 load(const float* p) noexcept { return {vld1q_f32(p)}; }
inline void store(float* p, F4 a) noexcept { vst1q_f32(p, a.v); }
inline F4 splat(float x) noexcept { return {vdupq_n_f32(x)}; }
inline F4 operator+(F4 a, F4 b) noexcept { return {vaddq_f32(a.v, b.v)}; }
inline F4 operator-(F4 a, F4 b) noexcept { return {vsubq_f32(a.v, b.v)}; }
inline F4 operator*(F4 a, F4 b) noexcept { return {vmulq_f32(a.v, b.v)}; }
inline F4 operator/(F4 a, F4 b) noexcept { return {vdivq_f32(a.v, b.v)}; }
inline F4 operator-(F4 a) noexcept { return {vnegq_f32(a.v)}; }
inline F4 sqrt(F4 a) noexcept { return {vsqrtq_f32(a.v)}; }
inline F4 abs(F4 a) noexcept { return {vabsq_f32(a.v)}; }
inline Mask operator<(F4 a, F4 b) noexcept { return {vcltq_f32(a.v, b.v)}; }
inline Mask operator<=(F4 a, F4 b) noexcept { return {vcleq_f32(a.v, b.v)}; }
inline unsigned bits(Mask m) noexcept {
    static const uint32_t kBits[4] = {1, 2, 4, 8};
    return vaddvq_u32(vandq_u32(m.v, vld1q_u32(kBits)));
}
inline Mask is_nan(F4 a) noexcept { return {vmvnq_u32(vceqq_f32(a.v, a.v))}; }
inline F4 select(Mask m, F4 a, F4 b) noexcept { return {vbslq_f32(m.v, a.v, b.v)}; }
// NEON's own min and max return NaN for a NaN operand; these keep `b`
// unless `a` compares less (greater), like the x86 instructions.
inline F4 less_or(F4 a, F4 b) noexcept { return {vbslq_f32(vcltq_f32(a.v, b.v), a.v, b.v)}; }
inline F4 greater_or(F4 a, F4 b) noexcept { return {vbslq_f32(vcgtq_f32(a.v, b.v), a.v, b.v)}; }
inline float lowest_lane(F4 a) noexcept { return vminvq_f32(a.v); }

#else

struct F4 {
    float v[kWidth];
};
struct Mask {
    bool v[kWidth];
};

template <class Op>
inline F4 map(Op op, F4 a, F4 b) noexcept {
    F4 r;
    for (std::size_t i = 0; i < kWidth; ++i) r.v[i] = op(a.v[i], b.v[i]);
    return r;
}

inline F4 load(const float* p) noexcept { return {{p[0], p[1], p[2], p[3]}}; }
inline void store(float* p, F4 a) noexcept {
    for (std::size_t i = 0; i < kWidth; ++i) p[i] = a.v[i];
}
inline F4 splat(float x) noexcept { return {{x, x, x, x}}; }
inline F4 operator+(F4 a, F4 b) noexcept {
    return map([](float x, float y) { return x + y; }, a, b);
}
inline F4 operator-(F4 a, F4 b) noexcept {
    return map([](float x, float y) { return x - y; }, a, b);
}
inline F4 operator*(F4 a, F4 b) noexcept {
    return map([](float x, float y) { return x * y; }, a, b);
}
inline F4 operator/(F4 a, F4 b) noexcept {
    return map([](float x, float y) { return x / y; }, a, b);
}
inline F4 operator-(F4 a) noexcept {
    return map([](float x, float) { return -x; }, a, a);
}
inline F4 sqrt(F4 a) noexcept {
    return map([](float x, float) { return std::sqrt(x); }, a, a);
}
inline F4 abs(F4 a) noexcept {
    return map([](float x, float) { return std::fabs(x); }, a, a);
}
inline Mask operator<(F4 a, F4 b) noexcept {
    return {{a.v[0] < b.v[0], a.v[1] < b.v[1], a.v[2] < b.v[2], a.v[3] < b.v[3]}};
}
inline Mask operator<=(F4 a, F4 b) noexcept {
    return {{a.v[0] <= b.v[0], a.v[1] <= b.v[1], a.v[2] <= b.v[2], a.v[3] <= b.v[3]}};
}
inline unsigned bits(Mask m) noexcept {
    unsigned b = 0;
    for (std::size_t i = 0; i < kWidth; ++i) b |= m.v[i] ? 1u << i : 0u;
    return b;
}
inline Mask is_nan(F4 a) noexcept {
    return {{a.v[0] != a.v[0], a.v[1] != a.v[1], a.v[2] != a.v[2], a.v[3] != a.v[3]}};
}
inline F4 select(Mask m, F4 a, F4 b) noexcept {
    F4 r;
    for (std::size_t i = 0; i < kWidth; ++i) r.v[i] = m.v[i] ? a.v[i] : b.v[i];
    return r;
}
inline F4 less_or(F4 a, F4 b) noexcept { return select(a < b, a, b); }
inline F4 greater_or(F4 a, F4 b) noexcept { return select(b < a, a, b); }
inline float lowest_lane(F4 a) noexcept {
    const float m01 = a.v[1] < a.v[0] ? a.v[1] : a.v[0];
    const float m23 = a.v[3] < a.v[2] ? a.v[3] : a.v[2];
    return m23 < m01 ? m23 : m01;
}

#endif

// The smallest of the four lanes. Each instruction set lets a NaN lane win or
// lose in its own way, so the lanes must all be numbers.
inline float min_lane(F4 a) noexcept {
    assert([&] {
        float v[kWidth];
        store(v, a);
        return v[0] == v[0] && v[1] == v[1] && v[2] == v[2] && v[3] == v[3];
    }());
    return lowest_lane(a);
}

// The same operations on one float, for groups too small to fill a block.
inline float sqrt(float a) noexcept { return std::sqrt(a); }
inline float abs(float a) noexcept { return std::fabs(a); }
inline bool is_nan(float a) noexcept { return a != a; }
inline float select(bool m, float a, float b) noexcept { return m ? a : b; }
inline float less_or(float a, float b) noexcept { return a < b ? a : b; }
inline float greater_or(float a, float b) noexcept { return b < a ? a : b; }

#if CORE_LANES_AVX2

struct F8 {
    __m256 v;
};
struct Mask8 {
    __m256 v;
};

inline void store(float* p, F8 a) noexcept { _mm256_storeu_ps(p, a.v); }
inline F8 operator+(F8 a, F8 b) noexcept { return {_mm256_add_ps(a.v, b.v)}; }
inline F8 operator-(F8 a, F8 b) noexcept { return {_mm256_sub_ps(a.v, b.v)}; }
inline F8 operator*(F8 a, F8 b) noexcept { return {_mm256_mul_ps(a.v, b.v)}; }
inline F8 operator/(F8 a, F8 b) noexcept { return {_mm256_div_ps(a.v, b.v)}; }
inline F8 operator-(F8 a) noexcept { return {_mm256_xor_ps(a.v, _mm256_set1_ps(-0.0f))}; }
inline F8 sqrt(F8 a) noexcept { return {_mm256_sqrt_ps(a.v)}; }
inline F8 abs(F8 a) noexcept { return {_mm256_andnot_ps(_mm256_set1_ps(-0.0f), a.v)}; }
inline Mask8 operator<(F8 a, F8 b) noexcept { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
inline Mask8 operator<=(F8 a, F8 b) noexcept { return {_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)}; }
inline unsigned bits(Mask8 m) noexcept { return static_cast<unsigned>(_mm256_movemask_ps(m.v)); }
inline Mask8 is_nan(F8 a) noexcept { return {_mm256_cmp_ps(a.v, a.v, _CMP_UNORD_Q)}; }
inline F8 select(Mask8 m, F8 a, F8 b) noexcept { return {_mm256_blendv_ps(b.v, a.v, m.v)}; }
// The same rule as the 128-bit instructions: `b` unless `a` compares less
// (greater), so NaN and equal operands keep `b`.
inline F8 less_or(F8 a, F8 b) noexcept { return {_mm256_min_ps(a.v, b.v)}; }
inline F8 greater_or(F8 a, F8 b) noexcept { return {_mm256_max_ps(a.v, b.v)}; }

#endif

#if CORE_LANES_AVX512

// Sixteen lanes, AVX-512 Foundation alone: sign bits are flipped and cleared
// with integer operations, as the float ones need another extension.
struct F16 {
    __m512 v;
};
struct Mask16 {
    __mmask16 v;
};

inline __m512 sign_bits16() noexcept { return _mm512_set1_ps(-0.0f); }
inline void store(float* p, F16 a) noexcept { _mm512_storeu_ps(p, a.v); }
inline F16 operator+(F16 a, F16 b) noexcept { return {_mm512_add_ps(a.v, b.v)}; }
inline F16 operator-(F16 a, F16 b) noexcept { return {_mm512_sub_ps(a.v, b.v)}; }
inline F16 operator*(F16 a, F16 b) noexcept { return {_mm512_mul_ps(a.v, b.v)}; }
inline F16 operator/(F16 a, F16 b) noexcept { return {_mm512_div_ps(a.v, b.v)}; }
inline F16 operator-(F16 a) noexcept {
    return {_mm512_castsi512_ps(
        _mm512_xor_si512(_mm512_castps_si512(a.v), _mm512_castps_si512(sign_bits16())))};
}
inline F16 sqrt(F16 a) noexcept { return {_mm512_sqrt_ps(a.v)}; }
inline F16 abs(F16 a) noexcept {
    return {_mm512_castsi512_ps(
        _mm512_andnot_si512(_mm512_castps_si512(sign_bits16()), _mm512_castps_si512(a.v)))};
}
inline Mask16 operator<(F16 a, F16 b) noexcept {
    return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ)};
}
inline Mask16 operator<=(F16 a, F16 b) noexcept {
    return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LE_OQ)};
}
inline unsigned bits(Mask16 m) noexcept { return m.v; }
inline Mask16 is_nan(F16 a) noexcept { return {_mm512_cmp_ps_mask(a.v, a.v, _CMP_UNORD_Q)}; }
inline F16 select(Mask16 m, F16 a, F16 b) noexcept { return {_mm512_mask_blend_ps(m.v, b.v, a.v)}; }
// As the narrower instructions: NaN and equal operands keep `b`.
inline F16 less_or(F16 a, F16 b) noexcept { return {_mm512_min_ps(a.v, b.v)}; }
inline F16 greater_or(F16 a, F16 b) noexcept { return {_mm512_max_ps(a.v, b.v)}; }

#endif

// Lanes of the vector type V, and loads and spreads of it.
template <class V>
constexpr std::size_t kLanes = 1;
template <>
inline constexpr std::size_t kLanes<F4> = kWidth;

template <class V>
V constant(float x) noexcept;
template <>
inline float constant<float>(float x) noexcept {
    return x;
}
template <>
inline F4 constant<F4>(float x) noexcept {
    return splat(x);
}

template <class V>
V load_as(const float* p) noexcept;
template <>
inline F4 load_as<F4>(const float* p) noexcept {
    return load(p);
}

#if CORE_LANES_AVX2
template <>
inline constexpr std::size_t kLanes<F8> = 8;
template <>
inline F8 constant<F8>(float x) noexcept {
    return {_mm256_set1_ps(x)};
}
template <>
inline F8 load_as<F8>(const float* p) noexcept {
    return {_mm256_loadu_ps(p)};
}
#endif

#if CORE_LANES_AVX512
template <>
inline constexpr std::size_t kLanes<F16> = 16;
template <>
inline F16 constant<F16>(float x) noexcept {
    return {_mm512_set1_ps(x)};
}
template <>
inline F16 load_as<F16>(const float* p) noexcept {
    return {_mm512_loadu_ps(p)};
}
#endif

// max and min that drop a single NaN operand and keep the other; with equal
// operands (+0 and -0) they return `a`.
template <class V>
V max_num(V a, V b) noexcept {
    return select(is_nan(a), b, greater_or(b, a));
}
template <class V>
V min_num(V a, V b) noexcept {
    return select(is_nan(a), b, less_or(b, a));
}

// Bit j set where lane j is +0 or -0 (never for NaN).
template <class V>
unsigned zero_lanes(V a) noexcept {
    return bits(abs(a) <= constant<V>(0.0f));
}

// max(a, 0) where only its square is used: a NaN gives 0 and the sign of a
// zero result does not matter.
template <class V>
V pos_squared(V a) noexcept {
    const V p = greater_or(a, constant<V>(0.0f));
    return p * p;
}

}  // namespace CORE_LANES_ISA
}  // namespace core::lanes
