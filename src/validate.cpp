// Plausibility findings: each rule over people and families, with the
// numbers it drew on.
#include "validate.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

#include "document.hpp"
#include "unicode.hpp"
#include "value_writer.hpp"

namespace lignor {
namespace {

// An age reached by a year both bounds of which are known.
using Span = std::optional<std::int32_t>;

// `later - earlier` when both are known.
Span difference(std::optional<std::int32_t> later, std::optional<std::int32_t> earlier) {
    if (!later || !earlier) return std::nullopt;
    return *later - *earlier;
}

std::string text_of(std::int32_t number) {
    return std::to_string(number);
}

// The years of an event's date, if it has a readable one.
std::optional<Years> years_of(const EventView& event) {
    if (!event.date) return std::nullopt;
    return Years::from_date(GedcomDate::parse(*event.date));
}

// The years of the first event tagged `tag`.
std::optional<Years> first_event_years(const std::vector<EventView>& events, std::string_view tag) {
    const auto found = std::find_if(events.begin(), events.end(),
                                    [tag](const EventView& event) { return event.tag == tag; });
    if (found == events.end()) return std::nullopt;
    return years_of(*found);
}

// `earlier` certainly ends before `later` begins.
bool ends_before(const Years& earlier, const Years& later) {
    return earlier.hi && later.lo && *earlier.hi < *later.lo;
}

bool cites_a_source(const Node& node) {
    for (const Node& child : node.children()) {
        if (child.tag() == "SOUR" || cites_a_source(child)) return true;
    }
    return false;
}

// Events whose dates may lawfully fall after a death.
bool may_follow_death(std::string_view tag) {
    constexpr std::array<std::string_view, 6> tags{"BIRT", "DEAT", "BURI", "CREM", "PROB", "WILL"};
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// The Life of everybody, found by identifier (ASCII case ignored). A later
// record with the same identifier replaces an earlier one.
class Lives {
  public:
    void add(std::string_view xref, Life life) {
        const auto [at, fresh] = by_key_.try_emplace(xref_key(xref), lives_.size());
        if (fresh) {
            lives_.push_back(std::move(life));
        } else {
            lives_[at->second] = std::move(life);
        }
    }
    const Life* find(std::string_view pointer) const {
        const auto found = by_key_.find(xref_key(pointer));
        return found == by_key_.end() ? nullptr : &lives_[found->second];
    }

  private:
    std::vector<Life> lives_;
    std::unordered_map<std::string, std::size_t> by_key_;
};

// ---- Individuals ------------------------------------------------------------------

void check_lifespan(std::vector<Finding>& findings, const Node& record, const Life& life) {
    if (!life.birth || !life.death) return;
    const Years& birth = *life.birth;
    const Years& death = *life.death;
    if (ends_before(death, birth)) {
        add(findings, record, "died-before-born", Severity::Contradiction,
            "born " + birth.display() + " and died " + death.display());
        return;
    }
    const Span shortest = difference(death.lo, birth.hi);
    if (!shortest || *shortest < 126) return;
    const bool exact = difference(death.hi, birth.lo) == shortest;
    add(findings, record, "improbable-lifespan", Severity::Question,
        "born " + birth.display() + " and died " + death.display() + ", which is " +
            (exact ? "" : "at least ") + text_of(*shortest) + " years");
}

void check_burial(std::vector<Finding>& findings, const Node& record, const Life& life) {
    if (!life.death || !life.burial || !ends_before(*life.burial, *life.death)) return;
    add(findings, record, "buried-before-died", Severity::Contradiction,
        "died " + life.death->display() + " and buried " + life.burial->display());
}

void check_events_after_death(std::vector<Finding>& findings, const Node& record,
                              const IndividualView& individual, const Life& life) {
    const auto& death = life.death;
    if (!death || !death->hi) return;
    for (const EventView& event : individual.events) {
        if (may_follow_death(event.tag)) continue;
        const auto years = years_of(event);
        if (!years || !ends_before(*death, *years)) continue;
        add(findings, record, "event-after-death", Severity::Contradiction,
            "died " + death->display() + ", and " + event.label + " is dated " + years->display());
    }
}

// Checks one individual against its own dates and returns its Life.
Life check_individual(std::vector<Finding>& findings, const Node& record) {
    const IndividualView individual = IndividualView::from_node(record);
    Life life = life_of(individual);
    check_lifespan(findings, record, life);
    check_burial(findings, record, life);
    check_events_after_death(findings, record, individual, life);
    if (!cites_a_source(record)) {
        add(findings, record, "no-source", Severity::Missing,
            "nothing on this record cites a source");
    }
    return life;
}

// ---- Families ----------------------------------------------------------------------

void check_marriage(std::vector<Finding>& findings, const Node& family,
                    const std::optional<Years>& marriage, const Life& partner) {
    if (!marriage || !partner.birth) return;
    const Years& birth = *partner.birth;
    if (ends_before(*marriage, birth)) {
        add(findings, family, "married-before-born", Severity::Contradiction,
            "a marriage " + in_year(*marriage) + " for somebody born " + birth.display());
        return;
    }
    const Span youngest = difference(marriage->hi, birth.lo);
    if (youngest && *youngest < 13) {
        add(findings, family, "married-as-a-child", Severity::Question,
            "married " + in_year(*marriage) + " " + age(birth, *marriage) + ", born " +
                birth.display());
    }
}

std::string too_young_text(Span largest, Span smallest) {
    if (*largest < 0) return text_of(-*largest) + " years before the parent was born";
    if (smallest == largest) return "at " + text_of(*largest) + " years old";
    return "at most " + text_of(*largest) + " years old";
}

void check_parent_age(std::vector<Finding>& findings, const Node& family, const Years& parent,
                      const Years& child, bool mother) {
    const Span largest = difference(child.hi, parent.lo);
    const Span smallest = difference(child.lo, parent.hi);
    const std::string opening =
        "a parent born " + parent.display() + " with a child born " + child.display() + ", ";
    if (largest && *largest <= 11) {
        add(findings, family, "parent-too-young", Severity::Contradiction,
            opening + too_young_text(largest, smallest));
        return;
    }
    const std::int32_t limit = mother ? 55 : 80;
    if (smallest && *smallest > limit) {
        add(findings, family, "parent-too-old", Severity::Question, opening + age(parent, child));
    }
}

void check_children_of(std::vector<Finding>& findings, const Node& family, const FamilyView& view,
                       const Lives& lives, const Life& partner, bool mother) {
    for (const std::string& pointer : view.children) {
        const Life* child = lives.find(pointer);
        if (!child || !child->birth) continue;
        const Years& born = *child->birth;
        if (mother && partner.death && ends_before(*partner.death, born)) {
            add(findings, family, "child-born-after-mother-died", Severity::Contradiction,
                "a mother who died " + partner.death->display() + " with a child born " +
                    born.display());
        }
        if (partner.birth) check_parent_age(findings, family, *partner.birth, born, mother);
    }
}

void check_repeated_children(std::vector<Finding>& findings, const Node& family,
                             const FamilyView& view) {
    std::unordered_set<std::string> seen;
    for (const std::string& pointer : view.children) {
        if (seen.insert(xref_key(pointer)).second) continue;
        add(findings, family, "child-listed-twice", Severity::Question,
            pointer + " is listed as a child of this family more than once");
    }
}

void check_family(std::vector<Finding>& findings, const Node& family, const Lives& lives) {
    const FamilyView view = FamilyView::from_node(family);
    const std::optional<Years> marriage = first_event_years(view.events, "MARR");
    const std::optional<std::string>& mother = view.wife;
    const std::vector<std::string> partners = view.partners();
    for (const std::string& pointer : partners) {
        const Life* partner = lives.find(pointer);
        if (!partner) continue;
        check_marriage(findings, family, marriage, *partner);
        const bool is_mother = mother && same_xref(*mother, pointer);
        check_children_of(findings, family, view, lives, *partner, is_mother);
    }
    check_repeated_children(findings, family, view);
    if (partners.empty() && view.children.empty()) {
        add(findings, family, "empty-family", Severity::Question,
            "this family records nobody at all");
    }
}

}  // namespace

std::string_view to_string(Severity severity) noexcept {
    switch (severity) {
        case Severity::Contradiction:
            return "Contradiction";
        case Severity::Question:
            return "Question";
        case Severity::Missing:
            return "Missing";
    }
    return "Question";
}

void Finding::write_value(ValueWriter& out) const {
    out.start_object();
    out.key(Key::record).string(record);
    out.key(Key::check).string(check);
    out.key(Key::severity).string(to_string(severity));
    out.key(Key::message).string(message);
    out.end_object();
}

std::optional<Years> Years::from_date(const GedcomDate& date) {
    if (date.kind == DateKind::Unparsed) return std::nullopt;
    // Years of other calendars are not comparable with these.
    const auto counted = [](const std::optional<DatePoint>& point) {
        return !point || point->calendar == Calendar::Gregorian ||
               point->calendar == Calendar::Julian;
    };
    if (!counted(date.earliest) || !counted(date.latest)) return std::nullopt;
    const auto& first = date.earliest;
    const auto& last = date.latest;
    if (first && last)
        return Years{std::min(first->year, last->year), std::max(first->year, last->year)};
    if (first) return Years{first->year, std::nullopt};
    if (last) return Years{std::nullopt, last->year};
    return std::nullopt;
}

std::string Years::display() const {
    if (!lo && !hi) return "undated";
    if (!lo) return "before " + text_of(*hi);
    if (!hi) return "after " + text_of(*lo);
    if (*lo == *hi) return text_of(*lo);
    return "between " + text_of(*lo) + " and " + text_of(*hi);
}

std::string in_year(const Years& years) {
    if (years.lo && years.hi && *years.lo == *years.hi) return "in " + text_of(*years.lo);
    return years.display();
}

std::string age(const Years& birth, const Years& other) {
    const Span largest = difference(other.hi, birth.lo);
    const Span smallest = difference(other.lo, birth.hi);
    if (smallest && largest) {
        if (*smallest == *largest) return "at " + text_of(*smallest);
        return "at " + text_of(*smallest) + " to " + text_of(*largest);
    }
    if (smallest) return "at least " + text_of(*smallest);
    if (largest) return "at most " + text_of(*largest);
    return "at an unknown age";
}

Life life_of(const IndividualView& individual) {
    const auto& events = individual.events;
    return Life{first_event_years(events, "BIRT"), first_event_years(events, "DEAT"),
                first_event_years(events, "BURI")};
}

void add(std::vector<Finding>& findings, const Node& record, std::string_view check,
         Severity severity, std::string message) {
    findings.push_back(Finding{std::string(record.xref().value_or(record.tag())),
                               std::string(check), severity, std::move(message)});
}

std::vector<Finding> inspect(const Document& document) {
    // Individuals are checked as they are gathered: each against its own
    // dates, so a second record that reuses an identifier cannot lend its
    // dates to the first. Only the Lives are kept for the families.
    std::vector<Finding> findings;
    Lives lives;
    for (const Node& record : document.records) {
        if (record.tag() == "INDI")
            lives.add(record.xref().value_or(""), check_individual(findings, record));
    }
    for (const Node& record : document.records) {
        if (record.tag() == "FAM") check_family(findings, record, lives);
    }
    return findings;
}

}  // namespace lignor
