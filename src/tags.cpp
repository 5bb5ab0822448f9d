// The fixed vocabulary: the label table, the event, attribute and record
// sets, the perfect-hash lookup built from them at compile time, and the
// pedigree words.
#include "tags.hpp"

#include <algorithm>
#include <array>
#include <functional>

#include "unicode.hpp"

namespace lignor::tags {
namespace {

using namespace std::string_view_literals;

using Labelled = LabelledTag;

// Sorted by tag bytes, so `_UID` comes last; the lookups below rely on it.
constexpr auto labels = std::to_array<Labelled>({
    {"ABBR", "Abbreviation"},
    {"ADDR", "Address"},
    {"ADOP", "Adoption"},
    {"ADR1", "Address line 1"},
    {"ADR2", "Address line 2"},
    {"ADR3", "Address line 3"},
    {"AGE", "Age"},
    {"AGNC", "Agency"},
    {"ALIA", "Also recorded as"},
    {"ANCI", "Ancestor interest"},
    {"ANUL", "Annulment"},
    {"ASSO", "Association"},
    {"AUTH", "Author"},
    {"BAPL", "Baptism (LDS)"},
    {"BAPM", "Baptism"},
    {"BARM", "Bar mitzvah"},
    {"BASM", "Bat mitzvah"},
    {"BIRT", "Birth"},
    {"BLES", "Blessing"},
    {"BURI", "Burial"},
    {"CALN", "Call number"},
    {"CAST", "Caste"},
    {"CAUS", "Cause"},
    {"CENS", "Census"},
    {"CHAN", "Last changed"},
    {"CHAR", "Character set"},
    {"CHIL", "Child"},
    {"CHR", "Christening"},
    {"CHRA", "Adult christening"},
    {"CITY", "City"},
    {"CONC", "Continued"},
    {"CONF", "Confirmation"},
    {"CONL", "Confirmation (LDS)"},
    {"CONT", "Continued on a new line"},
    {"COPR", "Copyright"},
    {"CORP", "Corporation"},
    {"CREA", "Created"},
    {"CREM", "Cremation"},
    {"CROP", "Crop"},
    {"CTRY", "Country"},
    {"DATA", "Data"},
    {"DATE", "Date"},
    {"DEAT", "Death"},
    {"DESI", "Descendant interest"},
    {"DEST", "Destination"},
    {"DIV", "Divorce"},
    {"DIVF", "Divorce filed"},
    {"DSCR", "Physical description"},
    {"EDUC", "Education"},
    {"EMAIL", "Email"},
    {"EMIG", "Emigration"},
    {"ENDL", "Endowment (LDS)"},
    {"ENGA", "Engagement"},
    {"EVEN", "Event"},
    {"EXID", "External identifier"},
    {"FACT", "Fact"},
    {"FAM", "Family"},
    {"FAMC", "Child in family"},
    {"FAMS", "Spouse in family"},
    {"FAX", "Fax"},
    {"FCOM", "First communion"},
    {"FILE", "File"},
    {"FONE", "Phonetic form"},
    {"FORM", "Format"},
    {"GEDC", "GEDCOM version"},
    {"GIVN", "Given name"},
    {"GRAD", "Graduation"},
    {"HEAD", "Header"},
    {"HEIG", "Height"},
    {"HEIGHT", "Height"},
    {"HUSB", "Husband"},
    {"IDNO", "Identifying number"},
    {"IMMI", "Immigration"},
    {"INDI", "Individual"},
    {"INIL", "Initiatory"},
    {"LANG", "Language"},
    {"LATI", "Latitude"},
    {"LEFT", "Crop from the left"},
    {"LONG", "Longitude"},
    {"MAP", "Coordinates"},
    {"MARB", "Marriage banns"},
    {"MARC", "Marriage contract"},
    {"MARL", "Marriage licence"},
    {"MARR", "Marriage"},
    {"MARS", "Marriage settlement"},
    {"MEDI", "Medium"},
    {"MIME", "Media type"},
    {"NAME", "Name"},
    {"NATI", "Nationality"},
    {"NATU", "Naturalization"},
    {"NCHI", "Number of children"},
    {"NICK", "Nickname"},
    {"NMR", "Number of marriages"},
    {"NO", "Did not happen"},
    {"NOTE", "Note"},
    {"NPFX", "Name prefix"},
    {"NSFX", "Name suffix"},
    {"OBJE", "Media object"},
    {"OCCU", "Occupation"},
    {"ORDN", "Ordination"},
    {"PAGE", "Where in the source"},
    {"PEDI", "Pedigree"},
    {"PHON", "Telephone"},
    {"PHRASE", "As written"},
    {"PLAC", "Place"},
    {"POST", "Postal code"},
    {"PROB", "Probate"},
    {"PROP", "Property"},
    {"PUBL", "Publication"},
    {"QUAY", "Certainty"},
    {"REFN", "Reference number"},
    {"RELA", "Relationship"},
    {"RELI", "Religion"},
    {"REPO", "Repository"},
    {"RESI", "Residence"},
    {"RESN", "Restriction"},
    {"RETI", "Retirement"},
    {"RIN", "Record identifier"},
    {"ROLE", "Role"},
    {"ROMN", "Romanized form"},
    {"SCHMA", "Extension declarations"},
    {"SDATE", "Sort date"},
    {"SEX", "Sex"},
    {"SLGC", "Sealing to parents (LDS)"},
    {"SLGS", "Sealing to spouse (LDS)"},
    {"SNOTE", "Shared note"},
    {"SOUR", "Source"},
    {"SPFX", "Surname prefix"},
    {"SSN", "Social security number"},
    {"STAE", "State"},
    {"STAT", "Status"},
    {"SUBM", "Submitter"},
    {"SUBN", "Submission"},
    {"SURN", "Surname"},
    {"TAG", "Extension tag"},
    {"TEMP", "Temple"},
    {"TEXT", "Text from the source"},
    {"TIME", "Time"},
    {"TITL", "Title"},
    {"TOP", "Crop from the top"},
    {"TRAN", "Translation"},
    {"TRLR", "End of file"},
    {"TYPE", "Type"},
    {"UID", "Unique identifier"},
    {"VERS", "Version"},
    {"WIDTH", "Width"},
    {"WIFE", "Wife"},
    {"WILL", "Will"},
    {"WWW", "Web address"},
    {"_UID", "Unique identifier"},
});

constexpr std::array event_tags{
    "ADOP"sv, "ANUL"sv, "BAPM"sv, "BARM"sv, "BASM"sv, "BIRT"sv, "BLES"sv, "BURI"sv,
    "CENS"sv, "CHR"sv,  "CHRA"sv, "CONF"sv, "CREM"sv, "DEAT"sv, "DIV"sv,  "DIVF"sv,
    "EMIG"sv, "ENGA"sv, "EVEN"sv, "FCOM"sv, "GRAD"sv, "IMMI"sv, "MARB"sv, "MARC"sv,
    "MARL"sv, "MARR"sv, "MARS"sv, "NATU"sv, "ORDN"sv, "PROB"sv, "RETI"sv, "WILL"sv,
};

constexpr std::array attribute_tags{
    "CAST"sv, "DSCR"sv, "EDUC"sv, "FACT"sv, "IDNO"sv, "NATI"sv, "NCHI"sv,
    "NMR"sv,  "OCCU"sv, "PROP"sv, "RELI"sv, "RESI"sv, "SSN"sv,  "TITL"sv,
};

constexpr std::array record_tags{
    "FAM"sv,   "HEAD"sv, "INDI"sv, "NOTE"sv, "OBJE"sv, "REPO"sv,
    "SNOTE"sv, "SOUR"sv, "SUBM"sv, "SUBN"sv, "TRLR"sv,
};

// True when every element is strictly before the next, which binary search needs.
template <typename Range, typename Projection = std::identity>
constexpr bool strictly_ascending(const Range& range, Projection key = {}) {
    return std::ranges::adjacent_find(range, std::greater_equal{}, key) == std::ranges::end(range);
}

static_assert(labels.size() == 150 && strictly_ascending(labels, &Labelled::tag));
static_assert(event_tags.size() == 32 && strictly_ascending(event_tags));
static_assert(attribute_tags.size() == 14 && strictly_ascending(attribute_tags));
static_assert(record_tags.size() == 11 && strictly_ascending(record_tags));

// The six pedigree words, each recognised in three spellings.
struct PedigreeWord {
    std::string_view lower;
    std::string_view shown;
    std::string_view upper;
};

constexpr auto pedigree_words = std::to_array<PedigreeWord>({
    {"birth", "Birth", "BIRTH"},
    {"adopted", "Adopted", "ADOPTED"},
    {"foster", "Foster", "FOSTER"},
    {"sealing", "Sealing", "SEALING"},
    {"step", "Step", "STEP"},
    {"other", "Other", "OTHER"},
});

// Every view asks several questions of every tag, so the vocabulary is also
// kept as an open-addressed hash table built at compile time: one probe,
// usually, answers all of them.
struct Known {
    std::string_view tag;
    std::string_view label;
    bool event = false;
    bool attribute = false;
    bool record = false;
};

constexpr std::uint32_t hash_of(std::string_view tag) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (char c : tag) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

constexpr std::size_t slot_count = 512;  // a power of two, well over 150

template <std::size_t N>
constexpr bool listed(const std::array<std::string_view, N>& tags, std::string_view tag) {
    return std::ranges::find(tags, tag) != tags.end();
}

constexpr auto known_table = [] {
    std::array<Known, slot_count> slots{};
    for (const Labelled& entry : labels) {
        std::size_t slot = hash_of(entry.tag) & (slot_count - 1);
        while (!slots[slot].tag.empty()) slot = (slot + 1) & (slot_count - 1);
        slots[slot] = {entry.tag, entry.label, listed(event_tags, entry.tag),
                       listed(attribute_tags, entry.tag), listed(record_tags, entry.tag)};
    }
    return slots;
}();

// Every event, attribute and record tag has a label, so the table holds them all.
static_assert(std::ranges::all_of(event_tags, [](auto t) {
    return std::ranges::binary_search(labels, t, {}, &Labelled::tag);
}));
static_assert(std::ranges::all_of(attribute_tags, [](auto t) {
    return std::ranges::binary_search(labels, t, {}, &Labelled::tag);
}));
static_assert(std::ranges::all_of(record_tags, [](auto t) {
    return std::ranges::binary_search(labels, t, {}, &Labelled::tag);
}));

const Known* find_known(std::string_view tag) noexcept {
    if (tag.empty()) return nullptr;
    std::size_t slot = hash_of(tag) & (slot_count - 1);
    while (!known_table[slot].tag.empty()) {
        if (known_table[slot].tag == tag) return &known_table[slot];
        slot = (slot + 1) & (slot_count - 1);
    }
    return nullptr;
}

}  // namespace

std::string_view to_string(TagKind kind) noexcept {
    switch (kind) {
        case TagKind::Record:
            return "record";
        case TagKind::Event:
            return "event";
        case TagKind::Attribute:
            return "attribute";
        case TagKind::Structure:
            return "structure";
        case TagKind::Unknown:
            break;
    }
    return "unknown";
}

std::span<const LabelledTag> labelled_tags() noexcept {
    return labels;
}

std::optional<std::string_view> label(std::string_view tag) noexcept {
    const Known* known = find_known(tag);
    if (!known) return std::nullopt;
    return known->label;
}

bool is_event(std::string_view tag) noexcept {
    const Known* known = find_known(tag);
    return known && known->event;
}
bool is_attribute(std::string_view tag) noexcept {
    const Known* known = find_known(tag);
    return known && known->attribute;
}

TagKind kind(std::string_view tag, bool nested) noexcept {
    const Known* known = find_known(tag);
    if (!nested) return known && known->record ? TagKind::Record : TagKind::Unknown;
    if (!known) return TagKind::Unknown;
    if (known->event) return TagKind::Event;
    if (known->attribute) return TagKind::Attribute;
    return TagKind::Structure;
}

std::string_view pedigree_label(std::string_view value) {
    const std::string_view trimmed = unicode::trim(value);
    for (const PedigreeWord& word : pedigree_words) {
        if (trimmed == word.lower || trimmed == word.shown || trimmed == word.upper) {
            return word.shown;
        }
    }
    return trimmed;
}

}  // namespace lignor::tags
