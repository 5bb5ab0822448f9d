"""Conversion to GEDCOM 7.0 from Python: the method's contract, and the
whole corpus held to the standard's tables."""

import collections
import re
import zipfile

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import gedcom7_check
import lossless
from conftest import CORPUS, assert_no_leaks, readable_corpus

V551 = (
    "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n"
    "0 @N1@ NOTE shared\n0 @I1@ INDI\n1 NOTE @n1@\n1 _PRIM Y\n1 _ODD x\n0 TRLR\n"
)
PRIM_URI = "https://lignor.example.org/docs/extensions/PRIM"


def test_returns_a_new_document_and_the_notes(lignor):
    g = lignor.Gedcom.parse(V551.encode())
    converted, notes = g.to_version7(owned=[("_PRIM", PRIM_URI)])
    assert isinstance(converted, lignor.Gedcom) and converted.version == "7.0"
    assert g.to_text() == V551
    assert converted.encoding == lignor.Gedcom.new_v7().encoding
    assert [list(note) for note in notes[:1]] == [["record", "tag", "kind", "detail"]]
    assert [(n["record"], n["tag"], n["kind"]) for n in notes] == [
        (None, "GEDC.FORM", "Dropped"),
        (None, "CHAR", "Dropped"),
        ("@N1@", "NOTE", "Converted"),
        ("@I1@", "NOTE", "Converted"),
        (None, "_ODD", "Kept"),
        (None, "_PRIM", "Converted"),
        ("@I1@", "SNOTE", "Kept"),
    ]
    assert f"2 TAG _PRIM {PRIM_URI}\n" in converted.to_text()


@pytest.mark.parametrize(
    "owned, error",
    [
        ("_PRIM", TypeError),
        ([("_PRIM",)], TypeError),
        (["_P", "u"], TypeError),
        ([("_PRIM", 1)], TypeError),
        ([("_PRIM", "https://x.example.org/\nPRIM")], ValueError),
        ([("_PRIM", "https://x.example.org/\rPRIM")], ValueError),
    ],
)
def test_refuses_owned_that_is_not_pairs_of_one_line_texts(lignor, owned, error):
    with pytest.raises(error):
        lignor.Gedcom.parse(V551.encode()).to_version7(owned)


def test_owned_may_be_any_sequence_of_pairs(lignor):
    g = lignor.Gedcom.parse(V551.encode())
    as_lists = g.to_version7([["_PRIM", PRIM_URI]])
    as_tuple = g.to_version7(owned=(("_PRIM", PRIM_URI),))
    assert as_lists[0].to_text() == as_tuple[0].to_text()
    assert as_lists[1] == as_tuple[1]
    assert g.to_version7(None)[1] == g.to_version7()[1]


V7 = (
    "0 HEAD\n1 GEDC\n2 VERS 7.0\n1 SCHMA\n2 TAG _X https://example.org/x\n"
    "0 @N1@ SNOTE shared\n0 @I1@ INDI\n1 SNOTE @N1@\n1 UID 1\n0 TRLR\n"
)


def test_to_version551_returns_a_new_document_and_the_notes(lignor):
    g = lignor.Gedcom.parse(V7.encode())
    converted, notes = g.to_version551()
    assert isinstance(converted, lignor.Gedcom) and converted.version == "5.5.1"
    assert g.to_text() == V7
    assert converted.encoding == lignor.Gedcom.new_v7().encoding
    assert [(n["record"], n["tag"], n["kind"]) for n in notes] == [
        (None, "CHAR", "Converted"),
        (None, "SCHMA", "Dropped"),
        ("@N1@", "SNOTE", "Converted"),
        ("@I1@", "SNOTE", "Converted"),
        ("@I1@", "UID", "Converted"),
    ]


def test_no_leaks(lignor):
    assert_no_leaks(lignor.Gedcom.parse(V7.encode()).to_version551)
    data = V551.encode()
    g = lignor.Gedcom.parse(data)
    owned = [("_PRIM", PRIM_URI)]
    bad = [("_PRIM", "a\nb")]

    def refused():
        with pytest.raises(ValueError):
            g.to_version7(bad)

    assert_no_leaks(lambda: g.to_version7(owned), g, owned, *owned[0])
    assert_no_leaks(refused, g, bad, *bad[0])


