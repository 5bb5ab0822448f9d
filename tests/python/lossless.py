"""The nothing-lost check of a conversion, for tests: every logical value of
the input is found in the output's record of the same identifier (or in a
record the conversion added, which that record points to) —
unchanged, folded or split again (logical values join `CONT` and `CONC`
lines), moved to another structure, kept as a `PHRASE`, percent-encoded,
moved into an `INT` date or a parenthesized role descriptor, or in another
letter case — unless a note of that record names it: a `Dropped` note
naming its structure or one above it, or a `Converted` note quoting the
value, or naming the structure of an enumerated value it rewrote into words.

The text is read here, independently of the library: one line is a level,
an optional identifier, a tag and an optional payload after one space."""

import json
import re
import urllib.parse
from collections import defaultdict

_LINE = re.compile(r"\s*(\d+)\s+(?:(@[^@]+@)\s+)?(\S+)(?: (.*))?")
_INTERPRETED = re.compile(r"INT (.*?) \((.*)\)", re.S)
_ENUMERATED = re.compile(r"[A-Z][A-Z0-9_]*")


def structures(text):
    """(record identifier or None, tag path, logical value) of every
    structure with a payload, CONT and CONC lines joined into it."""
    found, stack, record = [], [], None
    for line in text.lstrip("\ufeff").split("\n"):
        match = _LINE.fullmatch(line)
        if not match:
            continue
        level, xref, tag, value = int(match[1]), match[2], match[3], match[4]
        del stack[level:]
        if level == 0:
            record = xref
        if tag in ("CONT", "CONC") and stack:
            parent = stack[-1]
            parent[2] = (parent[2] or "") + ("\n" if tag == "CONT" else "") + (value or "")
            stack.append([None, None, None])  # lines beneath a continuation belong nowhere
            continue
        above = stack[-1][1] if stack else None
        path = tag if level == 0 else above and f"{above}.{tag}"
        entry = [record, path, value]
        found.append(entry)
        stack.append(entry)
    return [tuple(entry) for entry in found if entry[1] and entry[2]]


def _norm(text):
    return urllib.parse.unquote(text).strip().casefold()


def _forms(value):
    """What an output value can stand for: itself, the parts of an INT date,
    the words of a role descriptor, a text whose leading @ was escaped."""
    yield value
    if match := _INTERPRETED.fullmatch(value):
        yield from match.groups()
    stripped = value.strip()
    if len(stripped) > 1 and stripped[0] == "(" and stripped[-1] == ")":
        yield stripped[1:-1]
    if value.startswith("@@"):
        yield value[1:]


def _named(record, path, value, notes):
    for note in notes.get(record, ()):
        if note["kind"] == "Dropped" and f".{note['tag']}." in f".{path}.":
            return True
        if note["kind"] == "Converted" and (
            json.dumps(value, ensure_ascii=False) in note["detail"]
            or (_ENUMERATED.fullmatch(value) and path.endswith(note["tag"]))
        ):
            return True
    return False


# The one value a conversion changes by definition: the declared version.
_DECLARED_VERSION = "HEAD.GEDC.VERS"


def _record_ids(text):
    return {
        m[2] for line in text.split("\n") if (m := _LINE.fullmatch(line)) and m[1] == "0" and m[2]
    }


def _reached(before, after):
    """For each record of `after`: itself and the records the conversion
    added that its pointers lead to, through added records too."""
    added = _record_ids(after) - _record_ids(before)
    points = defaultdict(set)
    for record, _, value in structures(after):
        if value in added:
            points[record].add(value)

    def reach(record):
        seen, todo = {record}, [record]
        while todo:
            for target in points[todo.pop()] - seen:
                seen.add(target)
                todo.append(target)
        return seen

    return reach


def lost(before, after, notes):
    """(record, tag path, value) of every logical value of the text `before`
    not found in the text `after` nor named by one of `notes` (note dicts as
    the conversion methods return them)."""
    found = defaultdict(set)
    for record, _, value in structures(after):
        found[record].update(_norm(form) for form in _forms(value))
    by_record = defaultdict(list)
    for note in notes:
        by_record[note["record"]].append(note)
    reach = _reached(before, after)
    for record in list(found):
        for added in reach(record) - {record}:
            found[record] |= found[added]
            by_record[record] += by_record[added]
    missing = []
    for record, path, value in structures(before):
        if path == _DECLARED_VERSION or _norm(value) in found[record]:
            continue
        stripped = value.strip()
        if stripped[:1] == "(" and stripped[-1:] == ")" and _norm(stripped[1:-1]) in found[record]:
            continue
        if value.startswith("@@") and _norm(value[1:]) in found[record]:
            continue  # an escaped text written where 5.5.1 needs no escape
        if not _named(record, path, value, by_record):
            missing.append((record, path, value))
    return missing
