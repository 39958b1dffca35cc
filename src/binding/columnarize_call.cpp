// The columnarize call boundary: argument binding and its messages, the transform on the payload
// in place (the interpreter lock released but for small payloads), every outcome mapped to Python.
#include "binding/columnarize_call.hpp"

#include <climits>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "binding/binding_errors.hpp"
#include "json/memory/huge_pages.hpp"
#include "transform/columnarize.hpp"

namespace tarvik::binding {

namespace {

constexpr std::size_t kPayload = 0;
constexpr std::size_t kMinRows = 1;
constexpr std::string_view kParameterNames[] = {"payload", "min_rows"};
constexpr Py_ssize_t kParameterCount = 2;

// The argument objects bound to payload and min_rows, borrowed from the call; null when absent.
struct BoundArguments {
  PyObject* slots[kParameterCount] = {nullptr, nullptr};
};

PyErr type_error(std::string message) {
  return PyErr::new_message(PyExc_TypeError, std::move(message));
}

PyErr too_many_positional_arguments(Py_ssize_t given) {
  return type_error("columnarize() takes from 1 to 2 positional arguments but " +
                    std::to_string(given) + " were given");
}

PyErr unexpected_keyword_argument(PyObject* name) {
  return type_error("columnarize() got an unexpected keyword argument '" + object_text(name) + "'");
}

PyErr multiple_values_for_argument(std::string_view parameter) {
  std::string message = "columnarize() got multiple values for argument '";
  message.append(parameter);
  message.push_back('\'');
  return type_error(std::move(message));
}

PyErr missing_required_payload() {
  return type_error("columnarize() missing 1 required positional argument: 'payload'");
}

// The slot a keyword names: parameter names match byte for byte. A name without a UTF-8 form
// matches nothing.
std::optional<std::size_t> keyword_slot(PyObject* name) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
  if (utf8 == nullptr) {
    drop_pending_error();
    return std::nullopt;
  }
  const std::string_view text(utf8, static_cast<std::size_t>(size));
  for (std::size_t slot = 0; slot < std::size(kParameterNames); ++slot) {
    if (text == kParameterNames[slot]) return slot;
  }
  return std::nullopt;
}

Result<BoundArguments, PyErr> bind_arguments(PyObject* const* args, Py_ssize_t positional,
                                             PyObject* kwnames) {
  BoundArguments bound;
  for (Py_ssize_t index = 0; index < positional && index < kParameterCount; ++index) {
    bound.slots[index] = args[index];
  }
  if (positional > kParameterCount) return failure(too_many_positional_arguments(positional));

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t index = 0; index < keywords; ++index) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, index);
    const std::optional<std::size_t> slot = keyword_slot(name);
    if (!slot) return failure(unexpected_keyword_argument(name));
    if (bound.slots[*slot] != nullptr) {
      return failure(multiple_values_for_argument(kParameterNames[*slot]));
    }
    bound.slots[*slot] = args[positional + index];
  }

  if (bound.slots[kPayload] == nullptr) return failure(missing_required_payload());
  return bound;
}

// The content of a bytes object (or of an instance of a bytes subclass); nothing else is taken.
Result<std::string_view, PyErr> payload_content(PyObject* payload) {
  if (!PyType_HasFeature(Py_TYPE(payload), Py_TPFLAGS_BYTES_SUBCLASS)) {
    return failure(argument_extraction_error("payload", cast_error(payload, &PyBytes_Type)));
  }
  const char* start = PyBytes_AsString(payload);
  const Py_ssize_t size = PyBytes_Size(payload);
  return std::string_view(start, static_cast<std::size_t>(size));
}

// min_rows must be an unsigned 64-bit integer; its value is not used, since the Python caller
// applies the row threshold before calling.
std::optional<PyErr> check_min_rows(PyObject* min_rows) {
  Ref index;
  PyObject* integer = min_rows;
  if (!PyLong_Check(min_rows)) {
    index = Ref(PyNumber_Index(min_rows));
    if (!index) return argument_extraction_error("min_rows", take());
    if (!PyLong_Check(index.get())) {
      return argument_extraction_error("min_rows", cast_error(index.get(), &PyLong_Type));
    }
    integer = index.get();
  }
  // All ones is a valid value too: only a pending error tells a failure apart.
  if (PyLong_AsUnsignedLongLong(integer) == ULLONG_MAX && PyErr_Occurred() != nullptr) {
    return argument_extraction_error("min_rows", take());
  }
  return std::nullopt;
}

