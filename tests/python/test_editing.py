"""Gedcom: new documents, appends and payload edits."""

import codecs
import json
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import assert_no_leaks, being_changed, readable_corpus

FAMILY = (
    b"0 HEAD\n1 GEDC\n2 VERS 5.5.1\n"
    b"0 @I1@ INDI\n01 NAME Ann /Smith/\n1 FAMS @F1@\n"
    b"0 @I2@ INDI\n0 @I3@ INDI\n"
    b"0 @F1@ FAM\n1 WIFE @I1@\n1 CHIL @I2@\n2 NOTE x\n"
    b"0 TRLR\n"
)


def family(lignor):
    return lignor.Gedcom.parse(FAMILY)


# ----- new documents ---------------------------------------------------------


@pytest.mark.parametrize(
    "make, text, version",
    [
        (lambda G: G.new_v7(), "0 HEAD\n1 GEDC\n2 VERS 7.0\n0 TRLR\n", "7.0"),
        (
            lambda G: G.new_v551(source_system="App"),
            "0 HEAD\n1 SOUR App\n1 GEDC\n2 VERS 5.5.1\n2 FORM LINEAGE-LINKED\n1 CHAR UTF-8\n0 TRLR\n",
            "5.5.1",
        ),
        (lambda G: G.new_v551(""), "0 HEAD\n1 SOUR \n", "5.5.1"),
        (lambda G: G.new_v551("A\nB"), "0 HEAD\n1 SOUR A\n2 CONT B\n1 GEDC\n", "5.5.1"),
    ],
    ids=["v7", "v551", "v551-empty-source", "v551-source-with-newline"],
)
def test_new_documents(lignor, make, text, version):
    g = make(lignor.Gedcom)
    assert g.to_text().startswith(text)
    assert (g.version, len(g), g.encoding) == (version, 0, "Read as UTF-8, no CHAR declared")


# ----- refusals change nothing -----------------------------------------------

DEEP = {"tag": "NOTE"}
for _ in range(63):
    DEEP = {"tag": "NOTE", "children": [DEEP]}  # 64 levels: fine at the top of a record

REFUSALS = [
    (
        lambda g: g.append_records([{"tag": "NOTE"}, {"tag": "1 BAD"}]),
        ValueError,
        '"1 BAD" is not a GEDCOM tag: ASCII letters, digits, or underscore',
    ),
    (
        lambda g: g.append_records(
            [{"xref": "@N1@", "tag": "NOTE"}, {"xref": "@i1@", "tag": "NOTE"}]
        ),
        ValueError,
        "the document already has a record @i1@",
    ),
    (
        lambda g: g.append_records([{"tag": "TRLR"}]),
        ValueError,
        "a document has one TRLR, and this one already does",
    ),
    (lambda g: g.append_records([{"tag": "INDI", "sex": "M"}]), ValueError, "unknown field"),
    (lambda g: g.append_records([{"tag": "NOTE", "value": {1}}]), TypeError, "set"),
    (lambda g: g.append_records({"tag": "NOTE"}), ValueError, "invalid type"),
    (lambda g: g.append_structures("@F9@", [], [{"tag": "NOTE"}]), ValueError, "no record @F9@"),
    (
        lambda g: g.append_structures("@F1@", [1, 1], [{"tag": "NOTE"}]),
        ValueError,
        r"no structure at \[1, 1\] in @F1@",
    ),
    (
        lambda g: g.append_structures("@F1@", [1], [DEEP]),
        ValueError,
        "the structure is nested deeper than the limit",
    ),
    (
        lambda g: g.append_structures("@F1@", [], [{"xref": "@X@", "tag": "NOTE"}]),
        ValueError,
        "@X@ is on a NOTE below level zero",
    ),
    (lambda g: g.append_structures("@F1@", "1", []), TypeError, "'path'"),
    (lambda g: g.append_structures(record=b"@F1@", path=[], structures=[]), TypeError, "'record'"),
    (lambda g: g.append_structures("@F1@", [-1], []), OverflowError, ""),
    (lambda g: g.set_logical_value("@F1@", [1 << 64], "@I3@"), OverflowError, ""),
    (
        lambda g: g.set_logical_value("@F1@", [1, 0, 0], "@I3@"),
        ValueError,
        r"^no structure at \[1, 0, 0\]$",
    ),
    (lambda g: g.set_logical_value("@F9@", [], "x"), KeyError, "@F9@"),
    (lambda g: g.set_logical_value("@F1@", [1], None), TypeError, "'value'"),
    (lambda g: g.set_logical_value("@F1@", [1.0], "@I3@"), TypeError, "'path'"),
    (lambda g: g.set_logical_value("@F1@", [True], "@I3@"), TypeError, "'path'"),
    (lambda g: g.append_structures("@F1@", [False], []), TypeError, "'path'"),
    (
        lambda g: g.append_records([{"tag": "head"}]),
        ValueError,
        "a document has one head, and this one already does",
    ),
    # The reader's own bounds, at their defaults.
    (
        lambda g: g.set_logical_value("@I1@", [0], "x" * (1 << 24)),
        ValueError,
        "^the line is longer than the limit$",
    ),
    (
        lambda g: g.append_records([{"tag": "NOTE", "value": "x" * (1 << 24)}]),
        ValueError,
        "^the line is longer than the limit$",
    ),
]


