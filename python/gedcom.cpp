#include "gedcom.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bridge.hpp"
#include "build.hpp"
#include "convert.hpp"
#include "decode.hpp"
#include "document.hpp"
#include "family.hpp"
#include "v7check.hpp"
#include "validate.hpp"
#include "values.hpp"
#include "views.hpp"
#include "wrap.hpp"

namespace lignor::python {
namespace {

struct GedcomObject {
    PyObject_HEAD GedcomState* state;
};

GedcomState& state_of(PyObject* self) {
    GedcomState* state = reinterpret_cast<GedcomObject*>(self)->state;
    if (state == nullptr) throw InternalFailure("a Gedcom object without a document");
    return *state;
}

void gedcom_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<GedcomObject*>(self)->state;
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

// A new `Gedcom` of `type` owning `loaded`.
PyRef make_gedcom(PyTypeObject* type, LoadedDocument&& loaded) {
    auto state =
        std::make_unique<GedcomState>(std::move(loaded.document), std::move(loaded.report));
    PyRef object = checked(type->tp_alloc(type, 0));
    reinterpret_cast<GedcomObject*>(object.get())->state = state.release();
    return object;
}

// ----- creating a document -------------------------------------------------

// The encoding a caller names for `parse`: nothing for None; LookupError
// naming it, as Python's own codecs raise, for a name neither this library
// nor ICU knows.
std::optional<NamedEncoding> encoding_argument(PyObject* object) {
    if (object == nullptr || object == Py_None) return std::nullopt;
    const std::string_view name = text_argument("parse", "encoding", object);
    auto named = encoding_named(name);
    if (!named) {
        PyErr_Format(PyExc_LookupError, "unknown encoding: %U", object);
        throw PythonErrorSet{};
    }
    return named;
}

// `parse` is called on the class. CPython hands a METH_STATIC function no
// class at all, so it is a class method: the class arrives as `cls` and the
// module needs no global state to find its own type. Callers see no
// difference (the class cannot be subclassed).
// The `limits` argument of `parse`: None, or a dict that tightens some of
// the reader's bounds by name. The document is read under them and every
// edit keeps it within them; no bound can be loosened.
ParseLimits limits_argument(PyObject* object) {
    ParseLimits limits;
    if (object == nullptr || object == Py_None) return limits;
    if (!PyDict_Check(object)) {
        PyErr_Format(PyExc_TypeError, "parse() argument 'limits' must be a dict, not %.100s",
                     Py_TYPE(object)->tp_name);
        throw PythonErrorSet{};
    }
    std::uint64_t depth = limits.max_depth;
    const std::pair<const char*, std::uint64_t*> bounds[] = {
        {"max_file_bytes", &limits.max_file_bytes},
        {"max_line_length", &limits.max_line_length},
        {"max_records", &limits.max_records},
        {"max_lines", &limits.max_lines},
        {"max_depth", &depth},
    };
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(object, &position, &key, &value)) {
        const std::string_view name = text_argument("parse", "limits", key);
        const auto bound = std::find_if(std::begin(bounds), std::end(bounds),
                                        [&](const auto& entry) { return name == entry.first; });
        if (bound == std::end(bounds)) {
            PyErr_Format(PyExc_TypeError, "parse() argument 'limits' has no bound %R", key);
            throw PythonErrorSet{};
        }
        const std::uint64_t wanted = size_argument("parse", "limits", value);
        if (wanted > *bound->second) {
            PyErr_Format(PyExc_ValueError, "the bound %s can only be tightened: at most %llu",
                         bound->first, static_cast<unsigned long long>(*bound->second));
            throw PythonErrorSet{};
        }
        *bound->second = wanted;
    }
    limits.max_depth = static_cast<std::uint16_t>(depth);
    return limits;
}

PyObject* gedcom_parse(PyObject* cls, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {
            {"data"}, {"encoding", false, true}, {"limits", false, true}};
        const auto bound = bind_arguments("parse", parameters, args, kwargs);
        const std::string_view bytes = bytes_argument("parse", "data", bound[0]);
        const std::optional<NamedEncoding> chosen = encoding_argument(bound[1]);
        return make_gedcom(
            reinterpret_cast<PyTypeObject*>(cls),
            unwrap(Document::from_bytes_with(bytes, limits_argument(bound[2]), chosen)));
    });
}