# ----- the corpus --------------------------------------------------------------

PROBLEM = re.compile(r"line (\d+): (\S+)")


def record_at_line(text):
    """The identifier of the record each line (numbered from 1) belongs to."""
    owners, current = [None], None
    for line in text.splitlines():
        if line.startswith("0 "):
            current = line.split(" ")[1] if line.startswith("0 @") else None
        owners.append(current)
    return owners


CLOSING = re.compile(r"(\d+) line\(s\) of this record are not valid version 7 \(([a-z-]+)\)")


def kept_by_record(notes):
    """Each record's Kept notes, those of the conversion's closing check
    apart."""
    rules, closing = collections.defaultdict(list), collections.defaultdict(list)
    for note in notes:
        if note["kind"] == "Kept":
            (closing if CLOSING.match(note["detail"]) else rules)[note["record"]].append(note)
    return rules, closing


def named_by_tag(problem, notes):
    tags = problem["tag"].split(".")
    return any(note["tag"] in (tags[-1], ".".join(tags[-2:])) for note in notes)


def unnamed(problems, notes):
    """The check's problems that no Kept note of their record names, by the
    problem's tag (or its parent's and its own) or by its kind."""
    rules, closing = kept_by_record(notes)

    def named(problem):
        return named_by_tag(problem, rules[problem["record"]]) or any(
            f"({problem['kind']})" in note["detail"] for note in closing[problem["record"]]
        )

    return [problem for problem in problems if not named(problem)]


def miscounted(problems, notes):
    """The closing check's notes whose count is not that of their record's
    problems of their kind that no other Kept note names: a problem named
    twice, or one left out."""
    rules, closing = kept_by_record(notes)
    left = collections.Counter(
        (problem["record"], problem["kind"])
        for problem in problems
        if not named_by_tag(problem, rules[problem["record"]])
    )
    return [
        note
        for record, notes_of_record in closing.items()
        for note in notes_of_record
        if int(CLOSING.match(note["detail"])[1]) != left[record, CLOSING.match(note["detail"])[2]]
    ]


def used_extensions(records):
    """The extension tags used outside the header."""
    used, stack = set(), [r for r in records if r.tag != "HEAD"]
    while stack:
        node = stack.pop()
        used.update([node.tag] if node.tag.startswith("_") else [])
        stack.extend(node.children)
    return used


@pytest.mark.parametrize("path", readable_corpus(), ids=lambda p: p.name)
def test_corpus_converts_to_version_7(lignor, path):
    original = lignor.Gedcom.parse(path.read_bytes())
    converted, notes = original.to_version7()
    text = converted.to_text()
    reread = lignor.Gedcom.parse(text.encode())
    # A file of version 7 keeps its own version (7.1 stays 7.1); any other is 7.0.
    own = original.version or ""
    assert reread.version == (own if own.startswith("7.") else "7.0")
    tags = [
        line.split(" ")[2 if line.split(" ")[1].startswith("@") else 1]
        for line in text.splitlines()
        if line.strip()
    ]
    assert "CONC" not in tags and "CHAR" not in tags
    assert reread.to_version7()[0].to_text() == text
    assert lossless.lost(original.to_text(), text, notes) == []
    records = gedcom7_check._parse(text)[0]
    assert used_extensions(records) <= set(gedcom7_check._declared_tags(records))
    problems = converted.check_version7()
    judged = {int(PROBLEM.match(p).group(1)) for p in gedcom7_check.problems(text)}
    assert judged <= {problem["line"] for problem in problems}
    assert unnamed(problems, notes) == []
    assert miscounted(problems, notes) == []


# ----- to 5.5.1, and the round trip through both versions --------------------


def corpus_documents():
    """(name, bytes) of every readable corpus file and every archive's
    gedcom.ged."""
    documents = [(p.name, p.read_bytes()) for p in readable_corpus()]
    for archive in sorted(CORPUS.glob("*.gdz")):
        with zipfile.ZipFile(archive) as entries:
            documents.append((f"{archive.name}/gedcom.ged", entries.read("gedcom.ged")))
    return documents


