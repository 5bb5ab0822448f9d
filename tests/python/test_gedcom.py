"""Gedcom: loading, what was read, writing back, unresolved pointers."""

import codecs
import io
import json
import re
import sys
import threading
import zipfile

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import (
    REFUSED,
    assert_no_leaks,
    corpus_files,
    expected_text,
    in_use,
    normalised,
    run_inside,
)

FAMILY = (
    b"0 HEAD\n1 GEDC\n2 VERS 5.5.1\n1 CHAR UTF-8\n"
    b"0 @I1@ INDI\n1 NAME Ann /Smith/\n1 FAMS @F1@\n"
    b"0 @I2@ INDI\n1 NAME Bob /Smith/\n1 FAMS @F1@\n"
    b"0 @F1@ FAM\n1 HUSB @I2@\n1 WIFE @I1@\n1 CHIL @I9@\n2 NOTE @n4@\n"
    b"0 TRLR\n"
)


def parse(lignor, data):
    return lignor.Gedcom.parse(data)


# ----- parse and what it reports --------------------------------------------


@pytest.mark.parametrize(
    "data, length, version, repr_start",
    [
        (b"", 0, None, "<Gedcom 0 records, version unstated, Read as UTF-8, no CHAR declared>"),
        (FAMILY, 3, "5.5.1", "<Gedcom 3 records, version 5.5.1, Read as UTF-8, declared UTF-8>"),
        (b"0 HEAD\n0 TRLR\n", 0, None, "<Gedcom 0 records, version unstated, "),
        (
            b"0 HEAD\n1 GEDC\n2 VERS  7.0 \n0 NOTE x\n",
            1,
            " 7.0 ",
            "<Gedcom 1 records, version  7.0 , ",
        ),
        (
            b"\xef\xbb\xbf0 HEAD\r\n1 CHAR ANSEL\r\n0 TRLR\r\n",
            0,
            None,
            "<Gedcom 0 records, version unstated, Read as UTF-8 (byte-order mark), declared ANSEL>",
        ),
    ],
    ids=["empty", "family", "header-and-trailer", "version-as-written", "bom-crlf"],
)
def test_parse_reports_length_version_and_encoding(lignor, data, length, version, repr_start):
    g = parse(lignor, data)
    assert len(g) == length == g.content_records
    assert bool(g) is (length > 0)
    assert g.version == version
    assert repr(g).startswith(repr_start)
    assert repr(g).endswith(", " + g.encoding + ">")


def test_parse_takes_its_argument_by_keyword(lignor):
    assert lignor.Gedcom.parse(data=FAMILY).to_text() == parse(lignor, FAMILY).to_text()


def gedzip_bytes():
    archive = io.BytesIO()
    with zipfile.ZipFile(archive, "w") as writer:
        writer.writestr("gedcom.ged", "0 HEAD\n0 TRLR\n")
    return archive.getvalue()


ZIP_REFUSAL = (
    "the data is a ZIP archive, not GEDCOM text; a GEDZIP archive holds its GEDCOM file as the "
    "gedcom.ged entry"
)


@pytest.mark.parametrize(
    "data, message",
    [
        (b"1 HEAD\n", "GEDCOM line 1: a record must begin at level 0"),
        (gedzip_bytes(), ZIP_REFUSAL),
        (b"PK\x05\x06" + bytes(18), ZIP_REFUSAL),
        (b"0 HEAD\n1 BIRT\n3 DATE 1900\n", "GEDCOM line 3: the line skips a nesting level"),
        (b"0 HEAD\nx HEAD\n", "GEDCOM line 2: the line does not begin with a level"),
        (b"0 HEAD\n" + b"1 NOTE x\n" * 2 + b"1\n", "GEDCOM line 4: the line has no tag"),
    ],
    ids=[
        "level-one-first",
        "zip-archive",
        "empty-zip-archive",
        "skipped-level",
        "no-level",
        "no-tag",
    ],
)
def test_refused_input_raises_value_error_with_display_text(lignor, data, message):
    with pytest.raises(ValueError) as caught:
        parse(lignor, data)
    assert caught.value.args == (message,)


