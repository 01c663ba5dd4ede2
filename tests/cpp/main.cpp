// The C++ checks of what Python cannot reach: the physics core's handle
// bookkeeping across the counter wrap and its interrupts, and bindings that
// must be refused when the module is built.
#include <cstdlib>

#include "check.hpp"

int main() {
    run_world_tests();
    run_binding_tests();
    if (g_failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", g_failures);
        return EXIT_FAILURE;
    }
    std::puts("C++ checks: all passed");
    return EXIT_SUCCESS;
}
