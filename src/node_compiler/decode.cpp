// Decoding of the node-graph document. Boost.JSON's push parser validates the
// text and calls our handler, which builds the records directly: there is no
// generic JSON tree, and values that no record field reads (extra keys,
// unread parameters) are parsed and dropped as they stream past.
#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "common/errors.hpp"
#include "common/grow.hpp"
#include "common/interrupt.hpp"
#include "node_compiler/decode.hpp"
#include "node_compiler/id_table.hpp"
#include "node_compiler/json_fault.hpp"
#include "node_compiler/json_text.hpp"

namespace core {
namespace {

namespace json = boost::json;
// Boost.JSON has used Boost.System's error code all along; the alias it once
// offered for it is gone from newer releases.
using error_code = boost::system::error_code;

constexpr std::size_t kMaxDepth = 127;
constexpr uint8_t kIgnored = 0xff;  // a key that names no field

// ---- the records' shapes ---------------------------------------------------------

enum class Frame : uint8_t {
    GraphObject,
    GraphArray,
    NodeList,
    EdgeList,
    NodeObject,
    NodeArray,
    EdgeObject,
    EdgeArray,
    ParamsObject,
    Skip,
};

// What the next value must be.
enum class Want : uint8_t {
    Graph,
    NodeList,
    EdgeList,
    Node,
    Edge,
    Text,
    Params,
    ParamValue,
    Ignore
};

struct Record {
    const char* name;  // "struct Node"
    std::string_view fields[4];
    uint8_t field_count;
    uint8_t min_length;  // array form
    Want wants[4];
};

constexpr Record kGraph{
    "struct NodeGraph", {"nodes", "edges"}, 2, 2, {Want::NodeList, Want::EdgeList}};
constexpr Record kNode{
    "struct Node", {"id", "type", "params"}, 3, 2, {Want::Text, Want::Text, Want::Params}};
constexpr Record kEdge{"struct Edge",
                       {"from_node", "from_port", "to_node", "to_port"},
                       4,
                       4,
                       {Want::Text, Want::Text, Want::Text, Want::Text}};

// `seen` keeps one bit per field, and a record holds at most four.
static_assert(kGraph.field_count <= 4 && kNode.field_count <= 4 && kEdge.field_count <= 4);
static_assert(kGraph.min_length <= kGraph.field_count && kNode.min_length <= kNode.field_count &&
              kEdge.min_length <= kEdge.field_count);

// Lists, parameter maps and skipped values are no records: callers handle
// those frames before asking.
const Record& record_of(Frame f) {
    switch (f) {
        case Frame::GraphObject:
        case Frame::GraphArray:
            return kGraph;
        case Frame::NodeObject:
        case Frame::NodeArray:
            return kNode;
        case Frame::EdgeObject:
        case Frame::EdgeArray:
            return kEdge;
        case Frame::NodeList:
        case Frame::EdgeList:
        case Frame::ParamsObject:
        case Frame::Skip:
            break;
    }
    assert(!"record_of: not a record frame");
    throw std::logic_error("record_of: not a record frame");
}

bool is_array_form(Frame f) {
    return f == Frame::GraphArray || f == Frame::NodeArray || f == Frame::EdgeArray;
}

const char* expected_text(Want w) {
    switch (w) {
        case Want::Graph:
            return "struct NodeGraph";
        case Want::Node:
            return "struct Node";
        case Want::Edge:
            return "struct Edge";
        case Want::NodeList:
        case Want::EdgeList:
            return "a sequence";
        case Want::Text:
            return "a string";
        case Want::Params:
            return "a map";
        case Want::ParamValue:
        case Want::Ignore:
            break;  // these take any value, so are never refused
    }
    return "a value";
}

// The index of the node type named `name`, or kNodeTypeCount.
uint8_t node_type(std::string_view name) {
    for (uint8_t i = 0; i < kNodeTypeCount; ++i) {
        if (kNodeEntries[i].name == name) return i;
    }
    return kNodeTypeCount;
}

// ---- the handler ----------------------------------------------------------------

struct Level {
    Frame frame;
    bool object = false;       // a skipped value's kind, for its preview
    uint8_t field = kIgnored;  // objects: the field of the current key
    uint8_t seen = 0;          // record objects: one bit per field given
    uint64_t count = 0;        // arrays: elements completed
};

constexpr std::size_t kNoPreview = std::size_t(-1);

class Builder {
public:
    constexpr static std::size_t max_object_size = std::size_t(-1);
    constexpr static std::size_t max_array_size = std::size_t(-1);
    constexpr static std::size_t max_key_size = std::size_t(-1);
    constexpr static std::size_t max_string_size = std::size_t(-1);