// The report of a document made here rather than read from bytes: UTF-8,
// nothing declared, nothing replaced, no byte-order mark.
LoadedDocument made_here(Document document) {
    EncodingReport report;
    report.encoding = GedcomEncoding::Utf8;
    return {std::move(document), std::move(report)};
}

PyObject* gedcom_new_v551(PyObject* cls, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"source_system"}};
        PyObject* source = bind_arguments("new_v551", parameters, args, kwargs)[0];
        const std::string_view text = text_argument("new_v551", "source_system", source);
        return make_gedcom(reinterpret_cast<PyTypeObject*>(cls),
                           made_here(Document::new_v551(text)));
    });
}

PyObject* gedcom_new_v7(PyObject* cls, PyObject*) {
    return boundary([&] {
        return make_gedcom(reinterpret_cast<PyTypeObject*>(cls), made_here(Document::new_v7()));
    });
}

// A read method's body, run inside the boundary under the object's shared
// borrow: `body(const GedcomState&)` returns the method's result.
template <typename Body>
PyObject* read_call(PyObject* self, Body&& body) {
    return boundary([&] { return state_of(self).read(body); });
}

// ----- properties ----------------------------------------------------------

PyObject* gedcom_encoding(PyObject* self, void*) {
    return read_call(self,
                     [](const GedcomState& state) { return text_to_py(state.report().summary()); });
}

PyObject* gedcom_version(PyObject* self, void*) {
    return read_call(self, [](const GedcomState& state) {
        const auto version = state.document().version();
        return version ? text_to_py(*version) : PyRef::new_reference(Py_None);
    });
}

PyObject* gedcom_content_records(PyObject* self, void*) {
    return read_call(self, [](const GedcomState& state) {
        return checked(PyLong_FromSize_t(state.document().content_records()));
    });
}

// ----- views ---------------------------------------------------------------

// An identifier argument as UTF-8, or nothing for a `str` that UTF-8 cannot
// hold (a lone surrogate): no record has such an identifier.
std::optional<std::string_view> xref_argument(const char* function, PyObject* object) {
    try {
        return text_argument(function, "xref", object);
    } catch (const PythonErrorSet&) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw;
        PyErr_Clear();
        return std::nullopt;
    }
}

// The views of every record tagged exactly `tag` (every record when `tag` is
// empty), in document order, written straight into one list.
template <typename View>
struct RecordViews {
    const Document& document;
    std::string_view tag;

    bool wanted(const Node& record) const { return tag.empty() || record.tag() == tag; }

    void write_value(ValueWriter& out) const {
        const auto& records = document.records;
        out.start_array(static_cast<std::size_t>(std::count_if(
            records.begin(), records.end(), [&](const Node& r) { return wanted(r); })));
        for (const Node& record : records) {
            if (wanted(record)) View::from_node(record).write_value(out);
        }
        out.end_array();
    }
};

// Runs `body(state, cache)` as a read of `self`, with the module's value cache.
template <typename Body>
PyObject* read_values(PyObject* self, Body&& body) {
    return boundary([&] {
        ValueCache& cache = type_cache(Py_TYPE(self));
        return state_of(self).read([&](const GedcomState& state) { return body(state, cache); });
    });
}

template <typename View>
PyObject* views_call(PyObject* self, std::string_view tag) {
    return read_values(self, [&](const GedcomState& state, ValueCache& cache) {
        return to_py(cache, RecordViews<View>{state.document(), tag});
    });
}

PyObject* gedcom_records(PyObject* self, PyObject*) {
    return views_call<RecordView>(self, "");
}

PyObject* gedcom_record(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"xref"}};
        PyObject* xref = bind_arguments("record", parameters, args, kwargs)[0];
        const auto text = xref_argument("record", xref);
        ValueCache& cache = type_cache(Py_TYPE(self));
        return state_of(self).read([&](const GedcomState& state) {
            const Node* record = text ? state.document().record(*text) : nullptr;
            if (record == nullptr) {
                // The caller's own object, so that the key is exactly as given.
                PyErr_SetObject(PyExc_KeyError, xref);
                throw PythonErrorSet{};
            }
            return to_py(cache, RecordView::from_node(*record));
        });
    });
}

