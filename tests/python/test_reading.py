"""Gedcom reading: record, individual and family views, findings, relatives."""

import pytest

from conftest import assert_no_leaks, corpus_files, expected_text, readable_corpus, run_inside

FAMILY = (
    b"0 HEAD\n1 GEDC\n2 VERS 5.5.1\n1 CHAR UTF-8\n"
    b"0 @I1@ INDI\n1 NAME Ann /Smith/\n1 SEX F\n1 BIRT\n2 DATE 1900\n2 PLAC Leeds\n1 DEAT\n2 DATE 1850\n"
    b"1 FAMS @F1@\n"
    b"0 @I2@ INDI\n1 NAME Bob /Smith/\n1 FAMS @F1@\n1 FAMC @F9@\n2 PEDI birth\n1 SOUR @S1@\n"
    b"0 @F1@ FAM\n1 HUSB @I2@\n1 WIFE @I1@\n1 CHIL @I9@\n2 NOTE @n4@\n"
    b"0 TRLR\n"
)

RECORD_KEYS = ["xref", "tag", "label", "title", "structures", "raw"]
STRUCTURE_KEYS = [
    "path",
    "level",
    "tag",
    "label",
    "kind",
    "value",
    "pointer",
    "extension",
    "children",
]
INDIVIDUAL_KEYS = [
    "xref",
    "names",
    "sex",
    "events",
    "childIn",
    "partnerIn",
    "citations",
    "media",
    "identifiers",
]
NAME_KEYS = ["display", "sort", "original", "kind", "citations"]
LINK_KEYS = ["family", "pedigree"]
EVENT_KEYS = [
    "tag",
    "label",
    "date",
    "dateDisplay",
    "year",
    "sortKey",
    "place",
    "age",
    "cause",
    "attribute",
    "value",
    "citations",
    "path",
]
FAMILY_KEYS = ["xref", "husband", "wife", "children", "events"]
FINDING_KEYS = ["record", "check", "severity", "message"]


def parse(lignor, data):
    return lignor.Gedcom.parse(data)


def ascii_upper(text):
    """Upper-cases ASCII letters only, the way identifiers are compared."""
    return "".join(c.upper() if "a" <= c <= "z" else c for c in text)


def same_xref(a, b):
    return ascii_upper(a) == ascii_upper(b)


def ascii_lower(text):
    return "".join(c.lower() if "A" <= c <= "Z" else c for c in text)


# ----- views -----------------------------------------------------------------


def test_counts_of_records_individuals_and_families(lignor):
    g = parse(lignor, FAMILY)
    records = g.records()
    assert [r["xref"] for r in records] == [None, "@I1@", "@I2@", "@F1@", None]
    assert [r["tag"] for r in records] == ["HEAD", "INDI", "INDI", "FAM", "TRLR"]
    assert [i["xref"] for i in g.individuals()] == ["@I1@", "@I2@"]
    assert [f["xref"] for f in g.families()] == ["@F1@"]


def test_views_of_a_document_without_records_are_empty_lists(lignor):
    g = parse(lignor, b"")
    assert (g.records(), g.individuals(), g.families(), g.validate()) == ([], [], [], [])


def test_only_records_tagged_exactly_indi_and_fam_are_listed(lignor):
    g = parse(lignor, b"0 @I1@ indi\n0 @I2@ INDI\n0 @F1@ Fam\n0 @F2@ FAM\n0 @X1@ _INDI\n")
    assert [i["xref"] for i in g.individuals()] == ["@I2@"]
    assert [f["xref"] for f in g.families()] == ["@F2@"]
    assert len(g.records()) == 5


def test_dict_keys_come_in_declared_order(lignor):
    g = parse(lignor, FAMILY)
    for record in g.records():
        assert list(record) == RECORD_KEYS
        for structure in record["structures"]:
            assert list(structure) == STRUCTURE_KEYS
            for child in structure["children"]:
                assert list(child) == STRUCTURE_KEYS
    ann, bob = g.individuals()
    assert list(ann) == INDIVIDUAL_KEYS
    assert list(ann["names"][0]) == NAME_KEYS
    assert [list(e) for e in ann["events"]] == [EVENT_KEYS, EVENT_KEYS]
    assert [list(link) for link in ann["partnerIn"] + bob["childIn"]] == [LINK_KEYS, LINK_KEYS]
    assert list(g.families()[0]) == FAMILY_KEYS
    assert all(list(finding) == FINDING_KEYS for finding in g.validate())


