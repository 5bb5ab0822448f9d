"""A tour of lignor on one GEDCOM file.

Usage: tour.py [PATH]   (the bundled sample.ged when no path is given)

Prints how the bytes were read, the declared version, the number of
records, every pointer that leads nowhere, a few of the file's dates read
and rewritten for GEDCOM 5.5.1 and 7.0, the individuals with their birth
and death, the parents, children and partners of one person, the
plausibility findings, and whether the document written back as UTF-8
reproduces the file; then edits a copy (a person and a family appended
from dicts, one payload replaced, a long note wrapped for 5.5.1's line
limit) and prints the lines that changed; then converts the document to
GEDCOM 7.0, prints what the conversion did counted by kind and tag and
what the version 7 check finds in its text, converts that back to GEDCOM
5.5.1, prints those notes the same way, and says whether the round trip
kept every logical value of the file (checked with the test suite's
nothing-lost check when the source tree is at hand); last it packs the
version 7 text with a small media file into a GEDZIP archive, in a
temporary folder it removes afterwards, and measures the archive.
"""

from __future__ import annotations  # the stub's dict types exist for type checkers only

import collections
import difflib
import importlib
import pathlib
import struct
import sys
import tempfile
import zlib

import lignor


def main(argv: list[str]) -> int:
    path = (
        pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).with_name("sample.ged")
    )
    data = path.read_bytes()
    try:
        document = lignor.Gedcom.parse(data)
    except ValueError as refusal:
        print(f"{path}: refused: {refusal}")
        return 1

    print(f"File:      {path} ({len(data):,} bytes)")
    print(f"Encoding:  {document.encoding}")
    print(f"Version:   {document.version or 'unstated'}")
    print(f"Records:   {len(document)} (header and trailer not counted)")

    pointers = document.unresolved_pointers()
    print(f"Unresolved pointers: {len(pointers)}")
    for pointer in pointers:
        path_text = ".".join(str(i) for i in pointer["path"])
        print(f"  {pointer['record']} [{path_text}] {pointer['tag']} -> {pointer['pointer']}")

    show_dates(document)
    show_individuals(document)
    show_relatives(document)
    show_findings(document)

    written = document.to_bytes()
    if written == data:
        print("to_bytes(): reproduces the file byte for byte")
    else:
        text = document.to_text()
        same_text = written == text.encode("utf-8")
        change = (
            "line endings, empty lines or the encoding"
            if same_text
            else "the encoding, and the header's CHAR now says UTF-8"
        )
        print(f"to_bytes(): {len(written):,} bytes, not the file byte for byte: {change} changed")

    show_edits(data)
    converted = show_conversion(document)
    show_archive(converted.to_bytes())
    return 0


def show_edits(data: bytes) -> None:
    """Edits a fresh copy of the file and prints what changed, line by line."""
    document = lignor.Gedcom.parse(data)
    if (document.version or "").startswith("7"):
        print("Edits:     skipped (the scene wraps lines, which GEDCOM 7 has no limit for)")
        return
    before = document.to_text().splitlines()
    document.append_records(
        [
            {
                "xref": "@TOUR1@",
                "tag": "INDI",
                "children": [
                    {"tag": "NAME", "value": "Ada /Tour/"},
                    {"tag": "SEX", "value": "F"},
                    {
                        "tag": "BIRT",
                        "children": [
                            {"tag": "DATE", "value": "12 MAR 1901"},
                            {"tag": "PLAC", "value": "Uppsala, Sweden"},
                        ],
                    },
                    {"tag": "FAMS", "value": "@TOUR2@"},
                    {"tag": "NOTE"},
                ],
            },
            {"xref": "@TOUR2@", "tag": "FAM", "children": [{"tag": "WIFE", "value": "@TOUR1@"}]},
        ]
    )
    replaced = replace_first_name(document)
    long_note = " ".join(["A letter from the parish records, copied word for word."] * 8)
    document.set_logical_value("@TOUR1@", [4], long_note)
    wrapped = [line for line in document.wrap_long_lines(255) if line["wrapped"]]
    after = document.to_text().splitlines()
    print(
        f"Edits:     2 records appended, {1 + replaced} payload(s) replaced, {len(wrapped)} structure(s) "
        f"wrapped: {', '.join(w['record'] + ' ' + w['tag'] for w in wrapped) or 'none'}"
    )
    kept = 0
    for change, b0, b1, a0, a1 in difflib.SequenceMatcher(
        None, before, after, autojunk=False
    ).get_opcodes():
        if change == "equal":
            kept += b1 - b0
            continue
        for line in before[b0:b1]:
            print(f"  - {line}")
        for line in after[a0:a1]:
            print(f"  + {line[:76]}{'...' if len(line) > 76 else ''} ({len(line) + 1} bytes)")
    print(f"  {kept} of {len(before)} lines of the file unchanged byte for byte")


