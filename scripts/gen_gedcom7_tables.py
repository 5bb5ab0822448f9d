#!/usr/bin/env python3
"""Writes src/gedcom7_tables.inc from the GEDCOM 7 standard's machine-readable data.

The tables the library takes from GEDCOM 7 (which tag may stand under which
structure, how many times, with which payload type, and the values of each
enumeration set) are generated here rather than typed, so
they follow the standard's own files.

    scripts/gen_gedcom7_tables.py [--data DIR]           # rewrite the file
    scripts/gen_gedcom7_tables.py [--data DIR] --check   # exit 1 when stale

The data folder defaults to ../shared/gedcom7 beside the source tree; when it
is absent, --check exits with 77 (skipped).
"""

import argparse
import csv
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "src" / "gedcom7_tables.inc"
# The few value lists code checks itself against when compiling: small, so
# a header may hold them, where the large tables above have one home.
ENUMERATIONS_OUTPUT = ROOT / "src" / "gedcom7_enumerations.inc"
SKIPPED = 77
DATA_FILES = (
    "substructures.tsv",
    "payloads.tsv",
    "cardinalities.tsv",
    "enumerations.tsv",
    "enumerationsets.tsv",
    "standard/gedcom-6-appendix-calendars.md",
)

# (C++ array name, enumeration set URI): each becomes a sorted array of the
# payload texts of the set's values.
ENUMERATIONS = [
    ("medium_values", "https://gedcom.io/terms/v7/enumset-MEDI"),
    ("role_values", "https://gedcom.io/terms/v7/enumset-ROLE"),
]


def payload_text(value_uri):
    """`enum-WITN` is WITN, `enum-ADOP-HUSB` is HUSB, `.../v7/BIRT` is BIRT."""
    return value_uri.rsplit("/", 1)[-1].rsplit("-", 1)[-1]


def enumeration_values(data, set_uri):
    with open(data / "enumerationsets.tsv", newline="", encoding="utf-8") as tsv:
        rows = csv.DictReader(tsv, delimiter="\t")
        values = sorted({payload_text(row["value"]) for row in rows if row["set"] == set_uri})
    if not values:
        sys.exit(f"{set_uri}: no values in {data / 'enumerationsets.tsv'}")
    return values


TYPE_PREFIX = "https://gedcom.io/terms/v7/"


def short_type(uri):
    """A structure type without the common prefix; a record's parent is ""."""
    if uri and not uri.startswith(TYPE_PREFIX):
        sys.exit(f"{uri}: not a GEDCOM 7 structure type")
    return uri[len(TYPE_PREFIX) :]


def substructure_rows(data):
    with open(data / "substructures.tsv", newline="", encoding="utf-8") as tsv:
        rows = csv.DictReader(tsv, delimiter="\t")
        triples = sorted(
            (short_type(row["superstructure"]), row["tag"], short_type(row["structure"]))
            for row in rows
        )
    keys = [(parent, tag) for parent, tag, _ in triples]
    if len(set(keys)) != len(keys):
        sys.exit("substructures.tsv: a tag with two meanings under one structure")
    return triples


def substructure_table(data):
    triples = substructure_rows(data)
    lines = [
        "// substructures.tsv: (parent type, tag, structure type), sorted by parent",
        f"// and tag. Types are written without the prefix {TYPE_PREFIX};",
        '// the parent of a record is "".',
        "struct Substructure {",
        "    std::string_view parent;",
        "    std::string_view tag;",
        "    std::string_view type;",
        "};",
        f"inline constexpr std::array<Substructure, {len(triples)}> substructures = {{{{",
    ]
    lines.extend(f'    {{"{parent}", "{tag}", "{kind}"}},' for parent, tag, kind in triples)
    lines.append("}};")
    return lines


def read_rows(data, name):
    with open(data / name, newline="", encoding="utf-8") as tsv:
        return list(csv.DictReader(tsv, delimiter="\t"))


def short_payload(payload):
    """A pointer payload names its record type without the prefix."""
    if payload.startswith("@<") and payload.endswith(">@"):
        return f"@<{short_type(payload[2:-2])}>@"
    return payload


