// Run once by hand, not by the suite: confirms over every 32-bit input that
// the C library's sinf and cosf, called separately, give the bits of its
// combined sincosf (glibc only: sincosf is a GNU extension).
//   g++ -O2 -o build/check_sin_cos tests/cpp/check_sin_cos.cpp && build/check_sin_cos
#include <math.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

static float (*volatile sin_f)(float) = sinf;
static float (*volatile cos_f)(float) = cosf;
static void (*volatile sincos_f)(float, float*, float*) = sincosf;

static uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

int main() {
    uint64_t differ = 0;
    for (uint64_t i = 0; i <= 0xffffffffu; ++i) {
        float x;
        const uint32_t u = static_cast<uint32_t>(i);
        std::memcpy(&x, &u, 4);
        float s, c;
        sincos_f(x, &s, &c);
        if (bits(sin_f(x)) != bits(s) || bits(cos_f(x)) != bits(c)) {
            if (differ++ < 10) std::printf("differ at 0x%08x\n", u);
        }
    }
    std::printf("%llu of 2^32 inputs differ\n", static_cast<unsigned long long>(differ));
    return differ != 0;
}
