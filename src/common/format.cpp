#include "common/format.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace core {

namespace {

// Returns true when `v` was written as one of the non-finite spellings.
bool append_non_finite(std::string& out, float v) {
    if (std::isnan(v)) {
        out += "NaN";
        return true;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-inf" : "inf";
        return true;
    }
    return false;
}

}  // namespace

void append_shortest(std::string& out, float v) {
    if (append_non_finite(out, v)) return;
    // The shortest digits come in scientific form ("-d.ddde+XX"); they are
    // then laid out in fixed notation, padded with zeros where needed.
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    if (sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    std::size_t e = sci.find('e');
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    std::string digits;
    for (char c : sci.substr(0, e)) {
        if (c != '.') digits += c;
    }
    // The value is 0.d1d2d3... * 10^(exponent + 1).
    const int point = exponent + 1;
    const int n = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= n) {
        out += digits;
        out.append(static_cast<std::size_t>(point - n), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    }
}

void append_fixed_list(std::string& out, std::initializer_list<float> values, int decimals,
                       const char* sep) {
    const char* between = "";
    for (float v : values) {
        out += between;
        append_fixed(out, v, decimals);
        between = sep;
    }
}

std::string call_text(const char* name, std::initializer_list<float> values) {
    std::string s = name;
    s += '(';
    const char* sep = "";
    for (float v : values) {
        s += sep;
        append_shortest(s, v);
        sep = ", ";
    }
    s += ')';
    return s;
}

void append_fixed(std::string& out, float v, int decimals) {
    if (append_non_finite(out, v)) return;
    char buf[128];
    // Widening is exact, so the double's decimal expansion is the float's.
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::fixed,
                           decimals);
    out.append(buf, r.ptr);
}

}  // namespace core
