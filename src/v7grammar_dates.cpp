// Version 7's dates: the date value, period and exact date of its ABNF, each
// date held to its calendar (the appendix's months and epochs, from the
// generated tables, and the days of each month), with a shortcut for the
// shapes most dates have.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "ascii.hpp"
#include "v7grammar.hpp"
#include "v7grammar_parts.hpp"

namespace lignor::v7 {
namespace {

using parts::all_digits;
using parts::Words;
using parts::WordSpan;
using v7table::Payload;

// A word of up to eight bytes as one number, for comparing the short words
// of dates (calendars, months) without a call; 0 for a longer word.
std::uint64_t packed(std::string_view word) noexcept {
    if (word.size() > 8) return 0;
    std::uint64_t value = 0;
    for (std::size_t at = 0; at < word.size(); ++at)
        value |= std::uint64_t{static_cast<unsigned char>(word[at])} << (8 * at);
    return value;
}

// The standard calendars with their months packed, built once from the
// generated tables. A date without a calendar word is Gregorian: the first.
enum class MonthLengths : std::uint8_t { Gregorian, Julian, Thirty };

struct PackedCalendar {
    const v7table::Calendar* calendar;
    MonthLengths lengths;
    std::vector<std::uint64_t> months;
};

// The Gregorian and Julian months by their leap years; any month of the
// others 30 days, as the standard's own date file writes them (days up to
// 30 in the Hebrew calendar's lunar months and in the French Republican
// complementary days alike).
MonthLengths lengths_of(std::string_view calendar) noexcept {
    if (calendar == "GREGORIAN") return MonthLengths::Gregorian;
    if (calendar == "JULIAN") return MonthLengths::Julian;
    return MonthLengths::Thirty;
}

const std::vector<PackedCalendar>& packed_calendars() noexcept {
    static const std::vector<PackedCalendar> all = [] {
        std::vector<PackedCalendar> out;
        for (const v7table::Calendar& calendar : v7table::calendars()) {
            PackedCalendar& entry =
                out.emplace_back(PackedCalendar{&calendar, lengths_of(calendar.name), {}});
            for (const std::string_view month : calendar.months)
                entry.months.push_back(packed(month));
        }
        // The Gregorian calendar first: most dates name none.
        std::stable_partition(out.begin(), out.end(), [](const PackedCalendar& entry) {
            return entry.calendar->name == "GREGORIAN";
        });
        return out;
    }();
    return all;
}

const PackedCalendar* standard_calendar(std::string_view name) noexcept {
    for (const PackedCalendar& entry : packed_calendars())
        if (entry.calendar->name == name) return &entry;
    return nullptr;
}

bool is_calendar_word(std::string_view word) noexcept {
    return is_extension_tag(word) || standard_calendar(word) != nullptr;
}

// The position of `month` among the calendar's months, or none.
std::optional<std::size_t> month_index(const PackedCalendar& calendar,
                                       std::string_view month) noexcept {
    const std::uint64_t key = packed(month);
    for (std::size_t at = 0; key != 0 && at < calendar.months.size(); ++at)
        if (calendar.months[at] == key) return at;
    return std::nullopt;
}

// A month of some standard calendar: what an extension calendar may use
// besides extension months.
bool is_standard_month(std::string_view month) noexcept {
    return std::ranges::any_of(packed_calendars(), [&](const PackedCalendar& calendar) {
        return month_index(calendar, month).has_value();
    });
}

// The number `digits` stands for, up to a bound past any day of a month.
std::uint32_t small_number(std::string_view digits) noexcept {
    std::uint32_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 1000) return 1000;
    }
    return value;
}

// The year as the proleptic calendars count it (1 BCE is 0), modulo 400:
// all that February's length depends on.
std::uint32_t astronomical_year_mod_400(std::string_view year, bool before_common_era) noexcept {
    std::uint32_t value = 0;
    for (const char c : year) value = (value * 10 + static_cast<std::uint32_t>(c - '0')) % 400;
    return before_common_era ? (401 - value) % 400 : value;
}

// The most days month number `month` (0-based, in the appendix's order) of
// a standard calendar has in `year`.
std::uint32_t days_in_month(MonthLengths lengths, std::size_t month, std::string_view year,
                            bool before_common_era) noexcept {
    static constexpr std::array<std::uint8_t, 12> solar = {31, 28, 31, 30, 31, 30,
                                                           31, 31, 30, 31, 30, 31};
    if (lengths == MonthLengths::Thirty) return 30;
    if (month >= solar.size()) return 31;
    if (month != 1) return solar[month];
    const std::uint32_t y = astronomical_year_mod_400(year, before_common_era);
    const bool leap = y % 4 == 0 && (lengths == MonthLengths::Julian || y % 100 != 0 || y == 0);
    return leap ? 29 : 28;
}

constexpr std::string_view standard_prefix = "https://gedcom.io/terms/v7/";

