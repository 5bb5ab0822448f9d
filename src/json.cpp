// The JSON door: values written as compact text through RapidJSON's writer,
// and node descriptions read through its SAX parser.
#include "json.hpp"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

#include "ascii.hpp"
#include "build.hpp"

namespace lignor {

// RapidJSON's writer keeps the commas, colons and nesting right and escapes
// strings as the JSON grammar requires (the short escapes where they exist,
// "\u00XX" for the other control characters); every other byte is copied
// as it is.
struct JsonWriter::Impl {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer{buffer};
};

JsonWriter::JsonWriter() : impl_(std::make_unique<Impl>()) {}
JsonWriter::~JsonWriter() = default;

ValueWriter& JsonWriter::start_object() {
    impl_->writer.StartObject();
    return *this;
}
ValueWriter& JsonWriter::end_object() {
    impl_->writer.EndObject();
    return *this;
}
ValueWriter& JsonWriter::start_array(std::size_t) {
    impl_->writer.StartArray();
    return *this;
}
ValueWriter& JsonWriter::end_array() {
    impl_->writer.EndArray();
    return *this;
}
ValueWriter& JsonWriter::key(Key name) {
    const std::string_view text = key_name(name);
    impl_->writer.Key(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return *this;
}
ValueWriter& JsonWriter::string(std::string_view text) {
    // The writer reserves six bytes a byte in 32-bit arithmetic, which must not wrap.
    constexpr std::size_t longest = (std::numeric_limits<rapidjson::SizeType>::max() - 2) / 6;
    if (text.size() > longest) throw InternalFailure("a string too long for the JSON writer");
    impl_->writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return *this;
}
ValueWriter& JsonWriter::null() {
    impl_->writer.Null();
    return *this;
}
ValueWriter& JsonWriter::boolean(bool value) {
    impl_->writer.Bool(value);
    return *this;
}
ValueWriter& JsonWriter::integer(std::int64_t value) {
    impl_->writer.Int64(value);
    return *this;
}
ValueWriter& JsonWriter::unsigned_integer(std::uint64_t value) {
    impl_->writer.Uint64(value);
    return *this;
}

std::string JsonWriter::take() {
    std::string out(impl_->buffer.GetString(), impl_->buffer.GetSize());
    impl_->buffer.Clear();
    impl_->writer.Reset(impl_->buffer);
    return out;
}

}  // namespace lignor

// ---------------------------------------------------------------------------
// Reading node descriptions.
//
// The reader is RapidJSON's SAX parser in its iterative mode (no recursion,
// whatever the nesting) feeding a handler that builds `NodeSpec`s directly on
// an explicit stack. Every refusal is phrased for the person who wrote the
// description and carries the position of the token that was refused.

namespace lignor {
namespace {

enum class Field : std::uint8_t { xref, tag, value, children };
constexpr std::size_t field_count = 4;
constexpr std::string_view field_names[field_count] = {"xref", "tag", "value", "children"};
constexpr std::size_t required_array_fields = 2;  // xref and tag

std::optional<Field> field_named(std::string_view key) {
    for (std::size_t i = 0; i < field_count; ++i) {
        if (field_names[i] == key) return static_cast<Field>(i);
    }
    return std::nullopt;
}

// An input stream over a text that is not NUL-terminated.
class ViewStream {
  public:
    using Ch = char;
    explicit ViewStream(std::string_view text) : text_(text) {}
    Ch Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    Ch Take() { return pos_ < text_.size() ? text_[pos_++] : '\0'; }
    std::size_t Tell() const { return pos_; }
    // Writing is for in-situ parsing only, which this reader does not use.
    Ch* PutBegin() { throw InternalFailure("the JSON reader does not parse in place"); }
    void Put(Ch) { throw InternalFailure("the JSON reader does not parse in place"); }
    void Flush() {}
    std::size_t PutEnd(Ch*) { throw InternalFailure("the JSON reader does not parse in place"); }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// " at line {line} column {column}" for the byte at `index` (1-based both).
std::string position_suffix(std::string_view text, std::size_t index) {
    index = std::min(index, text.size());
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < index; ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    return " at line " + std::to_string(line) + " column " + std::to_string(index - line_start + 1);
}

// The first lone surrogate a string holds, if any. The parser refuses a lone
// high surrogate escape itself but encodes a lone low one ("\udc00") as the
// three bytes ED B0 80, which are no UTF-8 character.
std::optional<unsigned> lone_surrogate(std::string_view text) {
    // Every string is checked, so the lead byte is found with memchr.
    const char* const end = text.data() + text.size();
    for (const char* p = text.data(); end - p > 2; ++p) {
        p = static_cast<const char*>(std::memchr(p, 0xED, static_cast<std::size_t>(end - p - 2)));
        if (p == nullptr) break;
        const auto next = static_cast<unsigned char>(p[1]);
        if (next >= 0xA0 && next <= 0xBF) {
            return 0xD000u | ((next & 0x3Fu) << 6) | (static_cast<unsigned char>(p[2]) & 0x3Fu);
        }
    }
    return std::nullopt;
}

// Whether the JSON text may put a surrogate into a string: only an escape
// \uD800 to \uDFFF can (the parser refuses such bytes written raw), so a text
// without "\uD" or "\ud" needs no string checked. Matches inside other
// escapes ("\\ud800") only make the check run.
bool may_hold_surrogates(std::string_view json) {
    for (std::size_t at = json.find("\\u"); at != std::string_view::npos;
         at = json.find("\\u", at + 2)) {
        if (at + 2 < json.size() && ascii::to_lower(json[at + 2]) == 'd') return true;
    }
    return false;
}

std::string surrogate_message(std::optional<unsigned> unit) {
    std::string out = "a string holds a lone surrogate escape";
    if (unit) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, " \\u%04x", *unit);
        out += buffer;
    }
    return out + ", which is no character";
}

// One description under construction.
struct Frame {
    NodeSpec spec;
    bool array_form = false;
    bool in_children = false;              // reading the `children` list
    std::optional<Field> pending;          // object form: key read, value awaited
    std::array<bool, field_count> seen{};  // object form: keys met so far
    std::size_t taken = 0;                 // array form: fields read so far
};

class SpecHandler {
  public:
    SpecHandler(const ViewStream& stream, bool check_surrogates)
        : stream_(stream), check_surrogates_(check_surrogates) {}