    Builder(std::string_view doc, NodeGraph& graph) : doc_(doc), graph_(graph) {
        stack_.reserve(kMaxDepth);
    }

    const std::string& fault() const { return fault_; }

    bool on_document_begin(error_code&) { return true; }
    bool on_document_end(error_code&) { return true; }
    bool on_comment_part(json::string_view, error_code&) { return true; }
    bool on_comment(json::string_view, error_code&) { return true; }

    bool on_object_begin(error_code& ec) { return begin(ec, true); }
    bool on_array_begin(error_code& ec) { return begin(ec, false); }
    bool on_object_end(std::size_t, error_code& ec) { return end(ec); }
    bool on_array_end(std::size_t, error_code& ec) { return end(ec); }

    bool on_key_part(json::string_view s, std::size_t, error_code&) {
        key_.append(s.data(), s.size());
        return true;
    }

    bool on_key(json::string_view s, std::size_t, error_code& ec) {
        std::string_view key(s.data(), s.size());
        const bool split = !key_.empty();
        if (split) key = key_.append(key);
        bool ok = set_key(key, split, ec);
        key_.clear();
        return ok;
    }

    bool on_string_part(json::string_view s, std::size_t, error_code&) {
        if (wanted().first != Want::Ignore || previewing()) text_part_.append(s.data(), s.size());
        return true;
    }

    bool on_string(json::string_view s, std::size_t, error_code& ec) {
        const auto [want, field] = wanted();
        std::string_view value(s.data(), s.size());
        if (previewing()) {
            separate();
            if (!text_part_.empty()) value = text_part_.append(value);
            append_json_string(preview_, value, kPreviewLength);
        }
        if (want != Want::Ignore) value = keep(value);
        text_part_.clear();
        switch (want) {
            case Want::Ignore:
                return completed(ec);
            case Want::Text:
                fields_[field] = value;
                return completed(ec);
            case Want::ParamValue:
                param(field) = ParamValue{ParamValue::Text, 0, 0, 0.0, value};
                return completed(ec);
            default: {
                std::string found = "string \"";
                found.append(value);
                found += '"';
                return invalid_type(ec, found, want);
            }
        }
    }

    bool on_number_part(json::string_view s, error_code&) {
        number_.append(s.data(), s.size());
        return true;
    }
    bool on_int64(int64_t v, json::string_view s, error_code& ec) {
        return number(ec, ParamValue{ParamValue::Signed, 0, v, 0.0, {}}, s);
    }
    bool on_uint64(uint64_t v, json::string_view s, error_code& ec) {
        return number(ec, ParamValue{ParamValue::Unsigned, v, 0, 0.0, {}}, s);
    }
    bool on_double(double v, json::string_view s, error_code& ec) {
        return number(ec, ParamValue{ParamValue::Float, 0, 0, v, {}}, s);
    }

    bool on_bool(bool v, error_code& ec) {
        return other_scalar(ec, v ? "boolean `true`" : "boolean `false`", v ? "true" : "false");
    }
    bool on_null(error_code& ec) { return other_scalar(ec, "null", "null"); }

private:
    // The kind of the value about to start, and the field it fills.
    std::pair<Want, uint8_t> wanted() const {
        if (stack_.empty()) return {Want::Graph, 0};
        const Level& top = stack_.back();
        switch (top.frame) {
            case Frame::NodeList:
                return {Want::Node, 0};
            case Frame::EdgeList:
                return {Want::Edge, 0};
            case Frame::Skip:
                return {Want::Ignore, 0};
            case Frame::ParamsObject:
                return {top.field == kIgnored ? Want::Ignore : Want::ParamValue, top.field};
            default:
                break;
        }
        const Record& r = record_of(top.frame);
        const uint64_t field = is_array_form(top.frame) ? top.count : top.field;
        if (field >= r.field_count) return {Want::Ignore, 0};
        return {r.wants[field], static_cast<uint8_t>(field)};
    }

