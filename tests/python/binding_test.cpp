// The call boundary and the bridge, exercised in an embedded interpreter:
// the failures that Python code cannot provoke yet (borrow conflicts, broken
// preconditions, file-system errors, descriptions) must still arrive as the
// right Python exceptions. Also the edit path of a Gedcom's state on its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <string>

#include "borrow.hpp"
#include "bridge.hpp"
#include "gedcom.hpp"

namespace lignor::python {
namespace {

// The interpreter, and the `InternalFailure` type a module would keep.
class Interpreter : public ::testing::Environment {
  public:
    void SetUp() override {
        Py_InitializeEx(0);
        internal_failure = make_internal_failure_type();
    }
    void TearDown() override {
        internal_failure = PyRef();
        Py_FinalizeEx();
    }
    PyRef internal_failure;
};
auto* const interpreter =
    static_cast<Interpreter*>(::testing::AddGlobalTestEnvironment(new Interpreter));

// The exception the boundary left set: its type name and str(); cleared.
std::pair<std::string, std::string> raised() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (type == nullptr) return {"", ""};
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_value = PyRef::steal(value);
    PyRef owned_traceback = PyRef::steal(traceback);
    PyRef text = PyRef::steal(PyObject_Str(value));
    return {reinterpret_cast<PyTypeObject*>(type)->tp_name, PyUnicode_AsUTF8(text.get())};
}

// Runs `body` inside the boundary: the exception it raised, or two empty
// texts when it returned normally.
template <typename Body>
std::pair<std::string, std::string> through_boundary(Body body) {
    PyRef result = PyRef::steal(boundary(interpreter->internal_failure.get(), [&]() -> PyRef {
        body();
        return PyRef::new_reference(Py_None);
    }));
    EXPECT_EQ(result.get() == nullptr, PyErr_Occurred() != nullptr);
    return raised();
}

TEST(binding_boundary, maps_every_failure_to_its_python_exception) {
    using Expected = std::pair<std::string, std::string>;
    EXPECT_EQ(through_boundary(
                  [] { throw GedcomError::at_line(ErrorKind::Syntax, "the line has no tag", 3); }),
              Expected("ValueError", "GEDCOM line 3: the line has no tag"));
    EXPECT_EQ(
        through_boundary([] { throw GedcomError::whole(ErrorKind::Structure, "no record @X@"); }),
        Expected("ValueError", "no record @X@"));
    EXPECT_EQ(through_boundary([] {
                  throw FileSystemFailure{"/no/such/file", ENOENT};
              }),
              Expected("OSError", "/no/such/file: No such file or directory"));
    EXPECT_EQ(through_boundary([] { throw BorrowFlag("document").in_use(); }),
              Expected("RuntimeError",
                       "the document is in use by another call still running (on another thread, "
                       "or in Python code that call runs), so it cannot be changed until that "
                       "call returns"));
    EXPECT_EQ(through_boundary([] { throw std::bad_alloc(); }), Expected("MemoryError", ""));
    EXPECT_EQ(through_boundary([] { throw InternalFailure("a tag must not be empty"); }),
              Expected("InternalFailure", "a tag must not be empty"));
    EXPECT_EQ(through_boundary([] { throw 42; }),
              Expected("InternalFailure", "an unknown C++ exception reached the Python boundary"));
    EXPECT_EQ(through_boundary([] {
                  PyErr_SetString(PyExc_ZeroDivisionError, "kept as it is");
                  throw PythonErrorSet{};
              }),
              Expected("ZeroDivisionError", "kept as it is"));
}

TEST(binding_boundary, internal_failure_escapes_except_exception) {
    PyObject* type = interpreter->internal_failure.get();
    EXPECT_TRUE(PyObject_IsSubclass(type, PyExc_BaseException));
    EXPECT_FALSE(PyObject_IsSubclass(type, PyExc_Exception));
    PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
    EXPECT_STREQ(PyUnicode_AsUTF8(module.get()), "lignor");
}

using Raised = std::pair<std::string, std::string>;

TEST(binding_borrow, shared_borrows_stack_and_exclusive_excludes) {
    BorrowFlag flag("object");
    const Raised in_use("RuntimeError", flag.in_use().message);
    const Raised being_changed("RuntimeError", flag.being_changed().message);
    {
        SharedBorrow first(flag);
        SharedBorrow second(flag);
        EXPECT_EQ(flag.state(), 2);
        EXPECT_EQ(through_boundary([&] { ExclusiveBorrow edit(flag); }), in_use);
        EXPECT_EQ(flag.state(), 2);
    }
    EXPECT_EQ(flag.state(), 0);
    {
        ExclusiveBorrow edit(flag);
        EXPECT_EQ(flag.state(), -1);
        EXPECT_EQ(through_boundary([&] { SharedBorrow read(flag); }), being_changed);
        EXPECT_EQ(through_boundary([&] { ExclusiveBorrow again(flag); }), in_use);
        EXPECT_EQ(flag.state(), -1);
    }
    EXPECT_EQ(flag.state(), 0);
    // A body that fails while borrowed still gives the borrow back.
    through_boundary([&] {
        SharedBorrow read(flag);
        throw GedcomError::whole(ErrorKind::Syntax, "x");
    });
    EXPECT_EQ(flag.state(), 0);
}

// What a `Gedcom`'s borrow flag answers.
const Raised already_borrowed("RuntimeError", BorrowFlag("document").in_use().message);
const Raised already_mutably_borrowed("RuntimeError",
                                      BorrowFlag("document").being_changed().message);

std::vector<std::string> parents_of(const GedcomState& object, std::string_view xref) {
    return object.read([&](const GedcomState& state) {
        const auto answer = state.family_graph().parents_of(xref);
        return std::vector<std::string>(answer.begin(), answer.end());
    });
}

TEST(binding_gedcom_state, an_edit_has_the_object_to_itself_and_drops_the_relatives_cache) {
    auto document = Document::parse_with("0 @F1@ FAM\n1 HUSB @H@\n1 CHIL @C@\n", ParseLimits{});
    ASSERT_TRUE(document);
    GedcomState object(std::move(document).value(), EncodingReport{});
    const auto set_husband = [](Document& edited, std::string_view xref) {
        edited.records[0].children_mut()[0].set_value(xref);
    };
    EXPECT_EQ(parents_of(object, "@C@"), std::vector<std::string>{"@H@"});  // fills the cache
    object.edit([&](Document& edited) {
        EXPECT_EQ(through_boundary([&] { parents_of(object, "@C@"); }), already_mutably_borrowed);
        EXPECT_EQ(through_boundary([&] { object.edit([](Document&) {}); }), already_borrowed);
        set_husband(edited, "@W@");
    });
    EXPECT_EQ(parents_of(object, "@C@"), std::vector<std::string>{"@W@"});
    object.read([&](const GedcomState&) {
        EXPECT_EQ(through_boundary([&] { object.edit([](Document&) {}); }), already_borrowed);
    });
    // An edit cut short by a failure still drops the cache and the borrow.
    through_boundary([&] {
        object.edit([&](Document& edited) {
            set_husband(edited, "@X@");
            throw std::bad_alloc();
        });
    });
    EXPECT_EQ(parents_of(object, "@C@"), std::vector<std::string>{"@X@"});
}

TEST(binding_gedcom_state, an_edit_that_reports_no_change_keeps_the_relatives_cache) {
    auto document = Document::parse_with("0 @F1@ FAM\n1 HUSB @H@\n1 CHIL @C@\n", ParseLimits{});
    ASSERT_TRUE(document);
    GedcomState object(std::move(document).value(), EncodingReport{});
    // The body changes the document but claims otherwise, so a kept cache
    // shows as the old answer.
    const auto edit_claiming = [&](std::string_view xref, bool changed) {
        object.edit(
            [&](Document& edited) {
                edited.records[0].children_mut()[0].set_value(xref);
                return changed;
            },
            [](bool result) { return result; });
    };
    EXPECT_EQ(parents_of(object, "@C@"), std::vector<std::string>{"@H@"});
    edit_claiming("@W@", false);
    EXPECT_EQ(parents_of(object, "@C@"), std::vector<std::string>{"@H@"});
    edit_claiming("@X@", true);
    EXPECT_EQ(parents_of(object, "@C@"), std::vector<std::string>{"@X@"});
}

// Runs `from_py` on the value of a Python expression.
std::pair<std::string, std::string> from_python(const char* expression,
                                                std::vector<NodeSpec>* out) {
    PyRef globals = PyRef::steal(PyDict_New());
    PyRef value =
        PyRef::steal(PyRun_String(expression, Py_eval_input, globals.get(), globals.get()));
    EXPECT_TRUE(value) << expression;
    return through_boundary([&] { *out = from_py(value.get()); });
}

TEST(binding_bridge, descriptions_travel_through_json_dumps_and_the_reader) {
    std::vector<NodeSpec> specs;
    EXPECT_EQ(
        from_python(R"([{"tag": "NOTE", "value": "M\u00fcller\nx", "children": ()}])", &specs),
        std::make_pair(std::string(), std::string()));
    ASSERT_EQ(specs.size(), 1u);
    EXPECT_EQ(specs[0].value, "M\xC3\xBCller\nx");
    EXPECT_EQ(from_python(R"([{"tag": "NOTE", "children": {1}}])", &specs).first, "TypeError");
    EXPECT_EQ(
        from_python(R"([{"tag": "INDI", "xref": "@I1@", "sex": "M"}])", &specs),
        std::make_pair(std::string("ValueError"),
                       std::string("unknown field \"sex\", expected one of `xref`, `tag`, `value`, "
                                   "`children` at line 1 column 38")));
    EXPECT_EQ(from_python(R"([{"tag": "\ud800"}])", &specs).first, "ValueError");
}

TEST(binding_bridge, sizes_refuse_negative_and_huge_integers) {
    std::vector<std::pair<const char*, std::string>> table = {
        {"-1", "OverflowError"}, {"2**64", "OverflowError"}, {"'3'", "TypeError"}};
    for (const auto& [expression, type] : table) {
        PyRef globals = PyRef::steal(PyDict_New());
        PyRef value =
            PyRef::steal(PyRun_String(expression, Py_eval_input, globals.get(), globals.get()));
        EXPECT_EQ(through_boundary([&] { size_from_py(value.get()); }).first, type) << expression;
    }
    PyRef big = PyRef::steal(PyLong_FromUnsignedLongLong(18446744073709551615ull));
    EXPECT_EQ(size_from_py(big.get()), 18446744073709551615ull);
}

}  // namespace
}  // namespace lignor::python
