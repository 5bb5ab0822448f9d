// The fixed English vocabulary the views show: a label for each known tag,
// the class of a tag (record, event, attribute, structure or unknown) and the
// display form of a pedigree value.
//
// Everything here is a pure lookup on the tag text: byte for byte, case
// sensitive, no state and no allocation. An extension tag (leading `_`) is
// unknown unless the vocabulary lists it, as it does `_UID`.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lignor {

enum class TagKind : std::uint8_t { Record, Event, Attribute, Structure, Unknown };

namespace tags {

// The word a view serialises for a kind: "record", "event", ...
std::string_view to_string(TagKind kind) noexcept;

struct LabelledTag {
    std::string_view tag;
    std::string_view label;
};

// Every known tag with its English label, ascending by tag bytes.
std::span<const LabelledTag> labelled_tags() noexcept;

// The English label of a known tag; absent for every other tag.
std::optional<std::string_view> label(std::string_view tag) noexcept;

bool is_event(std::string_view tag) noexcept;
bool is_attribute(std::string_view tag) noexcept;

// `nested` is false for a top-level record and true for a substructure. At the
// top level only the record tags count; below it, events and attributes come
// first and any other labelled tag is a structure.
TagKind kind(std::string_view tag, bool nested) noexcept;

// The value trimmed of white space, or the capitalised word when it is one of
// the recognised pedigree spellings ("birth", "Birth", "BIRTH", ...). The
// result is either static text or a view into `value`.
std::string_view pedigree_label(std::string_view value);
// The result may view the argument, so a temporary string (such as a fresh
// `logical_value()`) would leave it dangling: keep the text in a variable.
template <std::same_as<std::string> Text>
std::string_view pedigree_label(Text&& value) = delete;

}  // namespace tags
}  // namespace lignor
