// Date reading speed over a few thousand realistic DATE payloads in many
// spellings, generated deterministically: the GEDCOM grammar in upper case,
// foreign keywords and month names, numeric dates, dual years, eras, phrases
// and calendar escapes, in roughly the mix a large family file holds.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dates.hpp"

namespace {

// A small fixed-seed generator, so that every run reads the same dates.
class Lcg {
  public:
    std::uint32_t next(std::uint32_t bound) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33) % bound;
    }

  private:
    std::uint64_t state_ = 0x5EEDDA7E;
};

constexpr std::array<std::string_view, 12> gedcom_months = {
    "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr std::array<std::string_view, 12> foreign_months = {
    "janvier", "Februar", "marzo",      "avril",   "mei",      "juni",
    "juillet", "août",    "septiembre", "Oktober", "novembre", "décembre"};
constexpr std::array<std::string_view, 12> english_months = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

std::string point(Lcg& random) {
    const auto year = std::to_string(1550 + random.next(460));
    const auto month = random.next(12);
    const auto day = std::to_string(1 + random.next(28));
    switch (random.next(12)) {
        case 0:
            return year;
        case 1:
            return std::string(gedcom_months[month]) + " " + year;
        case 2:
            return day + " " + std::string(foreign_months[month]) + " " + year;
        case 3:
            return std::string(english_months[month]) + " " + day + ", " + year;
        case 4:
            return day + "." + std::to_string(month + 1) + "." + year;
        case 5:
            return year + "-0" + std::to_string(1 + month % 9) + "-" + day;
        case 6:
            return day + " " + std::string(gedcom_months[month]) + " " + year + "/" +
                   std::to_string(random.next(9)) + "1";
        default:
            return day + " " + std::string(gedcom_months[month]) + " " + year;
    }
}

std::string date(Lcg& random) {
    constexpr std::array<std::string_view, 10> qualifiers = {
        "ABT ", "BEF ", "AFT ", "CAL ", "EST ", "abt. ", "ca. ", "circa ", "vor ", "après "};
    switch (random.next(16)) {
        case 0:
            return std::string(qualifiers[random.next(qualifiers.size())]) + point(random);
        case 1:
            return "BET " + point(random) + " AND " + point(random);
        case 2:
            return "FROM " + point(random) + " TO " + point(random);
        case 3:
            return "INT " + point(random) + " (from the parish register)";
        case 4:
            return "@#DJULIAN@ " + point(random);
        case 5:
            return std::to_string(100 + random.next(400)) + " B.C.";
        case 6:
            return "entre " + point(random) + " et " + point(random);
        case 7:
            return "sometime before the war";
        case 8:
        case 9:
            return "ABT " + point(random);
        default:
            return point(random);
    }
}

std::vector<std::string> realistic_dates() {
    Lcg random;
    std::vector<std::string> dates;
    for (int i = 0; i < 4096; ++i) dates.push_back(date(random));
    return dates;
}

void BM_parse_date(benchmark::State& state) {
    const std::vector<std::string> dates = realistic_dates();
    for (auto _ : state) {
        for (const std::string& text : dates)
            benchmark::DoNotOptimize(lignor::GedcomDate::parse(text));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(dates.size()));
}
BENCHMARK(BM_parse_date);

// Only the plain GEDCOM grammar ("5 JAN 1900"), the common case.
void BM_parse_gedcom_exact(benchmark::State& state) {
    Lcg random;
    std::vector<std::string> dates;
    for (int i = 0; i < 4096; ++i)
        dates.push_back(std::to_string(1 + random.next(28)) + " " +
                        std::string(gedcom_months[random.next(12)]) + " " +
                        std::to_string(1600 + random.next(400)));
    for (auto _ : state) {
        for (const std::string& text : dates)
            benchmark::DoNotOptimize(lignor::GedcomDate::parse(text));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(dates.size()));
}
BENCHMARK(BM_parse_gedcom_exact);

void BM_write_dates(benchmark::State& state) {
    std::vector<lignor::GedcomDate> dates;
    for (const std::string& text : realistic_dates())
        dates.push_back(lignor::GedcomDate::parse(text));
    for (auto _ : state) {
        for (const auto& date : dates) {
            benchmark::DoNotOptimize(date.display());
            benchmark::DoNotOptimize(date.to_gedcom_551());
            benchmark::DoNotOptimize(date.to_gedcom_7());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(dates.size()));
}
BENCHMARK(BM_write_dates);

}  // namespace

BENCHMARK_MAIN();
