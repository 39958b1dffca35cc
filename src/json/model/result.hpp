// A stage's outcome: either its value or its error, never both.
// Expected failures travel as values; only internal faults are C++ exceptions.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace tarvik {

template <class E>
struct Failure {
  E error;
};

template <class E>
Failure<std::decay_t<E>> failure(E&& error) {
  return {std::forward<E>(error)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure<E> failed) : state_(std::in_place_index<1>, std::move(failed.error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }

  E& error() & { return std::get<1>(state_); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

}  // namespace tarvik