PyObject* gedcom_individuals(PyObject* self, PyObject*) {
    return views_call<IndividualView>(self, "INDI");
}

PyObject* gedcom_families(PyObject* self, PyObject*) {
    return views_call<FamilyView>(self, "FAM");
}

PyObject* gedcom_validate(PyObject* self, PyObject*) {
    return read_values(self, [](const GedcomState& state, ValueCache& cache) {
        return list_to_py(cache, inspect(state.document()));
    });
}

PyObject* gedcom_check_version7(PyObject* self, PyObject*) {
    return read_values(self, [](const GedcomState& state, ValueCache& cache) {
        return list_to_py(cache, check_version_7(state.document()));
    });
}

PyObject* gedcom_unresolved_pointers(PyObject* self, PyObject*) {
    return read_values(self, [](const GedcomState& state, ValueCache& cache) {
        return list_to_py(cache, state.document().unresolved_pointers());
    });
}

// ----- relatives -----------------------------------------------------------

using RelativesQuery = Relatives (FamilyGraph::*)(std::string_view) const;

PyRef texts_to_py(const Relatives& texts) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text_to_py(texts[i]).release());
    }
    return list;
}

// The relatives `query` finds for the `xref` argument. A read like any
// other, though the first query fills the object's relatives cache (see
// `GedcomState::family_graph`).
PyObject* relatives(const char* function, RelativesQuery query, PyObject* self, PyObject* args,
                    PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"xref"}};
        PyObject* xref = bind_arguments(function, parameters, args, kwargs)[0];
        const auto text = xref_argument(function, xref);
        return state_of(self).read([&](const GedcomState& state) {
            if (!text) return texts_to_py({});
            return texts_to_py((state.family_graph().*query)(*text));
        });
    });
}

PyObject* gedcom_parents_of(PyObject* self, PyObject* args, PyObject* kwargs) {
    return relatives("parents_of", &FamilyGraph::parents_of, self, args, kwargs);
}

PyObject* gedcom_children_of(PyObject* self, PyObject* args, PyObject* kwargs) {
    return relatives("children_of", &FamilyGraph::children_of, self, args, kwargs);
}

PyObject* gedcom_partners_of(PyObject* self, PyObject* args, PyObject* kwargs) {
    return relatives("partners_of", &FamilyGraph::partners_of, self, args, kwargs);
}

// ----- editing -------------------------------------------------------------
//
// Each edit reads its arguments, descriptions included (`json.dumps` runs
// Python code), under the exclusive borrow that `GedcomState::edit` holds,
// and every check runs before the document changes.

using Into = Result<Node> (NodeSpec::*)(const ParseLimits&) &&;

// The descriptions `object` holds, each built by `into` under the bounds
// `document` is kept within; the first refusal is thrown.
std::vector<Node> built_nodes(PyObject* object, Into into, const Document& document) {
    std::vector<NodeSpec> specs = from_py(object);
    std::vector<Node> nodes;
    nodes.reserve(specs.size());
    for (NodeSpec& spec : specs) {
        nodes.push_back(unwrap((std::move(spec).*into)(document.limits())));
    }
    return nodes;
}

// The record `object` addresses (Document::addressed_record); KeyError
// holding the caller's own object when nothing answers.
Node& addressed_record(const char* function, PyObject* object, Document& document) {
    const auto text = xref_argument(function, object);
    Node* record = text ? document.addressed_record_mut(*text) : nullptr;
    if (record == nullptr) {
        PyErr_SetObject(PyExc_KeyError, object);
        throw PythonErrorSet{};
    }
    return *record;
}

PyRef none() {
    return PyRef::new_reference(Py_None);
}

PyObject* gedcom_append_records(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"records"}};
        PyObject* records = bind_arguments("append_records", parameters, args, kwargs)[0];
        return state_of(self).edit([&](Document& document) {
            unwrap(document.append_records(built_nodes(records, &NodeSpec::into_node, document)));
            return none();
        });
    });
}