def payload_table(data):
    rows = sorted(
        (short_type(row["structure"]), short_payload(row["payload"]))
        for row in read_rows(data, "payloads.tsv")
        if row["payload"]
    )
    lines = [
        "// payloads.tsv: (structure type, payload type), sorted by structure type;",
        '// a type not listed has no payload. Pointers are "@<record type>@".',
        "struct PayloadRow {",
        "    std::string_view type;",
        "    std::string_view payload;",
        "};",
        f"inline constexpr std::array<PayloadRow, {len(rows)}> payloads = {{{{",
    ]
    lines.extend(f'    {{"{kind}", "{payload}"}},' for kind, payload in rows)
    lines.append("}};")
    return lines


def cardinality_table(data):
    rows = []
    for row in read_rows(data, "cardinalities.tsv"):
        low, high = row["cardinality"].strip("{}").split(":")
        rows.append(
            (
                short_type(row["superstructure"]),
                short_type(row["structure"]),
                int(low),
                0 if high == "M" else int(high),
            )
        )
    rows.sort()
    lines = [
        "// cardinalities.tsv: (parent type, structure type, least, most), sorted by",
        "// parent and structure type; most is 0 for many.",
        "struct CardinalityRow {",
        "    std::string_view parent;",
        "    std::string_view type;",
        "    std::uint8_t least;",
        "    std::uint8_t most;",
        "};",
        f"inline constexpr std::array<CardinalityRow, {len(rows)}> cardinalities = {{{{",
    ]
    lines.extend(
        f'    {{"{parent}", "{kind}", {low}, {high}}},' for parent, kind, low, high in rows
    )
    lines.append("}};")
    return lines


def enumeration_tables(data):
    uses = sorted(
        (short_type(row["structure"]), short_type(row["set"]))
        for row in read_rows(data, "enumerations.tsv")
    )
    values = sorted(
        {
            (short_type(row["set"]), payload_text(row["value"]))
            for row in read_rows(data, "enumerationsets.tsv")
        }
    )
    lines = [
        "// enumerations.tsv: (structure type, enumeration set), sorted by type.",
        "struct EnumerationUse {",
        "    std::string_view type;",
        "    std::string_view set;",
        "};",
        f"inline constexpr std::array<EnumerationUse, {len(uses)}> enumeration_uses = {{{{",
    ]
    lines.extend(f'    {{"{kind}", "{name}"}},' for kind, name in uses)
    lines.extend(
        [
            "}};",
            "// enumerationsets.tsv: (set, payload text of a value), sorted by set and value.",
            "struct EnumerationValue {",
            "    std::string_view set;",
            "    std::string_view value;",
            "};",
            f"inline constexpr std::array<EnumerationValue, {len(values)}> enumeration_values = {{{{",
        ]
    )
    lines.extend(f'    {{"{name}", "{value}"}},' for name, value in values)
    lines.append("}};")
    return lines


def payload_type_name(payload):
    """The C++ name of a payload type: `Pointer` for every pointer type, the
    URI's last piece otherwise (`type-Date#exact` is DateExact, `xsd:string`
    String)."""
    if payload.startswith("@<"):
        return "Pointer"
    if payload == "Y|<NULL>":
        return "YesOrNull"
    last = payload.rsplit("/", 1)[-1]
    pieces = last.removeprefix("type-").split("#")
    if pieces[0] in ("XMLSchema", "dcat"):
        pieces = pieces[1:]
    return "".join(piece[0].upper() + piece[1:] for piece in pieces)


def payload_type_table(data):
    uris = sorted({row["payload"] for row in read_rows(data, "payloads.tsv") if row["payload"]})
    named = sorted({(payload_type_name(uri), "" if uri.startswith("@<") else uri) for uri in uris})
    names = [name for name, _ in named]
    if len(set(names)) != len(names):
        sys.exit("payloads.tsv: two payload types with one name")
    lines = [
        "// payloads.tsv: every payload type, named after its URI (every pointer",
        "// type is Pointer, whose record type the payload table names).",
        "enum class PayloadType : std::uint8_t {",
    ]
    lines.extend(f"    {name}," for name in names)
    lines.extend(
        [
            "};",
            "struct PayloadTypeName {",
            "    std::string_view uri;",
            "    PayloadType type;",
            "};",
            f"inline constexpr std::array<PayloadTypeName, {len(named)}> payload_types = {{{{",
        ]
    )
    lines.extend(f'    {{"{uri}", PayloadType::{name}}},' for name, uri in named)
    lines.append("}};")
    return lines