    bool fail(error_code& ec, std::string message) {
        fault_ = std::move(message);
        ec = json::error::test_failure;  // the text in fault_ is what is reported
        return false;
    }

    bool invalid_type(error_code& ec, std::string_view found, Want want) {
        std::string m = "invalid type: ";
        m.append(found);
        m += ", expected ";
        m += expected_text(want);
        return fail(ec, std::move(m));
    }

    // A view that outlives the parse: into the document when the parser
    // handed out a piece of it, else into storage the graph owns.
    std::string_view keep(std::string_view s) {
        if (text_part_.empty() && s.data() >= doc_.data() &&
            s.data() + s.size() <= doc_.data() + doc_.size()) {
            return s;
        }
        text_part_.append(s);
        return graph_.owned.emplace_back(std::move(text_part_));
    }

    std::string_view own(std::string_view s) { return graph_.owned.emplace_back(s); }

    bool completed(error_code&) {
        if (!stack_.empty()) ++stack_.back().count;
        return true;
    }

    // The parameter value being read for key `field` of kParamKeys.
    ParamValue& param(uint8_t field) { return node_params_[slot_[field]].value; }

    // Inside a list or object given as a parameter's value, which is
    // written back into preview_ as it streams past.
    bool previewing() const { return preview_level_ != kNoPreview; }

    // The separator before the next element of the value being previewed.
    void separate() {
        const Level& top = stack_.back();
        if (!top.object && top.count > 0) add_preview(", ");
    }

    void add_preview(std::string_view s) {
        if (preview_.size() < kPreviewLength) preview_.append(s.substr(0, kPreviewLength));
    }

    bool begin(error_code& ec, bool object) {
        if (stack_.size() >= kMaxDepth) return fail(ec, "recursion limit exceeded");
        const auto [want, field] = wanted();
        if (previewing()) {
            separate();
            add_preview(object ? "{" : "[");
        }
        Frame frame = Frame::Skip;
        switch (want) {
            case Want::Graph:
                frame = object ? Frame::GraphObject : Frame::GraphArray;
                break;
            case Want::Node:
                frame = object ? Frame::NodeObject : Frame::NodeArray;
                fields_[0] = fields_[1] = {};
                node_params_.clear();
                std::fill(std::begin(slot_), std::end(slot_), kNoSlot);
                if (!other_keys_.empty()) other_keys_ = {};  // frees a large table
                break;
            case Want::Edge:
                frame = object ? Frame::EdgeObject : Frame::EdgeArray;
                std::fill(std::begin(fields_), std::end(fields_), std::string_view{});
                break;
            case Want::NodeList:
            case Want::EdgeList:
                if (object) return invalid_type(ec, "map", want);
                frame = want == Want::NodeList ? Frame::NodeList : Frame::EdgeList;
                break;
            case Want::Params:
                if (!object) return invalid_type(ec, "sequence", want);
                frame = Frame::ParamsObject;
                break;
            case Want::Text:
                return invalid_type(ec, object ? "map" : "sequence", want);
            case Want::ParamValue:
                param(field) = ParamValue{ParamValue::Other};
                preview_level_ = stack_.size();
                preview_slot_ = slot_[field];
                preview_.assign(object ? "{" : "[");
                break;
            case Want::Ignore:
                break;
        }
        stack_.push_back(Level{frame, object});
        return true;
    }