@pytest.mark.parametrize(
    "call, words",
    [
        (lambda G: G.parse("0 HEAD\n"), ["parse()", "'data'", "bytes", "str"]),
        (lambda G: G.parse(None), ["'data'", "NoneType"]),
        (lambda G: G.parse(), ["parse()", "'data'"]),
        (lambda G: G.parse(b"", b""), ["parse()", "2 given"]),
        (lambda G: G.parse(b"", data=b""), ["parse()", "multiple values", "'data'"]),
        (lambda G: G.parse(data=b"", extra=1), ["parse()", "unexpected", "'extra'"]),
        (lambda G: G.parse(dat=b""), ["parse()", "unexpected", "'dat'"]),
        (lambda G: G.parse(b"").to_text(1), ["to_text()", "no arguments"]),
        (lambda G: G.parse(b"").to_bytes(x=1), ["to_bytes()", "keyword"]),
        (lambda G: G.parse(b"").unresolved_pointers(None), ["unresolved_pointers()"]),
    ],
    ids=[
        "str",
        "none",
        "missing",
        "surplus",
        "twice",
        "unknown-keyword",
        "misspelt-keyword",
        "to_text-surplus",
        "to_bytes-keyword",
        "unresolved_pointers-surplus",
    ],
)
def test_bad_arguments_raise_type_error_naming_function_and_argument(lignor, call, words):
    with pytest.raises(TypeError) as caught:
        call(lignor.Gedcom)
    for word in words:
        assert word in str(caught.value)


# ----- writing back ----------------------------------------------------------


@pytest.mark.parametrize(
    "data, text",
    [
        (b"0 HEAD\r\n1 NOTE a  b \r\n\r\n0 TRLR", "0 HEAD\n1 NOTE a  b \n0 TRLR\n"),
        (b"0 HEAD\r1 NOTE x\r\r0 TRLR\r", "0 HEAD\n1 NOTE x\n0 TRLR\n"),
        (b"0  HEAD\n01 NOTE x\n", "0  HEAD\n01 NOTE x\n"),
        (
            "0 HEAD\n1 NOTE M\u00fcller \U0001F600\n".encode(),
            "0 HEAD\n1 NOTE M\u00fcller \U0001F600\n",
        ),
        ("0 HEAD\n1 NOTE \u00e9\n".encode("utf-16-le"), "0 HEAD\n1 NOTE \u00e9\n"),
    ],
    ids=["crlf-and-empty-line", "lone-cr", "odd-spacing-kept", "utf8-astral", "utf16le-no-bom"],
)
def test_to_text_keeps_lines_and_normalises_terminators(lignor, data, text):
    assert parse(lignor, data).to_text() == text


@pytest.mark.parametrize(
    "data, char_line",
    [
        (b"0 HEAD\n1 CHAR ANSEL\n1 NOTE M\xe8uller\n0 TRLR\n", b"1 CHAR UTF-8"),
        (b"0 HEAD\n1 CHAR ANSI\n1 NOTE caf\xe9\n0 TRLR\n", b"1 CHAR UTF-8"),
        (b"0 HEAD\n1 CHAR UTF-8\n0 TRLR\n", b"1 CHAR UTF-8"),
        ("0 HEAD\n1 CHAR UNICODE\n0 TRLR\n".encode("utf-16"), b"1 CHAR UTF-8"),
    ],
    ids=["ansel", "windows-1252", "already-utf8", "utf16-bom"],
)
def test_to_bytes_is_utf8_with_a_truthful_char(lignor, data, char_line):
    g = parse(lignor, data)
    out = g.to_bytes()
    assert isinstance(out, bytes)
    assert char_line in out.split(b"\n")
    # Only the CHAR line differs from the text.
    differing = [
        (a, b)
        for a, b in zip(out.decode("utf-8-sig").split("\n"), g.to_text().split("\n"))
        if a != b
    ]
    assert all(a == "1 CHAR UTF-8" and b.startswith("1 CHAR ") for a, b in differing)
    again = parse(lignor, out)
    assert (again.to_text(), again.to_bytes()) == (out.decode("utf-8-sig"), out)
    assert again.encoding.startswith("Read as UTF-8") and "declared UTF-8" in again.encoding


@pytest.mark.parametrize(
    "make, mark",
    [
        (lambda G: G.new_v7(), True),
        (lambda G: G.parse(b"0 HEAD\n1 CHAR ANSEL\n1 NOTE Gr\xe8uber\n").to_version7()[0], True),
        (lambda G: G.parse(codecs.BOM_UTF8 + b"0 HEAD\n1 CHAR ANSI\n"), True),
        (lambda G: G.parse("0 HEAD\n1 CHAR UNICODE\n".encode("utf-16")), True),
        (lambda G: G.parse(b"0 HEAD\n1 GEDC\n2 VERS 7.0\n"), False),
        (lambda G: G.new_v551("App"), False),
        (lambda G: G.new_v7().to_version551()[0], False),
    ],
    ids=["new_v7", "to_version7", "utf8-bom", "utf16-bom", "7.0-without", "new_v551", "to_551"],
)
def test_to_bytes_begins_with_a_byte_order_mark_for_version_7_and_where_the_file_had_one(
    lignor, make, mark
):
    out = make(lignor.Gedcom).to_bytes()
    assert out.startswith(codecs.BOM_UTF8) == mark
    assert parse(lignor, out).to_bytes() == out


