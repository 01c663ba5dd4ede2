// JSON values written back for messages, as gfxcore's Python side writes a
// value it read with the json module: the checker's messages show them so.
#include "node_compiler/json_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace core {

void append_json_string(std::string& out, std::string_view text, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    auto unit = [&](uint32_t u) {
        const char e[] = {
            '\\',        'u', kHex[(u >> 12) & 15], kHex[(u >> 8) & 15], kHex[(u >> 4) & 15],
            kHex[u & 15]};
        out.append(e, 6);
    };
    out += '"';
    for (std::size_t i = 0; i < text.size() && out.size() < limit;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            switch (c) {
                case '"':
                    out += "\\\"";
                    continue;
                case '\\':
                    out += "\\\\";
                    continue;
                case '\n':
                    out += "\\n";
                    continue;
                case '\r':
                    out += "\\r";
                    continue;
                case '\t':
                    out += "\\t";
                    continue;
                case '\b':
                    out += "\\b";
                    continue;
                case '\f':
                    out += "\\f";
                    continue;
                default:
                    break;
            }
            if (c < 0x20 || c == 0x7f) {
                unit(c);
            } else {
                out += static_cast<char>(c);
            }
            continue;
        }
        // The parser has checked the UTF-8.
        const int length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : 2;
        uint32_t cp = c & (0x7f >> length);
        for (int k = 1; k < length && i + k < text.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
        }
        i += length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xd800 | (cp >> 10));
            unit(0xdc00 | (cp & 0x3ff));
        } else {
            unit(cp);
        }
    }
    out += '"';
}

std::string json_number(std::string_view digits, double value, bool in_list) {
    const bool integer = digits.find_first_of(".eE") == std::string_view::npos;
    if (integer) {
        if (digits == "-0") return "0";
        if (!in_list || digits.size() < 4000) return std::string(digits);
        return digits.starts_with('-') ? "-Infinity" : "Infinity";
    }
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    const std::size_t e = sci.find('e');
    std::string_view mantissa = sci.substr(0, e);
    std::string out;
    if (mantissa.starts_with('-')) {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string figures(mantissa.substr(0, 1));
    if (mantissa.size() > 2) figures.append(mantissa.substr(2));
    int exponent = 0;
    std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exponent);
    const int point = exponent + 1;  // figures before the decimal point
    const int n = static_cast<int>(figures.size());
    if (point > -4 && point <= 16) {
        if (point <= 0) {
            out.append("0.").append(static_cast<std::size_t>(-point), '0').append(figures);
        } else if (point >= n) {
            out.append(figures).append(static_cast<std::size_t>(point - n), '0').append(".0");
        } else {
            out.append(figures, 0, static_cast<std::size_t>(point))
                .append(".")
                .append(figures, static_cast<std::size_t>(point));
        }
        return out;
    }
    out += figures[0];
    if (n > 1) out.append(".").append(figures, 1);
    const int shown = exponent < 0 ? -exponent : exponent;
    out += exponent < 0 ? "e-" : "e+";
    if (shown < 10) out += '0';
    out += std::to_string(shown);
    return out;
}

}  // namespace core
