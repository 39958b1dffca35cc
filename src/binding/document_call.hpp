// The entry functions behind tarvik_codec.columnarize_document(payload, min_rows=2) and
// tarvik_codec.decolumnarize(payload).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tarvik::binding {

// The host's fast calls with keywords: bind the arguments, run the codec on the payload in place
// with the interpreter lock released and return new bytes, or null with the exception set.
// Never let a C++ exception out.
PyObject* columnarize_document_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames) noexcept;
PyObject* decolumnarize_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf,
                              PyObject* kwnames) noexcept;

}  // namespace tarvik::binding