PyObject* gedcom_append_structures(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"record"}, {"path"}, {"structures"}};
        const auto bound = bind_arguments("append_structures", parameters, args, kwargs);
        return state_of(self).edit([&](Document& document) {
            // Any text: one that UTF-8 cannot hold names no record.
            const std::string record = any_text_argument("append_structures", "record", bound[0]);
            const auto path = index_list_argument("append_structures", "path", bound[1]);
            std::vector<Node> nodes = built_nodes(bound[2], &NodeSpec::into_substructure, document);
            unwrap(document.append_structures(record, path, std::move(nodes)));
            return none();
        });
    });
}

PyObject* gedcom_set_logical_value(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"xref"}, {"path"}, {"value"}};
        const auto bound = bind_arguments("set_logical_value", parameters, args, kwargs);
        return state_of(self).edit([&](Document& document) {
            const auto path = index_list_argument("set_logical_value", "path", bound[1]);
            const std::string_view value = text_argument("set_logical_value", "value", bound[2]);
            Node& record = addressed_record("set_logical_value", bound[0], document);
            unwrap(document.set_logical_value_at(record, path, value));
            return none();
        });
    });
}

// GEDCOM 5.5.1's line limit, terminator included: the default of both
// line-fitting methods.
constexpr std::size_t default_line_limit = 255;

std::size_t line_limit_argument(const char* function, PyObject* object) {
    return object == nullptr ? default_line_limit
                             : size_argument(function, "max_line_bytes", object);
}

PyObject* gedcom_wrap_long_lines(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"max_line_bytes", false}};
        const auto bound = bind_arguments("wrap_long_lines", parameters, args, kwargs);
        const std::size_t limit = line_limit_argument("wrap_long_lines", bound[0]);
        auto wrapped = state_of(self).edit(
            [&](Document& document) { return wrap_long_lines(document, limit); },
            [](const auto& result) {
                return result && std::any_of(result->begin(), result->end(),
                                             [](const WrappedLine& line) { return line.wrapped; });
            });
        return list_to_py(type_cache(Py_TYPE(self)), unwrap(std::move(wrapped)));
    });
}

PyObject* gedcom_fit_line_limit(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"xref"}, {"max_line_bytes", false}};
        const auto bound = bind_arguments("fit_line_limit", parameters, args, kwargs);
        const auto text = xref_argument("fit_line_limit", bound[0]);
        const std::size_t limit = line_limit_argument("fit_line_limit", bound[1]);
        // Nothing when no record answers, which leaves the relatives cache.
        auto fitted = state_of(self).edit(
            [&](Document& document) -> std::optional<Result<bool>> {
                if (!text || !document.addressed_record(*text)) return std::nullopt;
                return fit_line_limit(document, *text, limit);
            },
            [](const std::optional<Result<bool>>& changed) {
                return changed && *changed && changed->value();
            });
        if (!fitted) {
            // The caller's own object, so that the key is exactly as given.
            PyErr_SetObject(PyExc_KeyError, bound[0]);
            throw PythonErrorSet{};
        }
        return PyRef::new_reference(unwrap(std::move(*fitted)) ? Py_True : Py_False);
    });
}

// ----- output --------------------------------------------------------------

PyObject* gedcom_to_text(PyObject* self, PyObject*) {
    return read_call(
        self, [](const GedcomState& state) { return text_to_py(state.document().to_text()); });
}

PyObject* gedcom_to_bytes(PyObject* self, PyObject*) {
    return read_call(
        self, [](const GedcomState& state) { return bytes_to_py(state.document().to_bytes()); });
}

// ----- conversion ----------------------------------------------------------

[[noreturn]] void owned_type_error(PyObject* object) {
    PyErr_Format(PyExc_TypeError,
                 "to_version7() argument 'owned' must be a sequence of (str, str) pairs, not "
                 "%.100s",
                 Py_TYPE(object)->tp_name);
    throw PythonErrorSet{};
}

