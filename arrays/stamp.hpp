// The loaded _core must be the very file this module was built beside: the
// instance layouts it reads are those of that build. The GNU build id of
// that _core is recorded at build time and compared with the loaded one.
#pragma once

namespace core::arrays {

extern const char* const kCoreBuildId;

// Raises ImportError (as nb::python_error) when the loaded _core differs.
void check_core_build();

}  // namespace core::arrays
