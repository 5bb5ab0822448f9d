// Multimedia objects in version 7's form: a file's format on the file, file
// paths as URI references, file extensions as media types, and the source
// medium as MEDI with an enumerated value.
#include <algorithm>
#include <array>
#include <string>

#include "ascii.hpp"
#include "convert7_rules.hpp"
#include "unicode.hpp"

namespace lignor {
namespace {

using to7::enumeration_to_7;
using to7::kept_at_depth_limit;

struct MediaType {
    std::string_view extension;
    std::string_view type;
};

constexpr std::array<MediaType, 20> media_types = {{
    {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},     {"png", "image/png"},
    {"gif", "image/gif"},         {"bmp", "image/bmp"},       {"tif", "image/tiff"},
    {"tiff", "image/tiff"},       {"heic", "image/heic"},     {"webp", "image/webp"},
    {"svg", "image/svg+xml"},     {"pdf", "application/pdf"}, {"xml", "application/xml"},
    {"json", "application/json"}, {"txt", "text/plain"},      {"htm", "text/html"},
    {"html", "text/html"},        {"eml", "message/rfc822"},  {"wav", "audio/x-wav"},
    {"mp3", "audio/mpeg"},        {"mp4", "video/mp4"},
}};

constexpr bool is_hex_digit(char c) noexcept {
    return ascii::is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

constexpr std::string_view uri_marks = "-._~:/?#[]@!$&'()*+,;=";

bool is_percent_escape(std::string_view text, std::size_t pos) noexcept {
    return text[pos] == '%' && pos + 2 < text.size() && is_hex_digit(text[pos + 1]) &&
           is_hex_digit(text[pos + 2]);
}

// Moves the object's FORM (the first one; every one is removed) onto each
// FILE that has none of its own.
bool move_object_form(Node& object, std::size_t depth, Pass& pass) {
    const Node* form = object.first("FORM");
    if (!form) return false;
    if (!may_gain_substructure(depth + 1)) return kept_at_depth_limit(object, "OBJE.FORM", pass);
    Node moved = *form;
    forget_subtree_verbatim(moved);
    NodeList& children = object.children_mut();
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [](const Node& child) { return tag_is(child.tag(), "FORM"); }),
                   children.end());
    for (Node& file : children) {
        if (tag_is(file.tag(), "FILE") && !file.first("FORM")) file.push(moved);
    }
    pass.note("OBJE.FORM", NoteKind::Converted,
              "version 7 records a file's format on the file, not on the object");
    return true;
}

bool rewrite_file_path(Node& file, Pass& pass) {
    const std::string path = file.logical_value();
    const std::string encoded = uri_reference(path);
    if (encoded == path || continuation_blocks(file, "FILE", "file path", pass)) return false;
    file.set_logical_value(encoded);
    pass.note("FILE", NoteKind::Converted,
              quoted(path) +
                  " is not a URI reference, which version 7 requires of a file path; characters a "
                  "URI cannot hold were percent-encoded");
    return true;
}

bool rewrite_file_format(Node& form, Pass& pass) {
    const std::string format = form.logical_value();
    const std::string_view extension = unicode::trim(format);
    if (extension.empty() || extension.find('/') != std::string_view::npos) return false;
    if (continuation_blocks(form, "FILE.FORM", "format", pass)) return false;
    const auto type = media_type_of_extension(extension);
    if (!type) {
        pass.note("FILE.FORM", NoteKind::Kept,
                  quoted(extension) +
                      " has no known version 7 media type, so it is kept rather than guessed");
        return false;
    }
    form.set_logical_value(*type);
    pass.note(
        "FILE.FORM", NoteKind::Converted,
        "the file extension " + quoted(extension) + " became the media type " + quoted(*type));
    return true;
}

// A file's source medium: 5.5.1's TYPE named MEDI, its value in version 7's
// enumeration.
bool rewrite_medium(Node& node, std::size_t depth, Pass& pass) {
    bool changed = false;
    if (tag_is(node.tag(), "TYPE")) {
        node.set_tag("MEDI");
        pass.note("FORM.MEDI", NoteKind::Converted,
                  "5.5.1's source medium under FORM is TYPE; version 7 calls it MEDI");
        changed = true;
    } else if (!tag_is(node.tag(), "MEDI")) {
        return false;
    }
    static const v7table::TypeFacts& medium = v7table::types()[v7table::type_named("MEDI")];
    return enumeration_to_7(node, medium, true, depth, "FORM.MEDI", pass) || changed;
}

}  // namespace

bool is_uri_character(char c) noexcept {
    return ascii::is_alnum(c) || uri_marks.find(c) != std::string_view::npos;
}

std::string uri_reference(std::string_view path) {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (std::size_t pos = 0; pos < path.size(); ++pos) {
        const char c = path[pos];
        if (is_uri_character(c) || is_percent_escape(path, pos)) {
            out.push_back(c);
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out.push_back('%');
        out.push_back(hex[byte >> 4U]);
        out.push_back(hex[byte & 0x0FU]);
    }
    return out;
}

std::optional<std::string_view> media_type_of_extension(std::string_view extension) {
    const std::string lower = ascii::lower_copy(extension);
    for (const MediaType& entry : media_types) {
        if (entry.extension == lower) return entry.type;
    }
    return std::nullopt;
}

bool media_form_to_7(Node& object, Pass& pass, std::size_t depth) {
    bool changed = move_object_form(object, depth, pass);
    for (Node& file : object.children_mut()) {
        if (!tag_is(file.tag(), "FILE")) continue;
        changed = rewrite_file_path(file, pass) || changed;
        Node* form = file.first_mut("FORM");
        if (!form) continue;
        changed = rewrite_file_format(*form, pass) || changed;
        for (Node& medium : form->children_mut()) {
            changed = rewrite_medium(medium, depth + 3, pass) || changed;
        }
    }
    return changed;
}

}  // namespace lignor
