// The call boundaries of document mode: the arguments as columnarize takes them, the codec on the
// payload in place, its output copied into the result.
#include "binding/document_call.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "binding/binding_errors.hpp"
#include "binding/call_arguments.hpp"
#include "binding/codec_work.hpp"
#include "json/memory/buffer.hpp"
#include "transform/columnarize_document.hpp"
#include "transform/decolumnarize.hpp"

namespace tarvik::binding {

namespace {

constexpr std::string_view kDocumentParameters[] = {"payload", "min_rows"};
constexpr Signature kDocumentSignature{"columnarize_document", kDocumentParameters};
constexpr std::uint64_t kDefaultMinRows = 2;
constexpr std::string_view kDecodeParameters[] = {"payload"};
constexpr Signature kDecodeSignature{"decolumnarize", kDecodeParameters};

// The outcome of the codec as the call's result or exception.
Result<PyObject*, PyErr> bytes_result(CodecOutcome<Result<json::Buffer, std::string>>& outcome) {
  if (outcome.fault) return failure(contained_fault_error(outcome.fault));
  Result<json::Buffer, std::string>& result = *outcome.result;
  if (!result) return failure(PyErr::new_message(PyExc_RuntimeError, std::move(result).error()));
  // A large output is handed over a step at a time, each step's pages given back once copied,
  // so that it is never resident twice; with the lock released, like the work that made it. A
  // smaller one leaves its pages with its block, for the next call to write in without faults.
  constexpr std::size_t kLargeOutput = std::size_t{1} << 20;
  json::Buffer& text = result.value();
  Ref bytes = expect_object(new_bytes(text.size()));
  char* const destination = PyBytes_AS_STRING(bytes.get());
  const bool large = text.size() >= kLargeOutput;
  const LockRelease released(large);
  text.hand_over(destination, large);
  return bytes.release();
}

Result<PyObject*, PyErr> columnarize_document_call(PyObject* const* args, Py_ssize_t positional,
                                                   PyObject* kwnames) {
  Result<BoundArguments, PyErr> bound =
      bind_arguments(kDocumentSignature, args, positional, kwnames);
  if (!bound) return failure(std::move(bound).error());
  Result<std::string_view, PyErr> payload = payload_content(bound.value().slots[0]);
  if (!payload) return failure(std::move(payload).error());
  std::uint64_t min_rows = kDefaultMinRows;
  if (PyObject* given = bound.value().slots[1]) {
    Result<std::uint64_t, PyErr> checked = min_rows_value(given);
    if (!checked) return failure(std::move(checked).error());
    min_rows = checked.value();
  }
  // Held for the call, so the payload stays alive while it is read without the lock.
  const Ref held = Ref::borrow(bound.value().slots[0]);
  auto outcome = run_codec(payload.value(), [min_rows](std::string_view text) {
    return columnarize_document(text, min_rows);
  });
  return bytes_result(outcome);
}

Result<PyObject*, PyErr> decolumnarize_call(PyObject* const* args, Py_ssize_t positional,
                                            PyObject* kwnames) {
  Result<BoundArguments, PyErr> bound = bind_arguments(kDecodeSignature, args, positional, kwnames);
  if (!bound) return failure(std::move(bound).error());
  Result<std::string_view, PyErr> payload = payload_content(bound.value().slots[0]);
  if (!payload) return failure(std::move(payload).error());
  // Held for the call, so the payload stays alive while it is read without the lock.
  const Ref held = Ref::borrow(bound.value().slots[0]);
  auto outcome = run_codec(payload.value(), decolumnarize);
  return bytes_result(outcome);
}

}  // namespace

PyObject* columnarize_document_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                                     PyObject* kwnames) noexcept {
  return run_entry<PyObject*>(nullptr, [&] {
    return columnarize_document_call(args, PyVectorcall_NARGS(nargsf), kwnames);
  });
}

PyObject* decolumnarize_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                              PyObject* kwnames) noexcept {
  return run_entry<PyObject*>(
      nullptr, [&] { return decolumnarize_call(args, PyVectorcall_NARGS(nargsf), kwnames); });
}

}  // namespace tarvik::binding