def calendar_sections(data):
    """Each calendar of the appendix: its name, its months in order and its epochs."""
    text = (data / "standard/gedcom-6-appendix-calendars.md").read_text(encoding="utf-8")
    calendars = []
    for section in re.split(r"^### ", text, flags=re.M)[1:]:
        name = re.match(r"`([A-Z_]+)`", section)
        if not name:
            continue
        months = re.findall(r"^\|\s*`([A-Z0-9_]+)`\s*\|\s*`g7:month-", section, flags=re.M)
        same = re.search(r"same months as the (\w+) calendar", section)
        if not months and same:
            months = next(m for n, m, _ in calendars if n == same.group(1).upper())
        epochs = re.findall(r"epoch marker `(\w+)` is permitted", section)
        if not months:
            sys.exit(f"appendix: calendar {name.group(1)} has no months")
        calendars.append((name.group(1), months, epochs))
    if not calendars:
        sys.exit("appendix: no calendars")
    return calendars


def calendar_tables(data):
    calendars = calendar_sections(data)
    months = [(name, month) for name, ms, _ in calendars for month in ms]
    epochs = [(name, epoch) for name, _, es in calendars for epoch in es]
    lines = [
        "// The calendars of the appendix: each calendar's months in order, and",
        "// the epochs it permits.",
        "struct CalendarWord {",
        "    std::string_view calendar;",
        "    std::string_view word;",
        "};",
        f"inline constexpr std::array<CalendarWord, {len(months)}> calendar_months = {{{{",
    ]
    lines.extend(f'    {{"{name}", "{month}"}},' for name, month in months)
    lines.append("}};")
    lines.append(f"inline constexpr std::array<CalendarWord, {len(epochs)}> calendar_epochs = {{{{")
    lines.extend(f'    {{"{name}", "{epoch}"}},' for name, epoch in epochs)
    lines.append("}};")
    return lines


HEADER = [
    "// Generated by scripts/gen_gedcom7_tables.py from the GEDCOM 7 standard's",
    "// machine-readable files (extracted-files/ of the standard's repository,",
    "// FamilySearch/GEDCOM, Apache License 2.0): substructures.tsv,",
    "// payloads.tsv, cardinalities.tsv, enumerations.tsv and",
    "// enumerationsets.tsv, and from the appendix of calendars in the standard's",
    "// text. Do not edit by hand. Each array but the calendars' is sorted in",
    "// byte order, for binary search; a calendar's months keep their order.",
]


def generate(data):
    lines = list(HEADER)
    lines.extend(substructure_table(data))
    lines.extend(payload_table(data))
    lines.extend(cardinality_table(data))
    lines.extend(enumeration_tables(data))
    lines.extend(payload_type_table(data))
    lines.extend(calendar_tables(data))
    return "\n".join(lines) + "\n"


def generate_enumerations(data):
    lines = list(HEADER)
    for name, set_uri in ENUMERATIONS:
        values = enumeration_values(data, set_uri)
        lines.append(f"// {set_uri}")
        lines.append(f"inline constexpr std::array<std::string_view, {len(values)}> {name} = {{")
        lines.extend(f'    "{value}",' for value in values)
        lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=pathlib.Path, default=ROOT.parent / "shared" / "gedcom7")
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args()
    if not all((args.data / name).is_file() for name in DATA_FILES):
        if args.check:
            print(f"{args.data}: no GEDCOM 7 data, check skipped")
            return SKIPPED
        sys.exit(f"{args.data}: not every one of {', '.join(DATA_FILES)}")
    outputs = {
        OUTPUT: generate(args.data),
        ENUMERATIONS_OUTPUT: generate_enumerations(args.data),
    }
    if args.check:
        stale = [path for path, text in outputs.items() if not _current(path, text)]
        for path in stale:
            print(f"{path.relative_to(ROOT)} is out of date: run {pathlib.Path(__file__).name}")
        if not stale:
            print("the generated GEDCOM 7 tables are up to date")
        return 1 if stale else 0
    for path, text in outputs.items():
        path.write_text(text, encoding="utf-8")
    return 0


def _current(path, text):
    return path.is_file() and path.read_text(encoding="utf-8") == text


if __name__ == "__main__":
    sys.exit(main())