    std::vector<NodeSpec> take_specs() { return std::move(specs_); }
    const std::optional<std::string>& refusal() const { return refusal_; }
    std::size_t refusal_index() const { return refusal_index_; }

    bool Null() {
        return scalar_value(Scalar::null, std::nullopt, [] { return std::string("null"); });
    }
    bool Bool(bool b) {
        return scalar_value(Scalar::other, std::nullopt,
                            [b] { return std::string(b ? "boolean `true`" : "boolean `false`"); });
    }
    bool Int(int i) { return number(std::to_string(i), "integer"); }
    bool Uint(unsigned u) { return number(std::to_string(u), "integer"); }
    bool Int64(std::int64_t i) { return number(std::to_string(i), "integer"); }
    bool Uint64(std::uint64_t u) { return number(std::to_string(u), "integer"); }
    bool Double(double d) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", d);
        return number(buffer, "floating point");
    }
    bool RawNumber(const char*, rapidjson::SizeType, bool) {
        throw InternalFailure("the JSON reader does not read numbers as text");
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view view(text, length);
        if (const auto unit = surrogate_in(view)) return refuse(surrogate_message(unit));
        return scalar_value(Scalar::string, std::string(view),
                            [view] { return "string " + quoted(view); });
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view key(text, length);
        if (const auto unit = surrogate_in(key)) return refuse(surrogate_message(unit));
        Frame& frame = stack_.back();
        const auto field = field_named(key);
        if (!field) {
            return refuse("unknown field " + quoted(key) +
                          ", expected one of `xref`, `tag`, `value`, `children`");
        }
        auto& seen = frame.seen[static_cast<std::size_t>(*field)];
        if (seen) return refuse("duplicate field " + quoted(key));
        seen = true;
        frame.pending = field;
        return true;
    }
    bool StartObject() {
        if (expects_description()) return open_description(false);
        return refuse_bracket(unexpected("map"));
    }
    bool EndObject(rapidjson::SizeType) {
        if (!stack_.back().seen[static_cast<std::size_t>(Field::tag)]) {
            return refuse_bracket("missing field `tag`");
        }
        return close_description();
    }
    bool StartArray() {
        if (!root_open_) {
            root_open_ = true;
            return true;
        }
        if (expects_description()) return open_description(true);
        if (!stack_.empty() && awaited_field() == Field::children) {
            Frame& frame = stack_.back();
            frame.pending.reset();
            frame.in_children = true;
            return true;
        }
        return refuse_bracket(unexpected("sequence"));
    }
    bool EndArray(rapidjson::SizeType) {
        if (stack_.empty()) return true;  // the end of the list of descriptions
        Frame& frame = stack_.back();
        if (frame.in_children) {
            frame.in_children = false;
            if (frame.array_form) ++frame.taken;
            return true;
        }
        if (frame.taken < required_array_fields) {
            return refuse_bracket(
                "a description written as an array needs at least its `xref` and `tag`, "
                "not " +
                std::to_string(frame.taken) + " field(s)");
        }
        return close_description();
    }

  private:
    // True where the next value must be a description: an element of the
    // outer list or of a `children` list.
    bool expects_description() const {
        return root_open_ && (stack_.empty() || stack_.back().in_children);
    }

    // The field whose value comes next, if a field value comes next.
    std::optional<Field> awaited_field() const {
        const Frame& frame = stack_.back();
        if (frame.in_children) return std::nullopt;
        if (!frame.array_form) return frame.pending;
        if (frame.taken < field_count) return static_cast<Field>(frame.taken);
        return std::nullopt;
    }