    bool set_key(std::string_view key, bool split, error_code& ec) {
        Level& top = stack_.back();
        switch (top.frame) {
            case Frame::Skip:
                if (previewing()) {
                    if (top.count > 0) add_preview(", ");
                    append_json_string(preview_, key, kPreviewLength);
                    add_preview(": ");
                }
                return true;
            case Frame::ParamsObject: {
                const uint8_t k = kParamKeys.find(key);
                top.field = k == kParamCount ? kIgnored : k;
                if (k != kParamCount) {
                    if (slot_[k] == kNoSlot) {
                        slot_[k] = static_cast<uint32_t>(node_params_.size());
                        node_params_.push_back(Param{k, kParamKeys.names[k], {}});
                    }
                } else if (!other_keys_.contains(key)) {
                    // Kept in order of first appearance, as the checker reports them.
                    const std::string_view kept = split ? own(key) : keep(key);
                    other_keys_.insert(kept);
                    node_params_.push_back(Param{kParamCount, kept, {}});
                }
                return true;
            }
            default:
                break;
        }
        const Record& r = record_of(top.frame);
        top.field = kIgnored;
        for (uint8_t i = 0; i < r.field_count; ++i) {
            if (key == r.fields[i]) {
                if (top.seen & (1u << i)) {
                    return fail(ec, "duplicate field `" + std::string(r.fields[i]) + '`');
                }
                top.seen |= static_cast<uint8_t>(1u << i);
                top.field = i;
            }
        }
        return true;
    }

    bool end(error_code& ec) {
        const Level top = stack_.back();
        stack_.pop_back();
        if (previewing()) {
            add_preview(top.object ? "}" : "]");
            if (stack_.size() == preview_level_) {
                preview_level_ = kNoPreview;
                node_params_[preview_slot_].value.text = own(preview_);
            }
        }
        switch (top.frame) {
            case Frame::Skip:
            case Frame::ParamsObject:
            case Frame::NodeList:
            case Frame::EdgeList:
                return completed(ec);
            default:
                break;
        }
        const Record& r = record_of(top.frame);
        if (is_array_form(top.frame)) {
            if (top.count < r.min_length || top.count > r.field_count) {
                return fail(ec, "invalid length " + std::to_string(top.count) + ", expected " +
                                    r.name + " with " + std::to_string(r.field_count) +
                                    " elements");
            }
        } else {
            for (uint8_t i = 0; i < r.min_length; ++i) {
                if (!(top.seen & (1u << i))) {
                    return fail(ec, "missing field `" + std::string(r.fields[i]) + '`');
                }
            }
        }
        if (&r == &kNode) add_node();
        if (&r == &kEdge) add_edge();
        return completed(ec);
    }

    void add_node() {
        const auto first = static_cast<uint32_t>(graph_.params.size());
        reserve_for(graph_.params, node_params_.size());
        graph_.params.insert(graph_.params.end(), node_params_.begin(), node_params_.end());
        push_back_polled(graph_.nodes,
                         Node{graph_.ids.intern(fields_[0]), node_type(fields_[1]), fields_[1],
                              first, static_cast<uint8_t>(graph_.params.size() - first)});
    }

    void add_edge() {
        const uint32_t from = graph_.ids.intern(fields_[0]);
        const uint32_t to = graph_.ids.intern(fields_[2]);
        push_back_polled(graph_.edges, Edge{from, to, graph_.ports.intern(fields_[1]),
                                            kInputPorts.find(fields_[3]), fields_[3]});
    }

    bool number(error_code& ec, ParamValue v, json::string_view s) {
        std::string_view digits(s.data(), s.size());
        if (!number_.empty()) digits = number_.append(digits);
        const auto [want, field] = wanted();
        bool ok = true;
        if (v.kind == ParamValue::Float && (want == Want::ParamValue || previewing())) {
            v.f = exact_double(digits, v.f);
        }
        if (previewing()) {
            separate();
            add_preview(json_number(digits, v.f, true));
        }
        if (want == Want::ParamValue) {
            v.text = keep(digits);
            param(field) = v;
            ok = completed(ec);
        } else if (want == Want::Ignore) {
            ok = completed(ec);
        } else {
            std::string found = v.kind == ParamValue::Float ? "floating point `" : "integer `";
            if (v.kind == ParamValue::Float)
                append_double(found, v.f);
            else
                found.append(digits);
            found += '`';
            ok = invalid_type(ec, found, want);
        }
        number_.clear();
        return ok;
    }