def long_lines_by_record(text):
    """How many lines of each record are longer than 5.5.1's 255 bytes."""
    counts, owners = collections.Counter(), record_at_line(text)
    for number, line in enumerate(text.splitlines(), 1):
        if len(line.encode()) + 1 > 255:
            counts[owners[number]] += 1
    return counts


def record_ids(text):
    return [line.split(" ")[1] for line in text.split("\n") if line.startswith("0 @")]


def relatives(g, individual):
    return g.parents_of(individual), g.children_of(individual), g.partners_of(individual)


def check_version_7_to_551(lignor, g):
    """The 5.5.1 text reads back as 5.5.1 in UTF-8, every line over 255
    bytes is counted by a Kept note of its record, and nothing is lost."""
    converted, notes = g.to_version551()
    reread = lignor.Gedcom.parse(converted.to_bytes())
    assert reread.version == "5.5.1" and "declared UTF-8" in reread.encoding
    text = converted.to_text()
    counted = {
        note["record"]: int(note["detail"].split(" ")[0])
        for note in notes
        if note["kind"] == "Kept" and "longer than 5.5.1's 255 bytes" in note["detail"]
    }
    assert long_lines_by_record(text) == counted
    assert lossless.lost(g.to_text(), text, notes) == []


def dates_and_phrases(text):
    """The payload of every DATE and of the PHRASE right beneath it (None
    when absent), in order."""
    found, lines = [], text.split("\n")
    for line, below in zip(lines, lines[1:] + [""]):
        if date := re.fullmatch(r"(\d+) DATE(?: (.*))?", line):
            phrase = re.fullmatch(rf"{int(date[1]) + 1} PHRASE(?: (.*))?", below)
            found.append((date[2], phrase and phrase[1]))
    return found


def check_round_trip(g):
    """5.5.x to 7.0 and back keeps the records, the unresolved pointers, the
    family graph's answers and every logical value, and 7.0 once more gives
    the same text."""
    version7, notes7 = g.to_version7()
    back, notes551 = version7.to_version551()
    before, after = g.to_text(), back.to_text()
    added = set(record_ids(after)) - set(record_ids(before))
    assert back.version == "5.5.1" and len(back) == len(g) + len(added)
    assert sorted(i for i in record_ids(after) if i not in added) == sorted(record_ids(before))
    assert [(u["record"], u["pointer"]) for u in back.unresolved_pointers()] == [
        (u["record"], u["pointer"]) for u in g.unresolved_pointers()
    ]
    for individual in (i["xref"] for i in g.individuals()):
        assert relatives(back, individual) == relatives(g, individual)
    assert lossless.lost(before, after, notes7 + notes551) == []
    problems = version7.check_version7()
    assert unnamed(problems, notes7) == [] and miscounted(problems, notes7) == []
    assert back.to_version7()[0].to_text() == version7.to_text()


@pytest.mark.parametrize(
    "name, data", corpus_documents(), ids=lambda value: value if isinstance(value, str) else ""
)
def test_corpus_converts_to_version551(lignor, name, data):
    g = lignor.Gedcom.parse(data)
    if (g.version or "").startswith("7"):
        check_version_7_to_551(lignor, g)
    else:
        check_round_trip(g)


# ----- the round trip over generated 5.5.1 documents ---------------------------

