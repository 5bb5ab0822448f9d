// Which rule of the conversion to version 7 runs on which structure: the one
// table of them, the guards the walk applies from each row's flags, and the
// walk's step at each structure.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <type_traits>

#include "convert7_rules.hpp"
#include "error.hpp"

namespace lignor {
namespace to7 {

// Each rule's two functions, in the file of its area.

// convert7_conc.cpp
Change decide_repeated_identifiers(const Node&, const Place&, Pass&, Decision&);
bool repeated_identifiers_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_folding(const Node&, const Place&, Pass&, Decision&);
bool fold_continuations(Node&, Decision&, const Place&, Pass&);
// convert7_dates.cpp
Change decide_date(const Node&, const Place&, Pass&, Decision&);
bool date_to_7(Node&, Decision&, const Place&, Pass&);
// convert7_roles.cpp
Change decide_roles(const Node&, const Place&, Pass&, Decision&);
bool roles_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_role(const Node&, const Place&, Pass&, Decision&);
bool role_to_7(Node&, Decision&, const Place&, Pass&);
// convert7_records.cpp
Change decide_object_record(const Node&, const Place&, Pass&, Decision&);
bool object_to_record(Node&, Decision&, const Place&, Pass&);
Change decide_source_record(const Node&, const Place&, Pass&, Decision&);
bool source_to_record(Node&, Decision&, const Place&, Pass&);
// convert7_media.cpp
Change decide_media(const Node&, const Place&, Pass&, Decision&);
bool media_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_object_form(const Node&, const Place&, Pass&, Decision&);
bool object_form_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_file_path(const Node&, const Place&, Pass&, Decision&);
bool file_path_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_file_format(const Node&, const Place&, Pass&, Decision&);
bool file_format_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_medium(const Node&, const Place&, Pass&, Decision&);
bool medium_to_7(Node&, Decision&, const Place&, Pass&);
// convert7_tags.cpp
Change decide_uid(const Node&, const Place&, Pass&, Decision&);
bool uid_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_note_pointer(const Node&, const Place&, Pass&, Decision&);
bool note_pointer_to_7(Node&, Decision&, const Place&, Pass&);
// convert7_values.cpp
Change decide_sex_texts(const Node&, const Place&, Pass&, Decision&);
bool sex_texts_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_sex_letter(const Node&, const Place&, Pass&, Decision&);
bool sex_letter_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_enumeration(const Node&, const Place&, Pass&, Decision&);
bool enumeration_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_age(const Node&, const Place&, Pass&, Decision&);
bool age_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_event_payload(const Node&, const Place&, Pass&, Decision&);
bool event_payload_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_alias(const Node&, const Place&, Pass&, Decision&);
bool alias_name_to_7(Node&, Decision&, const Place&, Pass&);
Change decide_empty_payload(const Node&, const Place&, Pass&, Decision&);
bool empty_payload_to_7(Node&, Decision&, const Place&, Pass&);

namespace {

using v7table::Payload;
constexpr std::uint8_t payload_guards = guard::continuation | guard::depth;

// Every rule, in the order the walk asks them at each structure: a
// structure's continuation lines are settled first, then the rule its tag
// or record calls for, then those its payload's type calls for, and last
// the empty payload. A part is asked only by the rule of the structure
// that holds it, through run_part.
// clang-format off
constexpr std::array table{
    //   applies to                     guards               guards' note tag, word
    //   decision, change
    Rule{parents(),                     guard::none,         {}, {},
         decide_repeated_identifiers, repeated_identifiers_to_7},
    Rule{parents(),                     guard::none,         {}, {},
         decide_folding, fold_continuations},
    Rule{tagged("_UID"),                guard::none,         {}, {},
         decide_uid, uid_to_7},
    Rule{tagged("NOTE"),                guard::none,         {}, {},
         decide_note_pointer, note_pointer_to_7},
    Rule{tagged("DATE"),                payload_guards,      "DATE", "DATE",
         decide_date, date_to_7, /*withdraws_earlier_notes=*/true},
    Rule{tagged("EVEN"),                guard::none,         {}, {},
         decide_roles, roles_to_7},
    Rule{tagged("ASSO"),                guard::none,         {}, {},
         decide_roles, roles_to_7},
    Rule{part("ROLE"),                  payload_guards,      "ROLE", {},
         decide_role, role_to_7},
    Rule{part("ASSO.RELA"),             payload_guards,      "ASSO.RELA", {},
         decide_role, role_to_7},
    // An object written in place becomes a record, its files with it; one
    // that stays gets its files in version 7's form.
    Rule{tagged("OBJE"),                guard::none,         {}, {},
         decide_object_record, object_to_record},
    Rule{tagged("OBJE"),                guard::none,         {}, {},
         decide_media, media_to_7},
    // Its place a level below the object's: the FORM goes onto the files.
    Rule{part("OBJE.FORM"),             guard::depth,        "OBJE.FORM", {},
         decide_object_form, object_form_to_7},
    Rule{part("FILE"),                  guard::continuation, "FILE", "file path",
         decide_file_path, file_path_to_7},
    Rule{part("FILE.FORM"),             guard::continuation, "FILE.FORM", "format",
         decide_file_format, file_format_to_7},
    Rule{part("FORM.MEDI"),             payload_guards,      "FORM.MEDI", {},
         decide_medium, medium_to_7},
    Rule{tagged("SOUR"),                guard::continuation, "SOUR", "source citation",
         decide_source_record, source_to_record},
    Rule{record_tagged("INDI"),         guard::none,         {}, {},
         decide_sex_texts, sex_texts_to_7},
    Rule{part("SEX"),                   guard::continuation, "SEX", "SEX",
         decide_sex_letter, sex_letter_to_7},
    Rule{payload({Payload::Enumeration, Payload::EnumerationList}),
                                        payload_guards,      {}, {},
         decide_enumeration, enumeration_to_7},
    Rule{payload({Payload::Age}),       payload_guards,      "AGE", "AGE",
         decide_age, age_to_7},
    Rule{payload({Payload::YesOrEmpty}), payload_guards,     {}, "event",
         decide_event_payload, event_payload_to_7},
    Rule{payload({Payload::Pointer}, "ALIA"),
                                        payload_guards,      "ALIA", "ALIA",
         decide_alias, alias_name_to_7},
    Rule{empty_payloads(),              guard::none,         {}, {},
         decide_empty_payload, empty_payload_to_7},
};
// clang-format on

// A structure at the reader's deepest level that a rule would give a new
// substructure: left as written, and counted for the record's Kept note.
bool kept_at_depth_limit(const Node& node, std::string_view note_tag, Pass& pass) {
    pass.tally(note_tag, NoteKind::Kept,
               "structure(s) at the deepest level the reader accepts, beneath which the PHRASE, "
               "NOTE or TYPE that version 7's form needs cannot be written, left as written",
               quoted(node.logical_value()));
    return false;
}

// A tag of up to eight bytes as one number, its bytes in memory order; 0
// for a longer one, which no row names. Read with one load or a few, not
// byte by byte: the walk asks at every structure.
constexpr std::uint64_t tag_key(std::string_view tag) noexcept {
    static_assert(std::endian::native == std::endian::little, "bytes in memory order");
    std::uint64_t key = 0;
    if (std::is_constant_evaluated()) {
        if (tag.size() > sizeof key) return 0;
        for (std::size_t at = 0; at < tag.size(); ++at)
            key |= std::uint64_t{static_cast<unsigned char>(tag[at])} << (8 * at);
        return key;
    }
    switch (tag.size()) {
        case 1:
            std::memcpy(&key, tag.data(), 1);
            break;
        case 2:
            std::memcpy(&key, tag.data(), 2);
            break;
        case 3:
            std::memcpy(&key, tag.data(), 3);
            break;
        case 4:
            std::memcpy(&key, tag.data(), 4);
            break;
        case 5:
            std::memcpy(&key, tag.data(), 5);
            break;
        case 6:
            std::memcpy(&key, tag.data(), 6);
            break;
        case 7:
            std::memcpy(&key, tag.data(), 7);
            break;
        case 8:
            std::memcpy(&key, tag.data(), 8);
            break;
        default:
            break;
    }
    return key;
}

// The table as the walk reads it: which rows apply to a structure, one bit
// per row (bit i for table[i]), found from its tag's number and its
// payload's type rather than by asking every row.
struct Dispatch {
    // The rows that name a tag, by the tag; an open-addressed hash by its
    // number, 0 for an empty slot.
    struct Named {
        std::uint64_t key = 0;
        std::uint32_t tagged = 0;    // By::Tag
        std::uint32_t records = 0;   // By::Record
        std::uint32_t payloads = 0;  // By::Payload, of this tag only
    };
    static constexpr std::size_t slots = 64;  // several times the tags the rows name