// The standard word an extension tag is declared as, by the URI's `kind`
// ("cal-", "month-"): "_JOUR" declared with ".../v7/month-COMP" is COMP.
std::string_view declared_as(std::string_view tag, std::string_view kind,
                             Declarations declared) noexcept {
    if (declared.empty() || !is_extension_tag(tag)) return tag;
    const auto found = std::ranges::lower_bound(declared, tag, {}, &schema::Declaration::tag);
    if (found == declared.end() || found->tag != tag) return tag;
    const std::string_view uri = found->uri;
    if (!uri.starts_with(standard_prefix) || !uri.substr(standard_prefix.size()).starts_with(kind))
        return tag;
    return uri.substr(standard_prefix.size() + kind.size());
}

// Whether the words of one date, read as `part`, keep to its calendar.
bool keeps_to_calendar(const DatePart& part, Declarations declared) noexcept {
    if (!all_digits(part.year)) return false;
    const PackedCalendar* calendar =
        part.calendar.empty() ? &packed_calendars().front()
                              : standard_calendar(declared_as(part.calendar, "cal-", declared));
    if (calendar == nullptr) {
        // An extension calendar: any month of a standard calendar or an
        // extension month, BCE or an extension epoch.
        if (!is_extension_tag(part.calendar)) return false;
        return (part.month.empty() || is_standard_month(part.month) ||
                is_extension_tag(part.month)) &&
               (part.epoch.empty() || part.epoch == "BCE" || is_extension_tag(part.epoch));
    }
    const std::vector<std::string_view>& epochs = calendar->calendar->epochs;
    if (!part.epoch.empty() && std::ranges::find(epochs, part.epoch) == epochs.end()) return false;
    if (part.month.empty()) return true;
    const auto month = month_index(*calendar, declared_as(part.month, "month-", declared));
    if (!month) return false;
    return part.day == 0 ||
           part.day <= days_in_month(calendar->lengths, *month, part.year, !part.epoch.empty());
}

// date = [calendar D] [[day D] month D] year [D epoch]
bool read_part(WordSpan w, DatePart& out, Declarations declared) noexcept {
    if (w.empty() || w.size() > 5) return false;
    const bool may_have_calendar = w.size() > 1 && is_calendar_word(w.front());
    const bool may_have_epoch = w.size() > 1 && (w.back() == "BCE" || is_extension_tag(w.back()));
    for (const bool calendar : {true, false}) {
        if (calendar && !may_have_calendar) continue;
        for (const bool epoch : {true, false}) {
            if (epoch && !may_have_epoch) continue;
            const WordSpan rest =
                w.subspan(calendar ? 1 : 0, w.size() - (calendar ? 1 : 0) - (epoch ? 1 : 0));
            if (rest.empty() || rest.size() > 3) continue;
            DatePart part;
            part.calendar = calendar ? w.front() : std::string_view();
            part.epoch = epoch ? w.back() : std::string_view();
            part.year = rest.back();
            if (rest.size() >= 2) part.month = rest[rest.size() - 2];
            if (rest.size() == 3) {
                if (!all_digits(rest[0])) continue;
                part.day = small_number(rest[0]);
                if (part.day == 0) continue;
            }
            if (!keeps_to_calendar(part, declared)) continue;
            out = part;
            return true;
        }
    }
    return false;
}

// `first` date, the word `joint`, `second` date, for some place of the joint.
bool read_pair(WordSpan w, std::string_view joint, DateValue& out, Declarations declared) noexcept {
    for (std::size_t at = 1; at + 1 < w.size(); ++at) {
        if (w[at] == joint && read_part(w.first(at), out.first, declared) &&
            read_part(w.subspan(at + 1), out.second, declared))
            return true;
    }
    return false;
}

// DatePeriod = [ "TO" D date ] / "FROM" D date [ D "TO" D date ], on words.
bool read_period(WordSpan w, DateValue& out, Declarations declared) noexcept {
    if (w[0] == "TO") {
        out.form = DateForm::To;
        return read_part(w.subspan(1), out.first, declared);
    }
    if (w[0] != "FROM") return false;
    out.form = DateForm::From;
    if (read_part(w.subspan(1), out.first, declared)) return true;
    out.form = DateForm::FromTo;
    return read_pair(w.subspan(1), "TO", out, declared);
}

// The shapes most dates have, "D MON YEAR", "MON YEAR" and "YEAR" in the
// Gregorian calendar, read off the front of `text` without splitting it into
// words: the bytes read, up to a space or the end, or 0 where the text does
// not begin with one (it may still begin with a date of another shape).
std::size_t read_common_point(std::string_view text, DatePart& out) noexcept {
    const auto digits_from = [&](std::size_t at) {
        std::size_t end = at;
        while (end < text.size() && ascii::is_digit(text[end])) ++end;
        return end;
    };
    const auto is_month_at = [&](std::size_t at) {
        return at + 5 <= text.size() && text[at + 3] == ' ' && ascii::is_upper(text[at]);
    };
    DatePart part;
    std::size_t end = digits_from(0);
    if (end > 0 && end < text.size() && text[end] == ' ' && is_month_at(end + 1)) {
        part.day = small_number(text.substr(0, end));
        if (part.day == 0) return 0;
        part.month = text.substr(end + 1, 3);
        const std::size_t year_end = digits_from(end + 5);
        part.year = text.substr(end + 5, year_end - end - 5);
        end = year_end;
    } else if (end == 0 && is_month_at(0)) {
        part.month = text.substr(0, 3);
        end = digits_from(4);
        part.year = text.substr(4, end - 4);
    } else {
        part.year = text.substr(0, end);
    }
    if (end < text.size() && text[end] != ' ') return 0;
    if (!keeps_to_calendar(part, {})) return 0;
    out = part;
    return end;
}

