"""The module frame: what importing registers, and the surface of Gedcom."""

import inspect

import pytest

MODULE_DOC = (
    "An archival-grade GEDCOM library: byte-preserving round-trip, encoding\n"
    "detection and reporting, GEDCOM 5.5 through 7.x."
)

# Registration order of the module; names of later areas are added as they land.
REGISTERED = ["Gedcom", "parse_date", "__version__"]

DOCSTRINGS = {
    "Gedcom": "A parsed GEDCOM document and the report of how its bytes were read.",
    "parse": "Reads a document from a file's bytes: encoding sniffed and reported,\n"
    "then parsed. Raises `ValueError` for input the bounds refuse.",
    "encoding": "What decoding decided, one line \u2014 show it before accepting an import.",
    "version": "The GEDCOM version the header declares, as written.",
    "content_records": "Records other than the header and trailer.",
    "unresolved_pointers": "Pointers with no record behind them, addressed precisely enough to\n"
    "repair.",
    "to_text": "The document as text, untouched lines byte for byte.",
    "to_bytes": "The document as UTF-8 bytes with a `CHAR` declaration that tells the\n"
    "truth about them \u2014 what should be written to disk.",
}

# Public callables with the parameters inspect.signature() must report.
SIGNATURES = {
    "parse": ["data"],
    "unresolved_pointers": [],
    "to_text": [],
    "to_bytes": [],
}


def test_import_registers_in_order(lignor):
    own = [name for name in vars(lignor) if name not in ("__name__", "__doc__", "__package__",
                                                        "__loader__", "__spec__", "__file__")]
    assert own == REGISTERED
    assert lignor.__version__ == "0.1.16"
    assert lignor.__doc__ == MODULE_DOC


def test_class_members_keep_the_surface_order(lignor):
    names = list(vars(lignor.Gedcom))
    methods = [n for n in names if n in ("parse", "unresolved_pointers", "to_text", "to_bytes")]
    properties = [n for n in names if n in ("encoding", "version", "content_records")]
    assert methods == ["parse", "unresolved_pointers", "to_text", "to_bytes"]
    assert properties == ["encoding", "version", "content_records"]


def test_gedcom_has_no_constructor(lignor):
    with pytest.raises(TypeError, match=r"^cannot create 'lignor.Gedcom' instances$"):
        lignor.Gedcom()
    with pytest.raises(TypeError):
        lignor.Gedcom.__new__(lignor.Gedcom)


def test_gedcom_is_final_and_immutable(lignor):
    with pytest.raises(TypeError):
        type("Sub", (lignor.Gedcom,), {})
    with pytest.raises(TypeError):
        lignor.Gedcom.parse = None


@pytest.mark.parametrize("name", sorted(DOCSTRINGS))
def test_docstrings_are_exact(lignor, name):
    target = lignor.Gedcom if name == "Gedcom" else vars(lignor.Gedcom)[name]
    assert target.__doc__ == DOCSTRINGS[name]


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_signatures_are_introspectable(lignor, name):
    on_class = getattr(lignor.Gedcom, name)
    bound = getattr(lignor.Gedcom.parse(b""), name)
    for callable_ in (bound,) if name != "parse" else (on_class, bound):
        assert list(inspect.signature(callable_).parameters) == SIGNATURES[name]
    expected_line = "($self)" if name != "parse" else "(data)"
    assert on_class.__text_signature__ == expected_line


def test_properties_are_read_only(lignor):
    g = lignor.Gedcom.parse(b"")
    for name in ("encoding", "version", "content_records"):
        with pytest.raises(AttributeError):
            setattr(g, name, None)