    std::uint32_t parents = 0;
    std::uint32_t empty_payloads = 0;
    std::uint32_t any_tag_payloads = 0;          // By::Payload, of any tag
    std::array<std::uint32_t, 32> by_payload{};  // By::Payload rows, by payload type
    std::array<Named, slots> named{};

    static constexpr std::size_t home(std::uint64_t key) noexcept {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15U) >> 58U);
    }
    // The slot holding `key`, or the empty one where it would go.
    constexpr std::size_t slot(std::uint64_t key) const noexcept {
        std::size_t at = home(key);
        while (named[at].key != 0 && named[at].key != key) at = (at + 1) % slots;
        return at;
    }
};

constexpr Dispatch dispatch_of(std::span<const Rule> rules) {
    Dispatch out;
    for (std::size_t index = 0; index < rules.size(); ++index) {
        const Applies& applies = rules[index].applies;
        const std::uint32_t bit = 1U << index;
        if (applies.by == Applies::By::Parent) out.parents |= bit;
        if (applies.by == Applies::By::Empty) out.empty_payloads |= bit;
        if (applies.by == Applies::By::Payload) {
            for (std::size_t type = 0; type < out.by_payload.size(); ++type) {
                if ((applies.payloads >> type & 1U) != 0) out.by_payload[type] |= bit;
            }
            if (applies.tag.empty()) out.any_tag_payloads |= bit;
        }
        if (applies.tag.empty() || applies.by == Applies::By::Part) continue;
        const std::uint64_t key = tag_key(applies.tag);
        Dispatch::Named& named = out.named[out.slot(key)];
        named.key = key;
        (applies.by == Applies::By::Tag      ? named.tagged
         : applies.by == Applies::By::Record ? named.records
                                             : named.payloads) |= bit;
    }
    return out;
}

static_assert(table.size() <= 32, "a row is one bit of a 32-bit set");
constexpr Dispatch dispatch = dispatch_of(table);

// The rows that apply to `node` at `place`, as Dispatch's bits.
std::uint32_t rows_for(const Node& node, const Place& place) noexcept {
    const std::uint32_t payloads =
        place.facts ? dispatch.by_payload[static_cast<std::size_t>(place.facts->payload)] : 0;
    std::uint32_t rows = payloads & dispatch.any_tag_payloads;
    if (!node.children().empty()) rows |= dispatch.parents;
    if (const auto value = node.value(); value && value->empty()) rows |= dispatch.empty_payloads;
    const std::uint64_t key = tag_key(node.tag());
    const Dispatch::Named& named = dispatch.named[dispatch.slot(key)];
    if (key != 0 && named.key == key) {
        rows |= named.tagged | (payloads & named.payloads);
        if (place.depth == 0 && place.row != v7table::no_row) rows |= named.records;
    }
    return rows;
}

// Asks `rule` about `structure`, applies the guards its row names to the
// decision, then lets it change the structure; `decision` keeps what the
// rule decided, and is cleared after a change. True when it changed.
bool run_with(const Rule& rule, Rewritable& structure, const Place& place, Pass& pass,
              Decision& decision) {
    decision.change = rule.decide(structure.get(), place, pass, decision);
    if (decision.change == Change::None) return false;
    const Node& node = structure.get();
    const std::string_view note_tag = rule.note_tag.empty() ? node.tag() : rule.note_tag;
    bool changed = false;
    if ((rule.guards & guard::continuation) != 0 &&
        continuation_blocks(node, note_tag, rule.what.empty() ? node.tag() : rule.what, pass)) {
        changed = false;
    } else if ((rule.guards & guard::depth) != 0 && decision.change == Change::AddsLines &&
               !may_gain_substructure(place.depth)) {
        changed = kept_at_depth_limit(node, note_tag, pass);
    } else {
        changed = rule.rewrite(structure.mut(), decision, place, pass);
    }
    decision.text.clear();
    decision.value.reset();
    return changed;
}

}  // namespace