def test_parse_takes_any_bytes_like_object(lignor):
    data = b"0 HEAD\n1 NOTE caf\xc3\xa9\n0 TRLR\n"
    texts = {
        parse(lignor, bytes_like).to_text()
        for bytes_like in (data, bytearray(data), memoryview(data), memoryview(bytearray(data)))
    }
    assert texts == {data.decode()}


def test_to_bytes_of_an_ansel_file_reads_back_the_same_letters(lignor):
    g = parse(lignor, b"0 HEAD\n1 CHAR ANSEL\n1 NOTE M\xe8uller\n0 TRLR\n")
    # ANSEL writes the combining mark before its letter; Unicode after it.
    assert g.to_bytes() == "0 HEAD\n1 CHAR UTF-8\n1 NOTE Mu\u0308ller\n0 TRLR\n".encode()


# ----- unresolved pointers ---------------------------------------------------


def test_unresolved_pointers_are_dicts_in_document_order_with_keys_in_order(lignor):
    pointers = parse(lignor, FAMILY).unresolved_pointers()
    assert pointers == [
        {"record": "@F1@", "path": [2], "tag": "CHIL", "pointer": "@I9@"},
        {"record": "@F1@", "path": [2, 0], "tag": "NOTE", "pointer": "@n4@"},
    ]
    for pointer in pointers:
        assert list(pointer) == ["record", "path", "tag", "pointer"]


def test_unresolved_pointers_of_a_document_with_none_is_an_empty_list(lignor):
    assert parse(lignor, b"0 @I1@ INDI\n1 FAMS @f1@\n0 @F1@ FAM\n").unresolved_pointers() == []


# ----- results and Python code ------------------------------------------------


def test_results_do_not_go_through_json_loads(lignor, monkeypatch):
    g = parse(lignor, FAMILY)
    expected = g.unresolved_pointers()

    def failing_loads(text):
        raise ZeroDivisionError("from loads")

    monkeypatch.setattr(json, "loads", failing_loads)
    assert g.unresolved_pointers() == expected


def test_reads_may_nest_through_python_callbacks(lignor):
    g = parse(lignor, FAMILY)
    nested = []

    def read_again():
        # A shared borrow is in progress: further reads of the same object
        # succeed, an edit does not.
        nested.append((len(g), g.version, g.to_text() == FAMILY.decode(), repr(g)))
        with pytest.raises(RuntimeError, match=f"^{re.escape(in_use('document'))}$"):
            g.append_records([])
        nested.append("edit refused")

    assert run_inside(g.unresolved_pointers, read_again) == g.unresolved_pointers()
    assert nested[0][:3] == (3, "5.5.1", True)
    assert nested[1] == "edit refused"


def test_relatives_queries_run_while_another_thread_reads(lignor):
    # The threads take turns between calls, and inside a read wherever a
    # collection's finaliser runs Python code.
    people = b"".join(b"0 @P%d@ INDI\n1 FAMC @F1@\n" % i for i in range(50))
    g = parse(lignor, FAMILY + people)
    failures = []
    stop = threading.Event()

    def read_until_stopped():
        while not stop.is_set():
            try:
                g.individuals()
            except RuntimeError as error:
                failures.append(("individuals", str(error)))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    reader = threading.Thread(target=read_until_stopped)
    reader.start()
    try:
        for i in range(300):
            try:
                assert g.parents_of(f"@P{i % 50}@") == ["@I2@", "@I1@"]
                assert g.partners_of("@I1@") == ["@I2@"]
                assert len(g.children_of("@I2@")) == 51
            except RuntimeError as error:
                failures.append(("relatives", str(error)))
    finally:
        stop.set()
        reader.join()
        sys.setswitchinterval(interval)
    assert failures == []


# ----- reference counts ------------------------------------------------------

METHOD_CALLS = {
    "parse": lambda G, g, data: G.parse(data),
    "parse-refused": lambda G, g, data: pytest.raises(ValueError, G.parse, b"1 X\n"),
    "parse-type-error": lambda G, g, data: pytest.raises(TypeError, G.parse, "x"),
    "encoding": lambda G, g, data: g.encoding,
    "version": lambda G, g, data: g.version,
    "content_records": lambda G, g, data: g.content_records,
    "len": lambda G, g, data: len(g),
    "repr": lambda G, g, data: repr(g),
    "unresolved_pointers": lambda G, g, data: g.unresolved_pointers(),
    "to_text": lambda G, g, data: g.to_text(),
    "to_bytes": lambda G, g, data: g.to_bytes(),
}


