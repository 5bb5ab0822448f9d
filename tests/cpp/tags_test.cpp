// Tests of the tag vocabulary: labels, kinds and pedigree words.
#include "tags.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lignor::tags {
namespace {

#include "gedcom7_tables.inc"

// The standard's own lists, read from its tables rather than copied: the
// event types are enumset-EVEN and the generic EVEN, the attribute types the
// rest of enumset-EVENATTR, the record types the structures a dataset holds
// (CONT aside) and the two records of 5.5.1 that version 7 renamed or
// dropped.
std::set<std::string_view> enumeration(std::string_view set) {
    std::set<std::string_view> values;
    for (const EnumerationValue& row : enumeration_values)
        if (row.set == set) values.insert(row.value);
    return values;
}

const std::set<std::string_view> events = [] {
    std::set<std::string_view> tags = enumeration("enumset-EVEN");
    tags.insert("EVEN");
    return tags;
}();
const std::set<std::string_view> attributes = [] {
    std::set<std::string_view> tags;
    for (std::string_view tag : enumeration("enumset-EVENATTR"))
        if (!events.contains(tag)) tags.insert(tag);
    return tags;
}();
const std::set<std::string_view> records = [] {
    std::set<std::string_view> tags = {"NOTE", "SUBN"};
    for (const Substructure& row : substructures)
        if (row.parent.empty() && row.tag != "CONT") tags.insert(row.tag);
    return tags;
}();

// Tags next to the known ones (one byte more, one byte less, other case)
// plus the obvious strangers: none of them may match a known tag by accident.
std::vector<std::string> near_misses() {
    std::set<std::string> known;
    for (const LabelledTag& row : labelled_tags()) known.emplace(row.tag);
    std::vector<std::string> misses = {"",     "no",    "EMAI",  "MARRIAGE", "_FOO", "_uid",
                                       "UID_", " BIRT", "BIRT ", "AFN",      "ZZZZ", "\xff"};
    for (const std::string& tag : known) {
        std::string lower = tag;
        std::ranges::transform(lower, lower.begin(), [](char c) { return c | 0x20; });
        for (std::string miss : {tag + "X", tag.substr(0, tag.size() - 1), lower}) {
            if (!known.contains(miss)) misses.push_back(std::move(miss));
        }
    }
    return misses;
}

TEST(tags_labels, every_tabled_tag_reads_its_label) {
    for (const LabelledTag& row : labelled_tags()) {
        EXPECT_EQ(label(row.tag), row.label) << row.tag;
    }
}

TEST(tags_labels, any_other_tag_has_none) {
    for (const std::string& tag : near_misses()) {
        EXPECT_EQ(label(tag), std::nullopt) << tag;
    }
}

TEST(tags_sets, events_attributes_and_records_are_exactly_the_standards) {
    std::vector<std::string> candidates = near_misses();
    for (const LabelledTag& row : labelled_tags()) candidates.emplace_back(row.tag);
    for (const auto* set : {&events, &attributes, &records})
        candidates.insert(candidates.end(), set->begin(), set->end());
    for (const std::string& tag : candidates) {
        EXPECT_EQ(is_event(tag), events.contains(tag)) << tag;
        EXPECT_EQ(is_attribute(tag), attributes.contains(tag)) << tag;
        EXPECT_EQ(kind(tag, false) == TagKind::Record, records.contains(tag)) << tag;
    }
}

TEST(tags_sets, ordinances_are_not_events) {
    for (std::string_view tag : {"BAPL", "CONL", "ENDL", "INIL", "SLGC", "SLGS"}) {
        EXPECT_FALSE(is_event(tag)) << tag;
        EXPECT_FALSE(is_attribute(tag)) << tag;
        EXPECT_TRUE(label(tag).has_value()) << tag;
    }
}

struct KindRow {
    std::string_view tag;
    bool nested;
    TagKind expected;
};

TEST(tags_kind, follows_level_then_event_attribute_label) {
    const KindRow rows[] = {
        {"HEAD", false, TagKind::Record},     {"SNOTE", false, TagKind::Record},
        {"SNOTE", true, TagKind::Structure},  {"NOTE", true, TagKind::Structure},
        {"SOUR", true, TagKind::Structure},   {"RESI", true, TagKind::Attribute},
        {"RESI", false, TagKind::Unknown},    {"BIRT", false, TagKind::Unknown},
        {"BIRT", true, TagKind::Event},       {"SLGS", true, TagKind::Structure},
        {"_UID", true, TagKind::Structure},   {"_UID", false, TagKind::Unknown},
        {"_CUSTOM", false, TagKind::Unknown}, {"_FOO", true, TagKind::Unknown},
        {"CHR", true, TagKind::Event},        {"DIV", true, TagKind::Event},
        {"MARRIAGE", true, TagKind::Unknown}, {"TITL", true, TagKind::Attribute},
        {"PEDI", true, TagKind::Structure},   {"NO", true, TagKind::Structure},
        {"no", true, TagKind::Unknown},       {"", true, TagKind::Unknown},
    };
    for (const KindRow& row : rows) {
        EXPECT_EQ(kind(row.tag, row.nested), row.expected) << row.tag << " nested=" << row.nested;
    }
}

TEST(tags_kind, agrees_with_the_sets_for_every_labelled_tag) {
    for (const LabelledTag& row : labelled_tags()) {
        const TagKind nested = events.contains(row.tag)       ? TagKind::Event
                               : attributes.contains(row.tag) ? TagKind::Attribute
                                                              : TagKind::Structure;
        EXPECT_EQ(kind(row.tag, true), nested) << row.tag;
        EXPECT_EQ(kind(row.tag, false),
                  records.contains(row.tag) ? TagKind::Record : TagKind::Unknown)
            << row.tag;
    }
}

TEST(tags_kind, has_one_word_per_kind) {
    const std::pair<TagKind, std::string_view> words[] = {
        {TagKind::Record, "record"},       {TagKind::Event, "event"},
        {TagKind::Attribute, "attribute"}, {TagKind::Structure, "structure"},
        {TagKind::Unknown, "unknown"},
    };
    for (const auto& [value, word] : words) EXPECT_EQ(to_string(value), word);
}

TEST(tags_pedigree, recognises_three_spellings_of_six_words) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"birth", "Birth"},     {"Birth", "Birth"},     {"BIRTH", "Birth"},
        {"adopted", "Adopted"}, {"Adopted", "Adopted"}, {"ADOPTED", "Adopted"},
        {"foster", "Foster"},   {"Foster", "Foster"},   {"FOSTER", "Foster"},
        {"sealing", "Sealing"}, {"Sealing", "Sealing"}, {"SEALING", "Sealing"},
        {"step", "Step"},       {"Step", "Step"},       {"STEP", "Step"},
        {"other", "Other"},     {"Other", "Other"},     {"OTHER", "Other"},
        // Trimmed first, with Unicode white space (here U+00A0 and U+3000).
        {"  adopted ", "Adopted"}, {"Birth ", "Birth"}, {"\t\u00a0step\u3000", "Step"},
        // Anything else is kept as written, only trimmed.
        {"bIrTh", "bIrTh"}, {"private", "private"}, {"Adopted by aunt", "Adopted by aunt"},
        {" adopted by aunt ", "adopted by aunt"}, {"steps", "steps"}, {"", ""}, {"   ", ""},
    };
    // clang-format on
    for (const auto& [value, shown] : rows) {
        EXPECT_EQ(pedigree_label(value), shown) << '"' << value << '"';
    }
}

}  // namespace
}  // namespace lignor::tags
