// The tarvik_codec module: its definition, the exec function that adds its functions and
// `__all__`, and PyInit_tarvik_codec, the one symbol the shared object exports.
#include "binding/binding_errors.hpp"

#include <string>
#include <utility>

#include "binding/columnarize_call.hpp"
#include "binding/document_call.hpp"

namespace tarvik::binding {

namespace {

// The first lines are the host's signature header: it derives __text_signature__ from them and
// strips them from __doc__.
constexpr const char kColumnarizeDoc[] =
    "columnarize(payload, min_rows=20)\n"
    "--\n"
    "\n"
    "Columnarize a row-oriented JSON payload (bytes or str), GIL released\n"
    "for the duration of the transform.\n"
    "\n"
    "Args:\n"
    "    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.\n"
    "    min_rows: Accepted for parity with the Python codec's signature;\n"
    "        not re-checked here (the Python caller already applied the\n"
    "        guard before calling this function).\n"
    "\n"
    "Returns:\n"
    "    UTF-8 JSON bytes encoding `{\"columns\", \"rows\", \"constants\"}`.\n"
    "\n"
    "Panic safety: columnarize_json runs inside a fault containment, so an\n"
    "unexpected internal fault of the native code (an unforeseen indexing\n"
    "error, say) reaches the caller as an ordinary RuntimeError instead of\n"
    "PanicException. PanicException derives from BaseException, not from\n"
    "Exception: it would slip past the `except Exception:` guard of the\n"
    "caller `columnar` and break the \"a broken codec must never break a tool\n"
    "call\" contract. The containment does not cover a stack overflow, which\n"
    "aborts the process unconditionally and cannot be caught by any\n"
    "mechanism: a residual, documented limitation.";

constexpr const char kColumnarizeDocumentDoc[] =
    "columnarize_document(payload, min_rows=2)\n"
    "--\n"
    "\n"
    "Shrink a whole JSON document, GIL released for the duration of the work.\n"
    "\n"
    "Every array of at least max(min_rows, 1) objects becomes a table\n"
    "{\"columns\",\"rows\",\"constants\"}, and every object of at least\n"
    "max(min_rows, 2) members that are all objects a keyed table (with\n"
    "\"keys\"), each only where that text is strictly shorter; inside a\n"
    "table, a column of objects, or of lists of objects, becomes a group\n"
    "where that is strictly shorter. Everything else is written compact.\n"
    "\n"
    "Args:\n"
    "    payload: UTF-8 JSON bytes holding one document of any kind.\n"
    "    min_rows: the fewest rows a table is made of (0 to 2**64 - 1).\n"
    "\n"
    "Returns:\n"
    "    The transformed document as compact UTF-8 JSON bytes;\n"
    "    decolumnarize() gives it back.\n"
    "\n"
    "Raises RuntimeError for a payload that is not JSON (\"invalid JSON: ...\")\n"
    "or an internal fault, MemoryError when memory runs out.";

constexpr const char kDecolumnarizeDoc[] =
    "decolumnarize(payload)\n"
    "--\n"
    "\n"
    "Turn every table of a JSON document back into its rows, GIL released.\n"
    "\n"
    "The way back from columnarize() and columnarize_document(): every object\n"
    "whose members are exactly \"columns\", \"rows\", \"constants\" (or \"keys\"\n"
    "first), in that order, becomes the array of objects (the object of\n"
    "objects) it stands for; null cells are left out of the rows.\n"
    "\n"
    "Raises RuntimeError for a payload that is not JSON (\"invalid JSON: ...\")\n"
    "or holds a broken table (\"broken table at PATH: ...\"), MemoryError\n"
    "when memory runs out.";

PyCFunction fast_call(PyObject* (*entry)(PyObject*, PyObject* const*, Py_ssize_t,
                                         PyObject*) noexcept) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

PyMethodDef module_methods[] = {
    {"columnarize", fast_call(&columnarize_entry), METH_FASTCALL | METH_KEYWORDS, kColumnarizeDoc},
    {"columnarize_document", fast_call(&columnarize_document_entry), METH_FASTCALL | METH_KEYWORDS,
     kColumnarizeDocumentDoc},
    {"decolumnarize", fast_call(&decolumnarize_entry), METH_FASTCALL | METH_KEYWORDS,
     kDecolumnarizeDoc},
};

// The module's __all__: the list it has, or a new empty one when it has none.
Result<Ref, PyErr> module_all(PyObject* module) {
  Ref all(PyObject_GetAttr(module, interned_all_attribute()));
  if (all) {
    if (!PyList_Check(all.get())) return failure(cast_error(all.get(), &PyList_Type));
    return all;
  }
  PyErr error = take();
  if (!error.matches(PyExc_AttributeError)) return failure(std::move(error));
  all = expect_object(PyList_New(0));
  if (PyObject_SetAttr(module, interned_all_attribute(), all.get()) < 0) return failure(take());
  return all;
}

// Adds the function of `method` to the module and its name to __all__. Each run appends the
// name again and replaces the function.
Result<int, PyErr> add_function(PyObject* module, PyMethodDef& method) {
  Ref function;
  {
    const Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return failure(take());
    function = Ref(PyCMethod_New(&method, module, module_name.get(), nullptr));
  }
  if (!function) return failure(take());
  const Ref function_name(PyObject_GetAttr(function.get(), interned_name_attribute()));
  if (!function_name) return failure(take());
  if (!PyUnicode_Check(function_name.get())) {
    return failure(cast_error(function_name.get(), &PyUnicode_Type));
  }
  {
    Result<Ref, PyErr> all = module_all(module);
    if (!all) return failure(std::move(all).error());
    if (PyList_Append(all.value().get(), function_name.get()) < 0) {
      PyErr error = take();
      if (error.matches(PyExc_MemoryError)) return failure(std::move(error));
      throw Panic("could not append __name__ to __all__: " + error.describe());
    }
  }
  if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0) return failure(take());
  return 0;
}

Result<int, PyErr> add_functions(PyObject* module) {
  if (!PyModule_Check(module)) return failure(cast_error(module, &PyModule_Type));
  for (PyMethodDef& method : module_methods) {
    Result<int, PyErr> added = add_function(module, method);
    if (!added) return added;
  }
  return 0;
}

int module_exec(PyObject* module) noexcept {
  return run_entry<int>(-1, [module] { return add_functions(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&module_exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "tarvik_codec", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace tarvik::binding

PyMODINIT_FUNC PyInit_tarvik_codec() {
  return PyModuleDef_Init(&tarvik::binding::module_definition);
}
