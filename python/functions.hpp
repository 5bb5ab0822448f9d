// The module's free functions, each added to the module by its own init
// function in the module's registration order.
#pragma once

#include "pyref.hpp"

namespace lignor::python {

// Adds `parse_date`. Returns -1 with a Python error set on failure.
int parse_date_init(PyObject* module) noexcept;

}  // namespace lignor::python
