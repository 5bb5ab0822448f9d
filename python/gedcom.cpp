// The `Gedcom` type: each method's description and body, the borrow that
// guards the document, and the relatives cache.
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
#include "method.hpp"
#include "v7check.hpp"
#include "validate.hpp"
#include "values.hpp"
#include "views.hpp"
#include "wrap.hpp"

// `[[gnu::hot]]` marks the functions a read runs, which the linker then lays
// out together (see HACKING).

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
[[gnu::hot]] PyRef make_gedcom(PyTypeObject* type, LoadedDocument&& loaded) {
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
std::optional<NamedEncoding> encoding_argument(const Argument& argument) {
    if (argument.object == nullptr || argument.object == Py_None) return std::nullopt;
    auto named = encoding_named(text_argument(argument));
    if (!named) {
        PyErr_Format(PyExc_LookupError, "unknown encoding: %U", argument.object);
        throw PythonErrorSet{};
    }
    return named;
}

// The `limits` argument of `parse`: None, or a dict that tightens some of
// the reader's bounds by name. The document is read under them and every
// edit keeps it within them; no bound can be loosened.
ParseLimits limits_argument(const Argument& argument) {
    ParseLimits limits;
    PyObject* object = argument.object;
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
        const std::string_view name = text_argument(argument.holding(key));
        const auto bound = std::find_if(std::begin(bounds), std::end(bounds),
                                        [&](const auto& entry) { return name == entry.first; });
        if (bound == std::end(bounds)) {
            PyErr_Format(PyExc_TypeError, "parse() argument 'limits' has no bound %R", key);
            throw PythonErrorSet{};
        }
        const std::uint64_t wanted = size_argument(argument.holding(value));
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

// `parse`, `new_v551` and `new_v7` are called on the class. CPython hands a
// METH_STATIC function no class at all, so they are class methods: the
// class arrives as `self` and the module needs no global state to find its
// own type. Callers see no difference (the class cannot be subclassed).
PyTypeObject* gedcom_type(const Call& call) {
    return reinterpret_cast<PyTypeObject*>(call.self());
}

// Decoding and reading run without the interpreter lock, on bytes that
// `data` holds throughout.
[[gnu::hot]] PyRef gedcom_parse(const Call& call) {
    const BytesLike data(call[0]);
    const std::optional<NamedEncoding> chosen = encoding_argument(call[1]);
    const ParseLimits limits = limits_argument(call[2]);
    Result<LoadedDocument> loaded =
        without_gil([&] { return Document::from_bytes_with(data.bytes(), limits, chosen); });
    return make_gedcom(gedcom_type(call), unwrap(std::move(loaded)));
}

constexpr Method parse_method{
    "parse",
    Receiver::type,
    {required("data"), keyword_only("encoding", "None"), keyword_only("limits", "None")},
    gedcom_parse,
    "Reads a document from a file's bytes (`bytes`, or any bytes-like\n"
    "object, which is copied first): encoding sniffed and reported, then\n"
    "parsed. Raises `ValueError` for input the bounds refuse.\n"
    "\n"
    "`encoding` names the encoding the bytes are in, whatever the file\n"
    "declares: a GEDCOM CHAR value (\"IBMPC\", \"MSDOS\", \"MACINTOSH\",\n"
    "\"ANSEL\", \"windows-1251\", \"ISO-8859-2\") or a codec name (\"cp437\",\n"
    "\"mac_roman\"); a byte-order mark of another encoding is ignored.\n"
    "Raises `LookupError` for a name it does not know, and `ValueError` for\n"
    "UTF-16 named for bytes that show neither its byte-order mark nor its\n"
    "shape.\n"
    "\n"
    "`limits` tightens some of those bounds by name (`max_file_bytes`,\n"
    "`max_line_length`, `max_records`, `max_lines`, `max_depth`); the\n"
    "document is read under them, and every edit keeps it within them."};

// The report of a document made here rather than read from bytes: UTF-8,
// nothing declared, nothing replaced, no byte-order mark.
LoadedDocument made_here(Document document) {
    EncodingReport report;
    report.encoding = GedcomEncoding::Utf8;
    return {std::move(document), std::move(report)};
}

PyRef gedcom_new_v551(const Call& call) {
    const std::string_view source = text_argument(call[0]);
    return make_gedcom(gedcom_type(call), made_here(Document::new_v551(source)));
}

constexpr Method new_v551_method{
    "new_v551",
    Receiver::type,
    {required("source_system")},
    gedcom_new_v551,
    "An empty GEDCOM 5.5.1 document \u2014 header and trailer \u2014 naming the\n"
    "producing system, which 5.5.1 requires, and declaring UTF-8."};

PyRef gedcom_new_v7(const Call& call) {
    return make_gedcom(gedcom_type(call), made_here(Document::new_v7()));
}

constexpr Method new_v7_method{"new_v7",
                               Receiver::type,
                               {},
                               gedcom_new_v7,
                               "An empty GEDCOM 7.0 document: header and trailer."};

// A read of `self`: `body(const GedcomState&)` returns the result.
template <typename Body>
PyRef read(PyObject* self, Body&& body) {
    return state_of(self).read(std::forward<Body>(body));
}

// ----- properties ----------------------------------------------------------

// A property's body, run inside the boundary as a read of `self`.
template <typename Body>
PyObject* read_property(PyObject* self, Body&& body) {
    return type_boundary(Py_TYPE(self), [&](ModuleState&) { return read(self, body); });
}

PyObject* gedcom_encoding(PyObject* self, void*) {
    return read_property(
        self, [](const GedcomState& state) { return text_to_py(state.report().summary()); });
}

PyObject* gedcom_version(PyObject* self, void*) {
    return read_property(self, [](const GedcomState& state) {
        const auto version = state.document().version();
        return version ? text_to_py(*version) : PyRef::new_reference(Py_None);
    });
}

PyObject* gedcom_content_records(PyObject* self, void*) {
    return read_property(self, [](const GedcomState& state) {
        return checked(PyLong_FromSize_t(state.document().content_records()));
    });
}

// ----- views ---------------------------------------------------------------

// An identifier argument as UTF-8, or nothing for a `str` that UTF-8 cannot
// hold (a lone surrogate): no record has such an identifier.
std::optional<std::string_view> xref_argument(const Argument& argument) {
    try {
        return text_argument(argument);
    } catch (const PythonErrorSet&) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw;
        PyErr_Clear();
        return std::nullopt;
    }
}

// KeyError for an address no record answers to, holding the caller's own
// object, so that the key is exactly as given.
[[noreturn]] void missing_record(const Argument& address) {
    PyErr_SetObject(PyExc_KeyError, address.object);
    throw PythonErrorSet{};
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

template <typename View>
PyRef views(const Call& call, std::string_view tag) {
    return read(call.self(), [&](const GedcomState& state) {
        return to_py(call.cache(), RecordViews<View>{state.document(), tag});
    });
}

PyRef gedcom_records(const Call& call) {
    return views<RecordView>(call, "");
}

constexpr Method records_method{
    "records",
    Receiver::instance,
    {},
    gedcom_records,
    "Every record as a view dict, nothing omitted \u2014 unknown tags included."};

PyRef gedcom_record(const Call& call) {
    const auto text = xref_argument(call[0]);
    return read(call.self(), [&](const GedcomState& state) {
        const Node* record = text ? state.document().record(*text) : nullptr;
        if (record == nullptr) missing_record(call[0]);
        return to_py(call.cache(), RecordView::from_node(*record));
    });
}

constexpr Method record_method{"record",
                               Receiver::instance,
                               {required("xref")},
                               gedcom_record,
                               "One record's view dict, by cross-reference identifier."};

PyRef gedcom_individuals(const Call& call) {
    return views<IndividualView>(call, "INDI");
}

constexpr Method individuals_method{
    "individuals",
    Receiver::instance,
    {},
    gedcom_individuals,
    "Every individual, read for display: names, events, families, IDs."};

PyRef gedcom_families(const Call& call) {
    return views<FamilyView>(call, "FAM");
}

constexpr Method families_method{
    "families", Receiver::instance, {}, gedcom_families, "Every family record's view."};

// The checks below run without the interpreter lock under the shared
// borrow; only their results are made into Python objects with it.
PyRef gedcom_validate(const Call& call) {
    return read(call.self(), [&](const GedcomState& state) {
        return list_to_py(call.cache(), without_gil([&] { return inspect(state.document()); }));
    });
}

constexpr Method validate_method{
    "validate",
    Receiver::instance,
    {},
    gedcom_validate,
    "Plausibility findings: contradictions, questions, and what cites\n"
    "nothing \u2014 reported with the numbers they were drawn from."};

PyRef gedcom_check_version7(const Call& call) {
    return read(call.self(), [&](const GedcomState& state) {
        return problems_to_py(call.cache(),
                              without_gil([&] { return check_version_7(state.document()); }));
    });
}

constexpr Method check_version7_method{
    "check_version7",
    Receiver::instance,
    {},
    gedcom_check_version7,
    "Every problem of the GEDCOM 7 text `to_text()` writes: line syntax,\n"
    "structures version 7 does not define where they stand, cardinalities,\n"
    "payload types, enumerations, pointers, duplicate identifiers, and the\n"
    "header and trailer. Each is a dict with its line number in that text,\n"
    "the record, the structure path and tags, the kind, and a message\n"
    "saying what version 7 expects; an empty list means the text conforms."};

PyRef gedcom_unresolved_pointers(const Call& call) {
    return read(call.self(), [&](const GedcomState& state) {
        return list_to_py(call.cache(),
                          without_gil([&] { return state.document().unresolved_pointers(); }));
    });
}

constexpr Method unresolved_pointers_method{
    "unresolved_pointers",
    Receiver::instance,
    {},
    gedcom_unresolved_pointers,
    "Pointers with no record behind them, addressed precisely enough to\n"
    "repair."};

// ----- relatives -----------------------------------------------------------

using RelativesQuery = Relatives (FamilyGraph::*)(std::string_view) const;

PyRef texts_to_py(const Relatives& texts) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text_to_py(texts[i]).release());
    }
    return list;
}

