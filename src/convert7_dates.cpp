// Dates in version 7's grammar: respelled where nothing is lost, 5.5.1's
// interpreted dates and date phrases with their words as a PHRASE, any
// other text kept whole as the PHRASE.
#include <optional>
#include <string>

#include "convert7_rules.hpp"
#include "dates.hpp"
#include "unicode.hpp"
#include "v7grammar.hpp"

namespace lignor::to7 {
namespace {

void note_respelled(const std::string& text, const std::string& written, Pass& pass) {
    pass.note("DATE", NoteKind::Converted,
              quoted(text) + " is version 7's date " + quoted(written) +
                  " spelled otherwise; nothing of it is lost, so no PHRASE keeps the original");
}

// The logical value of `date` when it may need rewriting: not blank, and not
// already in version 7's grammar (an exact date where `exact_only`), which
// stays exactly as written.
std::optional<std::string> date_text_to_rewrite(const Node& date, bool exact_only,
                                                const Pass& pass) {
    std::string text = date.logical_value();
    if (unicode::trim(text).empty()) return std::nullopt;
    const auto type = exact_only ? v7table::Payload::ExactDate : v7table::Payload::Date;
    if (v7::read_date(text, type, pass.declared)) return std::nullopt;
    return text;
}

// A DATE that version 7 types as an exact date: one that is such a date but
// for white space and letter case is respelled; any other is left as written.
Change exact_date_decision(std::string text, Pass& pass, Decision& decision) {
    const GedcomDate parsed = GedcomDate::parse(text);
    std::optional<std::string> written = parsed.to_gedcom_7();
    if (written && v7::read_date(*written, v7table::Payload::ExactDate) &&
        is_complete_reading(parsed))
        return keep(decision, Change::Rewrites, std::move(text), std::move(written));
    pass.note("DATE", NoteKind::Kept,
              quoted(text) +
                  " is not version 7's exact date (day, month and year), the only form a DATE "
                  "takes here, where no PHRASE may keep the original; it is left as written, "
                  "so the output is not valid version 7");
    return Change::None;
}

// 5.5.1's interpreted date "INT {date} ({phrase})" as the date in version 7's
// form with the phrase as its PHRASE, and 5.5.1's date phrase "({phrase})"
// as an empty DATE with the PHRASE; false for any other text.
bool interpreted_date_to_7(Node& date, const std::string& text, Pass& pass) {
    const std::optional<InterpretedDate> interpreted = read_interpreted_551(text);
    if (!interpreted || interpreted->phrase.empty()) return false;
    const std::optional<std::string> point =
        interpreted->date ? interpreted->date->to_gedcom_7() : std::string();
    if (!point) return false;
    date.set_logical_value(*point);
    append_phrase(date, escaped_phrase(interpreted->phrase));
    pass.note("DATE", NoteKind::Converted,
              interpreted->date
                  ? quoted(text) + " is 5.5.1's interpreted date: the date is kept as " +
                        quoted(*point) + ", and the words in its parentheses as a PHRASE"
                  : quoted(text) +
                        " is 5.5.1's date phrase: the DATE is left empty, and the words in its "
                        "parentheses are kept as a PHRASE");
    return true;
}

}  // namespace

// Whether a DATE needs rewriting into version 7's grammar, and how: a text
// whose reading loses nothing is respelled (Rewrites, with that reading);
// any other needs a PHRASE (AddsLines, with the reading if there is one).
Change decide_date(const Node& date, const Place& place, Pass& pass, Decision& decision) {
    const bool exact_only = place.facts && place.facts->payload == v7table::Payload::ExactDate;
    std::optional<std::string> text = date_text_to_rewrite(date, exact_only, pass);
    if (!text) return Change::None;
    if (exact_only) return exact_date_decision(std::move(*text), pass, decision);
    const GedcomDate parsed = GedcomDate::parse(*text);
    std::optional<std::string> written = parsed.to_gedcom_7();
    if (written == text) return Change::None;
    const bool complete = written && is_complete_reading(parsed);
    return keep(decision, complete ? Change::Rewrites : Change::AddsLines, std::move(*text),
                std::move(written));
}

// A DATE in version 7's grammar. A text whose reading loses nothing is
// respelled; 5.5.1's interpreted date and date phrase keep their words as a
// PHRASE; any other text is kept whole as the PHRASE, beside the reading it
// converted to (or an empty DATE), so that nothing of it is lost.
bool date_to_7(Node& date, Decision& decision, const Place& /*place*/, Pass& pass) {
    const std::string& text = decision.text;
    const std::optional<std::string>& written = decision.value;
    if (decision.change == Change::Rewrites) {
        date.set_logical_value(*written);
        note_respelled(text, *written, pass);
        return true;
    }
    if (date.first("PHRASE")) {
        pass.note("DATE", NoteKind::Kept,
                  quoted(text) +
                      " is not version 7's date grammar, but the DATE already has a PHRASE, so the "
                      "original cannot be kept beside a rewrite; it is left as it is");
        return false;
    }
    if (interpreted_date_to_7(date, text, pass)) return true;
    date.set_logical_value(written.value_or(""));
    append_phrase(date, escaped_phrase(text));
    pass.note("DATE", NoteKind::Converted,
              written ? quoted(text) +
                            " is not version 7's date grammar; the reading it converted to is kept "
                            "as the date, and the whole original as a PHRASE"
                      : "version 7's date grammar cannot hold " + quoted(text) +
                            "; the DATE is left empty and the whole original kept as a PHRASE");
    return true;
}

}  // namespace lignor::to7
