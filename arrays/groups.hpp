// Each group of functions is one source file with one registration.
#pragma once

#include <nanobind/nanobind.h>

namespace core::arrays {

void register_sdf(nanobind::module_& m);
void register_transforms(nanobind::module_& m);
void register_points(nanobind::module_& m);
void register_physics(nanobind::module_& m);
void register_bytes(nanobind::module_& m);
void register_node_graphs(nanobind::module_& m);
void register_state(nanobind::module_& m);
void register_resolve(nanobind::module_& m);

}  // namespace core::arrays