// The relatives `query` finds for the `xref` argument; KeyError, as for
// `record`, when no record carries it. A read like any other, though the
// first query fills the object's relatives cache (see
// `GedcomState::family_graph`).
template <RelativesQuery query>
PyRef relatives(const Call& call) {
    const auto text = xref_argument(call[0]);
    return read(call.self(), [&](const GedcomState& state) {
        if (!text || !state.has_record(*text)) missing_record(call[0]);
        return texts_to_py((state.family_graph().*query)(*text));
    });
}

constexpr Method parents_of_method{
    "parents_of",
    Receiver::instance,
    {required("xref")},
    relatives<&FamilyGraph::parents_of>,
    "Parents from both directions of the family link \u2014 a one-sided file\n"
    "still answers. Raises `KeyError` when no record has `xref`."};

constexpr Method children_of_method{"children_of",
                                    Receiver::instance,
                                    {required("xref")},
                                    relatives<&FamilyGraph::children_of>,
                                    "Children from both directions of the family link.\n"
                                    "Raises `KeyError` when no record has `xref`."};

constexpr Method partners_of_method{"partners_of",
                                    Receiver::instance,
                                    {required("xref")},
                                    relatives<&FamilyGraph::partners_of>,
                                    "Partners across every family this person appears in.\n"
                                    "Raises `KeyError` when no record has `xref`."};

