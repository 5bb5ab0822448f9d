// Tests of the tag vocabulary: labels, kinds and pedigree words.
#include "tags.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lignor::tags {
namespace {

const std::set<std::string_view> events = {
    "ADOP", "ANUL", "BAPM", "BARM", "BASM", "BIRT", "BLES", "BURI", "CENS", "CHR",  "CHRA",
    "CONF", "CREM", "DEAT", "DIV",  "DIVF", "EMIG", "ENGA", "EVEN", "FCOM", "GRAD", "IMMI",
    "MARB", "MARC", "MARL", "MARR", "MARS", "NATU", "ORDN", "PROB", "RETI", "WILL"};
const std::set<std::string_view> attributes = {"CAST", "DSCR", "EDUC", "FACT", "IDNO",
                                               "NATI", "NCHI", "NMR",  "OCCU", "PROP",
                                               "RELI", "RESI", "SSN",  "TITL"};
const std::set<std::string_view> records = {"FAM",   "HEAD", "INDI", "NOTE", "OBJE", "REPO",
                                            "SNOTE", "SOUR", "SUBM", "SUBN", "TRLR"};

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

TEST(tags_sets, events_attributes_and_records_are_exactly_the_listed_tags) {
    std::vector<std::string> candidates = near_misses();
    for (const LabelledTag& row : labelled_tags()) candidates.emplace_back(row.tag);
    for (const std::string& tag : candidates) {
        EXPECT_EQ(is_event(tag), events.contains(tag)) << tag;
        EXPECT_EQ(is_attribute(tag), attributes.contains(tag)) << tag;
        EXPECT_EQ(kind(tag, false) == TagKind::Record, records.contains(tag)) << tag;
    }
    EXPECT_EQ(events.size(), 32u);
    EXPECT_EQ(attributes.size(), 14u);
    EXPECT_EQ(records.size(), 11u);
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
