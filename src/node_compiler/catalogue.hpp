// Every node type the compiler knows, as data: decoding reads the names,
// ports and parameter keys from here, emission the line templates, and the
// build writes the same table out for the Python package (its node
// descriptions, the checker's typing rules, the docs and the test
// generators), so a node type is added in this one place.
//
// A line template has one `{name}` per input port and parameter, and
// `{out}` for the node's variable, `{id}_{output}`. A number parameter is
// written with six decimals, so the template adds its `f`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace core {

enum class ParamKind : uint8_t { Number, Text };

// How the types of a node's inputs make the type of its output; the checker
// implements each rule once.
enum class Typing : uint8_t {
    Fixed,      // every input of one of the types it accepts; output_type is the output's
    Swizzle,    // f32 or vecN<f32> by the length of the text parameter
    Broadcast,  // `a` and `b` of one type, or either of them f32
    Mix,        // `a` and `b` of one type, `t` of that type or f32, one input connected
};

struct InputEntry {
    std::string_view name;      // the `to_port` text that feeds it
    std::string_view fallback;  // the WGSL text used when no edge feeds it
    std::string_view accepts;   // the WGSL types an edge may bring, space-separated
};

struct ParamEntry {
    std::string_view name;
    ParamKind kind;
    double number;          // the default of a number parameter
    std::string_view text;  // the default of a text parameter
};

struct NodeEntry {
    std::string_view name;
    std::string_view output;       // the variable's suffix and the edges' from_port; "" for none
    std::string_view output_type;  // a WGSL type, or the rule in words
    std::string_view line;
    Typing typing;
    std::string_view typing_text;  // how the inputs combine, in words; "" when each stands alone
    InputEntry inputs[3];
    uint8_t input_count;
    ParamEntry params[2];
    uint8_t param_count;
};

inline constexpr std::string_view kAnyValue = "f32 vec2<f32> vec3<f32> vec4<f32>";
inline constexpr std::string_view kSameOrScalar =
    "`a` and `b` of one type, or either of them f32 (the other's type wins); an input left at "
    "its default is a number of the other's type";
inline constexpr std::string_view kBroadcastType = "the vector type among `a` and `b`, else f32";

// clang-format off: one node type per block, laid out by hand
inline constexpr NodeEntry kNodeEntries[] = {
    {"UV", "uv", "vec2<f32>", "    let {out} = in.uv;", Typing::Fixed, "",
     {}, 0, {}, 0},
    {"SampleTexture", "color", "vec4<f32>",
     "    let {out} = textureSample(t_color, s_color, {uv});", Typing::Fixed, "",
     {{"uv", "in.uv", "vec2<f32>"}}, 1, {}, 0},
    {"PixelColor", "color", "vec4<f32>",
     "    let {out} = textureSample(t_color, s_color, in.uv);", Typing::Fixed, "",
     {}, 0, {}, 0},
    {"PixelChannel", "val", "f32 for one channel, vecN<f32> for N channels",
     "    let {out} = textureSample(t_color, s_color, in.uv).{channel};", Typing::Swizzle,
     "`channel` is a swizzle of 1 to 4 letters, all from rgba or all from xyzw",
     {}, 0, {{"channel", ParamKind::Text, 0.0, "r"}}, 1},
    {"Lerp", "out", "the type of `a` and `b`", "    let {out} = mix({a}, {b}, {t});", Typing::Mix,
     "`a` and `b` of one type; `t` of that type or f32; at least one input connected",
     {{"a", "0.0", kAnyValue}, {"b", "1.0", kAnyValue}, {"t", "0.5", kAnyValue}}, 3, {}, 0},
    {"Add", "out", kBroadcastType, "    let {out} = {a} + {b};", Typing::Broadcast, kSameOrScalar,
     {{"a", "0.0", kAnyValue}, {"b", "0.0", kAnyValue}}, 2, {}, 0},
    {"Multiply", "out", kBroadcastType, "    let {out} = {a} * {b};", Typing::Broadcast,
     kSameOrScalar,
     {{"a", "1.0", kAnyValue}, {"b", "1.0", kAnyValue}}, 2, {}, 0},
    {"Clamp", "out", "f32", "    let {out} = clamp({val}, {min}f, {max}f);", Typing::Fixed,
     "`min` not above `max`",
     {{"val", "0.0", "f32"}}, 1,
     {{"min", ParamKind::Number, 0.0, ""}, {"max", ParamKind::Number, 1.0, ""}}, 2},
    {"GravityWarp", "out_uv", "vec2<f32>", "    let {out} = warp_uv({uv}, {strength}f, {radius}f);",
     Typing::Fixed, "",
     {{"uv", "in.uv", "vec2<f32>"}}, 1,
     {{"strength", ParamKind::Number, 1.0, ""}, {"radius", ParamKind::Number, 0.1, ""}}, 2},
    {"Discard", "", "", "    discard;", Typing::Fixed,
     "no texture may be sampled after it (sampling needs uniform control flow)",
     {}, 0, {}, 0},
    {"FinalColor", "", "", "    out_color = {color};", Typing::Fixed, "",
     {{"color", "vec4<f32>(0.0, 0.0, 0.0, 1.0)", "vec4<f32>"}}, 1, {}, 0},
};
// clang-format on