// The items of a sequence other than a `str`; TypeError naming `owned` for
// anything else.
PyRef owned_items(PyObject* object, PyObject* culprit) {
    if (PyUnicode_Check(object) || !PySequence_Check(object)) owned_type_error(culprit);
    return checked(PySequence_Fast(object, "a sequence"));
}

OwnedExtension owned_pair(PyObject* pair) {
    const PyRef items = owned_items(pair, pair);
    if (PySequence_Fast_GET_SIZE(items.get()) != 2) owned_type_error(pair);
    OwnedExtension entry{std::string(text_argument("to_version7", "owned",
                                                   PySequence_Fast_GET_ITEM(items.get(), 0))),
                         std::string(text_argument("to_version7", "owned",
                                                   PySequence_Fast_GET_ITEM(items.get(), 1)))};
    // A declaration is one line: the URI goes on the TAG line after the tag.
    if (has_line_break(entry.uri)) {
        PyErr_Format(PyExc_ValueError, "the URI of %s in 'owned' contains a line break",
                     entry.tag.c_str());
        throw PythonErrorSet{};
    }
    return entry;
}

// `owned` as the caller's (tag, URI) pairs in order; none for None.
std::vector<OwnedExtension> owned_argument(PyObject* object) {
    std::vector<OwnedExtension> owned;
    if (object == nullptr || object == Py_None) return owned;
    const PyRef items = owned_items(object, object);
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    owned.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        owned.push_back(owned_pair(PySequence_Fast_GET_ITEM(items.get(), i)));
    }
    return owned;
}

// (the converted document as a new object of `self`'s type, the notes as
// dicts): what either conversion method returns.
PyRef conversion_to_py(PyObject* self, Conversion& conversion) {
    const PyRef notes = notes_to_py(type_cache(Py_TYPE(self)), conversion.notes);
    const PyRef converted = make_gedcom(Py_TYPE(self), made_here(std::move(conversion.document)));
    return checked(PyTuple_Pack(2, converted.get(), notes.get()));
}

PyObject* gedcom_to_version7(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Parameter parameters[] = {{"owned", false}};
        const auto bound = bind_arguments("to_version7", parameters, args, kwargs);
        const std::vector<OwnedExtension> owned = owned_argument(bound[0]);
        Conversion conversion = state_of(self).read(
            [&](const GedcomState& state) { return to_version_7_with(state.document(), owned); });
        return conversion_to_py(self, conversion);
    });
}

PyObject* gedcom_to_version551(PyObject* self, PyObject*) {
    return boundary([&] {
        Conversion conversion = state_of(self).read(
            [](const GedcomState& state) { return to_version_551(state.document()); });
        return conversion_to_py(self, conversion);
    });
}

// ----- slots ---------------------------------------------------------------

Py_ssize_t gedcom_len(PyObject* self) {
    return size_boundary([&] {
        return state_of(self).read([](const GedcomState& state) {
            return static_cast<Py_ssize_t>(state.document().content_records());
        });
    });
}

PyObject* gedcom_repr(PyObject* self) {
    return read_call(self, [](const GedcomState& state) {
        const auto version = state.document().version();
        return text_to_py("<Gedcom " + std::to_string(state.document().content_records()) +
                          " records, version " + (version ? *version : "unstated") + ", " +
                          state.report().summary() + ">");
    });
}

// ----- the type ------------------------------------------------------------

