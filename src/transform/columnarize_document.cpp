// The document pipeline: scan and plan, then write what was planned, at its counted length.
#include "transform/columnarize_document.hpp"

#include <stdexcept>
#include <utility>

#include "json/memory/arena.hpp"
#include "json/memory/memory_room.hpp"
#include "json/model/value.hpp"
#include "json/read/deferred.hpp"
#include "json/write/writer.hpp"
#include "transform/document_scan.hpp"
#include "transform/document_text.hpp"

namespace tarvik {

namespace {

// The document `text` (valid, an array or object) rewritten compact with each repeated name
// read as the reader reads it: the last value, at the position where the name first stood.
json::Buffer without_repeated_names(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\n\r");
  const std::size_t last = text.find_last_not_of(" \t\n\r");
  text = text.substr(first, last + 1 - first);
  const json::Kind kind = text.front() == '[' ? json::Kind::Array : json::Kind::Object;
  json::Arena arena;
  const json::Value document =
      json::build_deferred(json::Value::deferred(kind, text, json::TextForm::Other), arena);
  json::Buffer out(json::Buffer::kInitialCapacity, text.size());
  json::serialize_value(document, out);
  return out;
}

json::Buffer planned_text(std::string_view text, const DocumentPlan& plan) {
  json::ensure_room_for(plan.size);
  json::Buffer out(plan.size);
  write_document(text, plan, out);
  return out;
}

}  // namespace

Result<json::Buffer, std::string> columnarize_document(std::string_view payload,
                                                       std::uint64_t min_rows) {
  Result<DocumentPlan, json::Error> plan = scan_document(payload, min_rows);
  if (!plan.ok()) return failure("invalid JSON: " + plan.error().display());
  if (!plan.value().repeats_a_name) return planned_text(payload, plan.value());
  const json::Buffer read = without_repeated_names(payload);
  Result<DocumentPlan, json::Error> again = scan_document(read.view(), min_rows);
  if (!again.ok() || again.value().repeats_a_name) {
    throw std::logic_error("a document rewritten without repeated names does not read back");
  }
  return planned_text(read.view(), again.value());
}

}  // namespace tarvik