def replace_first_name(document: lignor.Gedcom) -> int:
    """Adds a middle name to the first individual's first NAME; 1 when done."""
    for person in document.individuals():
        record = document.record(person["xref"])
        name = next((s for s in record["structures"] if s["tag"] == "NAME"), None)
        if name and "/" in name["value"]:
            given, rest = name["value"].split("/", 1)
            document.set_logical_value(
                person["xref"], name["path"], f"{given.strip()} Erik /{rest}"
            )
            return 1
    return 0


def tiny_png() -> bytes:
    """A one-pixel PNG made on the spot, standing for a scanned photo."""

    def chunk(kind: bytes, body: bytes) -> bytes:
        return (
            struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        )

    header = struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"\x00\xc0\x90\x60")
    return (
        b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b"")
    )


def show_archive(dataset: bytes) -> None:
    """Packs a version 7 dataset and a media file into a GEDZIP archive, in a
    temporary folder removed afterwards, and measures the archive."""
    with tempfile.TemporaryDirectory(prefix="lignor-tour-") as folder:
        photo = pathlib.Path(folder, "photo.png")
        photo.write_bytes(tiny_png())
        archive_path = pathlib.Path(folder, "family.gdz")
        # The block removes the file if anything in it fails.
        with lignor.ArchiveFileWriter(archive_path) as writer:
            writer.add("gedcom.ged", dataset)
            writer.add_file("media/photo.png", photo)
            size = writer.finish()
        claimed = lignor.archive_total_size(archive_path.read_bytes())
    print(
        f"GEDZIP:    gedcom.ged (the GEDCOM 7.0 text) + media/photo.png: {size:,} bytes, "
        f"{claimed:,} bytes once extracted"
    )


def show_conversion(document: lignor.Gedcom, most: int = 20) -> lignor.Gedcom:
    """Converts the document to GEDCOM 7.0, checks that text against version
    7, then converts it back to 5.5.1; prints each conversion's notes counted
    by kind and tag, the check's problems by kind, and whether the round trip
    kept every logical value. Returns the version 7 document."""
    converted, notes = document.to_version7()
    show_notes(
        f"GEDCOM 7.0: {len(notes)} note(s), {len(converted.to_bytes()):,} bytes", notes, most
    )
    problems = converted.check_version7()
    kinds = collections.Counter(problem["kind"] for problem in problems)
    print(
        "Version 7 check of that text: "
        + (", ".join(f"{count} {kind}" for kind, count in kinds.most_common()) or "conforms")
        + (" (each named by a Kept note above)" if problems else "")
    )
    back, back_notes = converted.to_version551()
    show_notes(f"GEDCOM 5.5.1 again: {len(back_notes)} note(s)", back_notes, most)
    lost = values_lost(document.to_text(), back.to_text(), notes + back_notes)
    if lost is None:
        print("Round trip: not checked (the nothing-lost check lives in the source tree's tests)")
    elif not lost:
        print("Round trip: every logical value of the file kept, up to the rewrites the notes name")
    else:
        print(f"Round trip: {len(lost)} logical value(s) lost that no note names, first:")
        for record, path, value in lost[:5]:
            print(f"  {record or '(no identifier)'} {path}: {value[:60]!r}")
    return converted


