#include "tags.hpp"

#include <algorithm>
#include <array>
#include <functional>

#include "unicode.hpp"

namespace lignor::tags {
namespace {

using namespace std::string_view_literals;

struct Labelled {
    std::string_view tag;
    std::string_view label;
};

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

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& sorted, std::string_view tag) noexcept {
    return std::ranges::binary_search(sorted, tag);
}

}  // namespace

std::string_view kind_text(TagKind kind) noexcept {
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

std::optional<std::string_view> label(std::string_view tag) noexcept {
    const auto found = std::ranges::lower_bound(labels, tag, {}, &Labelled::tag);
    if (found == labels.end() || found->tag != tag) return std::nullopt;
    return found->label;
}

bool is_event(std::string_view tag) noexcept {
    return contains(event_tags, tag);
}
bool is_attribute(std::string_view tag) noexcept {
    return contains(attribute_tags, tag);
}
bool is_record(std::string_view tag) noexcept {
    return contains(record_tags, tag);
}

TagKind kind(std::string_view tag, bool nested) noexcept {
    if (!nested) return is_record(tag) ? TagKind::Record : TagKind::Unknown;
    if (is_event(tag)) return TagKind::Event;
    if (is_attribute(tag)) return TagKind::Attribute;
    if (label(tag)) return TagKind::Structure;
    return TagKind::Unknown;
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
