// Decimal text of 32-bit floats, as the reprs print them.
#pragma once

#include <initializer_list>
#include <string>

namespace core {

// Fewest significant digits that read back as the same float, in plain
// fixed notation: 1 -> "1", 0.1f -> "0.1", 1e20f -> "100000000000000000000",
// -0 -> "-0", NaN -> "NaN", infinities -> "inf" / "-inf".
void append_shortest(std::string& out, float v);

// Exactly `decimals` digits after the point, correctly rounded from the exact
// binary value with ties to even: 0.0625f, 3 -> "0.062"; NaN -> "NaN".
void append_fixed(std::string& out, float v, int decimals);

// The values with `decimals` digits each (as append_fixed), separated by `sep`.
void append_fixed_list(std::string& out, std::initializer_list<float> values, int decimals,
                       const char* sep = ",");

// "Name(a, b, ...)" with each value in its shortest form.
std::string call_text(const char* name, std::initializer_list<float> values);

}  // namespace core