// One method entry with its name written once: `gedcom_<name>` is the
// function, and the docstring opens with the signature line that
// `inspect.signature` reads, "<name>(<parameters>)\n--\n\n".
#define GEDCOM_METHOD(name, flags, parameters, description) \
    { #name, as_cfunction(gedcom_##name), flags, #name "(" parameters ")\n--\n\n" description }

constexpr int with_arguments = METH_VARARGS | METH_KEYWORDS;

// In the order of the class surface; the members of later areas (line
// fitting, conversion) slot in between.
PyMethodDef gedcom_methods[] = {
    GEDCOM_METHOD(parse, with_arguments | METH_CLASS, "data, *, encoding=None, limits=None",
                  "Reads a document from a file's bytes: encoding sniffed and reported,\n"
                  "then parsed. Raises `ValueError` for input the bounds refuse.\n"
                  "`encoding` names the encoding the bytes are in, whatever the file\n"
                  "declares: a GEDCOM CHAR value (\"IBMPC\", \"ANSEL\") or a codec name\n"
                  "(\"cp437\", \"windows-1251\", \"mac_roman\"); a byte-order mark of another\n"
                  "encoding is ignored. Raises `LookupError` for a name it does not know.\n"
                  "\n"
                  "`limits` tightens some of those bounds by name (`max_file_bytes`,\n"
                  "`max_line_length`, `max_records`, `max_lines`, `max_depth`); the\n"
                  "document is read under them, and every edit keeps it within them."),
    GEDCOM_METHOD(new_v551, with_arguments | METH_CLASS, "source_system",
                  "An empty GEDCOM 5.5.1 document \u2014 header and trailer \u2014 naming the\n"
                  "producing system, which 5.5.1 requires, and declaring UTF-8."),
    GEDCOM_METHOD(new_v7, METH_NOARGS | METH_CLASS, "",
                  "An empty GEDCOM 7.0 document: header and trailer."),
    GEDCOM_METHOD(append_records, with_arguments, "$self, records",
                  "Adds records before the trailer, all or none. Each record is a dict\n"
                  "`{\"tag\", \"xref\", \"value\", \"children\"}` \u2014 only `tag` required, any\n"
                  "other key refused \u2014 and each child the same shape without `xref`. A\n"
                  "newline in a value becomes a `CONT` line. Raises `ValueError`, adding\n"
                  "nothing, for a tag or identifier the parser would not read back, a\n"
                  "repeated identifier, a header or trailer, or input past the default\n"
                  "bounds."),
    GEDCOM_METHOD(append_structures, with_arguments, "$self, record, path, structures",
                  "Adds substructures, described as `append_records` describes records\n"
                  "but without `xref`, after the existing ones of the structure at\n"
                  "`path` in `record` \u2014 a cross-reference identifier, or `\"HEAD\"` for\n"
                  "the header. Every existing line stays as it was. Raises `ValueError`,\n"
                  "adding nothing, when nothing answers to the address or a description\n"
                  "is refused."),
    GEDCOM_METHOD(wrap_long_lines, with_arguments, "$self, max_line_bytes=255",
                  "Splits every line longer than `max_line_bytes` (terminator included;\n"
                  "255 is GEDCOM 5.5.1's limit) across `CONC` lines, and returns each\n"
                  "structure it rewrote as `{\"record\", \"path\", \"tag\", \"wrapped\",\n"
                  "\"reason\"}`, and each whose line it must leave over the limit with\n"
                  "`wrapped` false and the reason. Lines that fit are left exactly as\n"
                  "they are. Raises `ValueError` for a version 7 document, which has no\n"
                  "`CONC`, a limit under 32, or a rewrite past the document's bounds."),
    GEDCOM_METHOD(fit_line_limit, with_arguments, "$self, xref, max_line_bytes=255",
                  "Fits one record inside a 5.5.x document's line limit\n"
                  "(`max_line_bytes`, terminator included; 255 is GEDCOM 5.5.1's limit)\n"
                  "by inserting `CONC` lines, addressed by cross-reference identifier.\n"
                  "Call this on a record just edited with `set_logical_value`, since\n"
                  "that only ever splits a payload at the newlines it is given. Returns\n"
                  "whether anything changed; a node still carrying its original,\n"
                  "unedited line is never touched. Raises `KeyError` when no record\n"
                  "answers to `xref`, and `ValueError` as `wrap_long_lines` does."),
    GEDCOM_METHOD(records, METH_NOARGS, "$self",
                  "Every record as a view dict, nothing omitted \u2014 unknown tags included."),
    GEDCOM_METHOD(record, with_arguments, "$self, xref",
                  "One record's view dict, by cross-reference identifier."),
    GEDCOM_METHOD(individuals, METH_NOARGS, "$self",
                  "Every individual, read for display: names, events, families, IDs."),
    GEDCOM_METHOD(families, METH_NOARGS, "$self", "Every family record's view."),
    GEDCOM_METHOD(validate, METH_NOARGS, "$self",
                  "Plausibility findings: contradictions, questions, and what cites\n"
                  "nothing \u2014 reported with the numbers they were drawn from."),
    GEDCOM_METHOD(check_version7, METH_NOARGS, "$self",
                  "Every problem of the GEDCOM 7 text `to_text()` writes: line syntax,\n"
                  "structures version 7 does not define where they stand, cardinalities,\n"
                  "payload types, enumerations, pointers, duplicate identifiers, and the\n"
                  "header and trailer. Each is a dict with its line number in that text,\n"
                  "the record, the structure path and tags, the kind, and a message\n"
                  "saying what version 7 expects; an empty list means the text conforms."),
    GEDCOM_METHOD(unresolved_pointers, METH_NOARGS, "$self",
                  "Pointers with no record behind them, addressed precisely enough to\n"
                  "repair."),
    GEDCOM_METHOD(parents_of, with_arguments, "$self, xref",
                  "Parents from both directions of the family link \u2014 a one-sided file\n"
                  "still answers."),
    GEDCOM_METHOD(children_of, with_arguments, "$self, xref",
                  "Children from both directions of the family link."),
    GEDCOM_METHOD(partners_of, with_arguments, "$self, xref",
                  "Partners across every family this person appears in."),
    GEDCOM_METHOD(set_logical_value, with_arguments, "$self, xref, path, value",
                  "Replaces one structure's logical payload, addressed by record and by\n"
                  "the `path` its view carries. The one edited line is re-rendered;\n"
                  "every untouched line still writes back byte for byte."),
    GEDCOM_METHOD(to_text, METH_NOARGS, "$self",
                  "The document as text, untouched lines byte for byte."),
    GEDCOM_METHOD(to_bytes, METH_NOARGS, "$self",
                  "The document as UTF-8 bytes with a `CHAR` declaration that tells the\n"
                  "truth about them \u2014 what should be written to disk."),
    GEDCOM_METHOD(to_version7, with_arguments, "$self, owned=None",
                  "An explicit conversion to GEDCOM 7.0: the converted document and the\n"
                  "notes naming every construct touched, dropped, or kept.\n"
                  "\n"
                  "`owned` names the extension tags the caller writes itself, each paired\n"
                  "with the URI it is documented at \u2014 `[(\"_PRIM\", "
                  "\"https://lignor.example.org/docs/extensions/PRIM\")]`.\n"
                  "Those are declared by name; any other extension in the file is\n"
                  "declared as undocumented rather than dropped, because it is somebody's\n"
                  "data either way."),
    GEDCOM_METHOD(to_version551, METH_NOARGS, "$self",
                  "An explicit conversion to GEDCOM 5.5.1, with the same reporting."),
    {nullptr, nullptr, 0, nullptr},
};

#undef GEDCOM_METHOD

PyGetSetDef gedcom_properties[] = {
    {"encoding", gedcom_encoding, nullptr,
     "What decoding decided, one line \u2014 show it before accepting an import.", nullptr},
    {"version", gedcom_version, nullptr, "The GEDCOM version the header declares, as written.",
     nullptr},
    {"content_records", gedcom_content_records, nullptr,
     "Records other than the header and trailer.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char gedcom_doc[] = "A parsed GEDCOM document and the report of how its bytes were read.";

PyType_Slot gedcom_slots[] = {
    {Py_tp_doc, const_cast<char*>(gedcom_doc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(gedcom_dealloc)},
    {Py_tp_methods, gedcom_methods},
    {Py_tp_getset, gedcom_properties},
    {Py_mp_length, reinterpret_cast<void*>(gedcom_len)},
    {Py_tp_repr, reinterpret_cast<void*>(gedcom_repr)},
    {0, nullptr},
};

PyType_Spec gedcom_spec = {
    "lignor.Gedcom",
    sizeof(GedcomObject),
    0,
    // Objects come only from `parse`, `new_v551` and `new_v7`; calling the class raises
    // "cannot create 'lignor.Gedcom' instances".
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    gedcom_slots,
};

}  // namespace

int gedcom_type_init(PyObject* module) noexcept {
    return add_type(module, &gedcom_spec, "Gedcom");
}

}  // namespace lignor::python
