#!/usr/bin/env python3
"""Writes what the library makes of every file of the corpus into a folder:
the version 7 check of the file itself, both conversions with their notes, the
round trip 5.5.1 -> 7 -> 5.5.1, and the check of the converted text. Two such
folders, made before and after a change, diff to exactly what it changed.

    PYTHONPATH=build/python /usr/bin/python3 scripts/corpus_outputs.py OUT [CORPUS]
"""
import json
import pathlib
import sys

import lignor


def dump(path: pathlib.Path, value: object) -> None:
    if isinstance(value, str):
        path.write_text(value, encoding="utf-8")
    else:
        path.write_text(json.dumps(value, indent=1, ensure_ascii=False) + "\n", encoding="utf-8")


def main() -> int:
    out = pathlib.Path(sys.argv[1])
    corpus = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "../shared/corpus")
    out.mkdir(parents=True, exist_ok=True)
    for source in sorted(corpus.iterdir()):
        if source.suffix.lower() != ".ged":
            continue
        try:
            document = lignor.Gedcom.parse(source.read_bytes())
        except ValueError as error:
            dump(out / f"{source.name}.refused", str(error) + "\n")
            continue
        stem = out / source.name
        dump(stem.with_name(source.name + ".check"), document.check_version7())
        seven, notes7 = document.to_version7()
        dump(stem.with_name(source.name + ".v7.ged"), seven.to_text())
        dump(stem.with_name(source.name + ".v7.notes"), notes7)
        dump(stem.with_name(source.name + ".v7.check"), seven.check_version7())
        back, notes551 = seven.to_version551()
        dump(stem.with_name(source.name + ".v7.551.ged"), back.to_text())
        dump(stem.with_name(source.name + ".v7.551.notes"), notes551)
        direct, notes_direct = document.to_version551()
        dump(stem.with_name(source.name + ".551.ged"), direct.to_text())
        dump(stem.with_name(source.name + ".551.notes"), notes_direct)
    return 0


if __name__ == "__main__":
    sys.exit(main())
