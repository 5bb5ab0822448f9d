// The error model's texts: each error's display form with its line, and the
// internal-failure type thrown for broken preconditions.
#include "error.hpp"

#include <cstdio>

namespace lignor {

std::string GedcomError::display() const {
    if (!line) return message;
    return "GEDCOM line " + std::to_string(*line) + ": " + message;
}

namespace {

void append_code_escape(std::string& out, unsigned code) {
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, "\\u{%x}", code);
    out += buffer;
}

// The C1 controls U+0080 to U+009F, whose UTF-8 form is C2 80 to C2 9F.
bool is_c1_control_at(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

}  // namespace

std::string joined(std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (const std::string_view piece : pieces) size += piece.size();
    std::string text;
    text.reserve(size);
    for (const std::string_view piece : pieces) text.append(piece);
    return text;
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        if (is_c1_control_at(text, i)) {
            append_code_escape(out, static_cast<unsigned char>(text[++i]));
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    append_code_escape(out, c);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace lignor
