#include "convert.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "ascii.hpp"
#include "error.hpp"
#include "json.hpp"
#include "queries.hpp"
#include "unicode.hpp"

namespace lignor {
namespace {

#include "gedcom7_tables.inc"

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

// A recognised source medium. OTHER is not one: a medium that says "other"
// in any spelling but the enumerated one keeps its words in a PHRASE.
bool is_enumerated_medium(std::string_view medium) {
    return medium != "OTHER" &&
           std::binary_search(medium_values.begin(), medium_values.end(), medium);
}

// Moves the object's FORM (the first one; every one is removed) onto each
// FILE that has none of its own.
bool move_object_form(Node& object, Pass& pass) {
    const Node* form = object.first("FORM");
    if (!form) return false;
    Node moved = *form;
    forget_subtree_verbatim(moved);
    NodeList& children = object.children_mut();
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [](const Node& child) { return child.tag() == "FORM"; }),
                   children.end());
    for (Node& file : children) {
        if (file.tag() == "FILE" && !file.first("FORM")) file.push(moved);
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

// The medium's value made an enumerated one, or OTHER with the original
// words kept in a PHRASE.
bool rewrite_medium_value(Node& medium, Pass& pass) {
    const std::string value = medium.logical_value();
    const std::string_view words = unicode::trim(value);
    std::string target = ascii::upper_copy(words);
    if (!is_enumerated_medium(target)) target = "OTHER";
    if (target == value || continuation_blocks(medium, "FORM.MEDI", "source medium", pass)) {
        return false;
    }
    if (target != "OTHER") {
        medium.set_logical_value(target);
        pass.note("FORM.MEDI", NoteKind::Converted,
                  "the source medium " + quoted(value) + " became the enumerated value " + target);
        return true;
    }
    if (medium.first("PHRASE")) {
        pass.note("FORM.MEDI", NoteKind::Kept,
                  "the source medium " + quoted(value) +
                      " matches none of version 7's enumerated values, but it already has a "
                      "PHRASE to keep the original in; it is left as it is");
        return false;
    }
    Node phrase = Node::make("PHRASE");
    phrase.set_logical_value(words);
    medium.set_logical_value(target);
    medium.push(std::move(phrase));
    pass.note("FORM.MEDI", NoteKind::Converted,
              "the source medium " + quoted(value) +
                  " matches none of version 7's enumerated values; it became OTHER, with the "
                  "original kept as a PHRASE");
    return true;
}

bool rewrite_medium(Node& node, Pass& pass) {
    bool changed = false;
    if (node.tag() == "TYPE") {
        node.set_tag("MEDI");
        pass.note("FORM.MEDI", NoteKind::Converted,
                  "5.5.1's source medium under FORM is TYPE; version 7 calls it MEDI");
        changed = true;
    } else if (node.tag() != "MEDI") {
        return false;
    }
    return rewrite_medium_value(node, pass) || changed;
}

}  // namespace

std::string_view to_string(NoteKind kind) noexcept {
    switch (kind) {
        case NoteKind::Converted:
            return "Converted";
        case NoteKind::Dropped:
            return "Dropped";
        case NoteKind::Kept:
            return "Kept";
    }
    return "Kept";
}

void ConversionNote::write_json(JsonWriter& json) const {
    json.start_object();
    json.key("record").optional_string(record);
    json.key("tag").string(tag);
    json.key("kind").string(to_string(kind));
    json.key("detail").string(detail);
    json.end_object();
}

void Pass::note(std::string_view tag, NoteKind kind, const char* detail) {
    note(tag, kind, std::string(detail));
}

void Pass::note(std::string_view tag, NoteKind kind, std::string detail) {
    notes.push_back({record, std::string(tag), kind, std::move(detail)});
}

bool continuation_has_children(const NodeList& children) noexcept {
    return std::any_of(children.begin(), children.end(), [](const Node& child) {
        return is_continuation_tag(child.tag()) && !child.children().empty();
    });
}

bool continuation_blocks(const Node& node, std::string_view note_tag, std::string_view what,
                         Pass& pass) {
    if (!continuation_has_children(node.children())) return false;
    pass.note(note_tag, NoteKind::Kept,
              "a continuation line of this " + std::string(what) +
                  " has substructures of its own, so rewriting it would delete them; it is left "
                  "as written");
    return true;
}

void forget_subtree_verbatim(Node& node) {
    walk_mut(node, [](Node& each, std::span<const std::size_t>) { each.forget_verbatim(); });
}

std::string uri_reference(std::string_view path) {
    static constexpr std::string_view hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (std::size_t pos = 0; pos < path.size(); ++pos) {
        const char c = path[pos];
        if (ascii::is_alnum(c) || uri_marks.find(c) != std::string_view::npos ||
            is_percent_escape(path, pos)) {
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

bool media_form_to_7(Node& object, Pass& pass) {
    bool changed = move_object_form(object, pass);
    for (Node& file : object.children_mut()) {
        if (file.tag() != "FILE") continue;
        changed = rewrite_file_path(file, pass) || changed;
        Node* form = file.first_mut("FORM");
        if (!form) continue;
        changed = rewrite_file_format(*form, pass) || changed;
        for (Node& medium : form->children_mut()) changed = rewrite_medium(medium, pass) || changed;
    }
    return changed;
}

}  // namespace lignor
