// Views of records, structures, individuals, families and events: exact JSON
// of hand-made records, the heading rules, pointer shapes, structure paths,
// and every record of the shared corpus viewed without failing.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "document.hpp"
#include "json.hpp"
#include "views.hpp"

namespace lignor {
namespace {

namespace fs = std::filesystem;

Document parsed(std::string_view text) {
    auto document = Document::parse_with(text, ParseLimits{});
    if (!document) throw std::runtime_error(document.error().display());
    return std::move(*document);
}

// The first record of a one-record text.
Node record_of(std::string_view text) {
    return parsed(text).records.at(0);
}

// A small JSON reader that checks syntax and records the keys of the
// outermost object in order (kept free of the library's JSON door on
// purpose: it is the independent check of what that door writes).
class JsonCheck {
  public:
    explicit JsonCheck(std::string_view text) : text_(text) {}

    bool well_formed() {
        skip_space();
        if (!value(0)) return false;
        skip_space();
        return pos_ == text_.size();
    }
    const std::vector<std::string>& top_keys() const { return top_keys_; }

  private:
    bool value(int depth) {
        skip_space();
        if (pos_ >= text_.size()) return false;
        switch (text_[pos_]) {
            case '{':
                return object(depth);
            case '[':
                return array(depth);
            case '"':
                return string(nullptr);
            case 't':
                return literal("true");
            case 'f':
                return literal("false");
            case 'n':
                return literal("null");
            default:
                return number();
        }
    }
    bool object(int depth) {
        ++pos_;
        skip_space();
        if (peek('}')) return true;
        do {
            skip_space();
            std::string key;
            if (!string(&key)) return false;
            if (depth == 0) top_keys_.push_back(key);
            skip_space();
            if (!peek(':') || !value(depth + 1)) return false;
            skip_space();
        } while (peek(','));
        return peek('}');
    }
    bool array(int depth) {
        ++pos_;
        skip_space();
        if (peek(']')) return true;
        do {
            if (!value(depth + 1)) return false;
            skip_space();
        } while (peek(','));
        return peek(']');
    }
    bool string(std::string* out) {
        if (!peek('"')) return false;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c == '\\') {
                if (pos_ >= text_.size()) return false;
                const char escaped = text_[pos_++];
                if (escaped == 'u') {
                    for (int i = 0; i < 4; ++i) {
                        if (pos_ >= text_.size() ||
                            !std::isxdigit(static_cast<unsigned char>(text_[pos_++])))
                            return false;
                    }
                } else if (std::string_view("\"\\/bfnrt").find(escaped) == std::string_view::npos) {
                    return false;
                }
            } else if (out) {
                out->push_back(c);
            }
        }
        return false;
    }
    bool number() {
        const std::size_t start = pos_;
        peek('-');
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        return pos_ > start && std::isdigit(static_cast<unsigned char>(text_[pos_ - 1]));
    }
    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }
    bool peek(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void skip_space() {
        while (pos_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[pos_]) != std::string_view::npos)
            ++pos_;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<std::string> top_keys_;
};

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out.append(piece);
    return out;
}

// ---- Headings -------------------------------------------------------------------

struct TitleCase {
    const char* name;
    const char* text;
    const char* title;
};

class views_titles : public testing::TestWithParam<TitleCase> {};

