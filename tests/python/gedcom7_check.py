"""A conformance check of GEDCOM 7 text against the standard's machine-readable
data (which tag stands under which structure, cardinalities, payload types,
enumerations), for tests. `problems(text)` lists every departure found, each
as "line N: ..."; an empty list means the text conforms as far as the data
says. Extension structures are allowed anywhere and not examined.

The data folder is ../shared/gedcom7 beside the source tree, or
LIGNOR_GEDCOM7_DIR; `DATA.is_dir()` says whether the check can run."""

import csv
import functools
import os
import pathlib
import re
from collections import Counter, defaultdict

REPO = pathlib.Path(__file__).resolve().parents[2]
DATA = pathlib.Path(os.environ.get("LIGNOR_GEDCOM7_DIR", REPO.parent / "shared" / "gedcom7"))

V7 = "https://gedcom.io/terms/v7/"
XSD = "http://www.w3.org/2001/XMLSchema#"

# The payload grammars of grammar.abnf as regular expressions.
_INTEGER = r"[0-9]+"
_STD_TAG = r"[A-Z][A-Z0-9_]*"
_EXT_TAG = r"_[A-Z0-9_]+"
_TAG = f"(?:{_STD_TAG}|{_EXT_TAG})"
_CALENDAR = f"(?:GREGORIAN|JULIAN|FRENCH_R|HEBREW|{_EXT_TAG})"
_DATE = f"(?:{_CALENDAR} )?(?:(?:{_INTEGER} )?{_TAG} )?{_INTEGER}(?: (?:BCE|{_EXT_TAG}))?"
_DATE_PERIOD = f"(?:TO {_DATE}|FROM {_DATE}(?: TO {_DATE})?)?"
_DATE_RANGE = f"(?:BET {_DATE} AND {_DATE}|AFT {_DATE}|BEF {_DATE})"
_DATE_APPROX = f"(?:(?:ABT|CAL|EST) {_DATE})"
_DATE_VALUE = f"(?:{_DATE}|{_DATE_PERIOD}|{_DATE_RANGE}|{_DATE_APPROX})?"
_AGE_DURATION = (
    r"(?:[0-9]+y(?: [0-9]+m)?(?: [0-9]+w)?(?: [0-9]+d)?"
    r"|[0-9]+m(?: [0-9]+w)?(?: [0-9]+d)?|[0-9]+w(?: [0-9]+d)?|[0-9]+d)"
)
_NAME_STR = r"[^/\t\n]+"
_ALPHANUM = "[A-Za-z0-9]"
_LANGTAG = (
    r"(?:[A-Za-z]{2,3}(?:-[A-Za-z]{3}){0,3}|[A-Za-z]{4,8})(?:-[A-Za-z]{4})?"
    r"(?:-(?:[A-Za-z]{2}|[0-9]{3}))?"
    f"(?:-(?:{_ALPHANUM}{{5,8}}|[0-9]{_ALPHANUM}{{3}}))*"
    f"(?:-[0-9A-WYZa-wyz](?:-{_ALPHANUM}{{2,8}})+)*(?:-x(?:-{_ALPHANUM}{{1,8}})+)?"
)
_LANGUAGE = f"(?:{_LANGTAG}|x(?:-{_ALPHANUM}{{1,8}})+|i-[a-z]+|[a-z]{{2,3}}-[A-Za-z-]+)"
_TOKEN = r"[!#$%&'*+\-.0-9A-Z^_`a-z{|}~]+"
_MEDIA_TYPE = f'{_TOKEN}/{_TOKEN}(?:;{_TOKEN}=(?:{_TOKEN}|"[^"]*"))*'

GRAMMARS = {
    V7 + "type-Date": _DATE_VALUE,
    V7 + "type-Date#exact": f"{_INTEGER} {_STD_TAG} {_INTEGER}",
    V7 + "type-Date#period": _DATE_PERIOD,
    V7 + "type-Time": (r"(?:[0-9]|[01][0-9]|2[0-3]):[0-5][0-9]" r"(?::[0-5][0-9](?:\.[0-9]+)?)?Z?"),
    V7 + "type-Age": f"(?:(?:[<>] )?{_AGE_DURATION})?",
    V7 + "type-Name": f"{_NAME_STR}|(?:{_NAME_STR})?/(?:{_NAME_STR})?/(?:{_NAME_STR})?",
    V7 + "type-Latitude": r"[NS](?:90|[0-8]?[0-9])(?:\.[0-9]+)?",
    V7 + "type-Longitude": r"[EW](?:180|1[0-7][0-9]|0?[0-9]?[0-9])(?:\.[0-9]+)?",
    V7 + "type-TagDef": f"{_EXT_TAG} \\S+",
    XSD + "nonNegativeInteger": _INTEGER,
    XSD + "Language": _LANGUAGE,
    "http://www.w3.org/ns/dcat#mediaType": _MEDIA_TYPE,
    "Y|<NULL>": "Y?",
}
_POINTER = re.compile(r"@(?:[A-Z0-9_]+)@")
_LIST_DELIM = re.compile(r" *, *")
_EXT = re.compile(_EXT_TAG)


def _rows(name):
    with open(DATA / name, newline="", encoding="utf-8") as tsv:
        return list(csv.DictReader(tsv, delimiter="\t"))


def _payload_text(value_uri):
    return value_uri.rsplit("/", 1)[-1].rsplit("-", 1)[-1]