// ----- editing -------------------------------------------------------------
//
// Each edit reads its arguments, descriptions included (`json.dumps` runs
// Python code), under the exclusive borrow that `GedcomState::edit` holds,
// and every check runs before the document changes.

using Into = Result<Node> (NodeSpec::*)(const ParseLimits&) &&;

// The descriptions `argument` holds, each built by `into` under the bounds
// `document` is kept within; the first refusal is thrown.
std::vector<Node> built_nodes(const Argument& argument, Into into, const Document& document) {
    std::vector<NodeSpec> specs = from_py(argument.object);
    std::vector<Node> nodes;
    nodes.reserve(specs.size());
    for (NodeSpec& spec : specs) {
        nodes.push_back(unwrap((std::move(spec).*into)(document.limits())));
    }
    return nodes;
}

// The record `address` names (Document::addressed_record).
Node& addressed_record(const Argument& address, Document& document) {
    const auto text = xref_argument(address);
    Node* record = text ? document.addressed_record_mut(*text) : nullptr;
    if (record == nullptr) missing_record(address);
    return *record;
}

PyRef none() {
    return PyRef::new_reference(Py_None);
}

PyRef gedcom_append_records(const Call& call) {
    return state_of(call.self()).edit([&](Document& document) {
        unwrap(document.append_records(built_nodes(call[0], &NodeSpec::into_node, document)));
        return none();
    });
}

