#include "family.hpp"

namespace lignor {

void push_unique(XrefList& list, XrefKeys& keys, std::string_view xref) {
    if (keys.insert(xref_key(xref)).second) list.emplace_back(xref);
}

std::span<const std::string> lookup(const RelativesMap& map, std::string_view xref) {
    const auto found = map.find(xref_key(xref));
    if (found == map.end()) return {};
    return found->second;
}

namespace {

// Calls `visit` with the payload of every direct substructure of `record`
// tagged `tag` whose payload is a pointer, in order.
template <typename Visit>
void for_each_link(const Node& record, std::string_view tag, Visit&& visit) {
    for (const Node& child : record.children()) {
        if (child.tag() != tag) continue;
        const auto payload = child.value();
        if (payload && is_pointer_payload(*payload)) visit(*payload);
    }
}

// One family while passes 1 and 2 gather it: its members and the keys of
// each list, so that every addition is one hash lookup.
struct Gathering {
    std::string key;
    FamilyMembers members;
    XrefKeys partner_keys;
    XrefKeys child_keys;

    void add_partner(std::string_view xref) { push_unique(members.partners, partner_keys, xref); }
    void add_child(std::string_view xref) { push_unique(members.children, child_keys, xref); }
};

// The families of passes 1 and 2, in the order first met: family records
// in document order, then the families only individuals name.
class Families {
  public:
    Gathering& operator[](std::string_view xref) {
        std::string key = xref_key(xref);
        const auto [found, added] = index_.try_emplace(key, families_.size());
        if (added) families_.push_back(Gathering{std::move(key), {}, {}, {}});
        return families_[found->second];
    }
    std::vector<Gathering>& in_order() noexcept { return families_; }

  private:
    std::vector<Gathering> families_;
    std::unordered_map<std::string, std::size_t> index_;
};

// Pass 1: what family records say. Partners come as HUSB lines then WIFE
// lines, whatever their order in the record.
void gather_family_side(const Document& document, Families& families) {
    for (const Node& record : document.records) {
        const auto xref = record.xref();
        if (record.tag() != "FAM" || !xref) continue;
        Gathering& family = families[*xref];
        const auto into = [&family](void (Gathering::*add)(std::string_view)) {
            return [&family, add](std::string_view member) { (family.*add)(member); };
        };
        for_each_link(record, "HUSB", into(&Gathering::add_partner));
        for_each_link(record, "WIFE", into(&Gathering::add_partner));
        for_each_link(record, "CHIL", into(&Gathering::add_child));
    }
}

// Pass 2: what individual records say, after the family side so that a
// family's own spelling of an identifier wins. Families that no family
// record describes are created here.
void gather_individual_side(const Document& document, Families& families) {
    for (const Node& record : document.records) {
        const auto xref = record.xref();
        if (record.tag() != "INDI" || !xref) continue;
        for_each_link(record, "FAMC",
                      [&](std::string_view family) { families[family].add_child(*xref); });
        for_each_link(record, "FAMS",
                      [&](std::string_view family) { families[family].add_partner(*xref); });
    }
}

// For each person (by key), the families the person belongs to in one role,
// in the order the families are visited.
using Memberships = std::unordered_map<std::string, std::vector<const FamilyMembers*>>;

// The `role` members of `families`, in order, each once, without `left_out`
// (pass "" to leave nobody out: no identifier is empty).
XrefList merged(const std::vector<const FamilyMembers*>& families, XrefList FamilyMembers::*role,
                std::string_view left_out) {
    XrefList relatives;
    if (families.size() == 1) {  // one family's lists hold no repeats already
        const XrefList& members = families.front()->*role;
        relatives.reserve(members.size());
        for (const std::string& xref : members)
            if (!same_xref(xref, left_out)) relatives.push_back(xref);
        return relatives;
    }
    XrefKeys keys;
    if (!left_out.empty()) keys.insert(xref_key(left_out));
    for (const FamilyMembers* family : families)
        for (const std::string& xref : family->*role) push_unique(relatives, keys, xref);
    return relatives;
}

// Fills `map` with each person's non-empty answer drawn from `memberships`.
void answer(const Memberships& memberships, XrefList FamilyMembers::*role, bool leave_self_out,
            RelativesMap& map) {
    map.reserve(memberships.size());
    for (const auto& [person, families] : memberships) {
        XrefList relatives = merged(families, role, leave_self_out ? person : "");
        if (!relatives.empty()) map.emplace(person, std::move(relatives));
    }
}

// Pass 3: each person's relatives, gathered person by person from the
// families the person belongs to. A child's parents are the partners of its
// families; a partner's children and other partners come from the families
// the person is a partner in.
void relate(const std::vector<Gathering>& families, FamilyGraph& graph) {
    Memberships child_in;
    Memberships partner_in;
    for (const Gathering& family : families) {
        for (const std::string& child : family.members.children)
            child_in[xref_key(child)].push_back(&family.members);
        for (const std::string& partner : family.members.partners)
            partner_in[xref_key(partner)].push_back(&family.members);
    }
    answer(child_in, &FamilyMembers::partners, false, graph.parents);
    answer(partner_in, &FamilyMembers::children, false, graph.children);
    answer(partner_in, &FamilyMembers::partners, true, graph.partners);
}

}  // namespace

FamilyGraph FamilyGraph::make(const Document& document) {
    Families families;
    gather_family_side(document, families);
    gather_individual_side(document, families);
    FamilyGraph graph;
    relate(families.in_order(), graph);
    graph.families.reserve(families.in_order().size());
    for (Gathering& family : families.in_order())
        graph.families.emplace(std::move(family.key), std::move(family.members));
    return graph;
}

std::span<const std::string> FamilyGraph::parents_of(std::string_view xref) const {
    return lookup(parents, xref);
}

std::span<const std::string> FamilyGraph::children_of(std::string_view xref) const {
    return lookup(children, xref);
}

std::span<const std::string> FamilyGraph::partners_of(std::string_view xref) const {
    return lookup(partners, xref);
}

}  // namespace lignor