bool read_common_date(std::string_view text, DatePart& out) noexcept {
    return !text.empty() && read_common_point(text, out) == text.size();
}

struct Keyword {
    std::string_view word;
    DateForm form;
};
constexpr std::array<Keyword, 5> single_date_keywords = {{
    {"AFT", DateForm::After},
    {"BEF", DateForm::Before},
    {"ABT", DateForm::About},
    {"CAL", DateForm::Calculated},
    {"EST", DateForm::Estimated},
}};

// Takes `word` and the space after it off the front of `text`: a compare
// of a size known when compiling, done without a call.
template <std::size_t N>
bool take_word(std::string_view& text, const char (&word)[N]) noexcept {
    constexpr std::size_t size = N - 1;
    if (text.size() <= size || text[size] != ' ' || std::memcmp(text.data(), word, size) != 0)
        return false;
    text.remove_prefix(size + 1);
    return true;
}

// `first` JOINT `second`, each of a common shape; `joint` has its spaces.
template <std::size_t N>
bool read_common_pair(std::string_view text, const char (&joint)[N], DateValue& out) noexcept {
    const std::size_t at = read_common_point(text, out.first);
    if (at == 0) return false;
    text.remove_prefix(at);
    constexpr std::size_t size = N - 1;
    if (text.size() <= size || std::memcmp(text.data(), joint, size) != 0) return false;
    return read_common_date(text.substr(size), out.second);
}

// A date value whose dates all have the common shapes, after any keyword:
// most of a file's dates, read without splitting the text into words. False
// says nothing: the text may still be a date value of another shape.
bool read_common_value(std::string_view text, Payload type, DateValue& out) noexcept {
    if (take_word(text, "FROM")) {
        out.form = DateForm::From;
        if (read_common_date(text, out.first)) return true;
        out.form = DateForm::FromTo;
        return read_common_pair(text, " TO ", out);
    }
    if (take_word(text, "TO")) {
        out.form = DateForm::To;
        return read_common_date(text, out.first);
    }
    if (type == Payload::DatePeriod) return false;
    if (take_word(text, "BET")) {
        out.form = DateForm::Between;
        return read_common_pair(text, " AND ", out);
    }
    out.form = DateForm::Date;
    if (text.size() > 4 && text[3] == ' ') {
        for (const Keyword& keyword : single_date_keywords) {
            if (std::memcmp(text.data(), keyword.word.data(), 3) == 0) {
                out.form = keyword.form;
                text.remove_prefix(4);
                break;
            }
        }
    }
    return read_common_date(text, out.first);
}

bool read_date_value(WordSpan w, DateValue& out, Declarations declared) noexcept {
    if (read_period(w, out, declared)) return true;
    if (w[0] == "BET") {
        out.form = DateForm::Between;
        return read_pair(w.subspan(1), "AND", out, declared);
    }
    for (const Keyword& keyword : single_date_keywords) {
        if (w[0] == keyword.word) {
            out.form = keyword.form;
            return read_part(w.subspan(1), out.first, declared);
        }
    }
    out.form = DateForm::Date;
    return read_part(w, out.first, declared);
}

}  // namespace

std::optional<DateValue> read_date(std::string_view text, Payload type,
                                   Declarations declared) noexcept {
    DateValue value;
    if (type == Payload::ExactDate ? read_common_date(text, value.first) && value.first.day != 0
                                   : read_common_value(text, type, value)) {
        if (type == Payload::ExactDate) value.form = DateForm::Date;
        return value;
    }
    return read_date_by_words(text, type, declared);
}

std::optional<DateValue> read_date_by_words(std::string_view text, Payload type,
                                            Declarations declared) noexcept {
    DateValue value;
    if (text.empty()) {
        if (type == Payload::ExactDate) return std::nullopt;
        return value;
    }
    Words<16> split;
    if (!split.split(text)) return std::nullopt;
    const WordSpan w = split.all();
    if (type == Payload::ExactDate) {
        // DateExact = day D month D year, in the Gregorian calendar.
        if (w.size() != 3 || !all_digits(w[0])) return std::nullopt;
        value.form = DateForm::Date;
        value.first = {{}, small_number(w[0]), w[1], w[2], {}};
        if (value.first.day == 0 || !keeps_to_calendar(value.first, {})) return std::nullopt;
        return value;
    }
    const bool read = type == Payload::DatePeriod ? read_period(w, value, declared)
                                                  : read_date_value(w, value, declared);
    if (!read) return std::nullopt;
    return value;
}

}  // namespace lignor::v7