def test_views_carry_what_the_records_say(lignor):
    g = parse(lignor, FAMILY)
    ann, bob = g.individuals()
    assert (ann["names"][0]["display"], ann["sex"], ann["events"][0]["place"]) == (
        "Ann Smith",
        "Female",
        "Leeds",
    )
    assert ann["events"][0]["path"] == [2]
    assert bob["childIn"] == [{"family": "@F9@", "pedigree": "Birth"}]
    assert bob["citations"] == ["@S1@"]
    assert g.families()[0]["husband"] == "@I2@"
    assert g.families()[0]["children"] == ["@I9@"]
    header = g.records()[0]
    assert header["raw"] == "0 HEAD\n1 GEDC\n2 VERS 5.5.1\n1 CHAR UTF-8\n"
    assert header["structures"][0]["children"][0]["path"] == [0, 0]


@pytest.mark.parametrize("xref", ["@I1@", "@i1@"])
def test_record_finds_its_identifier_ignoring_ascii_case(lignor, xref):
    g = parse(lignor, FAMILY)
    assert g.record(xref) == g.records()[1]
    assert g.record(xref=xref)["xref"] == "@I1@"


@pytest.mark.parametrize(
    "xref",
    ["@I7@", "@I1", "I1", "", "HEAD", "@\u01301@", "@I1@\udc80"],
    ids=["unknown", "unclosed", "bare", "empty", "tag", "dotted-capital", "lone-surrogate"],
)
def test_record_without_match_raises_key_error_with_the_identifier_as_given(lignor, xref):
    with pytest.raises(KeyError) as caught:
        parse(lignor, FAMILY).record(xref)
    assert caught.value.args == (xref,)


def test_validate_gives_findings_individuals_first_then_families(lignor):
    g = parse(lignor, FAMILY + b"0 @F2@ FAM\n1 MARR\n")
    assert g.validate() == [
        {
            "record": "@I1@",
            "check": "died-before-born",
            "severity": "Contradiction",
            "message": "born 1900 and died 1850",
        },
        {
            "record": "@I1@",
            "check": "no-source",
            "severity": "Missing",
            "message": "nothing on this record cites a source",
        },
        {
            "record": "@F2@",
            "check": "empty-family",
            "severity": "Question",
            "message": "this family records nobody at all",
        },
    ]


# ----- relatives -------------------------------------------------------------

FAMILY_SIDE = (
    b"0 @F1@ FAM\n1 HUSB @I1@\n1 WIFE @I2@\n1 CHIL @I3@\n0 @I1@ INDI\n0 @I2@ INDI\n0 @I3@ INDI\n"
)
INDIVIDUAL_SIDE = b"0 @I1@ INDI\n1 FAMS @F1@\n0 @I2@ INDI\n1 FAMS @F1@\n0 @I3@ INDI\n1 FAMC @F1@\n"
BOTH_SIDES = (
    b"0 @I1@ INDI\n1 FAMS @F1@\n0 @I2@ INDI\n1 FAMS @f1@\n0 @I3@ INDI\n1 FAMC @F1@\n"
    b"0 @F1@ FAM\n1 HUSB @i1@\n1 CHIL @I3@\n1 CHIL @VOID@\n"
)


@pytest.mark.parametrize(
    "data, parents, children, partners",
    [
        (FAMILY_SIDE, ["@I1@", "@I2@"], ["@I3@"], ["@I2@"]),
        (INDIVIDUAL_SIDE, ["@I1@", "@I2@"], ["@I3@"], ["@I2@"]),
        (BOTH_SIDES, ["@i1@", "@I2@"], ["@I3@"], ["@I2@"]),
    ],
    ids=["family-side", "individual-side", "both-sides"],
)
def test_relatives_from_either_side_of_the_links(lignor, data, parents, children, partners):
    g = parse(lignor, data)
    assert g.parents_of("@I3@") == g.parents_of(xref="@i3@") == parents
    assert g.children_of("@I1@") == g.children_of("@i1@") == children
    assert g.partners_of("@I1@") == partners
    assert g.parents_of("@I1@") == g.children_of("@I3@") == []


@pytest.mark.parametrize(
    "xref",
    ["@I404@", "@VOID@", "", "I3", "@I3@\udc80"],
    ids=["unknown", "void", "empty", "bare", "lone-surrogate"],
)
def test_relatives_of_an_identifier_no_record_has_raise_key_error(lignor, xref):
    g = parse(lignor, BOTH_SIDES)
    for query in (g.parents_of, g.children_of, g.partners_of):
        with pytest.raises(KeyError) as caught:
            query(xref)
        assert caught.value.args == (xref,)


def test_repeated_relatives_queries_agree_and_return_fresh_lists(lignor):
    g = parse(lignor, FAMILY_SIDE)
    first = g.parents_of("@I3@")
    first.append("changed")
    assert g.parents_of("@I3@") == ["@I1@", "@I2@"]
    assert g.parents_of("@I3@") is not g.parents_of("@I3@")


def test_relatives_queries_nest_inside_a_read(lignor):
    g = parse(lignor, FAMILY_SIDE)
    seen = []

    def query():
        # The first query fills the relatives cache from inside another read.
        seen.append((g.parents_of("@I3@"), len(g.individuals())))

    assert run_inside(lambda: g.record("@F1@"), query)["xref"] == "@F1@"
    assert seen == [(["@I1@", "@I2@"], 3)]
    assert g.parents_of("@I3@") == ["@I1@", "@I2@"]


