"""The GEDCOM 7 conformance check the conversion tests rely on: the standard's
own samples pass untouched, and each kind of departure is caught."""

import pytest

import gedcom7_check
from conftest import CORPUS

pytestmark = pytest.mark.skipif(not gedcom7_check.DATA.is_dir(),
                                reason=f"no GEDCOM 7 data at {gedcom7_check.DATA}")

SAMPLES = ["age.ged", "date.ged", "escapes.ged", "extensions.ged", "gedcom7code-7-atsign.ged",
           "long-url.ged", "maximal70.ged", "minimal70.ged", "minimal71.ged", "notes-1.ged",
           "remarriage1.ged", "same-sex-marriage.ged", "voidptr.ged", "xref.ged"]


@pytest.mark.parametrize("name", SAMPLES)
def test_the_standards_samples_conform(name):
    path = CORPUS / name
    if not path.is_file():
        pytest.skip(f"no {path}")
    assert gedcom7_check.problems(path.read_text(encoding="utf-8")) == []


def document(individual):
    """A header, an individual with the lines given (from line 4), a family."""
    return ("0 HEAD\n1 GEDC\n2 VERS 7.0\n0 @I1@ INDI\n" + individual +
            "0 @F1@ FAM\n0 @N1@ SNOTE x\n0 TRLR\n")


@pytest.mark.parametrize("individual, found", [
    # Allowed: extensions anywhere and unexamined, a void pointer, an empty
    # date with its phrase, a dual-free date range, an enumeration value.
    ("1 _X y\n2 RIN z\n1 FAMC @VOID@\n1 BIRT Y\n2 DATE\n3 PHRASE sometime\n"
     "1 DEAT\n2 DATE BET JULIAN 1 FEB 1700 AND 1701\n1 SEX X\n1 SNOTE @N1@\n", []),
    ("1 RIN 1\n2 _Y x\n", ["line 5: INDI.RIN is not allowed here"]),
    ("1 SEX M\n1 SEX F\n", ["line 4: INDI has 2 of SEX, not {0:1}"]),
    ("1 SEX male\n", ["line 5: INDI.SEX 'male' is not among the values of its set"]),
    ("1 BIRT\n2 DATE 2 Oct 1822\n",
     ["line 6: BIRT.DATE payload '2 Oct 1822' is not of type type-Date"]),
    ("1 BIRT\n2 DATE ABT 1822 BCE AD\n",
     ["line 6: BIRT.DATE payload 'ABT 1822 BCE AD' is not of type type-Date"]),
    ("1 BIRT N\n", ["line 5: INDI.BIRT payload 'N' is not Y"]),
    ("1 FAMC @I1@\n",
     ["line 5: INDI.FAMC points to @I1@, not a record of type "
      "https://gedcom.io/terms/v7/record-FAM"]),
    ("1 FAMS family\n", ["line 5: INDI.FAMS payload 'family' is not a pointer"]),
    ("1 NAME @N1@\n", ["line 5: INDI.NAME payload '@N1@' is a pointer where text is defined"]),
    ("1 ASSO @I1@\n2 PHRASE p\n3 CONT q\n1 FAMC @F1@\n2 STAT x\n",
     ["line 5: INDI.ASSO has 0 of ROLE, not {1:1}",
      "line 9: FAMC.STAT 'x' is not among the values of its set"]),
])
def test_each_kind_of_departure_is_found(individual, found):
    assert gedcom7_check.problems(document(individual)) == found


def test_header_records_and_exact_dates_are_held_to_the_tables():
    text = "0 HEAD\n1 GEDC x\n2 VERS 7.0\n1 DATE ABT 2000\n0 @S1@ SUBN\n0 TRLR\n"
    assert gedcom7_check.problems(text) == [
        "line 2: HEAD.GEDC has a payload where none is defined",
        "line 4: HEAD.DATE payload 'ABT 2000' is not of type type-Date#exact",
        "line 5: SUBN is not a record",
    ]
