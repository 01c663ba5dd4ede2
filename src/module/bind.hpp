// What a unit's bind.cpp includes to declare its Python surface.
#pragma once

#include "module/class_builder.hpp"
#include "module/registry.hpp"
