// The lock's release around the codec's work, and the mapping of its faults.
#include "binding/codec_work.hpp"

#include <new>
#include <stdexcept>
#include <string>

#include "json/memory/huge_pages.hpp"

namespace tarvik::binding {

// The catch takes no reference: the forced unwinding has no exception object to bind one to
// (UBSan reports the null reference), and nothing else can leave this C function.
LockRelease::~LockRelease() {
  if (state_ == nullptr) return;
  try {
    PyEval_RestoreThread(state_);
  } catch (...) {
    park_thread();
  }
}

PyErr contained_fault_error(const std::exception_ptr& fault) {
  std::string text;
  try {
    std::rethrow_exception(fault);
  } catch (const std::bad_alloc&) {
    return no_memory();
  } catch (const std::exception& error) {
    text = error.what();
  } catch (...) {
    text = "unknown panic in columnarize_json";
  }
  report_fault(text);
  return PyErr::new_message(PyExc_RuntimeError, "internal panic during columnarization: " + text);
}

PyObject* new_bytes(std::size_t size) {
  PyObject* made = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (made == nullptr && PyErr_ExceptionMatches(PyExc_MemoryError) &&
      json::release_kept_blocks() > 0) {
    PyErr_Clear();
    made = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  }
  return made;
}

}  // namespace tarvik::binding