@pytest.mark.parametrize("call, error, message", REFUSALS)
def test_a_refused_edit_changes_nothing(lignor, call, error, message):
    g = family(lignor)
    assert g.children_of("@I1@") == ["@I2@"]  # the relatives cache is filled
    with pytest.raises(error, match=message):
        call(g)
    assert (len(g), g.to_text(), g.children_of("@I1@")) == (4, FAMILY.decode(), ["@I2@"])


def test_descriptions_are_serialised_under_the_exclusive_borrow(lignor, monkeypatch):
    g = family(lignor)
    original = json.dumps

    def reading_dumps(value):
        len(g)
        return original(value)

    monkeypatch.setattr(json, "dumps", reading_dumps)
    with pytest.raises(RuntimeError, match=re.escape(being_changed("document"))):
        g.append_records([{"tag": "NOTE"}])
    monkeypatch.undo()
    assert g.to_text() == FAMILY.decode()
    g.append_records([{"tag": "NOTE"}])
    assert len(g) == 5


# ----- edits within the reader's bounds ---------------------------------------

# The reader's bounds scaled down, so that documents reach them in a few edits.
LIMITS = {
    "max_file_bytes": 1500,
    "max_line_length": 100,
    "max_records": 10,
    "max_lines": 50,
    "max_depth": 5,
}
ADDRESSES = ["HEAD", "head", "@N0@", "@n1@", "@N2@"]
texts = st.text(alphabet="ab @\n\r", max_size=130)


@st.composite
def structures(draw, depth=0):
    children = draw(st.lists(structures(depth + 1), max_size=2)) if depth < 5 else []
    return {
        "tag": draw(st.sampled_from(["NOTE", "_X", "CONC"])),
        "value": draw(texts),
        "children": children,
    }


paths = st.lists(st.integers(0, 2), max_size=5)
edits = st.one_of(
    st.tuples(
        st.just("append_records"),
        st.lists(
            st.builds(
                lambda index, structure: dict(structure, xref=f"@N{index}@"),
                st.integers(0, 12),
                structures(),
            ),
            max_size=3,
        ),
    ),
    st.tuples(
        st.just("append_structures"),
        st.sampled_from(ADDRESSES),
        paths,
        st.lists(structures(), max_size=3),
    ),
    st.tuples(st.just("set_logical_value"), st.sampled_from(ADDRESSES), paths, texts),
    st.tuples(st.just("wrap_long_lines"), st.integers(0, 90)),
    st.tuples(st.just("fit_line_limit"), st.sampled_from(ADDRESSES), st.integers(0, 90)),
)