_text = st.text(
    st.characters(min_codepoint=0x20, max_codepoint=0x24F, blacklist_characters="@"),
    min_size=1,
    max_size=40,
)
# A text carried on a payload line and CONT and CONC lines below `level`.
_continued = st.tuples(
    _text, st.lists(st.tuples(st.sampled_from(["CONT", "CONC"]), _text), max_size=3)
)
DATES = [
    "12 MAY 1900",
    "ABT 1900",
    "abt. 1900",
    "BET 1900 AND 1910",
    "(about then)",
    "@#DJULIAN@ 1700",
    "1900?",
    "c.1850",
    "INT 1900 (a guess)",
    "FROM 1 JAN 1900 TO 1910",
    "12.05.1900",
    "some day",
    "BEF 1 JAN 1900",
    "Est 1800",
]
ROLES = ["WITN", "witn", "HUSB", "(Godfather)", "(Best man)", "()", "Friend", "(witness)"]
# Multimedia files in 5.5's and 5.5.1's forms: (level below the object, line).
MEDIA = [
    [(1, "FILE a photo.jpg"), (1, "FORM jpg"), (2, "TYPE photo")],
    [(1, "FILE c:\\x%20y.tif"), (2, "FORM TIF"), (3, "TYPE Book")],
    [(1, "FILE url"), (2, "FORM wav")],
]


# File paths with spaces, backslashes, '%', '@@' and letters beyond ASCII.
PATHS = [
    "c:\\my photos\\a b.jpg",
    "x@@y z.png",
    "dir/\u00e9t\u00e9.gif",
    "50%.bmp",
    "a%20b.tif",
    "https://example.org/a.jpg",
]
# Note text long enough to be cut at 5.5.1's limit, with "@@" anywhere.
_long_text = st.lists(st.sampled_from(["a", " ", "@@", "\u00e9", "bc"]), max_size=300).map(
    lambda pieces: "n" + "".join(pieces)
)


def media(level, lines_below):
    return "".join(f"{level + below} {line}\n" for below, line in lines_below)


def lines(level, tag, continued):
    text, continuations = continued
    return f"{level} {tag} {text}\n" + "".join(
        f"{level + 1} {kind} {piece}\n" for kind, piece in continuations
    )


@st.composite
def documents_551(draw):
    notes = draw(st.lists(st.one_of(_continued, st.tuples(_long_text, st.just([]))), max_size=3))
    out = ["0 HEAD\n1 SOUR test\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n"]
    out += [lines(0, f"@N{n}@ NOTE", note) for n, note in enumerate(notes, 1)]
    people = draw(st.integers(1, 4))
    for person in range(1, people + 1):
        out.append(f"0 @I{person}@ INDI\n1 NAME {draw(_text)} /{person}/\n")
        if draw(st.booleans()):
            out.append(f"1 BIRT\n2 DATE {draw(st.sampled_from(DATES))}\n")
        if draw(st.booleans()):
            out.append(f"1 SOUR @S1@\n2 EVEN BIRT\n3 ROLE {draw(st.sampled_from(ROLES))}\n")
        if draw(st.booleans()):
            out.append(f"1 ASSO @I1@\n2 RELA {draw(_text)}\n")
        if draw(st.booleans()):
            out.append(f"1 _UID {draw(st.uuids())}\n")
        for _ in range(draw(st.integers(0, 2))):
            pointer = draw(st.sampled_from([f"@N{n}@" for n in range(1, len(notes) + 2)]))
            out.append(f"1 NOTE {pointer.lower() if draw(st.booleans()) else pointer}\n")
        out.append(lines(1, "NOTE", draw(_continued)))
        if draw(st.booleans()):
            out.append("1 OBJE\n" + media(1, draw(st.sampled_from(MEDIA))))
        if draw(st.booleans()):
            out.append(f"1 OBJE\n2 FILE {draw(st.sampled_from(PATHS))}\n2 FORM jpg\n2 TITL t\n")
        if draw(st.booleans()):  # a source cited by its text
            out.append(lines(1, "SOUR", draw(_continued)))
            out.append(draw(st.sampled_from(["", "2 TEXT words\n3 CONT more\n", "2 QUAY 1\n"])))
        out.append("1 FAMC @F1@\n" if person > 2 else "1 FAMS @F1@\n")
    out.append(
        "0 @F1@ FAM\n1 HUSB @I1@\n"
        + "".join(f"1 CHIL @I{person}@\n" for person in range(3, people + 1))
    )
    out.append("0 @S1@ SOUR\n1 TITL t\n")
    out += [
        f"0 @O{n}@ OBJE\n" + media(0, lines_below)
        for n, lines_below in enumerate(draw(st.lists(st.sampled_from(MEDIA), max_size=2)), 1)
    ]
    # The trailer last, missing, or before some records.
    starts = [i for i, piece in enumerate(out) if i and piece.startswith("0 ")] + [len(out)] * 3
    trailer = draw(st.sampled_from(starts + [None]))
    if trailer is not None:
        out.insert(trailer, "0 TRLR\n")
    return "".join(out)


