// The codec's work inside a call: run on the caller's payload with the interpreter lock released,
// its faults contained and turned into the exceptions a caller's `except Exception` catches.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string_view>

#include "binding/binding_errors.hpp"
#include "json/model/result.hpp"

namespace tarvik::binding {

// Releases the interpreter lock for its lifetime (unless `release` is false: then it keeps it).
// Nothing may touch a host object meanwhile. While the interpreter is finalized the host ends a
// thread that asks for the lock back by unwinding its stack; the frames of the call cannot be
// unwound into, so the thread is parked instead.
class LockRelease {
 public:
  explicit LockRelease(bool release = true) noexcept
      : state_(release ? PyEval_SaveThread() : nullptr) {}
  ~LockRelease();
  LockRelease(const LockRelease&) = delete;
  LockRelease& operator=(const LockRelease&) = delete;

 private:
  PyThreadState* const state_;
};

// A payload this small is transformed in a few microseconds with the lock held: giving the lock
// up and taking it back would cost more than the transform, and another thread gains nothing
// from so short a pause (hashlib draws the same line).
inline constexpr std::size_t kUnlockedPayload = 2048;

// What the codec's work left: its result (a Result of the work's own types), or the fault that
// ended it.
template <class WorkResult>
struct CodecOutcome {
  std::optional<WorkResult> result;
  std::exception_ptr fault;
};

// Runs `work(payload)` with the lock released unless the payload is small, reading the payload
// in place: it points into a bytes object the caller holds a reference to, and bytes never
// change. Any fault of the work is caught here.
template <class Work>
auto run_codec(std::string_view payload, Work&& work)
    -> CodecOutcome<decltype(work(std::string_view()))> {
  CodecOutcome<decltype(work(std::string_view()))> outcome;
  const LockRelease released(payload.size() >= kUnlockedPayload);
  try {
    outcome.result.emplace(work(payload));
  } catch (...) {
    outcome.fault = std::current_exception();
  }
  return outcome;
}

// A fault of the codec is a failure like any other: RuntimeError "internal panic during
// columnarization: …", which the caller's `except Exception` guard catches, after a short report
// on standard error. Exhausted memory is MemoryError.
PyErr contained_fault_error(const std::exception_ptr& fault);

// Uninitialised bytes of `size`, made with the lock held. When memory runs out, the kept large
// blocks are given back and the allocation is tried once more.
PyObject* new_bytes(std::size_t size);

}  // namespace tarvik::binding