@functools.lru_cache(maxsize=None)
def _tables():
    types = {
        (row["superstructure"], row["tag"]): row["structure"] for row in _rows("substructures.tsv")
    }
    cardinalities = defaultdict(dict)
    for row in _rows("cardinalities.tsv"):
        low, high = row["cardinality"].strip("{}").split(":")
        cardinalities[row["superstructure"]][row["structure"]] = (
            int(low),
            None if high == "M" else int(high),
        )
    payloads = {row["structure"]: row["payload"] for row in _rows("payloads.tsv")}
    sets = defaultdict(set)
    for row in _rows("enumerationsets.tsv"):
        sets[row["set"]].add(_payload_text(row["value"]))
    enumerations = {row["structure"]: sets[row["set"]] for row in _rows("enumerations.tsv")}
    return types, cardinalities, payloads, enumerations


class Structure:
    def __init__(self, line, xref, tag, payload):
        self.line, self.xref, self.tag, self.payload = line, xref, tag, payload
        self.children = []
        self.type = None


_LINE = re.compile(r"(0|[1-9][0-9]*) (?:(@[^@ ]+@) )?([A-Za-z0-9_]+)(?: (.*))?")


def _parse(text):
    """Records as trees; CONT lines joined into their parent's payload."""
    records, stack, faults = [], [], []
    for number, line in enumerate(text.lstrip("\ufeff").splitlines(), 1):
        if not line:
            continue
        match = _LINE.fullmatch(line)
        if not match:
            faults.append(f"line {number}: not a GEDCOM line")
            continue
        level = int(match[1])
        if level > len(stack):
            faults.append(f"line {number}: level {level} skips a level")
            continue
        del stack[level:]
        if match[3] == "CONT" and stack:
            parent = stack[-1]
            parent.payload = (parent.payload or "") + "\n" + (match[4] or "")
            stack.append(Structure(number, None, "CONT", match[4]))
            continue
        node = Structure(number, match[2], match[3], match[4])
        (stack[-1].children if stack else records).append(node)
        stack.append(node)
    return records, faults


def _payload_problem(node, payload_type, enumeration, record_types):
    value = node.payload
    if not payload_type:
        return None if value is None else "has a payload where none is defined"
    if payload_type.startswith("@<"):
        wanted = payload_type[2:-2]
        if value == "@VOID@":
            return None
        if value is None or not _POINTER.fullmatch(value):
            return f"payload {value!r} is not a pointer"
        found = record_types.get(value)
        return None if found == wanted else f"points to {value}, not a record of type {wanted}"
    if payload_type == "Y|<NULL>":
        return None if value in (None, "Y") else f"payload {value!r} is not Y"
    grammar = GRAMMARS.get(payload_type)
    if value is None:
        # Text of any kind may be empty; an enumeration or a grammar that
        # takes no empty string may not.
        if enumeration is None and (grammar is None or re.fullmatch(grammar, "")):
            return None
        return "lacks its payload"
    if value.startswith("@") and not value.startswith("@@"):
        return f"payload {value!r} is a pointer where text is defined"
    if enumeration is not None:
        items = _LIST_DELIM.split(value) if payload_type.endswith("List#Enum") else [value]
        wrong = [item for item in items if item not in enumeration and not _EXT.fullmatch(item)]
        return f"{wrong[0]!r} is not among the values of its set" if wrong else None
    if grammar and not re.fullmatch(grammar, value):
        return f"payload {value!r} is not of type {payload_type.rsplit('/', 1)[-1]}"
    return None


def _declared_tags(records):
    """Extension tag to the URI HEAD.SCHMA.TAG declares for it: an extension
    record documented as a standard type counts as one for pointers."""
    declared = {}
    for record in records:
        if record.tag != "HEAD":
            continue
        for schema in (child for child in record.children if child.tag == "SCHMA"):
            for tag in (child for child in schema.children if child.tag == "TAG"):
                name, _, uri = (tag.payload or "").partition(" ")
                declared[name] = uri
    return declared


def problems(text):
    """Every departure of `text` from the standard's tables, as "line N: ..."."""
    types, cardinalities, payloads, enumerations = _tables()
    records, found = _parse(text)
    declared = _declared_tags(records)
    record_types = {}
    for record in records:
        record.type = types.get(("", record.tag), declared.get(record.tag))
        if record.xref:
            record_types[record.xref] = record.type

    def check(node, parent_tag):
        where = f"line {node.line}: {parent_tag + '.' if parent_tag else ''}{node.tag}"
        fault = _payload_problem(
            node, payloads.get(node.type), enumerations.get(node.type), record_types
        )
        if fault:
            found.append(f"{where} {fault}")
        counts = Counter()
        for child in node.children:
            if child.tag.startswith("_") or child.tag == "CONT":
                continue
            child.type = types.get((node.type, child.tag))
            if child.type is None:
                found.append(f"line {child.line}: {node.tag}.{child.tag} is not allowed here")
                continue
            counts[child.type] += 1
            check(child, node.tag)
        for child_type, (low, high) in cardinalities.get(node.type, {}).items():
            if not low <= counts[child_type] <= (high if high is not None else counts[child_type]):
                found.append(
                    f"{where} has {counts[child_type]} of {child_type.rsplit('/', 1)[-1]}"
                    f", not {{{low}:{high if high is not None else 'M'}}}"
                )

    for record in records:
        if record.tag.startswith("_"):
            continue
        if record.type is None:
            found.append(f"line {record.line}: {record.tag} is not a record")
            continue
        check(record, "")
    return found
