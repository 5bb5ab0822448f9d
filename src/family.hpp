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

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "queries.hpp"

namespace lignor {

// Identifiers in the order first met, no two equal ignoring ASCII case.
using XrefList = std::vector<std::string>;
// The upper-cased identifiers (`xref_key`) that one `XrefList` holds.
using XrefKeys = std::unordered_set<std::string>;
// One answer: identifiers that live as long as the graph they came from.
using Relatives = std::vector<std::string_view>;

// The members of one family, as gathered from both sides of its links.
struct FamilyMembers {
    XrefList partners;
    XrefList children;
};

// Appends a copy of `xref` to `list` unless `keys`, the keys of the list's
// entries, shows one equal to it ignoring ASCII case; keeps `keys` in step.
// One hash lookup, whatever the length of the list: a family may list
// thousands of members and a person may belong to thousands of families.
void push_unique(XrefList& list, XrefKeys& keys, std::string_view xref);

// The graph stores each family's members once and, for each person, the
// families the person is a child or a partner in; answers are drawn from
// those when asked. Storing every answer instead would cost the square of a
// family's size (each of a thousand partners lists the other 999), which a
// small hostile file can push into gigabytes.
class FamilyGraph {
  public:
    // `FamilyGraph::new` of the GEDCOM model (`new` is reserved in C++).
    // Never fails: links that are not pointers ("@VOID@" included) are
    // ignored. Time and memory are linear in the links read.
    static FamilyGraph make(const Document& document);

    // For a person, the partners of every family the person is a child of.
    Relatives parents_of(std::string_view xref) const;
    // For a person, the children of every family the person is a partner in.
    Relatives children_of(std::string_view xref) const;
    // For a person, the other partners of every family the person is a partner in.
    Relatives partners_of(std::string_view xref) const;
    // Each answer is grouped family by family, in the order families are
    // visited: family records in document order, then the families only
    // individuals name, in the order named. Within a family, partners come
    // as HUSB lines, WIFE lines, then FAMS links; children as CHIL lines,
    // then FAMC links. No answer lists anyone twice; unknown identifiers
    // give an empty list. Time is linear in the families' sizes.

    // Every family met, whether or not a family record describes it, in the
    // order visited; `family` finds one by identifier, ignoring ASCII case.
    const std::vector<FamilyMembers>& families() const noexcept { return families_; }
    const FamilyMembers* family(std::string_view xref) const;

  private:
    // Upper-cased identifier of a person to the positions in `families_` of
    // the families the person belongs to in one role, ascending.
    using Memberships = std::unordered_map<std::string, std::vector<std::uint32_t>>;

    Relatives gather(const Memberships& memberships, XrefList FamilyMembers::*role,
                     std::string_view xref, bool leave_self_out) const;

    std::vector<FamilyMembers> families_;
    std::unordered_map<std::string, std::uint32_t> family_index_;
    Memberships child_in_;
    Memberships partner_in_;
};

}  // namespace lignor
