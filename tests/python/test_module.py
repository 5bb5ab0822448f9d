"""The module frame: what importing gives, and the surface of Gedcom."""

import inspect
import operator
import re

import pytest

from conftest import REPO, public_callables, signature_fault


def test_the_module_names_the_package_version_and_description(lignor):
    assert lignor.__version__ == (REPO / "VERSION").read_text().strip()
    description = re.search(r'^description = "(.*)"$', (REPO / "pyproject.toml").read_text(), re.M)
    assert " ".join(lignor.__doc__.split()) == description[1]


# Called on the class: no `$self`.
CLASS_METHODS = {"parse", "new_v551", "new_v7"}
PROPERTIES = ["encoding", "version", "content_records"]


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


def gedcom_routines(lignor):
    return [
        name
        for name in vars(lignor.Gedcom)
        if not name.startswith("_") and inspect.isroutine(getattr(lignor.Gedcom, name))
    ]


def test_every_public_name_has_a_docstring(lignor):
    names = [name for name, _ in public_callables(lignor)] + [f"Gedcom.{p}" for p in PROPERTIES]
    undocumented = [
        name for name in names if not (operator.attrgetter(name)(lignor).__doc__ or "").strip()
    ]
    assert undocumented == []


def test_bound_methods_show_the_signature_without_self(lignor):
    g = lignor.Gedcom.parse(b"")
    for name in gedcom_routines(lignor):
        on_class, bound = getattr(lignor.Gedcom, name), getattr(g, name)
        parameters = list(inspect.signature(bound).parameters)
        if name in CLASS_METHODS:
            assert list(inspect.signature(on_class).parameters) == parameters, name
        else:
            assert list(inspect.signature(on_class).parameters) == ["self", *parameters], name


def test_every_public_callable_has_a_text_signature(lignor):
    faults = {name: signature_fault(target) for name, target in public_callables(lignor)}
    assert {name: fault for name, fault in faults.items() if fault} == {}
    assert "Gedcom.parse" in faults and "ArchiveFileWriter" in faults


def test_properties_are_read_only(lignor):
    g = lignor.Gedcom.parse(b"")
    for name in ("encoding", "version", "content_records"):
        with pytest.raises(AttributeError):
            setattr(g, name, None)


def test_the_readme_examples_run_and_name_each_problem_by_its_note(tmp_path, monkeypatch, capsys):
    sample = (REPO / "examples" / "sample.ged").read_bytes()
    (tmp_path / "family.ged").write_bytes(sample)
    (tmp_path / "photo.jpg").write_bytes(b"\xff\xd8\xff\xe0")
    monkeypatch.chdir(tmp_path)
    blocks = re.findall(r"^```python\n(.*?)^```", (REPO / "README.md").read_text(), re.M | re.S)
    assert len(blocks) >= 3
    namespace = {"data": sample}
    for block in blocks:
        exec(block, namespace)
    printed = capsys.readouterr().out
    assert printed and "no note" not in printed
