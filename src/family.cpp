#include "family.hpp"

#include "document.hpp"

namespace lignor {

void push_unique(XrefList& list, std::string_view xref) {
    for (const std::string& present : list)
        if (same_xref(present, xref)) return;
    list.emplace_back(xref);
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

// Pass 1: what family records say. Partners come as HUSB lines then WIFE
// lines, whatever their order in the record.
void gather_family_side(const Document& document, FamilyGraph& graph) {
    for (const Node& record : document.records) {
        const auto xref = record.xref();
        if (record.tag() != "FAM" || !xref) continue;
        FamilyMembers& family = graph.families[xref_key(*xref)];
        const auto into = [](XrefList& list) {
            return [&list](std::string_view member) { push_unique(list, member); };
        };
        for_each_link(record, "HUSB", into(family.partners));
        for_each_link(record, "WIFE", into(family.partners));
        for_each_link(record, "CHIL", into(family.children));
    }
}

// Adds `person` to the family named by every `tag` link of `record`,
// creating families that no family record describes.
void join_families(const Node& record, std::string_view person, std::string_view tag,
                   FamilyGraph& graph, XrefList FamilyMembers::*role) {
    for_each_link(record, tag, [&](std::string_view family) {
        push_unique(graph.families[xref_key(family)].*role, person);
    });
}

// Pass 2: what individual records say, after the family side so that a
// family's own spelling of an identifier wins.
void gather_individual_side(const Document& document, FamilyGraph& graph) {
    for (const Node& record : document.records) {
        const auto xref = record.xref();
        if (record.tag() != "INDI" || !xref) continue;
        join_families(record, *xref, "FAMC", graph, &FamilyMembers::children);
        join_families(record, *xref, "FAMS", graph, &FamilyMembers::partners);
    }
}

void link(RelativesMap& map, std::string_view person, std::string_view relative) {
    push_unique(map[xref_key(person)], relative);
}

// Pass 3: each family's members related to one another.
void relate(const FamilyMembers& family, FamilyGraph& graph) {
    const XrefList& partners = family.partners;
    for (std::size_t i = 0; i < partners.size(); ++i) {
        for (std::size_t j = i + 1; j < partners.size(); ++j) {
            link(graph.partners, partners[i], partners[j]);
            link(graph.partners, partners[j], partners[i]);
        }
    }
    for (const std::string& child : family.children) {
        for (const std::string& partner : partners) {
            link(graph.parents, child, partner);
            link(graph.children, partner, child);
        }
    }
}

}  // namespace

FamilyGraph FamilyGraph::make(const Document& document) {
    FamilyGraph graph;
    gather_family_side(document, graph);
    gather_individual_side(document, graph);
    for (const auto& [key, family] : graph.families) relate(family, graph);
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
