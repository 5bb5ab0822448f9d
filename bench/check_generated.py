#!/usr/bin/python3
"""Checks that the generator's files read with the library and say the same thing.

    check_generated.py BUILD/bench/parse_rss [--size-mb 4]

Writes the same records in UTF-8, ANSEL and UTF-16 LE into a temporary
folder, reads each with parse_rss and writes it back as UTF-8 (to_bytes).
The UTF-8 file must come back byte for byte; the UTF-16 one must come back
as exactly the UTF-8 file; the ANSEL one as the UTF-8 file with its letters
decomposed (ANSEL has combining marks, no precomposed letters). Every read
must report no undecodable bytes.
"""

import argparse
import pathlib
import subprocess
import sys
import tempfile
import unicodedata

import generate_gedcom


def read_back(parse_rss, source, written):
    run = subprocess.run(
        [parse_rss, str(source), "--write", str(written)], capture_output=True, text=True
    )
    if run.returncode != 0:
        sys.exit(f"{source.name} did not read: {run.stderr.strip()}")
    print(run.stdout.strip())
    if "undecodable" in run.stdout:
        sys.exit(f"{source.name}: the library found undecodable bytes")
    return written.read_bytes()


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("parse_rss")
    parser.add_argument("--size-mb", type=float, default=4)
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        results = {}
        for encoding, factor in (("utf8", 1), ("ansel", 1), ("utf16le", 2)):
            source = folder / f"{encoding}.ged"
            generate_gedcom.generate(
                args.size_mb * factor, encoding, source, generate_gedcom.DEFAULT_SEED
            )
            results[encoding] = read_back(args.parse_rss, source, folder / f"{encoding}.out")
        utf8_file = (folder / "utf8.ged").read_bytes()
        failures = []
        if results["utf8"] != utf8_file:
            failures.append("the UTF-8 file does not come back byte for byte")
        if results["utf16le"] != utf8_file:
            failures.append("the UTF-16 file does not read as the UTF-8 file")
        decomposed = unicodedata.normalize("NFD", utf8_file.decode("utf-8")).encode("utf-8")
        if results["ansel"] != decomposed:
            failures.append("the ANSEL file does not read as the decomposed UTF-8 file")
    if failures:
        sys.exit("\n".join(failures))
    print("all three encodings read back as the same records")


if __name__ == "__main__":
    main(sys.argv[1:])
