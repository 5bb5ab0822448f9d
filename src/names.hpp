// A personal name: a NAME payload ("Given /Surname/ Suffix") and its
// substructures read into named parts, plus the form views show.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lignor {

class Node;

struct PersonalName {
    // The payload exactly as read, untrimmed.
    std::string original;
    // Each part below, when present, is trimmed and not empty.
    std::optional<std::string> given;
    std::optional<std::string> surname;
    std::optional<std::string> surname_prefix;  // SPFX only
    std::optional<std::string> prefix;          // NPFX only
    std::optional<std::string> suffix;
    std::optional<std::string> nickname;  // NICK only
    std::optional<std::string> kind;      // TYPE only: the name type

    // Splits the payload at its first two slashes: given, surname, suffix.
    static PersonalName from_payload(std::string_view text);
    // Reads a NAME node's logical value, then lets the first GIVN, SURN, SPFX,
    // NPFX, NSFX, NICK and TYPE substructures that say something override it.
    static PersonalName from_node(const Node& node);

    // Prefix, given, surname prefix, surname and suffix joined by single
    // spaces; without any of them, the original without its slashes.
    std::string display() const;

    friend bool operator==(const PersonalName&, const PersonalName&) = default;
};

}  // namespace lignor
