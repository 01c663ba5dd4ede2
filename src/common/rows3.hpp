// Rows of three floats (x y z x y z ...) to and from columns, four rows at a
// time in SSE2 registers (NEON loads and stores them itself: vld3q, vst3q).
#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace core::rows3 {

#if defined(__SSE2__)

template <int A, int B, int C, int D>
inline __m128 pick(__m128 p, __m128 q) noexcept {  // (p[A], p[B], q[C], q[D])
    return _mm_shuffle_ps(p, q, _MM_SHUFFLE(D, C, B, A));
}

// The four rows at `in` as columns.
inline void split(const float* in, __m128& x, __m128& y, __m128& z) noexcept {
    // a = x0 y0 z0 x1, b = y1 z1 x2 y2, c = z2 x3 y3 z3
    const __m128 a = _mm_loadu_ps(in), b = _mm_loadu_ps(in + 4), c = _mm_loadu_ps(in + 8);
    x = pick<0, 3, 0, 2>(a, pick<2, 2, 1, 1>(b, c));
    y = pick<0, 2, 0, 2>(pick<1, 1, 0, 0>(a, b), pick<3, 3, 2, 2>(b, c));
    z = pick<0, 2, 0, 3>(pick<2, 2, 1, 1>(a, b), c);
}

// Columns x, y, z as four rows at `out`, each 16 bytes handed to store(p, v).
template <class Store>
inline void join(float* out, __m128 x, __m128 y, __m128 z, const Store& store) noexcept {
    const __m128 xy = pick<0, 2, 0, 2>(x, y);  // x0 x2 y0 y2
    const __m128 xz = pick<1, 3, 1, 3>(x, z);  // x1 x3 z1 z3
    const __m128 yz = pick<1, 3, 0, 2>(y, z);  // y1 y3 z0 z2
    store(out, pick<0, 2, 0, 2>(xy, pick<2, 2, 0, 0>(yz, xz)));
    store(out + 4, pick<0, 2, 1, 3>(pick<0, 0, 2, 2>(yz, xz), xy));
    store(out + 8, pick<0, 2, 0, 2>(pick<3, 3, 1, 1>(yz, xz), pick<1, 1, 3, 3>(yz, xz)));
}

#endif

// Rows [0, n) of `in` into the columns x, y, z.
inline void split_rows(const float* in, std::size_t n, float* x, float* y, float* z) noexcept {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        __m128 cx, cy, cz;
        split(in + 3 * i, cx, cy, cz);
        _mm_storeu_ps(x + i, cx);
        _mm_storeu_ps(y + i, cy);
        _mm_storeu_ps(z + i, cz);
    }
#elif defined(__aarch64__) && defined(__ARM_NEON)
    for (; i + 4 <= n; i += 4) {
        const float32x4x3_t v = vld3q_f32(in + 3 * i);
        vst1q_f32(x + i, v.val[0]);
        vst1q_f32(y + i, v.val[1]);
        vst1q_f32(z + i, v.val[2]);
    }
#endif
    for (; i < n; ++i) {
        x[i] = in[3 * i];
        y[i] = in[3 * i + 1];
        z[i] = in[3 * i + 2];
    }
}

}  // namespace core::rows3
