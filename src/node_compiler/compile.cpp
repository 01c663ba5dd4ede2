// WGSL fragment shader text from an ordered node graph. Every line is
// written twice by the same code: once into a counter that bounds the
// result's length, so the buffer is reserved once, then into the buffer.
#include <limits>
#include <string>

#include "common/errors.hpp"
#include "common/format.hpp"
#include "node_compiler/graph.hpp"

namespace core {
namespace {

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

constexpr uint32_t kNoEdge = std::numeric_limits<uint32_t>::max();
// "-" and 39 integer digits (FLT_MAX), the point and six decimals.
constexpr std::size_t kMaxNumberLength = 47;

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
        auto let = [&](std::string_view suffix, std::string_view rest) {
            out("    let ");
            out(graph_.ids.text(n.id));
            out("_");
            out(suffix);
            out(rest);
        };
        auto input = [&](Port port, std::string_view fallback) {
            const uint32_t e = first_edge_[std::size_t{n.id} * kPortCount + port];
            if (e == kNoEdge) return out(fallback);
            out(graph_.ids.text(graph_.edges[e].from_node));
            out("_");
            out(graph_.ports.text(graph_.edges[e].from_port));
        };
        auto number = [&](ParamKey key, float fallback) {
            out.number(number_param(n, key, fallback));
            out("f");
        };
        switch (n.type) {
            case NodeType::UV:
                let("uv", " = in.uv;");
                break;
            case NodeType::SampleTexture:
                let("color", " = textureSample(t_color, s_color, ");
                input(kPortUv, "in.uv");
                out(");");
                break;
            case NodeType::PixelColor:
                let("color", " = textureSample(t_color, s_color, in.uv);");
                break;
            case NodeType::PixelChannel:
                let("val", " = textureSample(t_color, s_color, in.uv).");
                out(text_param(n, kParamChannel, "r"));
                out(";");
                break;
            case NodeType::Lerp:
                let("out", " = mix(");
                input(kPortA, "0.0");
                out(", ");
                input(kPortB, "1.0");
                out(", ");
                input(kPortT, "0.5");
                out(");");
                break;
            case NodeType::Add:
            case NodeType::Multiply: {
                const bool add = n.type == NodeType::Add;
                let("out", " = ");
                input(kPortA, add ? "0.0" : "1.0");
                out(add ? " + " : " * ");
                input(kPortB, add ? "0.0" : "1.0");
                out(";");
                break;
            }
            case NodeType::Clamp:
                let("out", " = clamp(");
                input(kPortVal, "0.0");
                out(", ");
                number(kParamMin, 0.0f);
                out(", ");
                number(kParamMax, 1.0f);
                out(");");
                break;
            case NodeType::GravityWarp:
                let("out_uv", " = warp_uv(");
                input(kPortUv, "in.uv");
                out(", ");
                number(kParamStrength, 1.0f);
                out(", ");
                number(kParamRadius, 0.1f);
                out(");");
                break;
            case NodeType::Discard:
                out("    discard;");
                break;
            case NodeType::FinalColor:
                out("    out_color = ");
                input(kPortColor, "vec4<f32>(0.0, 0.0, 0.0, 1.0)");
                out(";");
                break;
            case NodeType::Unknown:
                break;
        }
        out("\n");
    }

private:
    const ParamValue* param(const Node& n, ParamKey key) const {
        for (uint32_t i = n.first_param; i < n.first_param + n.param_count; ++i) {
            if (graph_.params[i].key == key) return &graph_.params[i].value;
        }
        return nullptr;
    }

    float number_param(const Node& n, ParamKey key, float fallback) const {
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

    std::string_view text_param(const Node& n, ParamKey key, std::string_view fallback) const {
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
        if (n->type == NodeType::Unknown) {
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
