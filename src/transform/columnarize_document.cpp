// The document pipeline: scan and plan, then write what was planned, at its counted length.
#include "transform/columnarize_document.hpp"

#include <stdexcept>
#include <utility>

#include "json/memory/huge_pages.hpp"
#include "transform/document_scan.hpp"
#include "transform/document_text.hpp"
#include "transform/without_repeated_names.hpp"

namespace tarvik {

namespace {

json::Buffer planned_text(std::string_view text, DocumentPlan& plan) {
  json::ensure_room_for(plan.size);
  json::Buffer out(plan.size);
  write_document(text, plan, out);
  recycle_rows(plan);
  return out;
}

}  // namespace

Result<json::Buffer, std::string> columnarize_document(std::string_view payload,
                                                       std::uint64_t min_rows) {
  return json::retried_after_memory_runs_out([&]() -> Result<json::Buffer, std::string> {
    Result<DocumentPlan, json::Error> plan = scan_document(payload, min_rows);
    if (!plan.ok()) return failure("invalid JSON: " + plan.error().display());
    if (!plan.value().repeats_a_name) return planned_text(payload, plan.value());
    // Each repeated name read as the reader reads it: the last value, at the first position.
    json::Buffer read(json::Buffer::kInitialCapacity, payload.size());
    write_without_repeated_names(payload, read);
    Result<DocumentPlan, json::Error> again = scan_document(read.view(), min_rows);
    if (!again.ok() || again.value().repeats_a_name) {
      throw std::logic_error("a document rewritten without repeated names does not read back");
    }
    return planned_text(read.view(), again.value());
  });
}

}  // namespace tarvik
