// JSON values written back for messages, as Python's json.dumps writes the
// value its json.loads read (ensure_ascii, ", " and ": " separators).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

// `text` as a JSON string with every character beyond printable ASCII
// escaped, appended to `out` until it holds `limit` characters.
void append_json_string(std::string& out, std::string_view text, std::size_t limit);

// A JSON number read as `value` (a float's correctly rounded double) from
// `digits`: an integer as itself ("-0" as "0"; within a list or object,
// beyond 3999 characters as the infinity of its sign, which Python reads as
// a float), a float in the shortest form that reads back, in fixed notation
// from 1e-4 up to 1e16, "Infinity" beyond the double range.
std::string json_number(std::string_view digits, double value, bool in_list);

}  // namespace core
