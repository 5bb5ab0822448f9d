"""A tour of lignor on one GEDCOM file.

Usage: tour.py [PATH]   (the bundled sample.ged when no path is given)

Prints how the bytes were read, the declared version, the number of
records, every pointer that leads nowhere, a few of the file's dates read
and rewritten for GEDCOM 5.5.1 and 7.0, and whether the document written
back as UTF-8 reproduces the file.
"""

import pathlib
import sys

import lignor


def main(argv):
    path = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).with_name("sample.ged")
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

    written = document.to_bytes()
    if written == data:
        print("to_bytes(): reproduces the file byte for byte")
    else:
        text = document.to_text()
        same_text = written == text.encode("utf-8")
        change = "line endings, empty lines or the encoding" if same_text else \
            "the encoding, and the header's CHAR now says UTF-8"
        print(f"to_bytes(): {len(written):,} bytes, not the file byte for byte: {change} changed")
    return 0


def show_dates(document, most=6):
    """Reads the first few DATE payloads of the file and writes them for both versions."""
    dates = [line.split(" DATE ", 1)[1] for line in document.to_text().splitlines()
             if " DATE " in line][:most]
    print(f"Dates (first {len(dates)}): as written -> display | 5.5.1 | 7.0")
    for text in dates:
        reading = lignor.parse_date(text)
        print(f"  {text!r} -> {reading['display']!r} | {reading['gedcom551']!r} | "
              f"{reading['gedcom7']!r}")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
