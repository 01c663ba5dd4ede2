// Confirms over every 32-bit input that the C library's sinf and cosf, called
// separately, give the bits of its combined sincosf (glibc only: sincosf is a
// GNU extension). `make check-long` runs it with a stride; the full run is
//   g++ -O2 -o build/check_sin_cos tests/cpp/check_sin_cos.cpp && build/check_sin_cos
// and `build/check_sin_cos STRIDE` checks every STRIDE-th bit pattern.
#include <math.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static float (*volatile sin_f)(float) = sinf;
static float (*volatile cos_f)(float) = cosf;
static void (*volatile sincos_f)(float, float*, float*) = sincosf;

static uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

int main(int argc, char** argv) {
    const uint64_t stride = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    if (stride == 0) return 2;
    uint64_t differ = 0, checked = 0;
    for (uint64_t i = 0; i <= 0xffffffffu; i += stride, ++checked) {
        float x;
        const uint32_t u = static_cast<uint32_t>(i);
        std::memcpy(&x, &u, 4);
        float s, c;
        sincos_f(x, &s, &c);
        if (bits(sin_f(x)) != bits(s) || bits(cos_f(x)) != bits(c)) {
            if (differ++ < 10) std::printf("differ at 0x%08x\n", u);
        }
    }
    std::printf("%llu of %llu inputs differ\n", static_cast<unsigned long long>(differ),
                static_cast<unsigned long long>(checked));
    return differ != 0;
}
