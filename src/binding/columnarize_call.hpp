// The entry function behind tarvik_codec.columnarize(payload, min_rows=20).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarvik::binding {

// The host's fast call with keywords: binds payload and min_rows, runs the transform on the payload
// in place with the interpreter lock released and returns new bytes, or null with the
// exception set. Never lets a C++ exception out.
PyObject* columnarize_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept;

}  // namespace tarvik::binding
