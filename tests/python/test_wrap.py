"""Gedcom.wrap_long_lines and Gedcom.fit_line_limit: long lines split across
CONC lines, logical values kept, untouched lines written back as read."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import REFUSED, assert_no_leaks, corpus_files

HEAD = "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n"
CONTINUATION = ("CONT", "CONC")


# ----- a reading of the written text, independent of the library ------------


class Line:
    def __init__(self, text):
        self.text = text
        level, rest = text.split(" ", 1)
        self.level = int(level)
        token, space, remainder = rest.lstrip(" ").partition(" ")
        self.xref = None
        if token.startswith("@"):
            self.xref = token
            token, space, remainder = remainder.partition(" ")
        self.tag = token
        self.value = remainder if space else None
        self.children = []

    def logical(self):
        text = self.value or ""
        for child in self.children:
            if child.tag == "CONT":
                text += "\n"
            if child.tag in CONTINUATION:
                text += child.value or ""
        return text

    def continuations(self):
        return [child for child in self.children if child.tag in CONTINUATION]


def tree(text):
    """The records of a text, as `Line`s with their substructures."""
    records, open_lines = [], []
    for text_line in text.splitlines():
        line = Line(text_line)
        del open_lines[line.level :]
        (open_lines[-1].children if open_lines else records).append(line)
        open_lines.append(line)
    return records


def structures(records):
    """(record name, path, level, line, whether a continuation line stands
    above it) of every structure that is not a continuation line, in
    document order."""
    found = []

    def visit(name, path, line, inside):
        if not path or line.tag not in CONTINUATION:
            found.append((name, tuple(path), len(path), line, inside))
        inside = inside or (bool(path) and line.tag in CONTINUATION)
        for index, child in enumerate(line.children):
            visit(name, path + [index], child, inside)

    for record in records:
        visit(record.xref or record.tag, [], record, False)
    return found


def logical_values(text):
    return [(level, line.tag, line.logical()) for _, _, level, line, _ in structures(tree(text))]


def long_lines(text, limit):
    """(record, path) of every structure with a line over `limit` bytes,
    terminator included: a continuation line counts for the structure it
    continues, unless a continuation line stands above that one too."""
    found = set()

    def visit(name, path, line, inside):
        over = len(line.text.encode()) + 1 > limit
        if over and (inside or not path or line.tag not in CONTINUATION):
            found.add((name, tuple(path)))
        elif over:
            found.add((name, tuple(path[:-1])))
        inside = inside or (bool(path) and line.tag in CONTINUATION)
        for index, child in enumerate(line.children):
            visit(name, path + [index], child, inside)

    for record in tree(text):
        visit(record.xref or record.tag, [], record, False)
    return found


def left_long(report):
    return {(w["record"], tuple(w["path"])) for w in report if not w["wrapped"]}


# ----- generated documents --------------------------------------------------

texts = st.text(alphabet="ab cé中 ", max_size=400)
short_texts = st.text(alphabet="xy é", max_size=8)


@st.composite
def structure_lines(draw, level):
    """One structure with a continuation run and maybe a substructure; its
    own line sometimes written with a level "01" or two spaces."""
    tag = draw(st.sampled_from(["NOTE", "NAME", "_X", "SOUR"]))
    value = draw(
        st.one_of(st.none(), texts, short_texts, st.just("@" + "p" * 300 + "@"), st.just("@N1@"))
    )
    level_text = draw(st.sampled_from([str(level), f"0{level}", f"{level} "]))
    lines = [f"{level_text} {tag}" + ("" if value is None else f" {value}")]
    for _ in range(draw(st.integers(0, 3))):
        run_tag = draw(st.sampled_from(CONTINUATION))
        run_value = draw(st.one_of(st.none(), texts, short_texts))
        lines.append(f"{level + 1} {run_tag}" + ("" if run_value is None else f" {run_value}"))
        if draw(st.integers(0, 15)) == 0:
            lines.append(f"{level + 2} _KEEP {draw(short_texts)}")
    if level < 3 and draw(st.booleans()):
        lines += draw(structure_lines(level + 1))
    return lines


@st.composite
def documents(draw):
    lines = HEAD.splitlines()
    for index in range(draw(st.integers(1, 3))):
        note = draw(st.one_of(st.none(), texts))
        lines.append(f"0 @N{index}@ NOTE {note}" if note is not None else f"0 @I{index}@ INDI")
        for _ in range(draw(st.integers(0, 3))):
            lines += draw(structure_lines(1))
    return "\n".join(lines + ["0 TRLR"]) + "\n"


@settings(max_examples=300, deadline=None)
@given(text=documents(), limit=st.integers(32, 300))
def test_wrapping_keeps_every_logical_value_and_fits_every_line(lignor, text, limit):
    g = lignor.Gedcom.parse(text.encode())
    before = g.to_text()
    report = g.wrap_long_lines(limit)
    after = g.to_text()
    assert logical_values(after) == logical_values(before)
    assert long_lines(after, limit) == left_long(report)
    assert logical_values(lignor.Gedcom.parse(g.to_bytes()).to_text()) == logical_values(before)
    assert all(not w["wrapped"] and w["reason"] for w in g.wrap_long_lines(limit))
    assert g.to_text() == after


@settings(max_examples=100, deadline=None)
@given(value=texts, limit=st.integers(32, 300))
def test_fitting_an_edited_structure_fits_its_lines(lignor, value, limit):
    g = lignor.Gedcom.parse(f"{HEAD}0 @I1@ INDI\n1 NOTE x\n0 TRLR\n".encode())
    g.set_logical_value("@I1@", [0], value)
    g.fit_line_limit("@i1@", limit)
    after = g.to_text()
    assert tree(after)[1].children[0].logical() == value
    assert [line for line in after.splitlines() if len(line.encode()) + 2 > limit] == []
    assert g.fit_line_limit("@I1@", limit) == []


@settings(max_examples=300, deadline=None)
@given(text=documents(), limit=st.integers(32, 300))
def test_fitting_keeps_every_logical_value_and_reports_every_line_it_leaves_long(
    lignor, text, limit
):
    g = lignor.Gedcom.parse(text.encode())
    before = g.to_text()
    names = [record.xref or record.tag for record in tree(before)]
    report = [line for name in names for line in g.fit_line_limit(name, limit)]
    after = g.to_text()
    assert logical_values(after) == logical_values(before)
    # Fitting keeps two bytes of the limit for the terminator.
    assert long_lines(after, limit - 1) == left_long(report)
    again = [line for name in names for line in g.fit_line_limit(name, limit)]
    assert again == [line for line in report if not line["wrapped"]]
    assert g.to_text() == after


# ----- worked examples and refusals -------------------------------------------


def test_wrap_and_fit_report_what_they_changed(lignor):
    g = lignor.Gedcom.parse(f"{HEAD}0 @I1@ INDI\n1 NOTE {'a' * 300}\n0 TRLR\n".encode())
    assert g.fit_line_limit("@I1@", max_line_bytes=309) == []
    assert g.wrap_long_lines() == [
        {"record": "@I1@", "path": [0], "tag": "NOTE", "wrapped": True, "reason": None}
    ]
    assert g.to_text().splitlines()[4:6] == ["1 NOTE " + "a" * 247, "2 CONC " + "a" * 53]
    # Fitting keeps two bytes for the terminator, wrapping one.
    assert g.fit_line_limit(xref="@I1@", max_line_bytes=256) == []
    assert g.fit_line_limit("@I1@") == [
        {"record": "@I1@", "path": [0], "tag": "NOTE", "wrapped": True, "reason": None}
    ]


@pytest.mark.parametrize(
    "call, raised, message",
    [
        (
            lambda g: g.wrap_long_lines(31),
            ValueError,
            "a line limit under 32 bytes leaves no room for a payload",
        ),
        (lambda g: g.wrap_long_lines(max_line_bytes=-1), OverflowError, None),
        (lambda g: g.wrap_long_lines("255"), TypeError, "max_line_bytes"),
        (lambda g: g.fit_line_limit("@X1@"), KeyError, "'@X1@'"),
        (lambda g: g.fit_line_limit("@I1@\ud800"), KeyError, None),
        (lambda g: g.fit_line_limit(1), TypeError, "xref"),
        (lambda g: g.fit_line_limit("@I1@", 1.5), TypeError, "max_line_bytes"),
        (lambda g: g.fit_line_limit("@I1@", True), TypeError, "max_line_bytes"),
        *[
            (
                lambda g, limit=limit: g.fit_line_limit("@I1@", limit),
                ValueError,
                "a line limit under 32 bytes leaves no room for a payload",
            )
            for limit in (0, 10, 16, 31)
        ],
    ],
)
def test_refusals_change_nothing(lignor, call, raised, message):
    text = f"{HEAD}0 @I1@ INDI\n1 NOTE {'a' * 300}\n0 TRLR\n"
    g = lignor.Gedcom.parse(text.encode())
    with pytest.raises(raised) as error:
        call(g)
    if message is not None:
        assert message in str(error.value)
    assert g.to_text() == text


def test_version_7_is_refused_before_the_limit(lignor):
    text = f"0 head\n1 GEDC\n2 VERS 7.0\n0 @N1@ NOTE {'a' * 300}\n0 TRLR\n"
    g = lignor.Gedcom.parse(text.encode())
    for limit in (31, 255):
        for call in (lambda: g.wrap_long_lines(limit), lambda: g.fit_line_limit("@N1@", limit)):
            with pytest.raises(ValueError, match="^version 7 has no CONC and no line limit, so"):
                call()
    assert g.to_text() == text


def test_fit_addresses_records_as_the_appends_do(lignor):
    g = lignor.Gedcom.parse(f"{HEAD}0 TRLR\n".encode())
    g.set_logical_value("head", [0], "b" * 300)
    assert [line["wrapped"] for line in g.fit_line_limit("HEAD")] == [True]
    assert max(len(line) for line in g.to_text().splitlines()) < 255


# ----- the corpus -------------------------------------------------------------


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_corpus_wrapping_touches_only_what_it_reports(lignor, path):
    if path.name in REFUSED:
        pytest.skip("the reader refuses this file")
    g = lignor.Gedcom.parse(path.read_bytes())
    before = g.to_text()
    try:
        wrapped = g.wrap_long_lines(255)
    except ValueError as error:
        assert str(error).startswith("version 7 has no CONC")
        return
    after = g.to_text()
    assert logical_values(after) == logical_values(before)
    assert long_lines(after, 255) == left_long(wrapped)
    rewritten = {(w["record"], tuple(w["path"])) for w in wrapped if w["wrapped"]}
    for old, new in zip(structures(tree(before)), structures(tree(after)), strict=True):
        if (new[0], new[1]) in rewritten:
            continue
        assert [l.text for l in [old[3], *old[3].continuations()]] == [
            l.text for l in [new[3], *new[3].continuations()]
        ]


def test_no_leaks(lignor):
    data = f"{HEAD}0 @I1@ INDI\n1 NOTE {'a' * 300}\n0 TRLR\n".encode()
    g = lignor.Gedcom.parse(data)
    missing = "@X1@"

    def fit_missing():
        with pytest.raises(KeyError):
            g.fit_line_limit(missing)

    assert_no_leaks(lambda: lignor.Gedcom.parse(data).wrap_long_lines(255), data)
    assert_no_leaks(lambda: lignor.Gedcom.parse(data).fit_line_limit("@I1@", 100), data)
    assert_no_leaks(fit_missing, missing)
