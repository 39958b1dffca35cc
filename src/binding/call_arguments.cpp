// Argument binding of the module's functions and its messages, as Python words them for a
// function defined in Python, and the conversion of the payload and of min_rows.
#include "binding/call_arguments.hpp"

#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace tarvik::binding {

namespace {

PyErr type_error(std::string message) {
  return PyErr::new_message(PyExc_TypeError, std::move(message));
}

std::string prefix(const Signature& signature) {
  return std::string(signature.function) + "() ";
}

PyErr too_many_positional_arguments(const Signature& signature, Py_ssize_t given) {
  const std::size_t most = signature.parameters.size();
  const std::string takes =
      most == 1 ? "takes 1 positional argument"
                : "takes from 1 to " + std::to_string(most) + " positional arguments";
  return type_error(prefix(signature) + takes + " but " + std::to_string(given) + " were given");
}

PyErr unexpected_keyword_argument(const Signature& signature, PyObject* name) {
  return type_error(prefix(signature) + "got an unexpected keyword argument '" + object_text(name) +
                    "'");
}

PyErr multiple_values_for_argument(const Signature& signature, std::string_view parameter) {
  return type_error(prefix(signature) + "got multiple values for argument '" +
                    std::string(parameter) + "'");
}

PyErr missing_required_argument(const Signature& signature) {
  return type_error(prefix(signature) + "missing 1 required positional argument: '" +
                    std::string(signature.parameters.front()) + "'");
}

// The slot a keyword names: parameter names match byte for byte. A name without a UTF-8 form
// matches nothing.
std::optional<std::size_t> keyword_slot(const Signature& signature, PyObject* name) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
  if (utf8 == nullptr) {
    drop_pending_error();
    return std::nullopt;
  }
  const std::string_view text(utf8, static_cast<std::size_t>(size));
  for (std::size_t slot = 0; slot < signature.parameters.size(); ++slot) {
    if (text == signature.parameters[slot]) return slot;
  }
  return std::nullopt;
}

}  // namespace

Result<BoundArguments, PyErr> bind_arguments(const Signature& signature, PyObject* const* args,
                                             Py_ssize_t positional, PyObject* kwnames) {
  BoundArguments bound;
  const auto parameters = static_cast<Py_ssize_t>(signature.parameters.size());
  for (Py_ssize_t index = 0; index < positional && index < parameters; ++index) {
    bound.slots[static_cast<std::size_t>(index)] = args[index];
  }
  if (positional > parameters) return failure(too_many_positional_arguments(signature, positional));

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t index = 0; index < keywords; ++index) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, index);
    const std::optional<std::size_t> slot = keyword_slot(signature, name);
    if (!slot) return failure(unexpected_keyword_argument(signature, name));
    if (bound.slots[*slot] != nullptr) {
      return failure(multiple_values_for_argument(signature, signature.parameters[*slot]));
    }
    bound.slots[*slot] = args[positional + index];
  }

  if (bound.slots[0] == nullptr) return failure(missing_required_argument(signature));
  return bound;
}

Result<std::string_view, PyErr> payload_content(PyObject* payload) {
  if (!PyType_HasFeature(Py_TYPE(payload), Py_TPFLAGS_BYTES_SUBCLASS)) {
    return failure(argument_extraction_error("payload", cast_error(payload, &PyBytes_Type)));
  }
  // Known to be bytes: read in place, without the checked calls.
  return std::string_view(PyBytes_AS_STRING(payload),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(payload)));
}

Result<std::uint64_t, PyErr> min_rows_value(PyObject* min_rows) {
  Ref index;
  PyObject* integer = min_rows;
  if (!PyLong_Check(min_rows)) {
    index = Ref(PyNumber_Index(min_rows));
    if (!index) return failure(argument_extraction_error("min_rows", take()));
    if (!PyLong_Check(index.get())) {
      return failure(argument_extraction_error("min_rows", cast_error(index.get(), &PyLong_Type)));
    }
    integer = index.get();
  }
  // All ones is a valid value too: only a pending error tells a failure apart.
  const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
  if (value == ULLONG_MAX && PyErr_Occurred() != nullptr) {
    return failure(argument_extraction_error("min_rows", take()));
  }
  return static_cast<std::uint64_t>(value);
}

}  // namespace tarvik::binding
