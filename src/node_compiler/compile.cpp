// WGSL fragment shader text from an ordered node graph. Every line is
// written twice by the same code: once into a counter that bounds the
// result's length, so the buffer is reserved once, then into the buffer.
#include <array>
#include <limits>
#include <stdexcept>
#include <string>

#include "common/errors.hpp"
#include "common/format.hpp"
#include "node_compiler/catalogue.hpp"
#include "node_compiler/compile.hpp"
#include "node_compiler/decode.hpp"
#include "node_compiler/graph.hpp"
#include "node_compiler/order.hpp"

namespace core {
namespace {

constexpr uint32_t kNoEdge = std::numeric_limits<uint32_t>::max();
// "-" and 39 integer digits (FLT_MAX), the point and six decimals.
constexpr std::size_t kMaxNumberLength = 47;

// A line template read once, at compile time, into the pieces emission
// writes; a placeholder that names no port or parameter of its node type
// stops the build.
struct Piece {
    enum Kind : uint8_t { Text, Variable, Input, Number, TextParam };
    Kind kind = Text;
    uint8_t slot = 0;       // Input: into kInputPorts; Number, TextParam: into kParamKeys
    std::string_view text;  // Text: itself; Input, TextParam: the default
    float number = 0.0f;    // Number: the default
};

struct Line {
    Piece pieces[12];
    uint8_t count = 0;

    constexpr void add(Piece p) {
        if (count == std::size(pieces)) throw std::logic_error("line template too long");
        pieces[count++] = p;
    }
};

constexpr Piece placeholder(const NodeEntry& n, std::string_view name) {
    if (name == "out" && !n.output.empty()) return {Piece::Variable, 0, {}, 0.0f};
    for (uint8_t i = 0; i < n.input_count; ++i) {
        if (n.inputs[i].name == name) {
            return {Piece::Input, kInputPorts.find(name), n.inputs[i].fallback, 0.0f};
        }
    }
    for (uint8_t i = 0; i < n.param_count; ++i) {
        const ParamEntry& p = n.params[i];
        if (p.name == name) {
            return p.kind == ParamKind::Number
                       ? Piece{Piece::Number,
                               kParamKeys.find(name),
                               {},
                               static_cast<float>(p.number)}
                       : Piece{Piece::TextParam, kParamKeys.find(name), p.text, 0.0f};
        }
    }
    throw std::logic_error("a line template names no port or parameter of its node type");
}

constexpr Line parse_line(const NodeEntry& n) {
    Line line;
    std::string_view rest = n.line;
    while (!rest.empty()) {
        const std::size_t open = rest.find('{');
        if (open != 0) {
            line.add({Piece::Text, 0, rest.substr(0, open), 0.0f});
            if (open == std::string_view::npos) break;
        }
        const std::size_t close = rest.find('}', open);
        if (close == std::string_view::npos) throw std::logic_error("unclosed placeholder");
        line.add(placeholder(n, rest.substr(open + 1, close - open - 1)));
        rest.remove_prefix(close + 1);
    }
    return line;
}

constexpr auto kLines = [] {
    std::array<Line, kNodeTypeCount> lines{};
    for (std::size_t i = 0; i < kNodeTypeCount; ++i) lines[i] = parse_line(kNodeEntries[i]);
    return lines;
}();

struct Counter {
    std::size_t size = 0;
    void operator()(std::string_view s) { size += s.size(); }
    void number(float) { size += kMaxNumberLength; }
};

struct Writer {
    std::string& out;
    void operator()(std::string_view s) { out.append(s); }
    void number(float v) { append_fixed(out, v, 6); }
};

class Emitter {
public:
    explicit Emitter(const NodeGraph& graph)
        : graph_(graph), first_edge_(graph.ids.size() * kPortCount, kNoEdge) {
        // The first edge into each (node, port) is the one that feeds it.
        for (uint32_t i = 0; i < graph.edges.size(); ++i) {
            const Edge& e = graph.edges[i];
            if (e.to_port == kPortCount) continue;
            uint32_t& slot = first_edge_[std::size_t{e.to_node} * kPortCount + e.to_port];
            if (slot == kNoEdge) slot = i;
        }
    }

    template <class Out>
    void line(Out& out, const Node& n) const {
        const Line& line = kLines[n.type];
        for (uint8_t i = 0; i < line.count; ++i) {
            const Piece& p = line.pieces[i];
            switch (p.kind) {
                case Piece::Text:
                    out(p.text);
                    break;
                case Piece::Variable:
                    out(graph_.ids.text(n.id));
                    out("_");
                    out(kNodeEntries[n.type].output);
                    break;
                case Piece::Input: {
                    const uint32_t e = first_edge_[std::size_t{n.id} * kPortCount + p.slot];
                    if (e == kNoEdge) {
                        out(p.text);
                    } else {
                        out(graph_.ids.text(graph_.edges[e].from_node));
                        out("_");
                        out(graph_.ports.text(graph_.edges[e].from_port));
                    }
                    break;
                }
                case Piece::Number:
                    out.number(number_param(n, p.slot, p.number));
                    break;
                case Piece::TextParam:
                    out(text_param(n, p.slot, p.text));
                    break;
            }
        }
        out("\n");
    }

private:
    const ParamValue* param(const Node& n, uint8_t key) const {
        for (uint32_t i = n.first_param; i < n.first_param + n.param_count; ++i) {
            if (graph_.params[i].key == key) return &graph_.params[i].value;
        }
        return nullptr;
    }

    float number_param(const Node& n, uint8_t key, float fallback) const {
        const ParamValue* v = param(n, key);
        if (v == nullptr) return fallback;
        switch (v->kind) {
            case ParamValue::Unsigned:
                return static_cast<float>(static_cast<double>(v->u));
            case ParamValue::Signed:
                return static_cast<float>(static_cast<double>(v->i));
            case ParamValue::Float:
                return static_cast<float>(v->f);
            default:
                return fallback;
        }
    }

    std::string_view text_param(const Node& n, uint8_t key, std::string_view fallback) const {
        const ParamValue* v = param(n, key);
        return v != nullptr && v->kind == ParamValue::Text ? v->text : fallback;
    }

    const NodeGraph& graph_;
    std::vector<uint32_t> first_edge_;  // by node id and port
};

}  // namespace

std::string compile_node_graph(std::string_view json) {
    const NodeGraph graph = decode_node_graph(json);
    const std::vector<uint32_t> order = order_nodes(graph);

    // The node an id stands for is the last one with that id; ids that only
    // edges name stand for none.
    std::vector<const Node*> node_of(graph.ids.size(), nullptr);
    for (const Node& n : graph.nodes) node_of[n.id] = &n;

    const Emitter emitter(graph);
    Counter counter{kPrelude.size() + kClosing.size()};
    for (uint32_t id : order) {
        const Node* n = node_of[id];
        if (n == nullptr) continue;
        if (n->type == kNodeTypeCount) {
            throw ValueError("Unknown node type: " + std::string(n->type_text));
        }
        emitter.line(counter, *n);
    }
    std::string out;
    out.reserve(counter.size);
    out.append(kPrelude);
    Writer writer{out};
    for (uint32_t id : order) {
        if (const Node* n = node_of[id]) emitter.line(writer, *n);
    }
    out.append(kClosing);
    return out;
}

}  // namespace core
