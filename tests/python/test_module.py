"""The module frame: what importing registers, and the surface of Gedcom."""

import inspect

import pytest

from conftest import public_callables, signature_fault

MODULE_DOC = (
    "An archival-grade GEDCOM library: byte-preserving round-trip, encoding\n"
    "detection and reporting, GEDCOM 5.5 through 7.x."
)

# Registration order of the module; names of later areas are added as they land.
REGISTERED = ["Gedcom", "ArchiveWriter", "ArchiveFileWriter", "archive_total_size", "parse_date",
              "__version__"]

DOCSTRINGS = {
    "Gedcom": "A parsed GEDCOM document and the report of how its bytes were read.",
    "parse": "Reads a document from a file's bytes: encoding sniffed and reported,\n"
    "then parsed. Raises `ValueError` for input the bounds refuse.\n\n"
    "`limits` tightens some of those bounds by name (`max_file_bytes`,\n"
    "`max_line_length`, `max_records`, `max_lines`, `max_depth`); the\n"
    "document is read under them, and every edit keeps it within them.",
    "encoding": "What decoding decided, one line \u2014 show it before accepting an import.",
    "version": "The GEDCOM version the header declares, as written.",
    "content_records": "Records other than the header and trailer.",
    "records": "Every record as a view dict, nothing omitted \u2014 unknown tags included.",
    "record": "One record's view dict, by cross-reference identifier.",
    "individuals": "Every individual, read for display: names, events, families, IDs.",
    "families": "Every family record's view.",
    "validate": "Plausibility findings: contradictions, questions, and what cites\n"
    "nothing \u2014 reported with the numbers they were drawn from.",
    "check_version7": "Every problem of the GEDCOM 7 text `to_text()` writes: line syntax,\n"
    "structures version 7 does not define where they stand, cardinalities,\n"
    "payload types, enumerations, pointers, duplicate identifiers, and the\n"
    "header and trailer. Each is a dict with its line number in that text,\n"
    "the record, the structure path and tags, the kind, and a message\n"
    "saying what version 7 expects; an empty list means the text conforms.",
    "unresolved_pointers": "Pointers with no record behind them, addressed precisely enough to\n"
    "repair.",
    "parents_of": "Parents from both directions of the family link \u2014 a one-sided file\n"
    "still answers.",
    "children_of": "Children from both directions of the family link.",
    "partners_of": "Partners across every family this person appears in.",
    "to_text": "The document as text, untouched lines byte for byte.",
    "to_bytes": "The document as UTF-8 bytes with a `CHAR` declaration that tells the\n"
    "truth about them \u2014 what should be written to disk.",
    "to_version7": "An explicit conversion to GEDCOM 7.0: the converted document and the\n"
    "notes naming every construct touched, dropped, or kept.\n\n"
    "`owned` names the extension tags the caller writes itself, each paired\n"
    "with the URI it is documented at \u2014 "
    "`[(\"_PRIM\", \"https://lignor.example.org/docs/extensions/PRIM\")]`.\n"
    "Those are declared by name; any other extension in the file is\n"
    "declared as undocumented rather than dropped, because it is somebody's\n"
    "data either way.",
    "to_version551": "An explicit conversion to GEDCOM 5.5.1, with the same reporting.",
}

# Public callables with the parameters inspect.signature() must report.
SIGNATURES = {
    "parse": ["data", "limits"],
    "new_v551": ["source_system"],
    "new_v7": [],
    "append_records": ["records"],
    "append_structures": ["record", "path", "structures"],
    "records": [],
    "record": ["xref"],
    "individuals": [],
    "families": [],
    "validate": [],
    "check_version7": [],
    "unresolved_pointers": [],
    "parents_of": ["xref"],
    "children_of": ["xref"],
    "partners_of": ["xref"],
    "set_logical_value": ["xref", "path", "value"],
    "to_text": [],
    "to_bytes": [],
}


def test_import_registers_in_order(lignor):
    # Installed, the module is a package (its stub sits beside it), so it has a __path__.
    own = [name for name in vars(lignor) if name not in ("__name__", "__doc__", "__package__",
                                                        "__loader__", "__spec__", "__file__",
                                                        "__path__")]
    assert own == REGISTERED
    assert lignor.__version__ == "0.1.16"
    assert lignor.__doc__ == MODULE_DOC


# Methods and properties in the order of the class surface, as far as they exist.
METHODS = ["parse", "new_v551", "new_v7", "append_records", "append_structures",
           "wrap_long_lines", "fit_line_limit", "records", "record", "individuals", "families", "validate", "check_version7", "unresolved_pointers", "parents_of",
           "children_of", "partners_of", "set_logical_value", "to_text", "to_bytes",
           "to_version7", "to_version551"]
# Called on the class: no `$self`.
CLASS_METHODS = {"parse", "new_v551", "new_v7"}
PROPERTIES = ["encoding", "version", "content_records"]


def test_class_members_keep_the_surface_order(lignor):
    names = list(vars(lignor.Gedcom))
    assert [n for n in names if n in METHODS] == METHODS
    assert [n for n in names if n in PROPERTIES] == PROPERTIES


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
    for callable_ in (on_class, bound) if name in CLASS_METHODS else (bound,):
        assert list(inspect.signature(callable_).parameters) == SIGNATURES[name]
    parameters = ", ".join(SIGNATURES[name])
    expected_line = (f"({parameters})" if name in CLASS_METHODS
                     else f"($self{', ' if parameters else ''}{parameters})")
    expected_line = {"parse": "(data, *, limits=None)"}.get(name, expected_line)
    assert on_class.__text_signature__ == expected_line


def test_every_public_callable_has_a_text_signature(lignor):
    faults = {name: signature_fault(target) for name, target in public_callables(lignor)}
    assert {name: fault for name, fault in faults.items() if fault} == {}
    assert "Gedcom.parse" in faults and "ArchiveFileWriter" in faults


def test_properties_are_read_only(lignor):
    g = lignor.Gedcom.parse(b"")
    for name in ("encoding", "version", "content_records"):
        with pytest.raises(AttributeError):
            setattr(g, name, None)