@settings(max_examples=80, deadline=None)
@given(text=documents_551())
def test_round_trip_of_generated_documents(lignor, text):
    g = lignor.Gedcom.parse(text.encode())
    check_round_trip(g)
    # Objects and sources written in place, and the trailer, leave no problem.
    assert [
        p
        for p in g.to_version7()[0].check_version7()
        if p["kind"] == "header-trailer" or re.search(r"\.(SOUR|OBJE)(\.FILE|\.TEXT)?$", p["tag"])
    ] == []


# ----- dates through both versions --------------------------------------------

_DATE_WORDS = st.sampled_from(
    [
        "ABT",
        "abt.",
        "BET",
        "AND",
        "FROM",
        "TO",
        "INT",
        "(",
        ")",
        "(a guess)",
        "JAN",
        "Oct",
        "12",
        "29",
        "1700",
        "1700/01",
        "1822",
        "4865",
        "B.C.",
        "BCE",
        "@#DJULIAN@",
        "@#DHEBREW@",
        "@#DFRENCH R@",
        "HEBREW",
        "FRENCH_R",
        "TMZ",
        "tvt",
        "ADS",
        "FRIM",
        "COMP",
        "13",
        "?",
    ]
)
_date_text = st.tuples(
    st.sampled_from(["", " ", "  "]),
    st.one_of(
        st.sampled_from(DATES), st.lists(_DATE_WORDS, min_size=1, max_size=7).map(" ".join), _text
    ),
    st.sampled_from(["", " "]),
).map("".join)
_DATES_7 = [
    "",
    "1900",
    "5 JAN 1900",
    "560 BCE",
    "ABT 560 BCE",
    "BET 1900 AND 1910",
    "FROM 1900 TO 1905",
    "TO 1910",
    "JULIAN 1 JAN 1700",
    "HEBREW 29 TMZ 4865",
    "AFT HEBREW ELL 5780",
    "FRENCH_R 11 FRIM 13",
]
_phrase = st.text(st.characters(min_codepoint=0x20, max_codepoint=0x24F), min_size=1, max_size=30)


def date_and_phrase(text):
    """The payloads of the birth's DATE and of its PHRASE (None when absent)."""
    return dates_and_phrases(text)[0]


@settings(max_examples=150, deadline=None)
@given(date=_date_text)
def test_a_date_settles_after_one_conversion_and_loses_nothing(lignor, date):
    before = (
        "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n"
        f"0 @I1@ INDI\n1 BIRT\n2 DATE {date}\n0 TRLR\n"
    )
    version7, notes7 = lignor.Gedcom.parse(before.encode()).to_version7()
    back, notes551 = version7.to_version551()
    again = back.to_version7()[0]
    assert date_and_phrase(again.to_text()) == date_and_phrase(version7.to_text())
    assert lossless.lost(before, version7.to_text(), notes7) == []
    assert lossless.lost(version7.to_text(), back.to_text(), notes551) == []


@settings(max_examples=150, deadline=None)
@given(date=st.sampled_from(_DATES_7), phrase=_phrase)
def test_a_dated_phrase_survives_551(lignor, date, phrase):
    escaped = "@" + phrase if phrase.startswith("@") else phrase
    before = (
        f"0 HEAD\n1 GEDC\n2 VERS 7.0\n0 @I1@ INDI\n1 BIRT\n2 DATE{' ' * bool(date)}{date}\n"
        f"3 PHRASE {escaped}\n0 TRLR\n"
    )
    back, notes551 = lignor.Gedcom.parse(before.encode()).to_version551()
    assert date_and_phrase(back.to_version7()[0].to_text()) == (date or None, escaped)
    assert lossless.lost(before, back.to_text(), notes551) == []
