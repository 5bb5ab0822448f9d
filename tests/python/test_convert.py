"""Conversion to GEDCOM 7.0 from Python: the method's contract, and the
whole corpus held to the standard's tables."""

import collections
import re

import pytest

import gedcom7_check
from conftest import assert_no_leaks, readable_corpus

V551 = ("0 HEAD\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n"
        "0 @N1@ NOTE shared\n0 @I1@ INDI\n1 NOTE @n1@\n1 _PRIM Y\n1 _ODD x\n0 TRLR\n")
PRIM_URI = "https://lignor.example.org/docs/extensions/PRIM"


def test_returns_a_new_document_and_the_notes(lignor):
    g = lignor.Gedcom.parse(V551.encode())
    converted, notes = g.to_version7(owned=[("_PRIM", PRIM_URI)])
    assert isinstance(converted, lignor.Gedcom) and converted.version == "7.0"
    assert g.to_text() == V551
    assert converted.encoding == lignor.Gedcom.new_v7().encoding
    assert [list(note) for note in notes[:1]] == [["record", "tag", "kind", "detail"]]
    assert [(n["record"], n["tag"], n["kind"]) for n in notes] == [
        (None, "GEDC.FORM", "Dropped"), (None, "CHAR", "Dropped"),
        ("@N1@", "NOTE", "Converted"), ("@I1@", "NOTE", "Converted"),
        (None, "_ODD", "Kept"), (None, "_PRIM", "Converted")]
    assert f"2 TAG _PRIM {PRIM_URI}\n" in converted.to_text()


@pytest.mark.parametrize("owned, error", [
    ("_PRIM", TypeError),
    ([("_PRIM",)], TypeError),
    (["_P", "u"], TypeError),
    ([("_PRIM", 1)], TypeError),
    ([("_PRIM", "https://x.example.org/\nPRIM")], ValueError),
    ([("_PRIM", "https://x.example.org/\rPRIM")], ValueError),
])
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


def test_no_leaks(lignor):
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


def explained(problem, owners, kept):
    """Whether a Kept note of the problem's record names the structure."""
    number, path = PROBLEM.match(problem).groups()
    tags = {path, path.rsplit(".", 1)[-1]}
    return any(tag in tags or tag.rsplit(".", 1)[-1] in tags
               for tag in kept.get(owners[int(number)], ()))


def kind_of(problem):
    """A problem without its line number and the values it quotes."""
    return re.sub(r"'[^']*'|\"[^\"]*\"|@[^@ ]+@", "…", problem.split(": ", 1)[1])


def used_extensions(records):
    """The extension tags used outside the header."""
    used, stack = set(), [r for r in records if r.tag != "HEAD"]
    while stack:
        node = stack.pop()
        used.update([node.tag] if node.tag.startswith("_") else [])
        stack.extend(node.children)
    return used


UNEXPLAINED = collections.Counter()


@pytest.fixture(scope="module", autouse=True)
def report_unexplained():
    yield
    for kind, count in UNEXPLAINED.most_common():
        print(f"unexplained {count:6} {kind}")


@pytest.mark.parametrize("path", readable_corpus(), ids=lambda p: p.name)
def test_corpus_converts_to_version_7(lignor, path):
    converted, notes = lignor.Gedcom.parse(path.read_bytes()).to_version7()
    text = converted.to_text()
    reread = lignor.Gedcom.parse(text.encode())
    assert reread.version == "7.0"
    tags = [line.split(" ")[2 if line.split(" ")[1].startswith("@") else 1]
            for line in text.splitlines() if line.strip()]
    assert "CONC" not in tags and "CHAR" not in tags
    assert reread.to_version7()[0].to_text() == text
    found = gedcom7_check.problems(text)
    records = gedcom7_check._parse(text)[0]
    assert used_extensions(records) <= set(gedcom7_check._declared_tags(records))
    kept = collections.defaultdict(set)
    for note in notes:
        if note["kind"] == "Kept":
            kept[note["record"]].add(note["tag"])
    owners = record_at_line(text)
    UNEXPLAINED.update(kind_of(p) for p in found if not explained(p, owners, kept))
