#include "math_3d/mat4_rows.hpp"

#include <cmath>
#include <cstdint>

#include "common/rows3.hpp"

namespace core {

namespace {

// One row, as the inline formula does it.
bool one_row(const Mat4x4& m, bool translate, const float* in, float* out) noexcept {
    const Vec3 v{in[0], in[1], in[2]};
    const Vec3 r = translate ? m.transform_point_inline(v) : m.transform_direction_inline(v);
    out[0] = r.x;
    out[1] = r.y;
    out[2] = r.z;
    return std::isnan(r.x) || std::isnan(r.y) || std::isnan(r.z);
}

}  // namespace

#if defined(__SSE2__)

// Streamed rows ask for their input this many rows (6 KB) ahead: the loads
// then wait less on memory behind the stores that bypass the caches.
constexpr std::size_t kAhead = 512;

bool transform_rows(const Mat4x4& m, bool translate, const float* in, float* out, std::size_t n,
                    bool stream) noexcept {
    const auto e = m.data();
    bool any_nan = false;
    std::size_t i = 0;
    // Rows one at a time until the output is 16-byte aligned (it is every
    // fourth row), so that four rows fill three aligned stores.
    for (; i < n && (reinterpret_cast<std::uintptr_t>(out + 3 * i) & 15) != 0; ++i)
        any_nan = one_row(m, translate, in + 3 * i, out + 3 * i) || any_nan;
    const __m128 m0 = _mm_set1_ps(e[0]), m1 = _mm_set1_ps(e[1]), m2 = _mm_set1_ps(e[2]);
    const __m128 m4 = _mm_set1_ps(e[4]), m5 = _mm_set1_ps(e[5]), m6 = _mm_set1_ps(e[6]);
    const __m128 m8 = _mm_set1_ps(e[8]), m9 = _mm_set1_ps(e[9]), m10 = _mm_set1_ps(e[10]);
    const __m128 t0 = _mm_set1_ps(e[12]), t1 = _mm_set1_ps(e[13]), t2 = _mm_set1_ps(e[14]);
    __m128 nan = _mm_setzero_ps();
    const auto rows4 = [&](auto store) {
        for (; i + 4 <= n; i += 4) {
            __m128 x, y, z;
            if (stream && i + kAhead < n)
                _mm_prefetch(reinterpret_cast<const char*>(in + 3 * (i + kAhead)), _MM_HINT_NTA);
            rows3::split(in + 3 * i, x, y, z);
            __m128 rx =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m0), _mm_mul_ps(y, m4)), _mm_mul_ps(z, m8));
            __m128 ry =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m1), _mm_mul_ps(y, m5)), _mm_mul_ps(z, m9));
            __m128 rz =
                _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m2), _mm_mul_ps(y, m6)), _mm_mul_ps(z, m10));
            if (translate) {
                rx = _mm_add_ps(t0, rx);
                ry = _mm_add_ps(t1, ry);
                rz = _mm_add_ps(t2, rz);
            }
            nan = _mm_or_ps(nan, _mm_or_ps(_mm_cmpunord_ps(rx, ry), _mm_cmpunord_ps(rz, rz)));
            rows3::join(out + 3 * i, rx, ry, rz, store);
        }
    };
    if (stream) {
        rows4([](float* p, __m128 v) { _mm_stream_ps(p, v); });
        _mm_sfence();
    } else {
        rows4([](float* p, __m128 v) { _mm_store_ps(p, v); });
    }
    any_nan = any_nan || _mm_movemask_ps(nan) != 0;
    for (; i < n; ++i) any_nan = one_row(m, translate, in + 3 * i, out + 3 * i) || any_nan;
    return any_nan;
}

#elif defined(__aarch64__) && defined(__ARM_NEON)

bool transform_rows(const Mat4x4& m, bool translate, const float* in, float* out, std::size_t n,
                    bool) noexcept {
    const auto e = m.data();
    const float32x4_t m0 = vdupq_n_f32(e[0]), m1 = vdupq_n_f32(e[1]), m2 = vdupq_n_f32(e[2]);
    const float32x4_t m4 = vdupq_n_f32(e[4]), m5 = vdupq_n_f32(e[5]), m6 = vdupq_n_f32(e[6]);
    const float32x4_t m8 = vdupq_n_f32(e[8]), m9 = vdupq_n_f32(e[9]), m10 = vdupq_n_f32(e[10]);
    const float32x4_t t0 = vdupq_n_f32(e[12]), t1 = vdupq_n_f32(e[13]), t2 = vdupq_n_f32(e[14]);
    uint32x4_t nan = vdupq_n_u32(0);
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const float32x4x3_t v = vld3q_f32(in + 3 * i);
        const float32x4_t x = v.val[0], y = v.val[1], z = v.val[2];
        float32x4x3_t r;
        r.val[0] = vaddq_f32(vaddq_f32(vmulq_f32(x, m0), vmulq_f32(y, m4)), vmulq_f32(z, m8));
        r.val[1] = vaddq_f32(vaddq_f32(vmulq_f32(x, m1), vmulq_f32(y, m5)), vmulq_f32(z, m9));
        r.val[2] = vaddq_f32(vaddq_f32(vmulq_f32(x, m2), vmulq_f32(y, m6)), vmulq_f32(z, m10));
        if (translate) {
            r.val[0] = vaddq_f32(t0, r.val[0]);
            r.val[1] = vaddq_f32(t1, r.val[1]);
            r.val[2] = vaddq_f32(t2, r.val[2]);
        }
        for (const float32x4_t c : r.val) nan = vorrq_u32(nan, vmvnq_u32(vceqq_f32(c, c)));
        vst3q_f32(out + 3 * i, r);
    }
    bool any_nan = vmaxvq_u32(nan) != 0;
    for (; i < n; ++i) any_nan = one_row(m, translate, in + 3 * i, out + 3 * i) || any_nan;
    return any_nan;
}

#else

bool transform_rows(const Mat4x4& m, bool translate, const float* in, float* out, std::size_t n,
                    bool) noexcept {
    bool any_nan = false;
    for (std::size_t i = 0; i < n; ++i)
        any_nan = one_row(m, translate, in + 3 * i, out + 3 * i) || any_nan;
    return any_nan;
}

#endif

}  // namespace core
