// The family graph: both directions of each family tie gathered into one
// index, and the parents, children and partners it answers.
#include "family.hpp"

#include "document.hpp"

namespace lignor {

void push_unique(XrefList& list, XrefKeys& keys, std::string_view xref) {
    if (keys.insert(xref_key(xref)).second) list.emplace_back(xref);
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

}  // namespace

FamilyGraph FamilyGraph::make(const Document& document) {
    Families gathered;
    gather_family_side(document, gathered);
    gather_individual_side(document, gathered);
    FamilyGraph graph;
    std::vector<Gathering>& families = gathered.in_order();
    graph.families_.reserve(families.size());
    graph.family_index_.reserve(families.size());
    for (Gathering& family : families) {
        const auto position = static_cast<std::uint32_t>(graph.families_.size());
        for (const std::string& child : family.members.children)
            graph.child_in_[xref_key(child)].push_back(position);
        for (const std::string& partner : family.members.partners)
            graph.partner_in_[xref_key(partner)].push_back(position);
        graph.family_index_.emplace(std::move(family.key), position);
        graph.families_.push_back(std::move(family.members));
    }
    return graph;
}

const FamilyMembers* FamilyGraph::family(std::string_view xref) const {
    const auto found = family_index_.find(xref_key(xref));
    return found == family_index_.end() ? nullptr : &families_[found->second];
}

// The `role` members of the families `xref` belongs to (per `memberships`),
// in order, each once, and without `xref` itself when `leave_self_out`.
Relatives FamilyGraph::gather(const Memberships& memberships, XrefList FamilyMembers::*role,
                              std::string_view xref, bool leave_self_out) const {
    const std::string key = xref_key(xref);
    const auto found = memberships.find(key);
    if (found == memberships.end()) return {};
    const std::vector<std::uint32_t>& positions = found->second;
    Relatives relatives;
    if (positions.size() == 1) {  // one family's lists hold no repeats already
        const XrefList& members = families_[positions.front()].*role;
        relatives.reserve(members.size());
        for (const std::string& member : members)
            if (!leave_self_out || !same_xref(member, xref)) relatives.emplace_back(member);
        return relatives;
    }
    XrefKeys seen;
    if (leave_self_out) seen.insert(key);
    for (const std::uint32_t position : positions)
        for (const std::string& member : families_[position].*role)
            if (seen.insert(xref_key(member)).second) relatives.emplace_back(member);
    return relatives;
}

Relatives FamilyGraph::parents_of(std::string_view xref) const {
    return gather(child_in_, &FamilyMembers::partners, xref, false);
}

Relatives FamilyGraph::children_of(std::string_view xref) const {
    return gather(partner_in_, &FamilyMembers::children, xref, false);
}

Relatives FamilyGraph::partners_of(std::string_view xref) const {
    return gather(partner_in_, &FamilyMembers::partners, xref, true);
}

}  // namespace lignor
