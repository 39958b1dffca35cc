// The columnarize call boundary: its arguments, the transform on the payload in place (the
// interpreter lock released but for small payloads), every outcome mapped to Python.
#include "binding/columnarize_call.hpp"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "binding/binding_errors.hpp"
#include "binding/call_arguments.hpp"
#include "binding/codec_work.hpp"
#include "transform/columnarize.hpp"

namespace tarvik::binding {

namespace {

constexpr std::string_view kParameters[] = {"payload", "min_rows"};
constexpr Signature kSignature{"columnarize", kParameters};

// The result bytes, made at the output's exact size with the lock held, so no second copy of the
// output is ever made. A large output is written with the lock released: the new object is the
// call's alone until it is returned, and the writing (with the page faults of fresh memory)
// would otherwise keep every other Python thread waiting. The cell text is freed as it is written.
// A fault of the writing (a text that disagrees with its counted size) is the transform's.
Result<Ref, PyErr> make_result(TableText& text) {
  constexpr std::size_t kLargeOutput = std::size_t{1} << 20;
  Ref result = expect_object(new_bytes(text.size()));
  char* const destination = PyBytes_AS_STRING(result.get());
  try {
    if (text.size() >= kLargeOutput) {
      const LockRelease released;
      text.write(destination, true);
    } else {
      text.write(destination);
    }
  } catch (...) {
    return failure(contained_fault_error(std::current_exception()));
  }
  return result;
}

Result<PyObject*, PyErr> columnarize_call(PyObject* const* args, Py_ssize_t positional,
                                          PyObject* kwnames) {
  Result<BoundArguments, PyErr> bound = bind_arguments(kSignature, args, positional, kwnames);
  if (!bound) return failure(std::move(bound).error());
  Result<std::string_view, PyErr> payload = payload_content(bound.value().slots[0]);
  if (!payload) return failure(std::move(payload).error());
  // min_rows is checked and not used: the Python caller applies the row threshold before calling.
  if (PyObject* min_rows = bound.value().slots[1]) {
    Result<std::uint64_t, PyErr> checked = min_rows_value(min_rows);
    if (!checked) return failure(std::move(checked).error());
  }

  // Held for the call, so the payload stays alive while it is read without the lock.
  const Ref held = Ref::borrow(bound.value().slots[0]);
  auto outcome =
      run_codec(payload.value(), [](std::string_view text) { return columnarize_json_text(text); });
  if (outcome.fault) return failure(contained_fault_error(outcome.fault));
  Result<TableText, TransformFailure>& result = *outcome.result;
  if (!result)
    return failure(PyErr::new_message(PyExc_RuntimeError, std::move(result).error().message));
  Result<Ref, PyErr> made = make_result(result.value());
  if (!made) return failure(std::move(made).error());
  return made.value().release();
}

}  // namespace

PyObject* columnarize_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                            PyObject* kwnames) noexcept {
  return run_entry<PyObject*>(
      nullptr, [&] { return columnarize_call(args, PyVectorcall_NARGS(nargsf), kwnames); });
}

}  // namespace tarvik::binding
