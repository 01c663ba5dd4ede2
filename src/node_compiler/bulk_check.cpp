// The checker's rules, stated over the decoded graph for a graph without
// faults: any rule a graph breaks sends it back to the item-by-item check,
// which words the problem. Each rule here is at least as strict as the one
// it stands for.
#include "node_compiler/bulk_check.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "common/errors.hpp"
#include "node_compiler/decode.hpp"
#include "node_compiler/order.hpp"

namespace core {
namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr std::size_t kSlots = sizeof(NodeSpec::inputs) / sizeof(InputSpec);  // inputs a node has

// A WGSL value type, or what is known of one.
enum Type : uint8_t { kNoValue, kNumber, kF32, kVec2, kVec3, kVec4 };  // kNumber: abstract

constexpr Type type_named(std::string_view name) {
    if (name == "f32") return kF32;
    if (name == "vec2<f32>") return kVec2;
    if (name == "vec3<f32>") return kVec3;
    if (name == "vec4<f32>") return kVec4;
    return kNoValue;
}

constexpr bool scalar(Type t) { return t == kNumber || t == kF32; }

// The types a port's `accepts` list names, one bit each; a port that takes
// f32 also takes a number.
constexpr uint8_t accepted(std::string_view list) {
    uint8_t bits = 0;
    while (!list.empty()) {
        const std::size_t space = list.find(' ');
        bits |= uint8_t(1u << type_named(list.substr(0, space)));
        list = space == std::string_view::npos ? std::string_view{} : list.substr(space + 1);
    }
    return (bits & (1u << kF32)) ? uint8_t(bits | (1u << kNumber)) : bits;
}

// An input left at its fallback: a number, or the one type its port takes
// (any other fallback gives no type, and every graph using it is left to
// the item-by-item check).
Type fallback_type(const InputSpec& in) {
    if (in.fallback.find_first_not_of("0123456789.-") == std::string_view::npos) return kNumber;
    return type_named(in.accepts);
}

struct Kind {
    uint8_t accepts[kSlots];
    Type fallback[kSlots];
    Type output;  // of a Fixed node
};

const std::array<Kind, kNodeTypeCount>& kinds() {
    static const auto table = [] {
        std::array<Kind, kNodeTypeCount> t{};
        for (std::size_t k = 0; k < kNodeTypeCount; ++k) {
            const NodeSpec& s = kNodeSpecs[k];
            for (uint8_t i = 0; i < s.input_count; ++i) {
                t[k].accepts[i] = accepted(s.inputs[i].accepts);
                t[k].fallback[i] = fallback_type(s.inputs[i]);
            }
            t[k].output = type_named(s.output_type);
        }
        return t;
    }();
    return table;
}

// WGSL's rules for the node's expression, as the checker applies them, or
// kMisfit when the inputs do not fit.
constexpr Type kMisfit = Type(0xff);

Type combine(const NodeSpec& s, const Kind& k, const Type* in) {
    switch (s.typing) {
        case Typing::Fixed:
            for (uint8_t i = 0; i < s.input_count; ++i) {
                if (!(k.accepts[i] & (1u << in[i]))) return kMisfit;
            }
            return k.output;
        case Typing::Broadcast: {
            const Type a = in[0], b = in[1];
            if (scalar(a)) return scalar(b) ? kF32 : b;
            return scalar(b) || b == a ? a : kMisfit;
        }
        case Typing::Mix: {
            const Type a = in[0], b = in[1], t = in[2];
            if (scalar(a) && scalar(b)) {
                const bool all_numbers = a == kNumber && b == kNumber && t == kNumber;
                return scalar(t) && !all_numbers ? kF32 : kMisfit;
            }
            return a == b && (scalar(t) || t == a) ? a : kMisfit;
        }
        case Typing::Swizzle:
            break;
    }
    return kMisfit;
}

// An identifier by Python's rules and not reserved by WGSL's double
// underscore; text beyond ASCII is left to the item-by-item check.
bool plain_identifier(std::string_view v) {
    auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (v.empty() || !letter(v[0]) || v.starts_with("__")) return false;
    for (char c : v) {
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

bool shader_name(std::string_view v) {
    return v == "out_color" || v == "t_color" || v == "s_color" || v == "warp_uv";
}

bool swizzle(std::string_view v) {
    if (v.empty() || v.size() > 4) return false;
    for (std::string_view set : {std::string_view("rgba"), std::string_view("xyzw")}) {
        bool all = true;
        for (char c : v) all = all && set.find(c) != std::string_view::npos;
        if (all) return true;
    }
    return false;
}

// A number parameter narrowed to a 32-bit float as the compiler narrows it,
// or NaN for any other kind of value.
double narrowed(const ParamValue& v) {
    switch (v.kind) {
        case ParamValue::Unsigned:
            return static_cast<float>(static_cast<double>(v.u));
        case ParamValue::Signed:
            return static_cast<float>(static_cast<double>(v.i));
        case ParamValue::Float:
            return static_cast<float>(v.f);
        default:
            return std::nan("");
    }
}

int param_index(const NodeSpec& s, uint8_t key) {
    for (uint8_t p = 0; p < s.param_count; ++p) {
        if (s.params[p].name == kParamKeys.names[key]) return p;
    }
    return -1;
}

bool params_clean(const NodeGraph& g, const Node& n) {
    const NodeSpec& s = kNodeSpecs[n.type];
    double number[2] = {s.params[0].number, s.params[1].number};
    for (uint32_t k = n.first_param; k < n.first_param + n.param_count; ++k) {
        const Param& p = g.params[k];
        const int index = param_index(s, p.key);
        if (index < 0) return false;
        if (s.params[index].kind == ParamKind::Text) {
            if (p.value.kind != ParamValue::Text) return false;
            if (s.typing == Typing::Swizzle && !swizzle(p.value.text)) return false;
        } else {
            number[index] = narrowed(p.value);
            if (!std::isfinite(number[index])) return false;
        }
    }
    // The only node with two number parameters named so is Clamp.
    const bool min_max =
        s.param_count == 2 && s.params[0].name == "min" && s.params[1].name == "max";
    return !(min_max && number[0] > number[1]);
}

bool graph_clean(const NodeGraph& g) {
    const std::size_t n_ids = g.ids.size();
    std::vector<uint32_t> node_of(n_ids, kNone);
    bool final_color = false;
    IdTable variables;
    std::string var;
    for (uint32_t i = 0; i < g.nodes.size(); ++i) {
        const Node& n = g.nodes[i];
        if (n.type == kNodeTypeCount || node_of[n.id] != kNone) return false;
        node_of[n.id] = i;
        const NodeSpec& s = kNodeSpecs[n.type];
        final_color = final_color || s.name == "FinalColor";
        if (!s.output.empty()) {
            var.assign(g.ids.text(n.id)).append("_").append(s.output);
            if (!plain_identifier(var) || shader_name(var)) return false;
            const std::size_t known = variables.size();
            if (variables.intern(var) < known) return false;  // another node's variable
        }
        if ((n.param_count || s.param_count) && !params_clean(g, n)) return false;
    }
    if (!final_color || g.unread_params != 0) return false;

    // Edges: between nodes, from their outputs into their inputs, one each.
    std::vector<uint32_t> feed(g.nodes.size() * kSlots, kNone);
    for (const Edge& e : g.edges) {
        const uint32_t from = node_of[e.from_node], to = node_of[e.to_node];
        if (from == kNone || to == kNone) return false;
        const NodeSpec& source = kNodeSpecs[g.nodes[from].type];
        if (source.output.empty() || g.ports.text(e.from_port) != source.output) return false;
        if (e.to_port == kPortCount) return false;
        const NodeSpec& target = kNodeSpecs[g.nodes[to].type];
        uint8_t slot = 0;
        while (slot < target.input_count &&
               target.inputs[slot].name != kInputPorts.names[e.to_port])
            ++slot;
        if (slot == target.input_count || feed[to * kSlots + slot] != kNone) return false;
        feed[to * kSlots + slot] = from;
    }

    // Types, in the emission order, where every source comes first.
    std::vector<Type> type(g.nodes.size(), kNoValue);
    for (uint32_t id : order_nodes(g)) {
        const uint32_t i = node_of[id];
        const Node& n = g.nodes[i];
        const NodeSpec& s = kNodeSpecs[n.type];
        if (s.typing == Typing::Swizzle) {
            std::size_t length = s.params[0].text.size();
            for (uint32_t k = n.first_param; k < n.first_param + n.param_count; ++k) {
                length = g.params[k].value.text.size();
            }
            type[i] = Type(kF32 + length - 1);  // f32, then vec2 to vec4
            continue;
        }
        const Kind& kind = kinds()[n.type];
        Type in[kSlots];
        for (uint8_t p = 0; p < s.input_count; ++p) {
            const uint32_t from = feed[i * kSlots + p];
            in[p] = from == kNone ? kind.fallback[p] : type[from];
        }
        const Type t = combine(s, kind, in);
        if (t == kMisfit) return false;
        type[i] = t;
    }
    return true;
}

}  // namespace

bool node_graph_is_clean(std::string_view json) {
    try {
        return graph_clean(decode_node_graph(json));
    } catch (const ValueError&) {  // the compiler refuses it, or it has a cycle
        return false;
    }
}

}  // namespace core
