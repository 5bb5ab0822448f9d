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

}  // namespace

namespace to7 {

Change decide_object_form(const Node& object, const Place& /*place*/, Pass& /*pass*/,
                          Decision& /*decision*/) {
    return object.first("FORM") ? Change::AddsLines : Change::None;
}

// Moves the object's FORM (the first one; every one is removed) onto each
// FILE that has none of its own.
bool object_form_to_7(Node& object, Decision& /*decision*/, const Place& /*place*/, Pass& pass) {
    Node moved = *object.first("FORM");
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

Change decide_file_path(const Node& file, const Place& /*place*/, Pass& /*pass*/,
                        Decision& decision) {
    std::string path = file.logical_value();
    std::string encoded = uri_reference(path);
    if (encoded == path) return Change::None;
    return keep(decision, Change::Rewrites, std::move(path), std::move(encoded));
}

bool file_path_to_7(Node& file, Decision& decision, const Place& /*place*/, Pass& pass) {
    file.set_logical_value(*decision.value);
    pass.note("FILE", NoteKind::Converted,
              quoted(decision.text) +
                  " is not a URI reference, which version 7 requires of a file path; characters a "
                  "URI cannot hold were percent-encoded");
    return true;
}

// A format that is a file extension rather than a media type.
Change decide_file_format(const Node& form, const Place& /*place*/, Pass& /*pass*/,
                          Decision& decision) {
    std::string format = form.logical_value();
    const std::string_view extension = unicode::trim(format);
    if (extension.empty() || extension.find('/') != std::string_view::npos) return Change::None;
    return keep(decision, Change::Rewrites, std::move(format));
}

bool file_format_to_7(Node& form, Decision& decision, const Place& /*place*/, Pass& pass) {
    const std::string_view extension = unicode::trim(decision.text);
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

// A file's source medium, its value in version 7's enumeration (OTHER and a
// PHRASE for any other).
Change decide_medium(const Node& medium, const Place& /*place*/, Pass& /*pass*/,
                     Decision& decision) {
    static const v7table::TypeFacts& facts = v7table::types()[v7table::type_named("MEDI")];
    return enumeration_decision(medium, facts, true, decision);
}

bool medium_to_7(Node& medium, Decision& decision, const Place& /*place*/, Pass& pass) {
    return enumerated_value_to_7(medium, decision, "FORM.MEDI", pass);
}

Change decide_media(const Node& object, const Place& /*place*/, Pass& /*pass*/,
                    Decision& /*decision*/) {
    return object.first("FILE") ? Change::Rewrites : Change::None;
}

bool media_to_7(Node& object, Decision& /*decision*/, const Place& place, Pass& pass) {
    return media_form_to_7(object, pass, place.depth);
}

}  // namespace to7

namespace {

// 5.5.1's TYPE for a file's source medium, named MEDI as version 7 names it.
bool medium_named_medi(Node& node, Pass& pass) {
    if (!tag_is(node.tag(), "TYPE")) return false;
    node.set_tag("MEDI");
    pass.note("FORM.MEDI", NoteKind::Converted,
              "5.5.1's source medium under FORM is TYPE; version 7 calls it MEDI");
    return true;
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

// The object's parts, each through its row: the FORM it moves onto its files
// (lines added a level below it), each FILE's path, the FORM of each, and
// the source medium beneath that.
bool media_form_to_7(Node& object, Pass& pass, std::size_t depth) {
    static const to7::Rule& object_form = to7::part_rule("OBJE.FORM");
    static const to7::Rule& path = to7::part_rule("FILE");
    static const to7::Rule& format = to7::part_rule("FILE.FORM");
    static const to7::Rule& medium = to7::part_rule("FORM.MEDI");
    const to7::Place place{depth, v7table::no_row, v7table::no_row, nullptr, false, nullptr};
    bool changed = to7::run_part(object_form, object, to7::below(place, 1), pass);
    for (Node& file : object.children_mut()) {
        if (!tag_is(file.tag(), "FILE")) continue;
        changed = to7::run_part(path, file, to7::below(place, 1), pass) || changed;
        Node* form = file.first_mut("FORM");
        if (!form) continue;
        changed = to7::run_part(format, *form, to7::below(place, 2), pass) || changed;
        for (Node& each : form->children_mut()) {
            changed = medium_named_medi(each, pass) || changed;
            if (tag_is(each.tag(), "MEDI"))
                changed = to7::run_part(medium, each, to7::below(place, 3), pass) || changed;
        }
    }
    return changed;
}

}  // namespace lignor
