// The archive classes and function: `ArchiveWriter` (an archive built in
// memory), `ArchiveFileWriter` (one written straight to a file, entries
// streamed from other files) and `archive_total_size`. Each writer object
// carries the borrow flag, and every method takes it exclusively.
#pragma once

#include "pyref.hpp"

namespace lignor::python {

// Each adds one name to `module`; -1 with a Python error set on failure.
int archive_writer_type_init(PyObject* module) noexcept;
int archive_file_writer_type_init(PyObject* module) noexcept;
int archive_total_size_init(PyObject* module) noexcept;

}  // namespace lignor::python
