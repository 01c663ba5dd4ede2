// Writes the node catalogue (src/node_compiler/catalogue.hpp) as JSON for
// the Python package, which reads its node descriptions from it: run by the
// build, and by the docs build, which compiles nothing else.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "node_compiler/catalogue.hpp"

namespace {

using core::kNodeEntries;

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

const char* typing_name(core::Typing t) {
    switch (t) {
        case core::Typing::Fixed:
            return "fixed";
        case core::Typing::Swizzle:
            return "swizzle";
        case core::Typing::Broadcast:
            return "broadcast";
        case core::Typing::Mix:
            return "mix";
    }
    return "";
}

// The space-separated WGSL types as a JSON list.
std::string type_list(std::string_view types) {
    std::string out = "[";
    while (!types.empty()) {
        const std::size_t end = types.find(' ');
        if (out.size() > 1) out += ", ";
        out += quoted(types.substr(0, end));
        types.remove_prefix(end == std::string_view::npos ? types.size() : end + 1);
    }
    return out + "]";
}

std::string catalogue() {
    std::string out = "[\n";
    for (const core::NodeEntry& n : kNodeEntries) {
        if (&n != kNodeEntries) out += ",\n";
        out += " {\"name\": " + quoted(n.name) + ", \"output\": " + quoted(n.output) +
               ", \"output_type\": " + quoted(n.output_type) + ",\n  \"line\": " + quoted(n.line) +
               ",\n  \"typing\": \"" + typing_name(n.typing) +
               "\", \"typing_text\": " + quoted(n.typing_text) + ",\n  \"inputs\": [";
        for (uint8_t i = 0; i < n.input_count; ++i) {
            const core::InputEntry& p = n.inputs[i];
            out += std::string(i ? ", " : "") + "{\"name\": " + quoted(p.name) +
                   ", \"default\": " + quoted(p.fallback) +
                   ", \"accepts\": " + type_list(p.accepts) + "}";
        }
        out += "],\n  \"params\": [";
        for (uint8_t i = 0; i < n.param_count; ++i) {
            const core::ParamEntry& p = n.params[i];
            const bool text = p.kind == core::ParamKind::Text;
            out += std::string(i ? ", " : "") + "{\"name\": " + quoted(p.name) + ", \"kind\": \"" +
                   (text ? "text" : "number") +
                   "\", \"default\": " + (text ? quoted(p.text) : number(p.number)) + "}";
        }
        out += "]}";
    }
    return out + "\n]\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: node_catalogue OUTPUT.json\n", stderr);
        return 2;
    }
    const std::string text = catalogue();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() ||
        std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