constexpr Method append_records_method{
    "append_records",
    Receiver::instance,
    {required("records")},
    gedcom_append_records,
    "Adds records before the trailer, all or none. Each record is a dict\n"
    "`{\"tag\", \"xref\", \"value\", \"children\"}` \u2014 only `tag` required, any\n"
    "other key refused \u2014 and each child the same shape without `xref`. A\n"
    "newline in a value becomes a `CONT` line. Raises `ValueError`, adding\n"
    "nothing, for a tag or identifier the parser would not read back, a\n"
    "repeated identifier, a header or trailer, or input past the default\n"
    "bounds."};

PyRef gedcom_append_structures(const Call& call) {
    return state_of(call.self()).edit([&](Document& document) {
        // Any text: one that UTF-8 cannot hold names no record.
        const std::string record = any_text_argument(call[0]);
        const auto path = index_list_argument(call[1]);
        std::vector<Node> nodes = built_nodes(call[2], &NodeSpec::into_substructure, document);
        unwrap(document.append_structures(record, path, std::move(nodes)));
        return none();
    });
}

constexpr Method append_structures_method{
    "append_structures",
    Receiver::instance,
    {required("record"), required("path"), required("structures")},
    gedcom_append_structures,
    "Adds substructures, described as `append_records` describes records\n"
    "but without `xref`, after the existing ones of the structure at\n"
    "`path` in `record` \u2014 a cross-reference identifier, or `\"HEAD\"` for\n"
    "the header. Every existing line stays as it was. Raises `ValueError`,\n"
    "adding nothing, when nothing answers to the address or a description\n"
    "is refused."};

PyRef gedcom_set_logical_value(const Call& call) {
    return state_of(call.self()).edit([&](Document& document) {
        const auto path = index_list_argument(call[1]);
        const std::string_view value = text_argument(call[2]);
        Node& record = addressed_record(call[0], document);
        unwrap(document.set_logical_value_at(record, path, value));
        return none();
    });
}

constexpr Method set_logical_value_method{
    "set_logical_value",
    Receiver::instance,
    {required("xref"), required("path"), required("value")},
    gedcom_set_logical_value,
    "Replaces one structure's logical payload, addressed by record and by\n"
    "the `path` its view carries. The one edited line is re-rendered;\n"
    "every untouched line still writes back byte for byte."};

// The line limit of both line-fitting methods, terminator included; by
// default GEDCOM 5.5.1's.
constexpr Parameter max_line_bytes = optional("max_line_bytes", "255");
constexpr std::size_t default_line_limit = 255;

std::size_t line_limit_argument(const Argument& argument) {
    return argument.object == nullptr ? default_line_limit : size_argument(argument);
}

// Whether a line-fitting edit changed the document: it rewrote a structure.
bool any_wrapped(const Result<std::vector<WrappedLine>>& result) {
    return result && std::any_of(result->begin(), result->end(),
                                 [](const WrappedLine& line) { return line.wrapped; });
}

PyRef gedcom_wrap_long_lines(const Call& call) {
    const std::size_t limit = line_limit_argument(call[0]);
    const auto wrap = [&](Document& document) {
        return without_gil([&] { return wrap_long_lines(document, limit); });
    };
    return list_to_py(call.cache(), unwrap(state_of(call.self()).edit(wrap, any_wrapped)));
}