    bool open_description(bool array_form) {
        if (stack_.size() >= max_description_depth) {
            return refuse_bracket("the structure is nested deeper than the limit");
        }
        Frame frame;
        frame.array_form = array_form;
        stack_.push_back(std::move(frame));
        return true;
    }

    bool close_description() {
        NodeSpec done = std::move(stack_.back().spec);
        stack_.pop_back();
        if (stack_.empty()) {
            specs_.push_back(std::move(done));
        } else {
            stack_.back().spec.children.push_back(std::move(done));
        }
        return true;
    }

    bool number(const std::string& digits, std::string_view kind) {
        return scalar_value(Scalar::other, std::nullopt,
                            [&] { return std::string(kind) + " `" + digits + "`"; });
    }

    enum class Scalar : std::uint8_t { null, string, other };

    // One scalar value; `text` is set for strings only, `found()` names it
    // (made only for a refusal: most values are accepted).
    template <typename Found>
    bool scalar_value(Scalar kind, std::optional<std::string> text, const Found& found) {
        if (!root_open_ || expects_description()) return refuse(unexpected(found()));
        const auto field = awaited_field();
        if (!field) return refuse(unexpected(found()));
        Frame& frame = stack_.back();
        switch (*field) {
            case Field::xref:
            case Field::value:
                if (kind == Scalar::other) return refuse(unexpected(found()));
                (*field == Field::xref ? frame.spec.xref : frame.spec.value) = std::move(text);
                break;
            case Field::tag:
                if (kind != Scalar::string) return refuse(unexpected(found()));
                frame.spec.tag = std::move(*text);
                if (frame.array_form) frame.seen[static_cast<std::size_t>(Field::tag)] = true;
                break;
            case Field::children:
                return refuse(unexpected(found()));
        }
        frame.pending.reset();
        if (frame.array_form) ++frame.taken;
        return true;
    }

    // "invalid type: {found}, expected {what}" for the place the parser is at.
    std::string unexpected(const std::string& found) const {
        std::string expected;
        if (!root_open_) {
            expected = "a list of descriptions";
        } else if (expects_description()) {
            expected = "a description (an object or an array)";
        } else if (const auto field = awaited_field()) {
            switch (*field) {
                case Field::xref:
                case Field::value:
                    expected = "a string or null";
                    break;
                case Field::tag:
                    expected = "a string";
                    break;
                case Field::children:
                    expected = "a list of descriptions";
                    break;
            }
        } else {
            return "a description written as an array has at most four fields: "
                   "`xref`, `tag`, `value`, `children`";
        }
        return "invalid type: " + found + ", expected " + expected;
    }

    // Refuses the scalar or key just read: the stream stands past it.
    bool refuse(std::string message) {
        return refuse_at(std::move(message), stream_.Tell() == 0 ? 0 : stream_.Tell() - 1);
    }
    // Refuses a bracket: the iterative parser reports brackets before taking them.
    bool refuse_bracket(std::string message) {
        return refuse_at(std::move(message), stream_.Tell());
    }
    bool refuse_at(std::string message, std::size_t index) {
        refusal_ = std::move(message);
        refusal_index_ = index;
        return false;
    }

    std::optional<unsigned> surrogate_in(std::string_view text) const {
        return check_surrogates_ ? lone_surrogate(text) : std::nullopt;
    }

    const ViewStream& stream_;
    bool check_surrogates_;
    bool root_open_ = false;
    std::vector<Frame> stack_;
    std::vector<NodeSpec> specs_;
    std::optional<std::string> refusal_;
    std::size_t refusal_index_ = 0;
};

// RapidJSON's English message as one of ours: lower-case, no final period.
std::string syntax_message(rapidjson::ParseErrorCode code) {
    if (code == rapidjson::kParseErrorStringUnicodeSurrogateInvalid) {
        return surrogate_message(std::nullopt);
    }
    std::string text = rapidjson::GetParseError_En(code);
    if (!text.empty()) text[0] = ascii::to_lower(text[0]);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

Result<std::vector<NodeSpec>> read_node_specs(std::string_view json) {
    const auto refused = [&](std::string message, std::size_t index) {
        return GedcomError::whole(ErrorKind::Syntax, message + position_suffix(json, index));
    };
    // RapidJSON takes a NUL byte for the end of the input; one inside the text
    // would silently cut it short.
    if (const auto nul = json.find('\0'); nul != std::string_view::npos) {
        return refused("the JSON text holds a NUL byte", nul);
    }
    ViewStream stream(json);
    SpecHandler handler(stream, may_hold_surrogates(json));
    rapidjson::Reader reader;
    constexpr unsigned flags =
        rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, handler);
    if (handler.refusal()) return refused(*handler.refusal(), handler.refusal_index());
    if (result.IsError()) return refused(syntax_message(result.Code()), result.Offset());
    return handler.take_specs();
}

}  // namespace lignor