TEST_P(views_titles, follow_the_rule_of_the_record_tag) {
    EXPECT_EQ(record_title(record_of(GetParam().text)), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    views_by_tag, views_titles,
    testing::Values(
        TitleCase{"family_is_its_label", "0 @F1@ FAM Something\n1 HUSB @I1@\n", "Family"},
        TitleCase{"individual_by_display_name",
                  "0 @I1@ INDI\n1 NAME John /Smith/\n1 NAME Jack /Smith/\n", "John Smith"},
        TitleCase{"individual_name_parts_override", "0 @I1@ INDI\n1 NAME /Smith/\n2 GIVN Jo\n",
                  "Jo Smith"},
        TitleCase{"nameless_individual", "0 @I1@ INDI\n1 SEX M\n", "Individual"},
        TitleCase{"source_by_title",
                  "0 @S1@ SOUR\n1 ABBR Short\n1 TITL  Parish\n2 CONT register \n",
                  "Parish register"},
        TitleCase{"source_by_abbreviation", "0 @S1@ SOUR\n1 ABBR Short\n", "Short"},
        TitleCase{"blank_source_title_does_not_fall_to_abbreviation",
                  "0 @S1@ SOUR\n1 TITL   \n1 ABBR Short\n", "Source"},
        TitleCase{"repository_by_name", "0 @R1@ REPO\n1 NAME Archive\n", "Archive"},
        TitleCase{"submitter_by_name", "0 @U1@ SUBM\n1 NAME Ann\n", "Ann"},
        TitleCase{"media_by_file_title", "0 @M1@ OBJE\n1 FILE a.jpg\n2 TITL Portrait\n",
                  "Portrait"},
        TitleCase{"media_by_file_reference", "0 @M1@ OBJE\n1 FILE a.jpg\n1 FILE b.jpg\n2 TITL B\n",
                  "a.jpg"},
        TitleCase{"media_without_file", "0 @M1@ OBJE\n1 TITL Loose\n", "Media object"},
        TitleCase{"note_joins_continuations", "0 @N1@ NOTE First line\n1 CONT second line\n",
                  "First line second line"},
        TitleCase{"note_keeps_tabs_inside", "0 @N1@ NOTE a\tb\n", "a\tb"},
        TitleCase{"header_without_payload", "0 HEAD\n1 GEDC\n2 VERS 7.0\n", "Header"},
        TitleCase{"unknown_record_by_payload", "0 @X1@ _THING Custom text\n", "Custom text"},
        TitleCase{"unknown_record_without_payload", "0 @X1@ _THING\n", "_THING"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(views_headings, truncate_counts_characters_not_bytes) {
    const std::string latin90 = repeated("a", 90);
    const std::string cyrillic90 = repeated("ж", 90);  // two bytes each
    const std::string cjk91 = repeated("語", 91);      // three bytes each
    EXPECT_EQ(truncate_heading(latin90), latin90);
    EXPECT_EQ(truncate_heading(latin90 + "b"), repeated("a", 87) + "…");
    EXPECT_EQ(truncate_heading(cyrillic90), cyrillic90);
    EXPECT_EQ(truncate_heading(cjk91), repeated("語", 87) + "…");
    EXPECT_EQ(truncate_heading(""), "");
}

TEST(views_headings, long_titles_are_truncated_after_cleaning) {
    const Node note = record_of("0 @N1@ NOTE " + repeated("é", 100) + "\n");
    EXPECT_EQ(record_title(note), repeated("é", 87) + "…");
}

// ---- Generic views ---------------------------------------------------------------

TEST(views_records, note_record_view_is_exact) {
    const RecordView view =
        RecordView::from_node(record_of("0 @N1@ NOTE First line\n1 CONT second line\n"));
    EXPECT_EQ(to_json(view),
              R"({"xref":"@N1@","tag":"NOTE","label":"Note","title":"First line second line",)"
              R"("structures":[],"raw":"0 @N1@ NOTE First line\n1 CONT second line\n"})");
}

TEST(views_records, header_has_null_xref_and_unknown_tags_show_themselves) {
    const RecordView header = RecordView::from_node(record_of("0 HEAD\n"));
    EXPECT_FALSE(header.xref.has_value());
    EXPECT_EQ(to_json(header).substr(0, 13), R"({"xref":null,)");

    const RecordView custom = RecordView::from_node(record_of("0 @X1@ _THING Text\n1 _SUB @I1@\n"));
    EXPECT_EQ(custom.label, "_THING");
    EXPECT_EQ(custom.title, "Text");
    ASSERT_EQ(custom.structures.size(), 1u);
    EXPECT_EQ(to_json(custom.structures[0]),
              R"({"path":[0],"level":1,"tag":"_SUB","label":"_SUB","kind":"unknown",)"
              R"("value":"@I1@","pointer":"@I1@","extension":true,"children":[]})");
}

TEST(views_records, raw_keeps_lines_as_written) {
    const Node record = record_of("0 @I1@ INDI\n1  NAME  John\n1 NOTE a\n2 CONC b\n");
    EXPECT_EQ(raw_lines(record), "0 @I1@ INDI\n1  NAME  John\n1 NOTE a\n2 CONC b\n");
}

TEST(views_structures, paths_count_continuation_lines) {
    const RecordView view = RecordView::from_node(
        record_of("0 @I1@ INDI\n1 CONC x\n1 NAME John\n2 CONT more\n2 GIVN John\n1 SEX M\n"));
    ASSERT_EQ(view.structures.size(), 2u);
    EXPECT_EQ(view.structures[0].path, (StructurePath{1}));
    EXPECT_EQ(view.structures[0].value, "John\nmore");
    ASSERT_EQ(view.structures[0].children.size(), 1u);
    EXPECT_EQ(view.structures[0].children[0].path, (StructurePath{1, 1}));
    EXPECT_EQ(view.structures[0].children[0].level, 2);
    EXPECT_EQ(view.structures[1].path, (StructurePath{2}));
    // Each path leads back to the structure it came from.
    const Node record =
        record_of("0 @I1@ INDI\n1 CONC x\n1 NAME John\n2 CONT more\n2 GIVN John\n1 SEX M\n");
    EXPECT_EQ(node_at(record, view.structures[0].children[0].path)->tag(), "GIVN");
}

TEST(views_structures, nested_view_is_exact) {
    const RecordView view =
        RecordView::from_node(record_of("0 @I1@ INDI\n1 BIRT\n2 DATE 1900\n2 SOUR @S1@\n"));
    EXPECT_EQ(
        to_json(view.structures.at(0)),
        R"({"path":[0],"level":1,"tag":"BIRT","label":"Birth","kind":"event","value":"",)"
        R"("pointer":null,"extension":false,"children":[)"
        R"({"path":[0,0],"level":2,"tag":"DATE","label":"Date","kind":"structure","value":"1900",)"
        R"("pointer":null,"extension":false,"children":[]},)"
        R"({"path":[0,1],"level":2,"tag":"SOUR","label":"Source","kind":"structure","value":"@S1@",)"
        R"("pointer":"@S1@","extension":false,"children":[]}]})");
}

struct PointerCase {
    const char* payload;
    bool pointer;
};

class views_pointers : public testing::TestWithParam<PointerCase> {};

TEST_P(views_pointers, are_recognised_by_shape_void_included) {
    EXPECT_EQ(is_pointer_shaped(GetParam().payload), GetParam().pointer) << GetParam().payload;
}

INSTANTIATE_TEST_SUITE_P(views_payloads, views_pointers,
                         testing::Values(PointerCase{"@S1@", true}, PointerCase{"@VOID@", true},
                                         PointerCase{"@x@", true}, PointerCase{"@@", false},
                                         PointerCase{"@@@", false}, PointerCase{"@S1@ x", false},
                                         PointerCase{"@#DJULIAN@ 1700", false},
                                         PointerCase{"S1@", false}, PointerCase{"", false}));

TEST(views_pointers, citations_skip_source_text) {
    const Node record =
        record_of("0 @I1@ INDI\n1 SOUR @S1@\n1 SOUR a book\n1 NOTE @N1@\n1 SOUR @VOID@\n");
    EXPECT_EQ(citation_list(record), (std::vector<std::string>{"@S1@", "@VOID@"}));
}

// ---- Individuals -------------------------------------------------------------------

TEST(views_individuals, full_view_is_exact) {
    const Node record = record_of(
        "0 @I1@ INDI\n"
        "1 NAME John /Smith/\n"
        "2 TYPE birth\n"
        "2 SOUR @S2@\n"
        "1 SEX M\n"
        "1 BIRT\n"
        "2 DATE 5 JAN 1882\n"
        "2 PLAC Leeds\n"
        "2 SOUR @S1@\n"
        "1 OCCU Carpenter\n"
        "1 FAMC @F1@\n"
        "2 PEDI adopted\n"
        "1 FAMC\n"
        "1 FAMS @F2@\n"
        "1 SOUR @S1@\n"
        "1 OBJE @M1@\n"
        "1 REFN 12\n"
        "2 TYPE user\n"
        "1 _XID ABC\n"
        "1 AFN X\n");
    EXPECT_EQ(
        to_json(IndividualView::from_node(record)),
        R"({"xref":"@I1@","names":[{"display":"John Smith","sort":"Smith, John",)"
        R"("original":"John /Smith/","kind":"birth","citations":["@S2@"]}],"sex":"Male",)"
        R"("events":[{"tag":"BIRT","label":"Birth","date":"5 JAN 1882","dateDisplay":"5 January 1882",)"
        R"("year":1882,"sortKey":18820105,"place":"Leeds","age":null,"cause":null,"attribute":false,)"
        R"("value":null,"citations":["@S1@"],"path":[2]},)"
        R"({"tag":"OCCU","label":"Occupation","date":null,"dateDisplay":null,"year":null,)"
        R"("sortKey":null,"place":null,"age":null,"cause":null,"attribute":true,)"
        R"("value":"Carpenter","citations":[],"path":[3]}],)"
        R"("childIn":[{"family":"@F1@","pedigree":"Adopted"}],)"
        R"("partnerIn":[{"family":"@F2@","pedigree":null}],"citations":["@S1@"],"media":["@M1@"],)"
        R"("identifiers":[{"tag":"REFN","label":"Reference number","value":"12","kind":"user"},)"
        R"({"tag":"_XID","label":"_XID","value":"ABC","kind":null}]})");
}

TEST(views_individuals, without_identifier_has_empty_xref_unlike_its_record_view) {
    const Node record = record_of("0 INDI\n");
    EXPECT_EQ(to_json(IndividualView::from_node(record)),
              R"({"xref":"","names":[],"sex":null,"events":[],"childIn":[],"partnerIn":[],)"
              R"("citations":[],"media":[],"identifiers":[]})");
    EXPECT_FALSE(RecordView::from_node(record).xref.has_value());
}

TEST(views_individuals, void_family_links_are_listed) {
    const IndividualView view =
        IndividualView::from_node(record_of("0 @I1@ INDI\n1 FAMC @VOID@\n"));
    ASSERT_EQ(view.child_in.size(), 1u);
    EXPECT_EQ(view.child_in[0].family, "@VOID@");
    EXPECT_FALSE(view.child_in[0].pedigree.has_value());
}

struct SexCase {
    const char* lines;
    std::optional<std::string> sex;
};

class views_sex : public testing::TestWithParam<SexCase> {};

TEST_P(views_sex, is_shown_in_words_or_as_written) {
    const Node record = record_of(std::string("0 @I1@ INDI\n") + GetParam().lines);
    EXPECT_EQ(IndividualView::from_node(record).sex, GetParam().sex) << GetParam().lines;
}

INSTANTIATE_TEST_SUITE_P(
    views_codes, views_sex,
    testing::Values(SexCase{"1 SEX M\n", "Male"}, SexCase{"1 SEX F\n", "Female"},
                    SexCase{"1 SEX X\n", "Neither male nor female"},
                    SexCase{"1 SEX U\n", "Unknown"}, SexCase{"1 SEX  F \n", "Female"},
                    SexCase{"1 SEX m\n", "m"}, SexCase{"1 SEX Male\n", "Male"},
                    SexCase{"1 SEX\n", ""}, SexCase{"1 NAME A\n", std::nullopt},
                    SexCase{"1 SEX F\n1 SEX M\n", "Female"}));

struct SortCase {
    const char* lines;
    const char* sort;
};

class views_name_sort : public testing::TestWithParam<SortCase> {};

TEST_P(views_name_sort, puts_the_surname_first) {
    const Node record = record_of(std::string("0 @I1@ INDI\n") + GetParam().lines);
    EXPECT_EQ(IndividualView::from_node(record).names.at(0).sort, GetParam().sort);
}

INSTANTIATE_TEST_SUITE_P(
    views_names, views_name_sort,
    testing::Values(SortCase{"1 NAME\n2 SURN Smith\n2 GIVN John\n", "Smith, John"},
                    SortCase{"1 NAME /Smith/\n", "Smith"}, SortCase{"1 NAME John\n", "John"},
                    SortCase{"1 NAME // Jr\n", "Jr"}));

// ---- Events --------------------------------------------------------------------------

struct EventCase {
    const char* name;
    const char* lines;  // the event and its substructures, at level 1
    const char* label;
    std::optional<std::string> value;
    std::optional<std::int64_t> sort_key;
};

class views_events : public testing::TestWithParam<EventCase> {};

TEST_P(views_events, label_value_and_sort_key) {
    const Node record = record_of(std::string("0 @I1@ INDI\n") + GetParam().lines);
    const IndividualView view = IndividualView::from_node(record);
    ASSERT_EQ(view.events.size(), 1u);
    const EventView& event = view.events[0];
    EXPECT_EQ(event.label, GetParam().label);
    EXPECT_EQ(event.value, GetParam().value);
    EXPECT_EQ(event.sort_key, GetParam().sort_key);
}

INSTANTIATE_TEST_SUITE_P(
    views_lines, views_events,
    testing::Values(
        EventCase{"happened_marker", "1 BIRT Y\n", "Birth", std::nullopt, std::nullopt},
        EventCase{"yes_is_kept", "1 BIRT Yes\n", "Birth", "Yes", std::nullopt},
        EventCase{"blank_payload", "1 BIRT   \n", "Birth", std::nullopt, std::nullopt},
        EventCase{"payload_untrimmed_without_continuation", "1 EVEN  odd \n2 CONC more\n", "Event",
                  " odd ", std::nullopt},
        EventCase{"even_typed", "1 EVEN\n2 TYPE Graduation \n", "Graduation ", std::nullopt,
                  std::nullopt},
        EventCase{"fact_blank_type", "1 FACT x\n2 TYPE  \n", "Fact", "x", std::nullopt},
        EventCase{"birth_type_ignored", "1 BIRT\n2 TYPE Stillborn\n", "Birth", std::nullopt,
                  std::nullopt},
        EventCase{"full_date", "1 DEAT\n2 DATE 5 JAN 1882\n", "Death", std::nullopt, 18820105},
        EventCase{"month_and_year", "1 DEAT\n2 DATE JAN 1882\n", "Death", std::nullopt, 18820100},
        EventCase{"year_only", "1 DEAT\n2 DATE ABT 1882\n", "Death", std::nullopt, 18820000},
        EventCase{"bounded_above_uses_year_hint", "1 DEAT\n2 DATE BEF 1882\n", "Death",
                  std::nullopt, 18820000},
        EventCase{"no_year_at_all", "1 DEAT\n2 DATE sometime\n", "Death", std::nullopt,
                  std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(views_events, date_fields_are_all_null_without_a_date) {
    const EventView event = EventView::from_node(record_of("0 BIRT Y\n"), {0});
    EXPECT_EQ(to_json(event),
              R"({"tag":"BIRT","label":"Birth","date":null,"dateDisplay":null,"year":null,)"
              R"("sortKey":null,"place":null,"age":null,"cause":null,"attribute":false,)"
              R"("value":null,"citations":[],"path":[0]})");
}

TEST(views_events, paths_count_every_direct_substructure) {
    const IndividualView view =
        IndividualView::from_node(record_of("0 @I1@ INDI\n1 NAME A\n1 SEX M\n1 BIRT\n"));
    ASSERT_EQ(view.events.size(), 1u);
    EXPECT_EQ(view.events[0].path, (StructurePath{2}));
}

// ---- Families ----------------------------------------------------------------------------

TEST(views_families, full_view_is_exact) {
    const FamilyView view = FamilyView::from_node(record_of(
        "0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 RESI Leeds\n1 CHIL @I3@\n1 CHIL\n1 CHIL @I3@\n"
        "1 MARR\n2 DATE 1900\n"));
    EXPECT_EQ(to_json(view),
              R"({"xref":"@F1@","husband":"@I1@","wife":"@I2@","children":["@I3@","@I3@"],)"
              R"("events":[{"tag":"MARR","label":"Marriage","date":"1900","dateDisplay":"1900",)"
              R"("year":1900,"sortKey":19000000,"place":null,"age":null,"cause":null,)"
              R"("attribute":false,"value":null,"citations":[],"path":[6]}]})");
    EXPECT_EQ(view.partners(), (std::vector<std::string>{"@I1@", "@I2@"}));
}

TEST(views_families, only_the_first_partner_lines_count) {
    const FamilyView view =
        FamilyView::from_node(record_of("0 F\n1 HUSB\n1 HUSB @I9@\n1 WIFE @I2@\n"));
    EXPECT_FALSE(view.husband.has_value());
    EXPECT_EQ(view.xref, "");
    EXPECT_EQ(view.partners(), (std::vector<std::string>{"@I2@"}));
}

// ---- The corpus ------------------------------------------------------------------------------

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expect_json(const std::string& json, const std::vector<std::string>& keys,
                 const std::string& where) {
    JsonCheck check(json);
    EXPECT_TRUE(check.well_formed()) << where;
    EXPECT_EQ(check.top_keys(), keys) << where;
}

TEST(views_corpus, every_record_gives_well_formed_views) {
    const fs::path folder(LIGNOR_CORPUS_DIR);
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no corpus at " << folder;
    const std::vector<std::string> record_keys{"xref",  "tag",        "label",
                                               "title", "structures", "raw"};
    const std::vector<std::string> individual_keys{"xref",      "names",   "sex",
                                                   "events",    "childIn", "partnerIn",
                                                   "citations", "media",   "identifiers"};
    const std::vector<std::string> family_keys{"xref", "husband", "wife", "children", "events"};
    int records = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".ged" && extension != ".GED") continue;
        auto loaded = Document::from_bytes(slurp(entry.path()));
        if (!loaded) continue;
        const std::string name = entry.path().filename().string();
        for (const Node& record : loaded->document.records) {
            const RecordView view = RecordView::from_node(record);
            expect_json(to_json(view), record_keys, name);
            EXPECT_EQ(view.raw, raw_lines(record));
            if (record.tag() == "INDI") {
                expect_json(to_json(IndividualView::from_node(record)), individual_keys, name);
            }
            if (record.tag() == "FAM") {
                expect_json(to_json(FamilyView::from_node(record)), family_keys, name);
            }
            ++records;
        }
    }
    EXPECT_GT(records, 0);
}

}  // namespace
}  // namespace lignor
