// The checker's rules over the decoded graph, in the order its problems are
// reported: ids and variables, node types and parameters, edges, then WGSL
// types along the graph's order, and FinalColor.
#include "node_compiler/check.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "node_compiler/catalogue.hpp"
#include "node_compiler/decode.hpp"
#include "node_compiler/json_text.hpp"
#include "node_compiler/order.hpp"

namespace core {
namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr std::size_t kSlots = std::size(NodeEntry{}.inputs);  // inputs a node has at most

// What is known of a node's value: None (not worked out, or no value), ""
// (a node that defines none), an abstract number, or a WGSL type.
enum Type : uint8_t { kUnknown, kNoValue, kNumber, kF32, kVec2, kVec3, kVec4, kMisfit };

constexpr Type type_named(std::string_view name) {
    if (name == "f32") return kF32;
    if (name == "vec2<f32>") return kVec2;
    if (name == "vec3<f32>") return kVec3;
    if (name == "vec4<f32>") return kVec4;
    return kUnknown;
}

constexpr std::string_view type_text(Type t) {
    constexpr std::string_view kTexts[] = {"",          "",          "a number", "f32",
                                           "vec2<f32>", "vec3<f32>", "vec4<f32>"};
    return kTexts[t];
}

constexpr bool scalar(Type t) { return t == kNumber || t == kF32; }
constexpr bool known(Type t) { return t >= kNumber && t <= kVec4; }

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

// An input left at its fallback: a number, or the one type its port takes.
constexpr Type fallback_type(const InputEntry& in) {
    if (in.fallback.find_first_not_of("0123456789.-") == std::string_view::npos) return kNumber;
    return type_named(in.accepts);
}

struct Kind {
    uint8_t accepts[kSlots];
    Type fallback[kSlots];
    Type output;  // of a Fixed node without inputs, or when they fit
    // The bit of each shader name of module scope that the node's line uses.
    uint8_t uses;
};

constexpr auto kKinds = [] {
    std::array<Kind, kNodeTypeCount> t{};
    for (std::size_t k = 0; k < kNodeTypeCount; ++k) {
        const NodeEntry& s = kNodeEntries[k];
        for (uint8_t i = 0; i < s.input_count; ++i) {
            t[k].accepts[i] = accepted(s.inputs[i].accepts);
            t[k].fallback[i] = fallback_type(s.inputs[i]);
        }
        t[k].output = s.output_type.empty() ? kUnknown : type_named(s.output_type);
        for (std::size_t n = 0; n < std::size(kShaderNames); ++n) {
            if (uses_name(s.line, kShaderNames[n].name)) t[k].uses |= uint8_t(1u << n);
        }
    }
    return t;
}();
static_assert(std::size(kShaderNames) <= 8);

constexpr uint8_t kFinalColor = [] {
    for (uint8_t k = 0; k < kNodeTypeCount; ++k) {
        if (kNodeEntries[k].name == "FinalColor") return k;
    }
    throw std::logic_error("no FinalColor node type");
}();

// WGSL's rules for the node's expression, or kMisfit.
Type combine(const NodeEntry& s, const Kind& k, const Type* in) {
    switch (s.typing) {
        case Typing::Fixed:
            for (uint8_t i = 0; i < s.input_count; ++i) {
                if (!(k.accepts[i] & (1u << in[i]))) return kMisfit;
            }
            return k.output == kUnknown ? kNoValue : k.output;
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

bool ascii(std::string_view v) {
    for (char c : v) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// An ASCII identifier not reserved by WGSL's double underscore.
bool identifier(std::string_view v) {
    auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (v.empty() || !letter(v[0]) || v.starts_with("__")) return false;
    for (char c : v) {
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    }
    return true;
}

bool swizzle(std::string_view v) {
    if (v.empty() || v.size() > 4) return false;
    for (std::string_view set : kSwizzleSets) {
        if (v.find_first_not_of(set) == std::string_view::npos) return true;
    }
    return false;
}

std::size_t characters(std::string_view v) {
    std::size_t n = 0;
    for (char c : v) n += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return n;
}

// The first kPreviewLength characters of `v`, all a message may quote.
std::string preview(std::string_view v) {
    std::size_t n = 0, at = 0;
    for (; at < v.size(); ++at) {
        if ((static_cast<unsigned char>(v[at]) & 0xc0) != 0x80 && n++ == kPreviewLength) break;
    }
    return std::string(v.substr(0, at));
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

bool number(const ParamValue& v) {
    return v.kind == ParamValue::Unsigned || v.kind == ParamValue::Signed ||
           v.kind == ParamValue::Float;
}

// A number's JSON text as Python's json module writes back what it read.
std::string shown_number(std::string_view text, double value) {
    const bool integer = text.find_first_of(".eE") == std::string_view::npos;
    if (integer) return text == "-0" ? "0" : preview(text);
    return json_number(text, value, false);
}

class Checker {
public:
    explicit Checker(const NodeGraph& g) : g_(g), node_of_(g.ids.size(), kNone) {}

    std::vector<Problem> run() {
        ids_.reserve(g_.nodes.size());
        for (uint32_t i = 0; i < g_.nodes.size(); ++i) {
            uint32_t& at = node_of_[g_.nodes[i].id];
            if (at == kNone) ids_.push_back(g_.nodes[i].id);
            at = i;
            poll_.tick();
        }
        check_ids();
        bool final_color = false;
        for (uint32_t i = 0; i < g_.nodes.size(); ++i) {
            const Node& n = g_.nodes[i];
            final_color = final_color || n.type == kFinalColor;
            if (n.type == kNodeTypeCount) {
                report(Problem::kUnknownType, node(i));
            } else if (n.param_count || kNodeEntries[n.type].param_count) {
                check_params(i);
            }
            poll_.tick();
        }
        feed_.assign(g_.nodes.size() * kSlots, kNone);
        for (uint32_t k = 0; k < g_.edges.size(); ++k) {
            check_edge(k);
            poll_.tick();
        }
        check_order();
        if (!final_color) report(Problem::kNoFinalColor);
        return std::move(problems_);
    }

private:
    using Fields = std::vector<ProblemField>;

    template <class... F>
    void report(Problem::Rule rule, F&&... parts) {
        Fields fields;
        (append(fields, std::forward<F>(parts)), ...);
        problems_.push_back(Problem{rule, std::move(fields)});
    }
    static void append(Fields& to, Fields&& from) {
        for (ProblemField& f : from) to.push_back(std::move(f));
    }
    static void append(Fields& to, std::string&& s) { to.emplace_back(std::move(s)); }
    static void append(Fields& to, double v) { to.emplace_back(v); }
    static void append(Fields& to, int64_t v) { to.emplace_back(v); }
    static void append(Fields& to, std::monostate v) { to.emplace_back(v); }

    std::string_view id(uint32_t i) const { return g_.ids.text(g_.nodes[i].id); }
    const NodeEntry& entry(uint32_t i) const { return kNodeEntries[g_.nodes[i].type]; }
    bool typed(uint32_t i) const { return g_.nodes[i].type != kNodeTypeCount; }

    Fields node(uint32_t i) const { return {preview(id(i)), preview(g_.nodes[i].type_text)}; }
    Fields edge(uint32_t k) const {
        const Edge& e = g_.edges[k];
        return {int64_t{k}, preview(g_.ids.text(e.from_node)), preview(g_.ports.text(e.from_port)),
                preview(g_.ids.text(e.to_node)), preview(e.to_port_text)};
    }

    // ---- ids and variables ----

    void check_ids() {
        if (ids_.size() < g_.nodes.size()) report_duplicates();
        var_of_.assign(g_.nodes.size(), kNone);
        std::string var;
        std::vector<std::pair<std::size_t, uint32_t>> hidden;  // (shader name, node)
        for (uint32_t node_id : ids_) {
            const uint32_t i = node_of_[node_id];
            poll_.tick();
            if (!typed(i) || entry(i).output.empty()) continue;
            var.assign(id(i)).append("_").append(entry(i).output);
            if (!ascii(var)) {
                report(var.starts_with("__") ? Problem::kNotIdentifier : Problem::kMaybeIdentifier,
                       var.starts_with("__")
                           ? node(i)
                           : Fields{std::string(id(i)), preview(g_.nodes[i].type_text)});
            } else if (!identifier(var)) {
                report(Problem::kNotIdentifier, node(i));
            } else {
                for (std::size_t n = 0; n < std::size(kShaderNames); ++n) {
                    if (kShaderNames[n].name != var) continue;
                    if (kShaderNames[n].scope == Scope::Function) {
                        report(Problem::kFunctionName, node(i), std::string(var));
                    } else {
                        hidden.emplace_back(n, i);
                    }
                }
            }
            const std::size_t before = variables_.size();
            const uint32_t v = variables_.intern(var);
            var_of_[i] = v;
            if (v < before) {
                report(Problem::kSameVariable, node(first_of_var_[v]), node(i), preview(var));
            } else {
                first_of_var_.push_back(i);
            }
        }
        for (const auto& [name, i] : hidden) {
            const uint32_t user = later_user(name, i);
            if (user != kNone) {
                report(Problem::kHidesName, node(i), std::string(kShaderNames[name].name),
                       node(user));
            }
        }
    }

    void report_duplicates() {
        std::vector<uint32_t> count(g_.ids.size(), 0);
        for (const Node& n : g_.nodes) ++count[n.id];
        std::vector<std::string> positions(g_.ids.size());
        for (uint32_t i = 0; i < g_.nodes.size(); ++i) {
            const uint32_t node_id = g_.nodes[i].id;
            if (count[node_id] < 2) continue;
            std::string& p = positions[node_id];
            if (!p.empty()) p += ", ";
            p += std::to_string(i);
            poll_.tick();
        }
        for (uint32_t node_id : ids_) {
            if (count[node_id] > 1) {
                report(Problem::kDuplicateId, preview(g_.ids.text(node_id)),
                       std::move(positions[node_id]));
            }
        }
    }

    // Whether the compiler emits a shader: it refuses a graph whose walk
    // misses a node, or that emits a node of an unknown type.
    bool compiles(const std::vector<uint32_t>& walk) const {
        if (walk.size() != g_.nodes.size()) return false;
        for (uint32_t node_id : walk) {
            if (node_of_[node_id] != kNone && !typed(node_of_[node_id])) return false;
        }
        return true;
    }

    // A node whose line uses the shader's name `name` and that comes after
    // node `i`, which hides it, or kNone. Without a shader (the graph has
    // other faults) any other such node counts.
    uint32_t later_user(std::size_t name, uint32_t i) {
        const uint8_t bit = uint8_t(1u << name);
        auto user = [&](uint32_t j) { return typed(j) && (kKinds[g_.nodes[j].type].uses & bit); };
        if (walk_.empty() && !g_.nodes.empty()) walk_ = walk_nodes(g_, true);
        const std::vector<uint32_t>& walk = walk_;
        if (!compiles(walk)) {
            for (uint32_t node_id : ids_) {
                const uint32_t j = node_of_[node_id];
                if (j != i && user(j)) return j;
            }
            return kNone;
        }
        bool seen = false;
        for (uint32_t node_id : walk) {
            const uint32_t k = node_of_[node_id];
            if (k == kNone || var_of_[k] == kNone) continue;
            if (var_of_[k] == var_of_[i]) {
                seen = true;
            } else if (seen) {
                const uint32_t j = first_of_var_[var_of_[k]];
                if (user(j)) return j;
            }
        }
        return kNone;
    }

    // ---- node types and parameters ----

    void check_params(uint32_t i) {
        const Node& n = g_.nodes[i];
        const NodeEntry& s = entry(i);
        double numbers[std::size(NodeEntry{}.params)] = {};
        for (uint8_t p = 0; p < s.param_count; ++p) numbers[p] = s.params[p].number;
        for (uint32_t k = n.first_param; k < n.first_param + n.param_count; ++k) {
            const Param& param = g_.params[k];
            uint8_t index = 0;
            while (index < s.param_count && s.params[index].name != param.name) ++index;
            if (index == s.param_count) {
                report(Problem::kUnknownParam, node(i), preview(param.name));
                continue;
            }
            const ParamValue& v = param.value;
            const std::string key(param.name);
            if (s.params[index].kind == ParamKind::Text) {
                if (v.kind != ParamValue::Text) {
                    report(Problem::kNotText, node(i), std::string(key), shown(v));
                } else if (s.typing == Typing::Swizzle && !swizzle(v.text)) {
                    Fields sets;
                    for (std::string_view set : kSwizzleSets) sets.emplace_back(std::string(set));
                    report(Problem::kNotSwizzle, node(i), std::string(key), preview(v.text),
                           std::move(sets));
                }
            } else if (!number(v)) {
                const bool text = v.kind == ParamValue::Text;
                report(Problem::kNotNumber, node(i), std::string(key),
                       text ? Fields{preview(v.text), std::monostate{}}
                            : Fields{std::monostate{}, shown(v)});
            } else {
                numbers[index] = narrowed(v);
                if (std::isinf(numbers[index])) {
                    report(Problem::kNotFinite, node(i), std::string(key), shown(v));
                }
            }
        }
        // The only node type with number parameters named so is Clamp.
        if (s.param_count == 2 && s.params[0].name == "min" && s.params[1].name == "max") {
            const double low = numbers[0], high = numbers[1];
            if (low > high && !std::isinf(low - high)) {
                report(Problem::kMinAboveMax, node(i), low, high);
            }
        }
    }

    static std::string shown(const ParamValue& v) {
        if (number(v)) return shown_number(v.text, v.f);
        return std::string(v.text);
    }

    // ---- edges ----

    void check_edge(uint32_t k) {
        const Edge& e = g_.edges[k];
        const uint32_t source = node_of_[e.from_node], target = node_of_[e.to_node];
        loose_edges_ = loose_edges_ || source == kNone || target == kNone;
        if (source == kNone) report(Problem::kNoNode, edge(k), preview(g_.ids.text(e.from_node)));
        if (target == kNone) report(Problem::kNoNode, edge(k), preview(g_.ids.text(e.to_node)));
        if (source != kNone && typed(source)) {
            const std::string_view output = entry(source).output;
            if (output.empty()) {
                report(Problem::kNoOutput, edge(k), node(source));
            } else if (g_.ports.text(e.from_port) != output) {
                report(Problem::kNoOutputPort, edge(k), node(source));
            }
        }
        if (target == kNone || !typed(target)) return;
        const NodeEntry& s = entry(target);
        uint8_t slot = 0;
        while (slot < s.input_count && s.inputs[slot].name != e.to_port_text) ++slot;
        if (slot == s.input_count) {
            report(Problem::kNoInputPort, edge(k), node(target));
            return;
        }
        uint32_t& feed = feed_[target * kSlots + slot];
        if (feed == kNone) {
            feed = k;
        } else if (g_.edges[feed].from_node != e.from_node ||
                   g_.edges[feed].from_port != e.from_port) {  // a repeated edge changes nothing
            report(Problem::kAlreadyFed, edge(k), node(target), int64_t{feed});
        }
    }

    // ---- the order of the nodes, and their WGSL types along it ----

    void check_order() {
        // The emitted nodes, each after the nodes its edges come from.
        const std::size_t n = g_.nodes.size();
        std::vector<uint32_t> waiting(n, 0), start(n + 1, 0);
        for (const Edge& e : g_.edges) {
            const uint32_t i = node_of_[e.from_node], j = node_of_[e.to_node];
            if (i != kNone && j != kNone) {
                ++waiting[j];
                ++start[i + 1];
            }
            poll_.tick();
        }
        for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
        poll_.tick(n);
        std::vector<uint32_t> after(start[n]);
        {
            std::vector<uint32_t> fill(start.begin(), start.end() - 1);
            for (const Edge& e : g_.edges) {
                const uint32_t i = node_of_[e.from_node], j = node_of_[e.to_node];
                if (i != kNone && j != kNone) after[fill[i]++] = j;
                poll_.tick();
            }
        }
        std::vector<uint32_t> order;
        order.reserve(ids_.size());
        for (uint32_t node_id : ids_) {
            if (waiting[node_of_[node_id]] == 0) order.push_back(node_of_[node_id]);
            poll_.tick();
        }
        for (std::size_t head = 0; head < order.size(); ++head) {
            const uint32_t i = order[head];
            for (uint32_t k = start[i]; k < start[i + 1]; ++k) {
                if (--waiting[after[k]] == 0) order.push_back(after[k]);
            }
            poll_.tick(start[i + 1] - start[i] + 1);
        }
        if (order.size() < ids_.size()) {
            Fields stuck{int64_t(ids_.size() - order.size())};
            for (uint32_t node_id : ids_) {
                if (stuck.size() > 8) break;
                const uint32_t i = node_of_[node_id];
                if (waiting[i] > 0) stuck.emplace_back(preview(id(i)));
            }
            report(Problem::kCycle, std::move(stuck));
            return;
        }
        // The compiler's count of its own walk can find a cycle where there
        // is none: duplicated ids and edges to missing nodes miscount it.
        if ((ids_.size() < n || loose_edges_) && walk_nodes(g_, false).size() != n) {
            report(Problem::kCycleMiscounted);
            return;
        }
        type_.assign(n, kUnknown);
        for (uint32_t i : order) {
            type_[i] = infer(i);
            poll_.tick();
        }
    }

    Type infer(uint32_t i) {
        if (!typed(i)) return kUnknown;
        const Node& n = g_.nodes[i];
        const NodeEntry& s = entry(i);
        if (s.typing == Typing::Swizzle) {
            std::size_t length = characters(s.params[0].text);
            for (uint32_t k = n.first_param; k < n.first_param + n.param_count; ++k) {
                const Param& p = g_.params[k];
                if (p.name != s.params[0].name) continue;
                length = p.value.kind == ParamValue::Text ? characters(p.value.text) : 1;
            }
            return length >= 1 && length <= 4 ? Type(kF32 + length - 1) : kUnknown;
        }
        const Kind& kind = kKinds[n.type];
        if (s.input_count == 0) return kind.output;
        Type in[kSlots];
        for (uint8_t p = 0; p < s.input_count; ++p) {
            const uint32_t k = feed_[i * kSlots + p];
            if (k == kNone) {
                in[p] = kind.fallback[p];
                continue;
            }
            const Edge& e = g_.edges[k];
            const uint32_t source = node_of_[e.from_node];
            if (source == kNone || !typed(source) ||
                g_.ports.text(e.from_port) != entry(source).output) {
                return kUnknown;
            }
            in[p] = type_[source];
            if (!known(in[p])) return kUnknown;
        }
        const Type t = combine(s, kind, in);
        if (t != kMisfit) return t;
        Fields inputs;
        for (uint8_t p = 0; p < s.input_count; ++p) {
            const uint32_t k = feed_[i * kSlots + p];
            inputs.emplace_back(std::string(type_text(in[p])));
            if (k == kNone) {
                inputs.emplace_back(std::monostate{});
            } else {
                inputs.emplace_back(preview(g_.ids.text(g_.edges[k].from_node)));
            }
        }
        report(Problem::kMisfit, node(i), std::move(inputs));
        return kUnknown;
    }

    const NodeGraph& g_;
    std::vector<uint32_t> node_of_;  // by id: the last node with it, or kNone
    std::vector<uint32_t> ids_;      // the ids of nodes, in order of first appearance
    IdTable variables_;
    std::vector<uint32_t> var_of_;        // by node: its variable, or kNone
    std::vector<uint32_t> first_of_var_;  // by variable: the first node defining it
    std::vector<uint32_t> feed_;          // by node and input: the edge feeding it
    std::vector<Type> type_;              // by node
    std::vector<uint32_t> walk_;          // the compiler's order, once needed
    bool loose_edges_ = false;            // an edge names an id no node has
    std::vector<Problem> problems_;
    // A look every few thousand items: an item can take a microsecond in a
    // graph of millions, whose tables miss the caches.
    InterruptPoll<(1u << 12)> poll_;
};

}  // namespace

std::string_view rule_name(Problem::Rule rule) {
    constexpr std::string_view kNames[] = {
        "refused",          "duplicate_id",   "not_identifier", "maybe_identifier", "function_name",
        "same_variable",    "hides_name",     "unknown_type",   "unknown_param",    "not_text",
        "not_swizzle",      "not_number",     "not_finite",     "min_above_max",    "no_node",
        "no_output",        "no_output_port", "no_input_port",  "already_fed",      "cycle",
        "cycle_miscounted", "misfit",         "no_final_color",
    };
    static_assert(std::size(kNames) == Problem::kNoFinalColor + 1);
    return kNames[rule];
}

std::vector<Problem> check_node_graph(std::string_view json) {
    NodeGraph graph;
    try {
        graph = decode_node_graph(json);
    } catch (const ValueError& e) {
        return {Problem{Problem::kRefused, {std::string(e.what())}}};
    }
    return Checker(graph).run();
}

}  // namespace core
