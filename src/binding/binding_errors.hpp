// The binding's error machinery: owned host references, the error record a failure travels in,
// the PanicException type, and the two barriers that frame every entry function.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>  // IWYU pragma: export

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "json/model/result.hpp"

namespace tarvik::binding {

// An owned reference to a host object: released once, when the owner ends. Must only be
// created, moved and destroyed with the interpreter lock held.
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (null allowed: the host's failure value).
  explicit Ref(PyObject* owned) noexcept : object_(owned) {}
  static Ref borrow(PyObject* borrowed) noexcept { return Ref(Py_XNewRef(borrowed)); }

  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller (for a result returned to the host).
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  PyObject* object_ = nullptr;
};

// An internal fault of the binding's own code outside the transform (a host object that could
// not be made, a PanicException resumed from Python code). Raised to Python as PanicException.
class Panic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure on its way out of an entry function: either an exception type with its message (the
// exception itself is made only when raised) or an exception instance taken from the host.
class PyErr {
 public:
  // `type` is a process-lifetime exception type (a built-in one or PanicException).
  static PyErr new_message(PyObject* type, std::string message) {
    return PyErr(type, std::move(message), Ref());
  }
  static PyErr from_instance(Ref instance) { return PyErr(nullptr, {}, std::move(instance)); }

  // Whether the exception is `type` or one of its subclasses.
  bool matches(PyObject* type) const;

  // Attaches `note` with the exception's own add_note, creating the instance first if needed.
  // A failing add_note is dropped: the exception is then raised without the note.
  void add_note(std::string_view note);

  // "{type}: {str(exception)}", for a message that reports this error inside another one.
  std::string describe() const;

  // Sets the host's error indicator; consumes the record.
  void raise() &&;

 private:
  PyErr(PyObject* type, std::string message, Ref instance)
      : type_(type), message_(std::move(message)), instance_(std::move(instance)) {}

  PyObject* type_;
  std::string message_;
  Ref instance_;
};

// Takes the host's pending error. A host failure with nothing pending becomes SystemError; a
// PanicException raised by Python code is printed and thrown on as a Panic with its text.
PyErr take();

// The record for a failed allocation: the host's MemoryError.
PyErr no_memory();

// Takes the host's pending error and drops it.
void drop_pending_error();

// For a host call that returned null where it had to make a new object. An exhausted host goes
// on as std::bad_alloc (raised as MemoryError); any other pending error is reported as
// unraisable and the call ends in the fault "PyObject pointer is null".
[[noreturn]] void panic_on_null();

// The new object a host call made, or panic_on_null() when it made none.
Ref expect_object(PyObject* made);

// TypeError "'{type}' object is not an instance of '{target}'" ("'None' is not ..." for None).
PyErr cast_error(PyObject* object, PyTypeObject* target);

// The argument's conversion error, with the note "while processing '{argument}'".
PyErr argument_extraction_error(std::string_view argument, PyErr error);

// The UTF-8 text of a host string; lone surrogates come out as U+FFFD replacement characters.
std::string lossy_text(PyObject* text);

// The lossy text of str(object); an object whose str() fails is named by a placeholder.
std::string object_text(PyObject* object);

// The type of the internal faults that escape into Python: a BaseException subclass, made once
// per process on first need and never released.
PyObject* panic_exception_type();

// The interned attribute names, made once per process on first need.
PyObject* interned_name_attribute();  // "__name__"
PyObject* interned_all_attribute();   // "__all__"

// Writes the short report of an internal fault to standard error.
void report_fault(std::string_view text) noexcept;

// Ends the calling thread's part in the program without unwinding it: for a thread that the host
// tries to end while the interpreter is finalized.
[[noreturn]] void park_thread() noexcept;

// The error raised for a fault that escaped the work of an entry function: MemoryError for a
// failed allocation, PanicException for every other fault.
PyErr error_from_fault(std::exception_ptr fault);

// Frames an entry function. `body` returns a Result<T, PyErr>; an error is raised and
// `failure_value` returned. A fault escaping `body` is raised as PanicException (MemoryError for
// exhaustion); a fault while raising ends the process with "uncaught panic at ffi boundary".
template <class T, class Body>
T run_entry(T failure_value, Body&& body) noexcept {
  try {
    std::optional<PyErr> error;
    try {
      Result<T, PyErr> outcome = body();
      if (outcome.ok()) return std::move(outcome).value();
      error.emplace(std::move(outcome).error());
    } catch (abi::__forced_unwind&) {
      // The host is ending this thread during finalization (from Python code run by a call):
      // the frames above cannot be unwound, so the thread stops here.
      park_thread();
    } catch (...) {
      error.emplace(error_from_fault(std::current_exception()));
    }
    std::move(*error).raise();
    return failure_value;
  } catch (abi::__forced_unwind&) {
    park_thread();
  } catch (...) {
    report_fault("uncaught panic at ffi boundary");
    std::abort();
  }
}

}  // namespace tarvik::binding