@pytest.mark.parametrize("data", [FAMILY, b"0 HEAD\n0 TRLR\n"], ids=["family", "no-version"])
@pytest.mark.parametrize("name", sorted(METHOD_CALLS))
def test_reference_counts_stay_flat(lignor, name, data):
    call = METHOD_CALLS[name]
    G = lignor.Gedcom
    g = G.parse(data)
    assert_no_leaks(lambda: call(G, g, data), G, g, data)


# ----- the corpus ------------------------------------------------------------


@pytest.mark.skipif(not corpus_files(), reason="no shared corpus")
@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_corpus_round_trip(lignor, path):
    data = path.read_bytes()
    if path.name in REFUSED:
        with pytest.raises(ValueError) as caught:
            lignor.Gedcom.parse(data)
        assert caught.value.args == (REFUSED[path.name],)
        return
    g = lignor.Gedcom.parse(data)
    text = g.to_text()
    assert "\r" not in text and "\n\n" not in text
    expected = expected_text(data, g.encoding)
    if expected is not None:
        assert text == expected
    else:
        # ANSEL has no Python codec: every line written in plain ASCII comes back as it was.
        raw_lines = normalised(data.decode("latin-1")).split("\n")
        assert len(raw_lines) == len(text.split("\n"))
        for raw, line in zip(raw_lines, text.split("\n")):
            if raw.isascii():
                assert line == raw
    # What to_bytes writes reads back as UTF-8 to the same text, CHAR aside.
    again = lignor.Gedcom.parse(g.to_bytes())
    assert again.encoding.startswith("Read as UTF-8")
    assert normalised(again.to_text()) == again.to_text()
    assert len(again) == len(g)
    assert again.unresolved_pointers() == g.unresolved_pointers()


# ----- properties ------------------------------------------------------------

line_text = st.text(
    alphabet=st.characters(blacklist_categories=("Cs",), blacklist_characters="\r\n@"), max_size=20
)
lines = st.tuples(
    st.integers(0, 3), st.from_regex(r"[A-Z_][A-Z0-9_]{0,5}", fullmatch=True), line_text
)


@settings(max_examples=200, deadline=None)
@given(st.lists(lines, max_size=12), st.sampled_from(["\n", "\r\n", "\r"]))
def test_parse_write_parse_is_stable(lignor, body, newline):
    levels_ok = []
    depth = -1
    for level, tag, value in body:
        level = min(level, depth + 1) if levels_ok else 0
        depth = level
        levels_ok.append(
            f"{level} {tag} {value}".rstrip(" ") if value.strip() else f"{level} {tag}"
        )
    data = newline.join(levels_ok).encode()
    g = lignor.Gedcom.parse(data)
    text = g.to_text()
    again = lignor.Gedcom.parse(text.encode())
    assert again.to_text() == text
    assert len(again) == len(g)


# CHAR lines of every spelling, under the header or under other records, with
# the header anywhere (or beyond the decoder's 8 KiB declaration window, or
# twice), and non-ASCII text that any wrong declaration would turn into
# other letters.
char_lines = st.lists(
    st.tuples(
        st.sampled_from(["1 CHAR", "01 CHAR", "1  CHAR", "2 CHAR"]),
        st.sampled_from(["ANSEL", "ANSI", "ASCII", "UTF-8", "utf-8", "UNICODE"]),
    ),
    max_size=3,
)
record_lines = st.sampled_from(
    ["0 HEAD", "0 Head", "0 head", "00 @H1@ HEAD", "0 @I1@ INDI", "0 NOTE"]
)


@settings(max_examples=300, deadline=None, database=None)
@given(st.lists(st.tuples(record_lines, char_lines), min_size=1, max_size=5), st.integers(-1, 4))
def test_to_bytes_reads_back_as_the_same_text(lignor, records, padding_at):
    lines = []
    for index, (record, chars) in enumerate(records):
        if index == padding_at:
            lines.append("0 NOTE " + "x" * 8200)
        lines += [record, "1 NOTE Brontë Łódź"] + [
            f"{spelling} {value}" for spelling, value in chars
        ]
    g = lignor.Gedcom.parse("\n".join(lines).encode())
    written = g.to_bytes().decode()
    assert lignor.Gedcom.parse(written.encode()).to_text() == written
    # ... which is the document's own text but for its header's CHAR line.
    changed = [new for new, old in zip(written.split("\n"), g.to_text().split("\n")) if new != old]
    assert changed in ([], ["1 CHAR UTF-8"])
