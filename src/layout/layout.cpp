#include "layout/layout.hpp"

#include <algorithm>

#include "common/errors.hpp"

namespace core {
namespace {

struct WgslType {
    std::string_view name;
    uint64_t size;
    uint64_t align;
};

constexpr WgslType kTypes[] = {
    {"f32", 4, 4},   {"u32", 4, 4},     {"i32", 4, 4},
    {"vec2f", 8, 8}, {"vec3f", 12, 16}, {"vec4f", 16, 16},
};

const WgslType& find_type(const std::string& name) {
    for (const WgslType& t : kTypes) {
        if (t.name == name) return t;
    }
    throw ValueError("Unknown WGSL type: " + name);
}

uint64_t round_up(uint64_t x, uint64_t align) { return (x + align - 1) & ~(align - 1); }

// The one layout rule both results follow: each channel at its type's
// alignment after the one before; the stride is the end rounded up to the
// largest alignment. Calls visit(name, type, offset) per channel.
template <class Visit>
uint64_t walk_layout(const std::vector<Channel>& channels, Visit&& visit) {
    uint64_t offset = 0, max_align = 1;
    for (const auto& [name, type] : channels) {
        const WgslType& t = find_type(type);
        const uint64_t field = round_up(offset, t.align);
        visit(name, t, field);
        offset = field + t.size;
        max_align = std::max(max_align, t.align);
    }
    return round_up(offset, max_align);
}

}  // namespace

Mapping<std::string, uint64_t> compute_layout(const std::vector<Channel>& channels) {
    Mapping<std::string, uint64_t> layout;
    auto& items = layout.items;
    items.reserve(channels.size() + 1);
    const uint64_t stride =
        walk_layout(channels, [&](const std::string& name, const WgslType&, uint64_t field) {
            items.emplace_back(name, field);
        });
    items.emplace_back("stride", stride);
    return layout;
}

std::string generate_wgsl_struct(std::string_view struct_name,
                                 const std::vector<Channel>& channels) {
    std::string out = "struct ";
    out.append(struct_name);
    out += " {\n";
    walk_layout(channels, [&](const std::string& name, const WgslType& t, uint64_t field) {
        out += "    ";
        out += name;
        out += ": ";
        out += t.name;
        out += ',';
        if (t.name == "vec3f") {
            out += "  // offset " + std::to_string(field) + ", align " + std::to_string(t.align) +
                   ", size 16 (padded)";
        }
        out += '\n';
    });
    out += "};";
    return out;
}

}  // namespace core
