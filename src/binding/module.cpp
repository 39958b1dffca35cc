// The tarvik_codec module: its definition, the exec function that adds `columnarize` and
// `__all__`, and PyInit_tarvik_codec, the one symbol the shared object exports.
#include "binding/binding_errors.hpp"

#include <string>
#include <utility>

#include "binding/columnarize_call.hpp"

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

PyMethodDef columnarize_method = {
    "columnarize",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&columnarize_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    kColumnarizeDoc,
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

// Adds the function `columnarize` to the module and its name to __all__. Each run appends the
// name again and replaces the function.
Result<int, PyErr> add_columnarize(PyObject* module) {
  if (!PyModule_Check(module)) return failure(cast_error(module, &PyModule_Type));
  Ref function;
  {
    const Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return failure(take());
    function = Ref(PyCMethod_New(&columnarize_method, module, module_name.get(), nullptr));
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

int module_exec(PyObject* module) noexcept {
  return run_entry<int>(-1, [module] { return add_columnarize(module); });
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