@settings(max_examples=300, deadline=None)
@given(
    version=st.sampled_from(["5.5.1", "7.0"]),
    mark=st.sampled_from([b"", codecs.BOM_UTF8]),
    sequence=st.lists(edits, max_size=8),
)
def test_an_edit_is_refused_or_leaves_a_document_the_reader_takes_back(
    lignor, version, mark, sequence
):
    # to_bytes writes the byte-order mark the file began with and rewrites
    # the CHAR line, which edits of the header may change.
    g = lignor.Gedcom.parse(
        mark + f"0 HEAD\n1 GEDC\n2 VERS {version}\n1 CHAR ASCII\n0 TRLR\n".encode(),
        limits=LIMITS,
    )
    for name, *arguments in sequence:
        before = g.to_bytes()
        try:
            getattr(g, name)(*arguments)
        except (ValueError, KeyError):
            assert g.to_bytes() == before
            continue
        written = g.to_bytes()
        read_back = lignor.Gedcom.parse(written, limits=LIMITS)
        assert mark + read_back.to_text().encode() == written == read_back.to_bytes()
        assert logical_views(read_back) == logical_views(g)


def test_a_converted_document_keeps_the_bounds_its_source_was_read_under(lignor):
    g = lignor.Gedcom.parse(b"0 HEAD\n1 GEDC\n2 VERS 5.5.1\n0 TRLR\n", limits={"max_records": 3})
    for converted, _ in (g.to_version7(), g.to_version551()):
        converted.append_records([{"tag": "NOTE", "value": "third"}])
        with pytest.raises(ValueError, match="^the file has too many records$"):
            converted.append_records([{"tag": "NOTE", "value": "fourth"}])
        assert len(converted.records()) == 3


def logical_views(g):
    """The record views, less the header's CHAR line (and its text), which
    to_bytes rewrites."""
    records = g.records()
    records[0]["structures"] = [s for s in records[0]["structures"] if s["tag"] != "CHAR"]
    del records[0]["raw"]
    return records


@pytest.mark.parametrize("head, trailer", [("HEAD", "TRLR"), ("head", "trlr"), ("Head", "Trlr")])
def test_one_header_and_one_trailer_in_any_letter_case(lignor, head, trailer):
    text = f"0 {head}\n1 GEDC\n2 VERS 5.5.1\n1 CHAR ANSI\n0 @I1@ INDI\n0 {trailer}\n"
    g = lignor.Gedcom.parse(text.encode())
    assert (len(g), g.version) == (1, "5.5.1")
    for tag in ("HEAD", "head", "TRLR", "Trlr"):
        with pytest.raises(ValueError, match=f"^a document has one {tag}, and this one"):
            g.append_records([{"tag": tag}])
    g.append_records([{"xref": "@I2@", "tag": "INDI"}])
    g.append_structures("HEAD", [], [{"tag": "NOTE", "value": "n"}])
    g.set_logical_value("HEAD", [2], "a")
    assert len(g) == 2
    assert g.to_bytes().decode().splitlines()[3:] == [
        "1 CHAR UTF-8",
        "1 NOTE a",
        "0 @I1@ INDI",
        "0 @I2@ INDI",
        f"0 {trailer}",
    ]
    assert [record["tag"] for record in g.records()] == [head, "INDI", "INDI", trailer]
    converted, _ = g.to_version7()
    assert (len(converted), converted.version) == (2, "7.0")
    assert len(converted.to_version551()[0]) == 2


# ----- what an edit changes --------------------------------------------------