// Takes the interpreter lock back. While the interpreter is finalized the host ends a thread
// that asks for the lock by unwinding its stack; the frames of the call cannot be unwound into,
// so the thread is parked here instead. The catch takes no reference: the forced unwinding has
// no exception object to bind one to (UBSan reports the null reference), and nothing else can
// leave this C function.
void take_back_lock(PyThreadState* state) noexcept {
  try {
    PyEval_RestoreThread(state);
  } catch (...) {
    park_thread();
  }
}

// Releases the interpreter lock for its lifetime (unless `release` is false: then it keeps it).
// Nothing may touch a host object meanwhile.
class LockRelease {
 public:
  explicit LockRelease(bool release = true) noexcept
      : state_(release ? PyEval_SaveThread() : nullptr) {}
  ~LockRelease() {
    if (state_ != nullptr) take_back_lock(state_);
  }
  LockRelease(const LockRelease&) = delete;
  LockRelease& operator=(const LockRelease&) = delete;

 private:
  PyThreadState* const state_;
};

// What the transform left: its result, or the fault that ended it.
struct TransformOutcome {
  std::optional<Result<TableText, std::string>> result;
  std::exception_ptr fault;
};

// A payload this small is transformed in a few microseconds with the lock held: giving the lock
// up and taking it back would cost more than the transform, and another thread gains nothing
// from so short a pause (hashlib draws the same line).
constexpr std::size_t kUnlockedPayload = 2048;

// Runs the transform, with the lock released unless the payload is small, reading the payload
// in place: `payload` points into a bytes object the caller holds a reference to, and bytes
// never change. Any fault of the transform is caught here.
TransformOutcome transform_payload(std::string_view payload) {
  TransformOutcome outcome;
  const LockRelease released(payload.size() >= kUnlockedPayload);
  try {
    outcome.result.emplace(columnarize_json_text(payload));
  } catch (...) {
    outcome.fault = std::current_exception();
  }
  return outcome;
}

// A fault of the transform is a failure of the codec like any other: RuntimeError, which the
// caller's `except Exception` guard catches. Exhausted memory is MemoryError.
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

// Uninitialised bytes of `size`, made with the lock held. When memory runs out, the kept large
// blocks are given back and the allocation is tried once more.
PyObject* new_bytes(std::size_t size) {
  PyObject* made = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (made == nullptr && PyErr_ExceptionMatches(PyExc_MemoryError) &&
      json::release_kept_blocks() > 0) {
    PyErr_Clear();
    made = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  }
  return made;
}

// The result bytes, made at the output's exact size with the lock held, so no second copy of the
// output is ever made. A large output is written with the lock released: the new object is the
// call's alone until it is returned, and the writing (with the page faults of fresh memory)
// would otherwise keep every other Python thread waiting. The cell text is freed as it is written.
Ref make_result(TableText& text) {
  constexpr std::size_t kLargeOutput = std::size_t{1} << 20;
  Ref result = expect_object(new_bytes(text.size()));
  char* const destination = PyBytes_AS_STRING(result.get());
  if (text.size() >= kLargeOutput) {
    const LockRelease released;
    text.write(destination, true);
  } else {
    text.write(destination);
  }
  return result;
}

Result<PyObject*, PyErr> columnarize_call(PyObject* const* args, Py_ssize_t positional,
                                          PyObject* kwnames) {
  Result<BoundArguments, PyErr> bound = bind_arguments(args, positional, kwnames);
  if (!bound) return failure(std::move(bound).error());
  Result<std::string_view, PyErr> payload = payload_content(bound.value().slots[kPayload]);
  if (!payload) return failure(std::move(payload).error());
  if (PyObject* min_rows = bound.value().slots[kMinRows]) {
    if (std::optional<PyErr> invalid = check_min_rows(min_rows)) {
      return failure(std::move(*invalid));
    }
  }

  // Held for the call, so the payload stays alive while it is read without the lock.
  const Ref held = Ref::borrow(bound.value().slots[kPayload]);
  TransformOutcome outcome = transform_payload(payload.value());
  if (outcome.fault) return failure(contained_fault_error(outcome.fault));
  Result<TableText, std::string>& result = *outcome.result;
  if (!result) return failure(PyErr::new_message(PyExc_RuntimeError, std::move(result).error()));
  return make_result(result.value()).release();
}

}  // namespace

PyObject* columnarize_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return run_entry<PyObject*>(
      nullptr, [&] { return columnarize_call(args, PyVectorcall_NARGS(nargsf), kwnames); });
}

}  // namespace tarvik::binding
