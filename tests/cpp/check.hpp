// The C++ test program's one assertion: reports a failed check and counts
// it, so one run lists every failure; main exits non-zero if any failed.
#pragma once

#include <cstdio>

inline int g_failures = 0;

#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                                 \
        }                                                                                 \
    } while (0)

void run_world_tests();
void run_binding_tests();
