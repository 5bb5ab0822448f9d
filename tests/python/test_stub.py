"""The stub against the module where stubtest cannot look: the dict types
against the dicts the module hands out, and the stub's docstrings against
the module's."""

import ast
import inspect

from conftest import REPO


def stub_dict_types():
    """Each TypedDict the stub declares, with its keys in declared order."""
    tree = ast.parse((REPO / "python" / "lignor.pyi").read_text(encoding="utf-8"))
    shapes = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and [ast.unparse(b) for b in node.bases] == ["TypedDict"]:
            shapes[node.name] = [
                item.target.id for item in node.body if isinstance(item, ast.AnnAssign)
            ]
        elif isinstance(node, ast.Assign) and ast.unparse(node.value).startswith("TypedDict("):
            shapes[node.targets[0].id] = [key.value for key in node.value.args[1].keys]
    return shapes


def test_the_stub_names_every_returned_dict_with_its_keys_in_order(lignor):
    document = lignor.Gedcom.parse((REPO / "examples" / "sample.ged").read_bytes())
    document.append_records(
        [
            {
                "xref": "@X1@",
                "tag": "INDI",
                "children": [
                    {"tag": "REFN", "value": "17"},
                    {"tag": "NOTE", "value": "long " * 80},
                ],
            }
        ]
    )
    records, people, reading = (
        document.records(),
        document.individuals(),
        lignor.parse_date("BET 1872 AND 1875"),
    )
    samples = {
        "RecordView": records,
        "StructureView": [structure for record in records for structure in record["structures"]],
        "IndividualView": people,
        "NameView": [name for person in people for name in person["names"]],
        "EventView": [event for person in people for event in person["events"]],
        "FamilyLinkView": [
            link for person in people for link in person["childIn"] + person["partnerIn"]
        ],
        "IdentifierView": [identifier for person in people for identifier in person["identifiers"]],
        "FamilyView": document.families(),
        "Finding": document.validate(),
        "Version7Problem": document.check_version7(),
        "UnresolvedPointer": document.unresolved_pointers(),
        "ConversionNote": document.to_version7()[1],
        "DateReading": [reading],
        "DatePoint": [reading["earliest"], reading["latest"]],
        "WrappedLine": document.wrap_long_lines(),
    }
    shapes = stub_dict_types()
    taken = {name for name in shapes if name.endswith("Description")} | {"ParseLimits"}
    assert set(samples) == set(shapes) - taken
    for name, values in samples.items():
        assert values, f"no {name} to compare"
        for value in values:
            assert list(value) == shapes[name], name


def stub_docstrings():
    """(dotted name, docstring) of every class, function and method the stub
    documents."""
    tree = ast.parse((REPO / "python" / "lignor.pyi").read_text(encoding="utf-8"))

    def visit(body, prefix):
        for node in body:
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                name = prefix + node.name
                doc = ast.get_docstring(node, clean=True)
                if doc:
                    yield name, doc
                if isinstance(node, ast.ClassDef):
                    yield from visit(node.body, name + ".")

    return dict(visit(tree.body, ""))


def test_the_stubs_docstrings_are_the_modules(lignor):
    documented = stub_docstrings()
    assert "Gedcom.parse" in documented
    for name, doc in documented.items():
        target = lignor
        for part in name.split("."):
            target = getattr(target, part)
        # The module's text without its signature line, as wrapped there.
        assert doc.split() == inspect.getdoc(target).split(), name