    // The parser's own conversion may be off in the last bit; the text is
    // read again with correct rounding. Out of range keeps the parser's
    // infinity or signed zero.
    static double exact_double(std::string_view digits, double approx) {
#if defined(__cpp_lib_to_chars)
        double v;
        auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        return r.ec == std::errc() ? v : approx;
#else
        // Standard libraries without a floating-point from_chars: strtod,
        // correctly rounded by every C library we build on, under the C
        // locale so that the decimal point is always '.'.
        static const locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
        const std::string text(digits);
        const locale_t previous = uselocale(c_locale);
        errno = 0;
        const double v = std::strtod(text.c_str(), nullptr);
        const bool out_of_range = errno == ERANGE && (v == 0.0 || std::isinf(v));
        uselocale(previous);
        return out_of_range ? approx : v;
#endif
    }

    static void append_double(std::string& out, double v) {
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
        out.append(s);
        if (s.find_first_of(".eni") == std::string_view::npos) out += ".0";
    }

    bool other_scalar(error_code& ec, const char* found, std::string_view json) {
        const auto [want, field] = wanted();
        if (previewing()) {
            separate();
            add_preview(json);
        }
        if (want == Want::ParamValue)
            param(field) = ParamValue{ParamValue::Other, 0, 0, 0.0, json};
        else if (want != Want::Ignore)
            return invalid_type(ec, found, want);
        return completed(ec);
    }

    std::string_view doc_;
    NodeGraph& graph_;
    std::vector<Level> stack_;
    static constexpr uint32_t kNoSlot = uint32_t(-1);

    std::string_view fields_[4];  // the record being read
    // Its parameters in order of first appearance, later values winning;
    // slot_ finds each read key's place and other_keys_ tells the others
    // given before.
    std::vector<Param> node_params_;
    uint32_t slot_[kParamCount];
    std::unordered_set<std::string_view> other_keys_;
    std::string key_, text_part_, number_;    // pieces the parser handed out split
    std::string preview_;                     // the list or object value being read
    std::size_t preview_level_ = kNoPreview;  // its level in stack_
    uint32_t preview_slot_ = 0;               // its parameter in node_params_
    std::string fault_;
};

// Read in pieces, so that a huge document, or a huge string in it, stays
// interruptible; a piece is parsed in a few milliseconds at most.
constexpr std::size_t kPiece = std::size_t{1} << 18;

struct Reading {
    std::size_t used = 0;  // where the parser stopped
    error_code ec;
    std::string fault;  // the handler's, when it refused a value
};

// Parses `text` into `graph`, in pieces up to `whole_from`, then the rest at once.
Reading read(std::string_view text, NodeGraph& graph, std::size_t whole_from) {
    json::parse_options options;
    options.max_depth = kMaxDepth + 1;  // the handler enforces the limit
    json::basic_parser<Builder> parser(options, text, graph);
    Reading r;
    for (;;) {
        const std::size_t rest = text.size() - r.used;
        const std::size_t size = r.used >= whole_from ? rest : std::min(kPiece, rest);
        const bool more = size < rest;
        const std::size_t taken = parser.write_some(more, text.data() + r.used, size, r.ec);
        r.used += taken;
        if (r.ec || !more || taken < size) break;  // a fault, the end, or text after the document
        poll_interrupt();
    }
    r.fault = parser.handler().fault();
    return r;
}

}  // namespace

NodeGraph decode_node_graph(std::string_view text) {
    NodeGraph graph;
    Reading r = read(text, graph, std::size_t(-1));
    if (r.ec && text.size() > kPiece) {
        // The parser can word a fault in a token that a piece's end cuts (a
        // literal, an escape) otherwise: the text is read again with no cut
        // near the fault, as one piece from well before it.
        const std::size_t before =
            r.used > 2 * kPiece ? (r.used - 2 * kPiece) / kPiece * kPiece : 0;
        graph = NodeGraph{};
        r = read(text, graph, before);
    }
    std::string message;
    if (!r.fault.empty()) {
        message = r.fault;
    } else if (r.ec) {
        message = describe_syntax_fault(text, r.used, r.ec);
    } else if (r.used < text.size()) {
        message = "trailing characters";
    } else {
        return graph;
    }
    throw ValueError(message + at_position(text, r.used));
}

}  // namespace core