@pytest.mark.parametrize(
    "edit, children",
    [
        (lambda g: g.set_logical_value("@f1@", [1], "@I3@"), ["@I3@"]),
        (
            lambda g: g.append_structures("@f1@", [], [{"tag": "CHIL", "value": "@I3@"}]),
            ["@I2@", "@I3@"],
        ),
        (
            lambda g: g.append_records(
                [
                    {
                        "xref": "@F2@",
                        "tag": "FAM",
                        "children": [
                            {"tag": "WIFE", "value": "@I1@"},
                            {"tag": "CHIL", "value": "@I3@"},
                        ],
                    }
                ]
            ),
            ["@I2@", "@I3@"],
        ),
    ],
    ids=["set_logical_value", "append_structures", "append_records"],
)
def test_relatives_follow_an_edit(lignor, edit, children):
    g = family(lignor)
    assert g.children_of("@I1@") == ["@I2@"]
    assert edit(g) is None
    assert g.children_of("@I1@") == children


def test_set_logical_value_rewrites_only_the_edited_line(lignor):
    g = family(lignor)
    g.set_logical_value("@I1@", (0,), "Ann\nSmith")
    g.set_logical_value("@F1@", [1, 0], "")
    assert g.to_text() == FAMILY.decode().replace(
        "01 NAME Ann /Smith/\n", "1 NAME Ann\n2 CONT Smith\n"
    ).replace("2 NOTE x", "2 NOTE")


MARK = "_LIGNOR_ADDED"


@pytest.mark.skipif(not readable_corpus(), reason="no shared corpus")
@pytest.mark.parametrize("path", readable_corpus(), ids=lambda p: p.name)
def test_appends_write_every_existing_line_back(lignor, path):
    g = lignor.Gedcom.parse(path.read_bytes())
    before = g.to_text()
    first = g.records()[0]
    at = first["structures"][-1]["path"] if first["structures"] else []
    added = {"tag": MARK, "value": f"{MARK}\n{MARK}", "children": [{"tag": MARK}]}
    g.append_structures(first["xref"] or first["tag"], at, [added])
    g.append_records([dict(added, xref="@LIGNOR_ADDED@")])
    after = g.to_text()
    kept = [line for line in after.splitlines(keepends=True) if MARK not in line]
    assert "".join(kept) == before
    assert len(after.splitlines()) == len(kept) + 6
    written = g.to_bytes()
    read_back = lignor.Gedcom.parse(written)
    assert (read_back.to_text(), read_back.to_bytes()) == (written.decode("utf-8-sig"), written)


# ----- reference counts ------------------------------------------------------

STRUCTURES = [{"tag": "NOTE", "value": "a\nb", "children": [{"tag": "SOUR"}]}]
RECORDS = [dict(STRUCTURES[0], xref="@N1@")]
UNSERIALISABLE = [{"tag": "NOTE", "value": {1}}]
EDIT_CALLS = {
    "new_v7": lambda G: G.new_v7(),
    "new_v551": lambda G: G.new_v551("App"),
    "new_v551-type-error": lambda G: pytest.raises(TypeError, G.new_v551, 1),
    "append_records": lambda G: G.new_v7().append_records(RECORDS),
    "append_records-refused": lambda G: pytest.raises(
        ValueError, G.new_v7().append_records, RECORDS + RECORDS
    ),
    "append_records-unserialisable": lambda G: pytest.raises(
        TypeError, G.new_v7().append_records, UNSERIALISABLE
    ),
    "append_structures": lambda G: G.parse(FAMILY).append_structures("@F1@", [1], STRUCTURES),
    "append_structures-refused": lambda G: pytest.raises(
        ValueError, G.new_v7().append_structures, "HEAD", [5], []
    ),
    "set_logical_value": lambda G: G.parse(FAMILY).set_logical_value("@I1@", [0], "a\nb"),
    "set_logical_value-missing": lambda G: pytest.raises(
        KeyError, G.new_v7().set_logical_value, "@X@", [], ""
    ),
    "set_logical_value-overflow": lambda G: pytest.raises(
        OverflowError, G.new_v7().set_logical_value, "@X@", [-1], ""
    ),
}


@pytest.mark.parametrize("name", sorted(EDIT_CALLS))
def test_reference_counts_stay_flat(lignor, name):
    G = lignor.Gedcom
    assert_no_leaks(lambda: EDIT_CALLS[name](G), G, STRUCTURES, RECORDS, UNSERIALISABLE)
