#include "node_compiler/json_fault.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <boost/json/error.hpp>

namespace core {

namespace json = boost::json;
using error_code = boost::system::error_code;

// The parser names syntax faults coarsely; this rescans the text before the
// fault (which the parser accepted, so the scan is exact) to say what was
// expected there.
std::string describe_syntax_fault(std::string_view text, std::size_t at, error_code ec) {
    if (ec == json::error::exponent_overflow) return "number out of range";
    if (ec == json::error::too_deep) return "recursion limit exceeded";
    enum State : uint8_t { Value, ArrayFirst, ObjectFirst, Key, Colon, AfterValue };
    State state = Value;
    bool after_comma = false, in_string = false, escaped = false, in_token = false,
         string_is_key = false;
    char token_first = 0;
    std::string stack;  // '[' and '{' of the open containers
    auto structural = [](char c) {
        return c == '[' || c == ']' || c == '{' || c == '}' || c == ',' || c == ':' || c == '"' ||
               c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    for (std::size_t i = 0; i < at; ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"') {
                in_string = false;
                state = string_is_key ? Colon : AfterValue;
            }
            continue;
        }
        if (in_token) {
            if (!structural(c)) continue;
            in_token = false;
            state = AfterValue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        after_comma = false;
        switch (c) {
            case '"':
                in_string = true;
                string_is_key = state == ObjectFirst || state == Key;
                break;
            case '[':
                stack += c;
                state = ArrayFirst;
                break;
            case '{':
                stack += c;
                state = ObjectFirst;
                break;
            case ']':
            case '}':
                stack.pop_back();
                state = AfterValue;
                break;
            case ',':
                after_comma = true;
                state = stack.back() == '{' ? Key : Value;
                break;
            case ':':
                state = Value;
                break;
            default:
                in_token = true;
                token_first = c;
                break;
        }
    }
    const bool eof = at >= text.size();
    if (in_string) {
        if (eof) return "EOF while parsing a string";
        if (static_cast<unsigned char>(text[at]) < 0x20) {
            return "control character (\\u0000-\\u001F) found while parsing a string";
        }
        if (ec == json::error::illegal_leading_surrogate ||
            ec == json::error::illegal_trailing_surrogate ||
            ec == json::error::expected_utf16_escape ||
            (at >= 6 && text[at - 6] == '\\' && text[at - 5] == 'u')) {
            return "lone surrogate in hex escape";
        }
        return "invalid escape";
    }
    if (eof) {
        if (in_token || stack.empty() || state == Value) return "EOF while parsing a value";
        return stack.back() == '[' ? "EOF while parsing a list" : "EOF while parsing an object";
    }
    if (in_token) {
        return token_first == '-' || (token_first >= '0' && token_first <= '9') ? "invalid number"
                                                                                : "expected ident";
    }
    const char c = text[at];
    switch (state) {
        case Value:
        case ArrayFirst:
            return after_comma && c == ']' ? "trailing comma" : "expected value";
        case ObjectFirst:
        case Key:
            return after_comma && c == '}' ? "trailing comma" : "key must be a string";
        case Colon:
            return "expected `:`";
        case AfterValue:
            if (stack.empty()) return "trailing characters";
            return stack.back() == '[' ? "expected `,` or `]`" : "expected `,` or `}`";
    }
    return ec.message();
}

std::string at_position(std::string_view text, std::size_t at) {
    const bool eof = at >= text.size();
    at = std::min(at, text.size());
    std::size_t line = 1, line_start = 0;
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + at - p))) != nullptr;
         ++p) {
        ++line;
        line_start = static_cast<std::size_t>(p - text.data()) + 1;
    }
    std::size_t column = eof ? 0 : 1;
    for (std::size_t i = line_start; i < at; ++i) {
        column += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    }
    return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace core