def show_notes(title: str, notes: list[lignor.ConversionNote], most: int) -> None:
    counts = collections.Counter((note["kind"], note["tag"]) for note in notes)
    print(title + (f"; the {most} most frequent:" if len(counts) > most else ""))
    for (kind, tag), count in counts.most_common(most):
        print(f"  {count:5} {kind:<9} {tag}")


def values_lost(
    before: str, after: str, notes: list[lignor.ConversionNote]
) -> list[tuple[str | None, str, str]] | None:
    """The test suite's nothing-lost check of a conversion, or None when the
    tests are not beside this example."""
    tests = pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"
    if not (tests / "lossless.py").is_file():
        return None
    sys.path.insert(0, str(tests))
    lossless = importlib.import_module("lossless")
    lost: list[tuple[str | None, str, str]] = lossless.lost(before, after, notes)
    return lost


def show_dates(document: lignor.Gedcom, most: int = 6) -> None:
    """Reads the first few DATE payloads of the file and writes them for both versions."""
    dates = [
        line.split(" DATE ", 1)[1] for line in document.to_text().splitlines() if " DATE " in line
    ][:most]
    print(f"Dates (first {len(dates)}): as written -> display | 5.5.1 | 7.0")
    for text in dates:
        reading = lignor.parse_date(text)
        print(
            f"  {text!r} -> {reading['display']!r} | {reading['gedcom551']!r} | "
            f"{reading['gedcom7']!r}"
        )


def show_individuals(document: lignor.Gedcom, most: int = 20) -> None:
    """Each individual's display name with its first birth and death."""
    individuals = document.individuals()
    print(
        f"Individuals: {len(individuals)}" + (f" (first {most})" if len(individuals) > most else "")
    )
    for person in individuals[:most]:
        name = person["names"][0]["display"] if person["names"] else "(no name)"
        life = ", ".join(
            f"{label} {text}"
            for label, text in (
                ("born", event_text(person, "BIRT")),
                ("died", event_text(person, "DEAT")),
            )
            if text
        )
        print(f"  {person['xref'] or '(no identifier)'} {name}" + (f": {life}" if life else ""))


def event_text(person: lignor.IndividualView, tag: str) -> str | None:
    """The first `tag` event's date for display and its place, or None."""
    event = next((e for e in person["events"] if e["tag"] == tag), None)
    if event is None:
        return None
    parts = [event["dateDisplay"] or "undated"]
    if event["place"]:
        parts.append(f"in {event['place']}")
    return " ".join(parts)


def show_relatives(document: lignor.Gedcom) -> None:
    """Parents, children and partners of the first individual that has any."""
    for person in document.individuals():
        xref = person["xref"]
        relatives = {
            "parents": document.parents_of(xref),
            "children": document.children_of(xref),
            "partners": document.partners_of(xref),
        }
        if any(relatives.values()):
            print(f"Relatives of {xref}:")
            for kind, people in relatives.items():
                print(f"  {kind + ':':<10}{', '.join(people) or 'none'}")
            return
    print("Relatives: nobody in the file has any")


def show_findings(document: lignor.Gedcom, most: int = 20) -> None:
    """The plausibility findings, in the order validate() gives them."""
    findings = document.validate()
    print(f"Findings: {len(findings)}" + (f" (first {most})" if len(findings) > most else ""))
    for finding in findings[:most]:
        print(
            f"  {finding['record']} {finding['severity']} {finding['check']}: {finding['message']}"
        )


if __name__ == "__main__":
    sys.exit(main(sys.argv))
