// `lignor_json_oracle`: a test-only module that hands out the core's JSON
// form of every result `lignor` builds, one text per value, so that tests and
// benchmarks can hold the module's objects against `json.loads` of that text.
// Texts are decoded with "surrogatepass", as a caller's lone surrogate would
// be. Given a second argument, each function passes every text to it as soon
// as the text is made and keeps what it returns instead: with `json.loads`,
// how results reached Python before the builder. Not installed, not part of
// `lignor`. It has no `InternalFailure` of its own: a broken precondition
// arrives as SystemError.
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bridge.hpp"
#include "convert.hpp"
#include "dates.hpp"
#include "document.hpp"
#include "json.hpp"
#include "v7check.hpp"
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

// The text, or what `loads` (when not null) makes of it.
PyRef json_text(const std::string& json, PyObject* loads) {
    PyRef text = checked(
        PyUnicode_DecodeUTF8(json.data(), static_cast<Py_ssize_t>(json.size()), "surrogatepass"));
    return loads == nullptr ? std::move(text) : checked(PyObject_CallOneArg(loads, text.get()));
}

// The first argument and the optional `loads`.
std::pair<PyObject*, PyObject*> arguments(PyObject* args) {
    PyObject* first = nullptr;
    PyObject* loads = nullptr;
    if (!PyArg_ParseTuple(args, "O|O", &first, &loads)) throw PythonErrorSet{};
    return {first, loads};
}

// The JSON text of each value, in order.
template <typename Values>
PyRef texts(const Values& values, PyObject* loads) {
    PyRef list = checked(PyList_New(0));
    for (const auto& value : values) {
        const PyRef text = json_text(to_json(value), loads);
        if (PyList_Append(list.get(), text.get()) < 0) throw PythonErrorSet{};
    }
    return list;
}

template <typename View>
PyRef view_texts(const Document& document, std::string_view tag, PyObject* loads) {
    PyRef list = checked(PyList_New(0));
    for (const Node& record : document.records) {
        if (!tag.empty() && record.tag() != tag) continue;
        const PyRef text = json_text(to_json(View::from_node(record)), loads);
        if (PyList_Append(list.get(), text.get()) < 0) throw PythonErrorSet{};
    }
    return list;
}

PyObject* parse(PyObject*, PyObject* data) {
    return boundary(nullptr, [&] {
        auto loaded = unwrap(Document::from_bytes(bytes_argument({"parse", "data", data})));
        auto document = std::make_unique<Document>(std::move(loaded.document));
        PyRef capsule = checked(PyCapsule_New(document.get(), capsule_name, free_document));
        std::ignore = document.release();  // the capsule owns it now
        return capsule;
    });
}

template <typename View>
PyObject* views(PyObject* args, std::string_view tag) {
    return boundary(nullptr, [&] {
        const auto [document, loads] = arguments(args);
        return view_texts<View>(document_of(document), tag, loads);
    });
}

PyObject* records(PyObject*, PyObject* args) {
    return views<RecordView>(args, "");
}
PyObject* individuals(PyObject*, PyObject* args) {
    return views<IndividualView>(args, "INDI");
}
PyObject* families(PyObject*, PyObject* args) {
    return views<FamilyView>(args, "FAM");
}

template <typename Make>
PyObject* values(PyObject* args, Make make) {
    return boundary(nullptr, [&] {
        const auto [document, loads] = arguments(args);
        return texts(make(document_of(document)), loads);
    });
}

PyObject* validate(PyObject*, PyObject* args) {
    return values(args, [](const Document& document) { return inspect(document); });
}
PyObject* check_version7(PyObject*, PyObject* args) {
    return values(args, [](const Document& document) { return check_version_7(document); });
}
PyObject* unresolved_pointers(PyObject*, PyObject* args) {
    return values(args, [](const Document& document) { return document.unresolved_pointers(); });
}
PyObject* to_version7_notes(PyObject*, PyObject* args) {
    return values(args,
                  [](const Document& document) { return to_version_7_with(document, {}).notes; });
}
PyObject* parse_date(PyObject*, PyObject* args) {
    return boundary(nullptr, [&] {
        const auto [text, loads] = arguments(args);
        const GedcomDate date = GedcomDate::parse(any_text_argument({"parse_date", "text", text}));
        return json_text(to_json(DateReading{date}), loads);
    });
}
// Wraps the document in place; None when wrapping refuses it.
PyObject* wrap_long_lines(PyObject*, PyObject* args) {
    return boundary(nullptr, [&] {
        PyObject* document = nullptr;
        Py_ssize_t limit = 0;
        if (!PyArg_ParseTuple(args, "On", &document, &limit)) throw PythonErrorSet{};
        auto wrapped =
            lignor::wrap_long_lines(document_of(document), static_cast<std::size_t>(limit));
        return wrapped ? texts(*wrapped, nullptr) : PyRef::new_reference(Py_None);
    });
}

PyMethodDef methods[] = {
    {"parse", parse, METH_O, nullptr},
    {"records", records, METH_VARARGS, nullptr},
    {"individuals", individuals, METH_VARARGS, nullptr},
    {"families", families, METH_VARARGS, nullptr},
    {"validate", validate, METH_VARARGS, nullptr},
    {"check_version7", check_version7, METH_VARARGS, nullptr},
    {"unresolved_pointers", unresolved_pointers, METH_VARARGS, nullptr},
    {"to_version7_notes", to_version7_notes, METH_VARARGS, nullptr},
    {"parse_date", parse_date, METH_VARARGS, nullptr},
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