# ----- arguments -------------------------------------------------------------


@pytest.mark.parametrize(
    "call, words",
    [
        (lambda g: g.record(1), ["record()", "'xref'", "str", "int"]),
        (lambda g: g.record(b"@I1@"), ["record()", "'xref'", "bytes"]),
        (lambda g: g.record(), ["record()", "'xref'"]),
        (lambda g: g.record("@I1@", "@I2@"), ["record()", "2 given"]),
        (lambda g: g.record(id="@I1@"), ["record()", "unexpected", "'id'"]),
        (lambda g: g.parents_of(None), ["parents_of()", "'xref'", "NoneType"]),
        (lambda g: g.children_of(["@I1@"]), ["children_of()", "'xref'", "list"]),
        (lambda g: g.partners_of(), ["partners_of()", "'xref'"]),
        (lambda g: g.partners_of("@I1@", xref="@I1@"), ["partners_of()", "multiple", "'xref'"]),
        (lambda g: g.records(1), ["records()", "no arguments"]),
        (lambda g: g.individuals(x=1), ["individuals()", "keyword"]),
        (lambda g: g.families(None), ["families()"]),
        (lambda g: g.validate(0), ["validate()"]),
    ],
    ids=[
        "record-int",
        "record-bytes",
        "record-missing",
        "record-surplus",
        "record-keyword",
        "parents_of-none",
        "children_of-list",
        "partners_of-missing",
        "partners_of-twice",
        "records-surplus",
        "individuals-keyword",
        "families-surplus",
        "validate-surplus",
    ],
)
def test_bad_arguments_raise_type_error_naming_function_and_argument(lignor, call, words):
    with pytest.raises(TypeError) as caught:
        call(parse(lignor, FAMILY))
    for word in words:
        assert word in str(caught.value)


# ----- reference counts ------------------------------------------------------

METHOD_CALLS = {
    "records": lambda g: g.records(),
    "record": lambda g: g.record("@i1@"),
    "record-missing": lambda g: pytest.raises(KeyError, g.record, "@X1@"),
    "record-type-error": lambda g: pytest.raises(TypeError, g.record, 1),
    "individuals": lambda g: g.individuals(),
    "families": lambda g: g.families(),
    "validate": lambda g: g.validate(),
    "check_version7": lambda g: g.check_version7(),
    "parents_of": lambda g: g.parents_of("@I2@"),
    "children_of": lambda g: g.children_of("@I2@"),
    "partners_of": lambda g: g.partners_of("@I1@"),
    "partners_of-nobody": lambda g: pytest.raises(KeyError, g.partners_of, "@X1@"),
    "parents_of-type-error": lambda g: pytest.raises(TypeError, g.parents_of, b""),
}


@pytest.mark.parametrize("name", sorted(METHOD_CALLS))
def test_reference_counts_stay_flat(lignor, name):
    call = METHOD_CALLS[name]
    g = parse(lignor, FAMILY)
    assert_no_leaks(lambda: call(g), g)


# ----- the corpus ------------------------------------------------------------


@pytest.mark.skipif(not corpus_files(), reason="no shared corpus")
@pytest.mark.parametrize("path", readable_corpus(), ids=lambda p: p.name)
def test_corpus_views_and_relatives(lignor, path):
    data = path.read_bytes()
    g = lignor.Gedcom.parse(data)
    records = g.records()
    text = expected_text(data, g.encoding)
    if text is not None:  # the records' texts are the file's lines, in order
        assert "".join(r["raw"] for r in records) == text
    individuals = g.individuals()
    families = g.families()
    assert len(records) - sum(r["tag"] in ("HEAD", "TRLR") for r in records) == len(g)
    assert [i["xref"] for i in individuals] == [
        r["xref"] or "" for r in records if r["tag"] == "INDI"
    ]
    assert [f["xref"] for f in families] == [r["xref"] or "" for r in records if r["tag"] == "FAM"]
    for finding in g.validate():
        assert list(finding) == FINDING_KEYS
    for record in records:
        if record["xref"] is not None:
            assert same_xref(g.record(ascii_lower(record["xref"]))["xref"], record["xref"])

    # The graph agrees with the family views: every child of a family with
    # a husband counts him among its parents (who may be asked about when
    # records carry them).
    known = {ascii_upper(record["xref"]) for record in records if record["xref"]}
    for family in families:
        husband = family["husband"]
        if husband is None or ascii_upper(husband) not in known or not family["xref"]:
            continue
        for child in family["children"]:
            if ascii_upper(child) in known:
                assert ascii_upper(husband) in map(ascii_upper, g.parents_of(child))
                assert ascii_upper(child) in map(ascii_upper, g.children_of(husband))
