// What a unit's bind.cpp includes to declare its Python surface.
#pragma once

#include "module/class_builder.hpp"
#include "module/registry.hpp"

namespace core {
// The binding layer's old name, still spelled by one unit's bind.cpp; remove
// once none says `using namespace bind`.
namespace bind = py;
}  // namespace core
