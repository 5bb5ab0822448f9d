// `lignor_json_oracle`: a test-only module that hands out the core's JSON
// form of every result `lignor` builds, one text per value, so that tests and
// benchmarks can hold the module's objects against `json.loads` of that text.
// Texts are decoded with "surrogatepass", as a caller's lone surrogate would
// be. Not installed, not part of `lignor`.
#include <memory>
#include <string>
#include <vector>

#include "bridge.hpp"
#include "convert.hpp"
#include "dates.hpp"
#include "document.hpp"
#include "json.hpp"
#include "validate.hpp"
#include "views.hpp"
#include "wrap.hpp"

namespace lignor::python {
namespace {

constexpr const char* capsule_name = "lignor_json_oracle.Document";

void free_document(PyObject* capsule) {
    delete static_cast<Document*>(PyCapsule_GetPointer(capsule, capsule_name));
}

Document& document_of(PyObject* capsule) {
    auto* document = static_cast<Document*>(PyCapsule_GetPointer(capsule, capsule_name));
    if (document == nullptr) throw PythonErrorSet{};
    return *document;
}

PyRef json_text(const std::string& json) {
    return checked(
        PyUnicode_DecodeUTF8(json.data(), static_cast<Py_ssize_t>(json.size()), "surrogatepass"));
}

// The JSON text of each value, in order.
template <typename Values>
PyRef texts(const Values& values) {
    PyRef list = checked(PyList_New(0));
    for (const auto& value : values) {
        if (PyList_Append(list.get(), json_text(to_json(value)).get()) < 0) throw PythonErrorSet{};
    }
    return list;
}

template <typename View>
PyRef view_texts(const Document& document, std::string_view tag) {
    PyRef list = checked(PyList_New(0));
    for (const Node& record : document.records) {
        if (!tag.empty() && record.tag() != tag) continue;
        const PyRef text = json_text(to_json(View::from_node(record)));
        if (PyList_Append(list.get(), text.get()) < 0) throw PythonErrorSet{};
    }
    return list;
}

PyObject* parse(PyObject*, PyObject* data) {
    return boundary([&] {
        auto loaded = unwrap(Document::from_bytes(bytes_argument("parse", "data", data)));
        auto document = std::make_unique<Document>(std::move(loaded.document));
        PyRef capsule = checked(PyCapsule_New(document.get(), capsule_name, free_document));
        document.release();
        return capsule;
    });
}

PyObject* records(PyObject*, PyObject* document) {
    return boundary([&] { return view_texts<RecordView>(document_of(document), ""); });
}
PyObject* individuals(PyObject*, PyObject* document) {
    return boundary([&] { return view_texts<IndividualView>(document_of(document), "INDI"); });
}
PyObject* families(PyObject*, PyObject* document) {
    return boundary([&] { return view_texts<FamilyView>(document_of(document), "FAM"); });
}
PyObject* validate(PyObject*, PyObject* document) {
    return boundary([&] { return texts(inspect(document_of(document))); });
}
PyObject* unresolved_pointers(PyObject*, PyObject* document) {
    return boundary([&] { return texts(document_of(document).unresolved_pointers()); });
}
PyObject* to_version7_notes(PyObject*, PyObject* document) {
    return boundary([&] { return texts(to_version_7_with(document_of(document), {}).notes); });
}
PyObject* parse_date(PyObject*, PyObject* text) {
    return boundary([&] {
        const GedcomDate date = GedcomDate::parse(any_text_argument("parse_date", "text", text));
        return json_text(to_json(DateReading{date}));
    });
}
// Wraps the document in place; None when wrapping refuses it.
PyObject* wrap_long_lines(PyObject*, PyObject* args) {
    return boundary([&] {
        PyObject* document = nullptr;
        Py_ssize_t limit = 0;
        if (!PyArg_ParseTuple(args, "On", &document, &limit)) throw PythonErrorSet{};
        auto wrapped =
            lignor::wrap_long_lines(document_of(document), static_cast<std::size_t>(limit));
        return wrapped ? texts(*wrapped) : PyRef::new_reference(Py_None);
    });
}

PyMethodDef methods[] = {
    {"parse", parse, METH_O, nullptr},
    {"records", records, METH_O, nullptr},
    {"individuals", individuals, METH_O, nullptr},
    {"families", families, METH_O, nullptr},
    {"validate", validate, METH_O, nullptr},
    {"unresolved_pointers", unresolved_pointers, METH_O, nullptr},
    {"to_version7_notes", to_version7_notes, METH_O, nullptr},
    {"parse_date", parse_date, METH_O, nullptr},
    {"wrap_long_lines", wrap_long_lines, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef oracle_module = {
    PyModuleDef_HEAD_INIT,
    "lignor_json_oracle",
    nullptr,
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace lignor::python

PyMODINIT_FUNC PyInit_lignor_json_oracle() {
    return PyModule_Create(&lignor::python::oracle_module);
}