constexpr Method wrap_long_lines_method{
    "wrap_long_lines",
    Receiver::instance,
    {max_line_bytes},
    gedcom_wrap_long_lines,
    "Splits every line longer than `max_line_bytes` (terminator included;\n"
    "255 is GEDCOM 5.5.1's limit) across `CONC` lines, and returns each\n"
    "structure it rewrote as `{\"record\", \"path\", \"tag\", \"wrapped\",\n"
    "\"reason\"}`, and each whose line it must leave over the limit with\n"
    "`wrapped` false and the reason. Lines that fit are left exactly as\n"
    "they are. Raises `ValueError` for a version 7 document, which has no\n"
    "`CONC`, a limit under 32, or a rewrite past the document's bounds."};

PyRef gedcom_fit_line_limit(const Call& call) {
    const auto text = xref_argument(call[0]);
    const std::size_t limit = line_limit_argument(call[1]);
    using Fitted = Result<std::vector<WrappedLine>>;
    // Nothing when no record answers, which leaves the relatives cache.
    const auto fit = [&](Document& document) -> std::optional<Fitted> {
        if (!text || !document.addressed_record(*text)) return std::nullopt;
        return without_gil([&] { return fit_line_limit(document, *text, limit); });
    };
    const auto changed = [](const std::optional<Fitted>& result) {
        return result && any_wrapped(*result);
    };
    auto fitted = state_of(call.self()).edit(fit, changed);
    if (!fitted) missing_record(call[0]);
    return list_to_py(call.cache(), unwrap(std::move(*fitted)));
}

constexpr Method fit_line_limit_method{
    "fit_line_limit",
    Receiver::instance,
    {required("xref"), max_line_bytes},
    gedcom_fit_line_limit,
    "Fits one record inside a 5.5.x document's line limit\n"
    "(`max_line_bytes`, terminator included; 255 is GEDCOM 5.5.1's limit)\n"
    "by inserting `CONC` lines, addressed by cross-reference identifier.\n"
    "Call this on a record just edited with `set_logical_value`, since\n"
    "that only ever splits a payload at the newlines it is given. Returns,\n"
    "as `wrap_long_lines` does, each structure it re-split and each whose\n"
    "line it leaves over the limit, with the reason; a line still carrying\n"
    "its original, unedited text is never touched. Raises `KeyError` when\n"
    "no record answers to `xref`, and `ValueError` as `wrap_long_lines`\n"
    "does."};

// ----- output --------------------------------------------------------------

PyRef gedcom_to_text(const Call& call) {
    return read(call.self(), [](const GedcomState& state) {
        return text_to_py(without_gil([&] { return state.document().to_text(); }));
    });
}

constexpr Method to_text_method{"to_text",
                                Receiver::instance,
                                {},
                                gedcom_to_text,
                                "The document as text, untouched lines byte for byte."};

PyRef gedcom_to_bytes(const Call& call) {
    return read(call.self(), [](const GedcomState& state) {
        return bytes_to_py(without_gil([&] { return state.document().to_bytes(); }));
    });
}

constexpr Method to_bytes_method{
    "to_bytes",
    Receiver::instance,
    {},
    gedcom_to_bytes,
    "The document as UTF-8 bytes with a `CHAR` declaration that tells the\n"
    "truth about them \u2014 what should be written to disk."};

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

OwnedExtension owned_pair(const Argument& pair) {
    const PyRef items = owned_items(pair.object, pair.object);
    if (PySequence_Fast_GET_SIZE(items.get()) != 2) owned_type_error(pair.object);
    OwnedExtension entry{
        std::string(text_argument(pair.holding(PySequence_Fast_GET_ITEM(items.get(), 0)))),
        std::string(text_argument(pair.holding(PySequence_Fast_GET_ITEM(items.get(), 1))))};
    // A declaration is one line: the URI goes on the TAG line after the tag.
    if (has_line_break(entry.uri)) {
        PyErr_Format(PyExc_ValueError, "the URI of %s in 'owned' contains a line break",
                     entry.tag.c_str());
        throw PythonErrorSet{};
    }
    return entry;
}