const Rule& part_rule(std::string_view name) {
    const auto found = std::find_if(table.begin(), table.end(), [&](const Rule& rule) {
        return rule.applies.by == Applies::By::Part && rule.applies.tag == name;
    });
    if (found == table.end())
        throw InternalFailure("no rule of the conversion to 7.0 is that part");
    return *found;
}

bool run_part(const Rule& part, Node& target, const Place& place, Pass& pass) {
    Rewritable in_place(target);
    Decision decision;
    return run_with(part, in_place, place, pass, decision);
}

bool structure_to_7(Rewritable& structure, const Place& place, Pass& pass, Decision& decision) {
    std::uint32_t rows = rows_for(structure.get(), place);
    if (rows == 0) return false;
    const std::size_t notes_before = pass.notes.size();
    bool changed = false;
    while (rows != 0) {
        const auto index = static_cast<std::size_t>(std::countr_zero(rows));
        rows &= rows - 1;
        const Rule& rule = table[index];
        const std::size_t notes_before_rule = rule.withdraws_earlier_notes ? pass.notes.size() : 0;
        if (!run_with(rule, structure, place, pass, decision)) continue;
        changed = true;
        if (rule.withdraws_earlier_notes) {
            pass.notes.erase(pass.notes.begin() + static_cast<std::ptrdiff_t>(notes_before),
                             pass.notes.begin() + static_cast<std::ptrdiff_t>(notes_before_rule));
        }
        // The rows after it apply to the structure as it now stands (a
        // retagged one, say).
        rows = rows_for(structure.get(), place) & ~((2U << index) - 1U);
    }
    return changed;
}

}  // namespace to7

bool structures_to_7_node(Node& record, const NoteRecordIds& note_records, Pass& pass) {
    return structures_to_7_node(record, note_records, pass,
                                [](const Node&, std::size_t, std::uint32_t) {});
}

bool structures_to_7_node(
    Node& record, const NoteRecordIds& note_records, Pass& pass,
    const std::function<void(const Node&, std::size_t, std::uint32_t)>& visit) {
    return to7::structures_to_7_with(record, note_records, pass, visit);
}

}  // namespace lignor