inline constexpr std::size_t kNodeTypeCount = std::size(kNodeEntries);

// The prelude and closing are published text, byte for byte (shaders and
// their tests compare whole outputs): the length check below catches an edit
// that changes a space or a line, which is why it names a number.
constexpr std::string_view kPrelude =
    "struct VertexOutput {\n"
    "    @builtin(position) pos: vec4<f32>,\n"
    "    @location(0) uv: vec2<f32>,\n"
    "}\n"
    "\n"
    "@group(0) @binding(0) var t_color: texture_2d<f32>;\n"
    "@group(0) @binding(1) var s_color: sampler;\n"
    "\n"
    "fn warp_uv(uv: vec2<f32>, strength: f32, radius: f32) -> vec2<f32> {\n"
    "    let center = vec2<f32>(0.5, 0.5);\n"
    "    let delta = uv - center;\n"
    "    let dist = length(delta);\n"
    "    let warp = strength * exp(-dist / max(radius, 0.001));\n"
    "    return uv + normalize(delta) * warp * dist;\n"
    "}\n"
    "\n"
    "@fragment\n"
    "fn fs_main(in: VertexOutput) -> @location(0) vec4<f32> {\n"
    "    var out_color = vec4<f32>(0.0, 0.0, 0.0, 1.0);\n";
constexpr std::string_view kClosing = "    return out_color;\n}\n";
static_assert(kPrelude.size() == 587);

// The names the shader declares itself. A node's variable named like the
// function's own declares it twice; one named like a module-scope name hides
// that name from the lines after it.
enum class Scope : uint8_t { Function, Module };

struct ShaderName {
    std::string_view name;
    Scope scope;
};

inline constexpr ShaderName kShaderNames[] = {
    {"out_color", Scope::Function},
    {"t_color", Scope::Module},
    {"s_color", Scope::Module},
    {"warp_uv", Scope::Module},
};

// `name` as a whole word in `text`.
constexpr bool uses_name(std::string_view text, std::string_view name) {
    auto word = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    for (std::size_t at = text.find(name); at != std::string_view::npos;
         at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((at == 0 || !word(text[at - 1])) && (end == text.size() || !word(text[end]))) {
            return true;
        }
    }
    return false;
}

// Each name is one the prelude declares, as a variable or a function.
constexpr bool shader_names_declared() {
    for (const ShaderName& s : kShaderNames) {
        bool declared = false;
        for (std::string_view intro : {"var ", "fn "}) {
            for (std::size_t at = kPrelude.find(intro); at != std::string_view::npos;
                 at = kPrelude.find(intro, at + 1)) {
                declared = declared || kPrelude.substr(at + intro.size()).starts_with(s.name);
            }
        }
        if (!declared) return false;
    }
    return true;
}
static_assert(shader_names_declared());

// The letter sets of a swizzle: 1 to 4 letters, all from one set.
inline constexpr std::string_view kSwizzleSets[] = {"rgba", "xyzw"};

// The distinct input port names and parameter keys of all node types, in
// order of first appearance: decoding keeps only these, by index.
struct NameSet {
    std::string_view names[16];
    uint8_t count = 0;

    constexpr void add(std::string_view name) {
        if (find(name) == count) names[count++] = name;
    }
    // The index of `name`, or `count` when it is none of them.
    constexpr uint8_t find(std::string_view name) const {
        for (uint8_t i = 0; i < count; ++i) {
            if (names[i] == name) return i;
        }
        return count;
    }
};

inline constexpr NameSet kInputPorts = [] {
    NameSet s;
    for (const NodeEntry& n : kNodeEntries) {
        for (uint8_t i = 0; i < n.input_count; ++i) s.add(n.inputs[i].name);
    }
    return s;
}();

inline constexpr NameSet kParamKeys = [] {
    NameSet s;
    for (const NodeEntry& n : kNodeEntries) {
        for (uint8_t i = 0; i < n.param_count; ++i) s.add(n.params[i].name);
    }
    return s;
}();

inline constexpr uint8_t kPortCount = kInputPorts.count;  // also marks any other port name
inline constexpr uint8_t kParamCount = kParamKeys.count;  // also marks any other key

}  // namespace core