// `owned` as the caller's (tag, URI) pairs in order; none for None.
std::vector<OwnedExtension> owned_argument(const Argument& argument) {
    std::vector<OwnedExtension> owned;
    if (argument.object == nullptr || argument.object == Py_None) return owned;
    const PyRef items = owned_items(argument.object, argument.object);
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    owned.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        owned.push_back(owned_pair(argument.holding(PySequence_Fast_GET_ITEM(items.get(), i))));
    }
    return owned;
}

// (the converted document as a new object of `self`'s type, the notes as
// dicts): what either conversion method returns.
PyRef conversion_to_py(const Call& call, Conversion& conversion) {
    const PyRef notes = notes_to_py(call.cache(), conversion.notes);
    const PyRef converted =
        make_gedcom(Py_TYPE(call.self()), made_here(std::move(conversion.document)));
    return checked(PyTuple_Pack(2, converted.get(), notes.get()));
}

PyRef gedcom_to_version7(const Call& call) {
    const std::vector<OwnedExtension> owned = owned_argument(call[0]);
    Conversion conversion = state_of(call.self()).read([&](const GedcomState& state) {
        return without_gil([&] { return to_version_7_with(state.document(), owned); });
    });
    return conversion_to_py(call, conversion);
}

constexpr Method to_version7_method{
    "to_version7",
    Receiver::instance,
    {optional("owned", "None")},
    gedcom_to_version7,
    "An explicit conversion to GEDCOM 7.0: the converted document and the\n"
    "notes naming every construct touched, dropped, or kept.\n"
    "\n"
    "`owned` names the extension tags the caller writes itself, each paired\n"
    "with the URI it is documented at \u2014 `[(\"_PRIM\", "
    "\"https://lignor.example.org/docs/extensions/PRIM\")]`.\n"
    "Those are declared by name; any other extension in the file is\n"
    "declared as undocumented rather than dropped, because it is somebody's\n"
    "data either way."};

PyRef gedcom_to_version551(const Call& call) {
    Conversion conversion = state_of(call.self()).read([](const GedcomState& state) {
        return without_gil([&] { return to_version_551(state.document()); });
    });
    return conversion_to_py(call, conversion);
}

constexpr Method to_version551_method{
    "to_version551",
    Receiver::instance,
    {},
    gedcom_to_version551,
    "An explicit conversion to GEDCOM 5.5.1, with the same reporting."};

// ----- slots ---------------------------------------------------------------

Py_ssize_t gedcom_len(PyObject* self) {
    ModuleState* module = type_module_state(Py_TYPE(self));
    if (module == nullptr) return -1;
    return size_boundary(module->internal_failure.get(), [&] {
        return state_of(self).read([](const GedcomState& state) {
            return static_cast<Py_ssize_t>(state.document().content_records());
        });
    });
}

PyObject* gedcom_repr(PyObject* self) {
    return read_property(self, [](const GedcomState& state) {
        const auto version = state.document().version();
        return text_to_py("<Gedcom " + std::to_string(state.document().content_records()) +
                          " records, version " + (version ? *version : "unstated") + ", " +
                          state.report().summary() + ">");
    });
}

// ----- the type ------------------------------------------------------------

// In the order of the class surface.
PyMethodDef gedcom_methods[] = {
    method_def<parse_method>(),
    method_def<new_v551_method>(),
    method_def<new_v7_method>(),
    method_def<append_records_method>(),
    method_def<append_structures_method>(),
    method_def<wrap_long_lines_method>(),
    method_def<fit_line_limit_method>(),
    method_def<records_method>(),
    method_def<record_method>(),
    method_def<individuals_method>(),
    method_def<families_method>(),
    method_def<validate_method>(),
    method_def<check_version7_method>(),
    method_def<unresolved_pointers_method>(),
    method_def<parents_of_method>(),
    method_def<children_of_method>(),
    method_def<partners_of_method>(),
    method_def<set_logical_value_method>(),
    method_def<to_text_method>(),
    method_def<to_bytes_method>(),
    method_def<to_version7_method>(),
    method_def<to_version551_method>(),
    {nullptr, nullptr, 0, nullptr},
};

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
