// The loaded _core must be the very file this module was built beside: the
// instance layouts it reads are those of that build. The GNU build id of
// that _core is recorded at build time and compared with the loaded one.
#pragma once

#include <nanobind/nanobind.h>

namespace core::arrays {

extern const char* const kCoreBuildId;

// The imported _core; ImportError when it is not that build.
nanobind::object checked_core();

}  // namespace core::arrays
