// The `Gedcom` type: one parsed document, the report of how its bytes were
// read, the relatives cache, and the borrow flag that guards them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "borrow.hpp"
#include "decode.hpp"
#include "document.hpp"
#include "family.hpp"
#include "pyref.hpp"
#include "queries.hpp"

namespace lignor::python {

// Everything a `Gedcom` owns, behind one pointer so that the Python object
// header stays a plain C struct. Every access goes through `read` or `edit`,
// which hold the borrow flag for the body's run.
class GedcomState {
  public:
    GedcomState(Document document, EncodingReport report)
        : document_(std::move(document)), report_(std::move(report)) {}

    // Runs `body(const GedcomState&)` under a shared borrow and returns its
    // result. Reads may overlap: a read re-entered from Python code that
    // another read runs (a finaliser a collection starts), or a read on
    // another thread, run while such code ran or while a read released the
    // interpreter lock for core work. Core reads of a `const Document` share
    // nothing mutable, so they may run side by side.
    template <typename Body>
    decltype(auto) read(Body&& body) const {
        SharedBorrow borrow(borrow_);
        return std::forward<Body>(body)(*this);
    }

    // Runs `body(Document&)` under the exclusive borrow and returns its
    // result, then drops the relatives cache, which describes the document
    // as it was. The cache goes even when the body throws, so that an edit
    // cut short cannot leave it describing another document.
    template <typename Body>
    decltype(auto) edit(Body&& body) {
        ExclusiveBorrow borrow(borrow_);
        const DropGraphAfterwards drop{relatives_};
        return std::forward<Body>(body)(document_);
    }

    // The same for an edit that may find nothing to change: `changed(result)`
    // says whether the body changed the document, and the relatives cache
    // stays when it did not (it still describes the document). A body that
    // throws drops the cache as in `edit`.
    template <typename Body, typename Changed>
    auto edit(Body&& body, Changed&& changed) {
        ExclusiveBorrow borrow(borrow_);
        DropGraphAfterwards drop{relatives_};
        auto result = std::forward<Body>(body)(document_);
        drop.keep = !std::forward<Changed>(changed)(std::as_const(result));
        return result;
    }

    const Document& document() const noexcept { return document_; }
    const EncodingReport& report() const noexcept { return report_; }

    // The relatives cache, built on first use. A read may fill it: building
    // runs no Python code, so the interpreter lock is held from the test to
    // the fill and no other call sees the cache half made (no read calls
    // this with the lock released); once present it changes only in `edit`,
    // which waits for every read to end.
    const FamilyGraph& family_graph() const { return relatives().graph; }
    // Whether a record carries the identifier `xref`, ignoring ASCII case:
    // whom the relatives queries may be asked about. Kept in the same cache.
    bool has_record(std::string_view xref) const {
        return relatives().records.contains(xref_key(xref));
    }

  private:
    struct Relatives {
        FamilyGraph graph;
        std::unordered_map<std::string, std::size_t> records;  // Document::xref_index
    };

    const Relatives& relatives() const {
        if (!relatives_)
            relatives_ = Relatives{FamilyGraph::make(document_), document_.xref_index()};
        return *relatives_;
    }

    struct DropGraphAfterwards {
        std::optional<Relatives>& relatives;
        bool keep = false;
        ~DropGraphAfterwards() {
            if (!keep) relatives.reset();
        }
    };

    Document document_;
    EncodingReport report_;
    mutable std::optional<Relatives> relatives_;
    mutable BorrowFlag borrow_{"document"};
};

// Builds the `Gedcom` type from its spec and adds it to `module`.
// Returns -1 with a Python error set on failure.
int gedcom_type_init(PyObject* module) noexcept;

}  // namespace lignor::python
