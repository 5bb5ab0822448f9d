// Personal names: a NAME payload and its substructures read into named
// parts, and the display form views show.
#include "names.hpp"

#include <array>
#include <utility>

#include "node.hpp"
#include "unicode.hpp"

namespace lignor {
namespace {

// The trimmed text, absent when nothing but white space remains.
std::optional<std::string> part(std::string_view text) {
    const std::string_view trimmed = unicode::trim(text);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

using Part = std::optional<std::string> PersonalName::*;

// The substructures that may state a part, in the order they are read.
constexpr std::array<std::pair<std::string_view, Part>, 7> overrides{{
    {"GIVN", &PersonalName::given},
    {"SURN", &PersonalName::surname},
    {"SPFX", &PersonalName::surname_prefix},
    {"NPFX", &PersonalName::prefix},
    {"NSFX", &PersonalName::suffix},
    {"NICK", &PersonalName::nickname},
    {"TYPE", &PersonalName::kind},
}};

// The parts the display form shows, in the order it shows them.
constexpr std::array<Part, 5> shown_parts{
    &PersonalName::prefix,  &PersonalName::given,  &PersonalName::surname_prefix,
    &PersonalName::surname, &PersonalName::suffix,
};

}  // namespace

PersonalName PersonalName::from_payload(std::string_view text) {
    PersonalName name;
    name.original = std::string(text);
    const std::size_t first_slash = text.find('/');
    if (first_slash == std::string_view::npos) {
        name.given = part(text);
        return name;
    }
    name.given = part(text.substr(0, first_slash));
    const std::string_view rest = text.substr(first_slash + 1);
    const std::size_t second_slash = rest.find('/');
    name.surname = part(rest.substr(0, second_slash));
    if (second_slash != std::string_view::npos) name.suffix = part(rest.substr(second_slash + 1));
    return name;
}

PersonalName PersonalName::from_node(const Node& node) {
    PersonalName name = from_payload(node.logical_value());
    for (const auto& [tag, field] : overrides) {
        const std::optional<std::string> value = node.value_of(tag);
        if (!value) continue;
        // A blank substructure says nothing, so the payload's part stands.
        if (std::optional<std::string> stated = part(*value)) name.*field = std::move(stated);
    }
    return name;
}

std::string PersonalName::display() const {
    std::string shown;
    for (const Part piece : shown_parts) {
        if (!(this->*piece)) continue;
        if (!shown.empty()) shown += ' ';
        shown += *(this->*piece);
    }
    if (!shown.empty()) return shown;
    std::string without_slashes;
    for (const char byte : original) {
        if (byte != '/') without_slashes += byte;
    }
    return std::string(unicode::trim(without_slashes));
}

}  // namespace lignor
