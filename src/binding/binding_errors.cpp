// The binding's error machinery: taking and raising host errors, PanicException, notes, the
// type-mismatch message and the lossy text of host strings.
#include "binding/binding_errors.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <new>

#include "json/platform/platform.hpp"

namespace tarvik::binding {

namespace {

constexpr const char* kPanicExceptionName = "tarvik_runtime.PanicException";
constexpr const char* kPanicExceptionDoc =
    "\n"
    "The exception raised when native code called from Python hits an internal fault.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";
constexpr const char* kFaultWithoutText = "internal fault that carries no message";

// Process-wide host objects are published with a compare-and-swap instead of a lock: making
// one may run Python code (the collector), and a thread waiting on a lock of ours while holding
// the interpreter lock could deadlock. A thread that loses the race drops its copy.
PyObject* publish_once(std::atomic<PyObject*>& slot, Ref made) {
  PyObject* published = nullptr;
  if (slot.compare_exchange_strong(published, made.get(), std::memory_order_acq_rel)) {
    return made.release();
  }
  return published;
}

PyObject* interned(std::atomic<PyObject*>& slot, std::string_view text) {
  if (PyObject* ready = slot.load(std::memory_order_acquire)) return ready;
  PyObject* made =
      expect_object(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())))
          .release();
  PyUnicode_InternInPlace(&made);
  return publish_once(slot, Ref(made));
}

PyObject* interned_add_note() {
  static std::atomic<PyObject*> slot{nullptr};
  return interned(slot, "add_note");
}

std::string type_name(PyTypeObject* type) {
  const Ref name(PyType_GetQualName(type));
  if (!name) {
    drop_pending_error();
    return "<failed to extract type name>";
  }
  return lossy_text(name.get());
}

Ref new_text(std::string_view text) {
  return expect_object(
      PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace

bool PyErr::matches(PyObject* type) const {
  PyObject* own_type = instance_ ? reinterpret_cast<PyObject*>(Py_TYPE(instance_.get())) : type_;
  return PyErr_GivenExceptionMatches(own_type, type) != 0;
}

void PyErr::add_note(std::string_view note) {
  const Ref text = new_text(note);
  if (!instance_) {
    // Raising and taking back is how the host makes the instance from type and message.
    std::move(*this).raise();
    *this = take();
  }
  PyObject* const call_args[] = {instance_.get(), text.get()};
  const Ref added(PyObject_VectorcallMethod(interned_add_note(), call_args, 2, nullptr));
  if (!added) static_cast<void>(take());
}

std::string PyErr::describe() const {
  if (!instance_) {
    return type_name(reinterpret_cast<PyTypeObject*>(type_)) + ": " + message_;
  }
  return type_name(Py_TYPE(instance_.get())) + ": " + object_text(instance_.get());
}

void PyErr::raise() && {
  if (instance_) {
    PyErr_SetRaisedException(instance_.release());
    return;
  }
  const Ref message(
      PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
  // Without the message the host's own error (a MemoryError) is the one left pending.
  if (message) PyErr_SetObject(type_, message.get());
}

PyErr take() {
  Ref exception(PyErr_GetRaisedException());
  if (!exception) {
    return PyErr::new_message(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  if (reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_exception_type()) {
    // A fault of native code that Python code let through goes on as the fault it was.
    std::string text = object_text(exception.get());
    std::fputs(
        "tarvik_codec: resuming a PanicException that was fetched from Python code;\n"
        "its Python stack trace follows.\n",
        stderr);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    throw Panic(text);
  }
  return PyErr::from_instance(std::move(exception));
}

PyErr no_memory() {
  PyErr_NoMemory();
  return PyErr::from_instance(Ref(PyErr_GetRaisedException()));
}

void drop_pending_error() {
  const Ref dropped(PyErr_GetRaisedException());
}

void panic_on_null() {
  const Ref pending(PyErr_GetRaisedException());
  if (pending && PyErr_GivenExceptionMatches(pending.get(), PyExc_MemoryError)) {
    throw std::bad_alloc();
  }
  if (pending) {
    PyErr_SetRaisedException(Py_NewRef(pending.get()));
  } else {
    PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  PyErr_WriteUnraisable(nullptr);
  throw Panic("PyObject pointer is null");
}

Ref expect_object(PyObject* made) {
  if (made == nullptr) panic_on_null();
  return Ref(made);
}

PyErr cast_error(PyObject* object, PyTypeObject* target) {
  const std::string target_name = type_name(target);
  std::string message = object == Py_None
                            ? "'None' is not an instance of '" + target_name + "'"
                            : "'" + type_name(Py_TYPE(object)) +
                                  "' object is not an instance of '" + target_name + "'";
  return PyErr::new_message(PyExc_TypeError, std::move(message));
}

PyErr argument_extraction_error(std::string_view argument, PyErr error) {
  std::string note = "while processing '";
  note.append(argument);
  note.push_back('\'');
  error.add_note(note);
  return error;
}

std::string lossy_text(PyObject* text) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
    return std::string(utf8, static_cast<std::size_t>(size));
  }
  // Only a lone surrogate has no UTF-8 form: pass it through as bytes, then decode those bytes
  // with replacement.
  drop_pending_error();
  const Ref encoded = expect_object(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  const Ref decoded = expect_object(PyUnicode_DecodeUTF8(
      PyBytes_AS_STRING(encoded.get()), PyBytes_GET_SIZE(encoded.get()), "replace"));
  const char* utf8 = PyUnicode_AsUTF8AndSize(decoded.get(), &size);
  if (utf8 == nullptr) panic_on_null();
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string object_text(PyObject* object) {
  const Ref text(PyObject_Str(object));
  if (!text) {
    drop_pending_error();
    return "<unprintable " + type_name(Py_TYPE(object)) + " object>";
  }
  return lossy_text(text.get());
}

PyObject* panic_exception_type() {
  static std::atomic<PyObject*> slot{nullptr};
  if (PyObject* ready = slot.load(std::memory_order_acquire)) return ready;
  Ref made(PyErr_NewExceptionWithDoc(kPanicExceptionName, kPanicExceptionDoc, PyExc_BaseException,
                                     nullptr));
  if (!made) {
    const Ref pending(PyErr_GetRaisedException());
    if (pending && PyErr_GivenExceptionMatches(pending.get(), PyExc_MemoryError)) {
      throw std::bad_alloc();
    }
    throw Panic("Failed to initialize new exception type.");
  }
  return publish_once(slot, std::move(made));
}

PyObject* interned_name_attribute() {
  static std::atomic<PyObject*> slot{nullptr};
  return interned(slot, "__name__");
}

PyObject* interned_all_attribute() {
  static std::atomic<PyObject*> slot{nullptr};
  return interned(slot, "__all__");
}

void report_fault(std::string_view text) noexcept {
  std::fprintf(stderr, "tarvik_codec: internal fault on thread %lu: %.*s\n",
               json::platform::current_thread_id(), static_cast<int>(text.size()), text.data());
}

void park_thread() noexcept {
  for (;;)
    pause();
}

PyErr error_from_fault(std::exception_ptr fault) {
  try {
    std::rethrow_exception(std::move(fault));
  } catch (const std::bad_alloc&) {
    return no_memory();
  } catch (const std::exception& error) {
    report_fault(error.what());
    return PyErr::new_message(panic_exception_type(), error.what());
  } catch (...) {
    report_fault(kFaultWithoutText);
    return PyErr::new_message(panic_exception_type(), kFaultWithoutText);
  }
}

}  // namespace tarvik::binding
