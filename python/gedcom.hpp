// The `Gedcom` type: one parsed document, the report of how its bytes were
// read, and the borrow flag that guards both.
#pragma once

#include "pyref.hpp"

namespace lignor::python {

// Builds the `Gedcom` type from its spec and adds it to `module`.
// Returns -1 with a Python error set on failure.
int gedcom_type_init(PyObject* module) noexcept;

}  // namespace lignor::python
