"""Every result the module builds is json.loads of the core's JSON form of the
same value: equal, with the same key order and the same types."""

import gc
import json
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import REPO, readable_corpus

# The JSON side is built with the tests beside the module and never installed:
# against an installed package these checks have nothing to compare with.
oracle = pytest.importorskip("lignor_json_oracle")


def assert_same(built, texts):
    """`built` against json.loads of one JSON text, or of each of a list."""
    loaded = json.loads(texts) if isinstance(texts, str) else [json.loads(t) for t in texts]
    assert built == loaded
    # dumps keeps key order and tells True from 1 and 1 from 1.0.
    assert json.dumps(built) == json.dumps(loaded)
    # Built of atoms all the way down: nothing for the collector to walk; and
    # no dict or list (mutable) reached twice.
    containers = list(nested_containers(built))
    assert not any(gc.is_tracked(c) for c in containers)
    assert len({id(c) for c in containers}) == len(containers)


def nested_containers(value):
    if isinstance(value, (dict, list)):
        yield value
        for item in value.values() if isinstance(value, dict) else value:
            yield from nested_containers(item)


def date_payloads(structures):
    for structure in structures:
        if structure["tag"] == "DATE":
            yield structure["value"]
        yield from date_payloads(structure["children"])


def assert_every_method_agrees(lignor, data):
    g = lignor.Gedcom.parse(data)
    document = oracle.parse(data)
    records = g.records()
    record_texts = oracle.records(document)
    assert_same(records, record_texts)
    first_of = {}
    for record, text in zip(records, record_texts):
        if record["xref"] is not None:
            first_of.setdefault(record["xref"].encode().upper(), (record["xref"], text))
    for xref, text in first_of.values():
        assert_same(g.record(xref), text)
    assert_same(g.individuals(), oracle.individuals(document))
    assert_same(g.families(), oracle.families(document))
    assert_same(g.validate(), oracle.validate(document))
    assert_same(g.check_version7(), oracle.check_version7(document))
    assert_same(g.unresolved_pointers(), oracle.unresolved_pointers(document))
    assert_same(g.to_version7()[1], oracle.to_version7_notes(document))
    for payload in {p for r in records for p in date_payloads(r["structures"])}:
        assert_same(lignor.parse_date(payload), oracle.parse_date(payload))
    wrapped = oracle.wrap_long_lines(document, 40)  # an edit: last
    if wrapped is None:
        with pytest.raises(ValueError):
            g.wrap_long_lines(40)
    else:
        assert_same(g.wrap_long_lines(40), wrapped)


def generated_document():
    return subprocess.run(
        [
            sys.executable,
            str(REPO / "bench" / "generate_gedcom.py"),
            "--size-mb",
            "0.3",
            "--output",
            "/dev/stdout",
        ],
        check=True,
        capture_output=True,
    ).stdout


@pytest.mark.parametrize(
    "path", [*readable_corpus(), "generated"], ids=lambda p: getattr(p, "name", p)
)
def test_corpus_and_generated_documents(lignor, path):
    data = generated_document() if path == "generated" else path.read_bytes()
    assert_every_method_agrees(lignor, data)


# ----- generated documents -----------------------------------------------------

texts = st.text(
    alphabet=st.characters(blacklist_categories=("Cs",), blacklist_characters="\r\n"), max_size=12
)
dates = st.lists(
    st.sampled_from(
        [
            "ABT",
            "BET",
            "AND",
            "FROM",
            "TO",
            "INT",
            "@#DJULIAN@",
            "JAN",
            "5",
            "1700",
            "1700/01",
            "(x)",
            "B.C.",
            "mai",
        ]
    ),
    max_size=5,
).map(" ".join)
pointers = st.sampled_from(["@I1@", "@i2@", "@F1@", "@S1@", "@VOID@", "@X9@"])
payloads = st.one_of(st.none(), texts, pointers, st.just("Y"))
SUBSTRUCTURES = [
    "NAME",
    "SEX",
    "BIRT",
    "DEAT",
    "MARR",
    "OCCU",
    "EVEN",
    "FACT",
    "TYPE",
    "FAMC",
    "FAMS",
    "PEDI",
    "CHIL",
    "HUSB",
    "WIFE",
    "SOUR",
    "OBJE",
    "REFN",
    "_UID",
    "_XID",
    "PLAC",
    "AGE",
    "CAUS",
    "NOTE",
    "CONT",
    "CONC",
    "_X",
]


@st.composite
def structures(draw, level):
    tag = draw(st.sampled_from(["DATE", *SUBSTRUCTURES]))
    value = draw(dates if tag == "DATE" else payloads)
    lines = [f"{level} {tag}" + ("" if value is None else f" {value}")]
    if level < 4:
        for _ in range(draw(st.integers(0, 3))):
            lines += draw(structures(level + 1))
    return lines


@st.composite
def documents(draw):
    lines = ["0 HEAD", "1 GEDC", f"2 VERS {draw(st.sampled_from(['5.5.1', '7.0']))}"]
    for _ in range(draw(st.integers(0, 4))):
        tag = draw(st.sampled_from(["INDI", "FAM", "SOUR", "NOTE", "_LOC"]))
        xref = draw(st.sampled_from(["", "@I1@ ", "@I2@ ", "@F1@ ", "@S1@ "]))
        lines.append(f"0 {xref}{tag}")
        for _ in range(draw(st.integers(0, 5))):
            lines += draw(structures(1))
    return ("\n".join(lines + ["0 TRLR"]) + "\n").encode()


@settings(max_examples=150, deadline=None)
@given(documents())
def test_generated_documents(lignor, data):
    assert_every_method_agrees(lignor, data)


@settings(max_examples=200, deadline=None)
@given(
    st.one_of(
        dates,
        st.text(alphabet=st.characters(blacklist_categories=()), max_size=20),
        st.text(alphabet="\ud800\udfff a", max_size=4),
    )
)
def test_any_date_text_lone_surrogates_included(lignor, text):
    assert_same(lignor.parse_date(text), oracle.parse_date(text))


def test_a_changed_result_leaves_every_other_alike(lignor):
    """Dicts of one shape start as copies of one template: keys added, values
    replaced and keys removed in one dict show in no other, then or later."""
    data = (REPO / "examples" / "sample.ged").read_bytes()
    expected = oracle.individuals(oracle.parse(data))
    g = lignor.Gedcom.parse(data)
    first = g.individuals()
    changed = first[0]
    for view in [changed, *changed["names"], *changed["events"], *changed["childIn"]]:
        view["added"] = 1
        view[next(iter(view))] = "replaced"
        del view[list(view)[1]]
    assert json.dumps(first[1:]) == json.dumps([json.loads(t) for t in expected[1:]])
    assert_same(g.individuals(), expected)
