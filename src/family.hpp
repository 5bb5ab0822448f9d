// The family graph: parents, children and partners of each person.
//
// A GEDCOM file records a family tie twice: the family record names its
// partners (HUSB, WIFE) and children (CHIL), and each individual names the
// families it is a child in (FAMC) and a partner in (FAMS). Files in the
// wild often carry only one side, so the graph merges both and a one-sided
// file still answers.
//
// The graph is a snapshot built in one pass over a document; it owns its
// texts and is never updated. Identifiers are matched ignoring ASCII case:
// map keys are upper-cased (`xref_key`), listed values keep the spelling
// met first.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "queries.hpp"

namespace lignor {

// Identifiers in the order first met, no two equal ignoring ASCII case.
using XrefList = std::vector<std::string>;
// Upper-cased identifier to a list of identifiers.
using RelativesMap = std::unordered_map<std::string, XrefList>;

// The members of one family, as gathered from both sides of its links.
struct FamilyMembers {
    XrefList partners;
    XrefList children;
};

// Appends a copy of `xref` unless the list holds one equal to it ignoring
// ASCII case. Lists are a family's few members, so a linear scan is right.
void push_unique(XrefList& list, std::string_view xref);

// The list stored under `xref` (looked up ignoring ASCII case), or an empty
// one when there is none. The view lives as long as the map is unchanged.
std::span<const std::string> lookup(const RelativesMap& map, std::string_view xref);

struct FamilyGraph {
    // For a person, the partners of every family the person is a child of.
    RelativesMap parents;
    // For a person, the children of every family the person is a partner in.
    RelativesMap children;
    // For a person, the other partners of every family the person is a partner in.
    RelativesMap partners;
    // Every family met, whether or not a family record describes it.
    std::unordered_map<std::string, FamilyMembers> families;

    // `FamilyGraph::new` of the GEDCOM model (`new` is reserved in C++).
    // Never fails: links that are not pointers ("@VOID@" included) are ignored.
    static FamilyGraph make(const Document& document);

    // Each answer is grouped family by family; the order of the families is
    // not defined. Unknown identifiers give an empty list.
    std::span<const std::string> parents_of(std::string_view xref) const;
    std::span<const std::string> children_of(std::string_view xref) const;
    std::span<const std::string> partners_of(std::string_view xref) const;
};

}  // namespace lignor
