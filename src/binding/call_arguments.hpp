// The arguments of the module's functions: bound from the host's fast call by position and by
// keyword with Python's own messages, then converted (the payload's bytes, min_rows).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/binding_errors.hpp"
#include "json/model/result.hpp"

namespace tarvik::binding {

// A function's name and its parameters, of which only the first is required.
struct Signature {
  std::string_view function;
  std::span<const std::string_view> parameters;  // one or two
};

// The argument objects bound to each parameter, borrowed from the call; null when absent.
struct BoundArguments {
  std::array<PyObject*, 2> slots{};
};

// Binds the call's arguments, or fails with the TypeError Python gives a function of that
// signature (too many positional arguments, an unknown keyword, an argument given twice, the
// first one missing).
Result<BoundArguments, PyErr> bind_arguments(const Signature& signature, PyObject* const* args,
                                             Py_ssize_t positional, PyObject* kwnames);

// The content of a bytes object (or of an instance of a bytes subclass); nothing else is taken.
// Fails with TypeError and the note "while processing 'payload'".
Result<std::string_view, PyErr> payload_content(PyObject* payload);

// min_rows as an unsigned 64-bit integer: an int, or an object with __index__. Fails with the
// host's TypeError or OverflowError (or what __index__ raised) and the note "while processing
// 'min_rows'".
Result<std::uint64_t, PyErr> min_rows_value(PyObject* min_rows);

}  // namespace tarvik::binding
