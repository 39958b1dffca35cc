// A table's header in the writer's form read from its text: there each name has one spelling, so
// names are compared, and a column's name and a scalar constant written, as they stand.
#include "transform/written_header.hpp"

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "json/memory/buffer.hpp"
#include "json/text/container_end.hpp"
#include "transform/document_plan.hpp"
#include "transform/one_pass_back.hpp"

namespace tarvik {

namespace {

// Reads text the one pass has read whole (in the writer's form, each value whole).
class WrittenText {
 public:
  explicit WrittenText(std::string_view text) : text_(text) {}

  bool at_end() const { return at_ == text_.size(); }
  std::size_t at() const { return at_; }
  std::string_view since(std::size_t start) const { return text_.substr(start, at_ - start); }

  bool take(std::string_view piece) {
    if (text_.substr(at_, piece.size()) != piece) return false;
    at_ += piece.size();
    return true;
  }
  bool next_is(char byte) const { return at_ < text_.size() && text_[at_] == byte; }

  // A string's text between its quotes, passed over; empty-handed (false) where none starts.
  bool take_string(std::string_view& inside) {
    if (!next_is('"')) return false;
    const std::size_t start = at_ + 1;
    at_ = offset(json::string_end(text_.data() + at_, text_.data() + text_.size()));
    inside = text_.substr(start, at_ - 1 - start);
    return true;
  }

  // The value at the read position, passed over.
  void pass_value() {
    const char* const from = text_.data() + at_;
    const char* const end = text_.data() + text_.size();
    if (*from == '"') {
      at_ = offset(json::string_end(from, end));
    } else if (*from == '[' || *from == '{') {
      at_ = offset(json::container_end(from, end));
    } else {
      while (at_ < text_.size() && !ends_value(text_[at_]))
        ++at_;
    }
  }

 private:
  static bool ends_value(char byte) { return byte == ',' || byte == ']' || byte == '}'; }

  // Where `p`, just past a string or container of the text, lies in it (null: the text's end,
  // which whole values never reach).
  std::size_t offset(const char* p) const {
    return p == nullptr ? text_.size() : static_cast<std::size_t>(p - text_.data());
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Whether `written` may hold an object shaped as a table: in the writer's form, every such object
// starts so (a quote inside a string is escaped), and without one the text turns back as itself.
bool may_hold_a_table(std::string_view written) {
  return written.find("{\"columns\":") != std::string_view::npos ||
         written.find("{\"keys\":") != std::string_view::npos;
}

bool read_columns(WrittenText& text, DecodedTable& out, NameIndex& names);
bool read_constants(WrittenText& text, const NameIndex& names, std::string& out);

// A group's or list group's header, `{"columns":…,"constants":…}`, at the read position.
bool read_group(WrittenText& text, DecodedTable& group) {
  NameIndex names;
  return text.take("{\"columns\":") && read_columns(text, group, names) &&
         text.take(",\"constants\":") && read_constants(text, names, group.constants) &&
         text.take("}");
}

bool read_columns(WrittenText& text, DecodedTable& out, NameIndex& names) {
  if (!text.take("[")) return false;
  if (text.take("]")) return true;
  for (;;) {
    DecodedTable::Column column;
    if (!text.take_string(column.name)) {
      // A group is `{"NAME":{header}}`, a list group `{"NAME":[{header}]}`.
      if (!text.take("{") || !text.take_string(column.name) || !text.take(":")) return false;
      column.form = text.take("[") ? ColumnForm::ListGroup : ColumnForm::Group;
      auto group = std::make_unique<DecodedTable>();
      if (!read_group(text, *group)) return false;
      if (column.form == ColumnForm::ListGroup && !text.take("]")) return false;
      if (!text.take("}")) return false;
      column.group = out.groups.emplace_back(std::move(group)).get();
    }
    if (names.find(column.name) != NameIndex::kAbsent) return false;
    names.add(column.name);
    column.member.reserve(column.name.size() + 4);
    column.member.append(",\"").append(column.name).append("\":");
    out.columns.push_back(std::move(column));
    if (text.take("]")) return true;
    if (!text.take(",")) return false;
  }
}

bool read_constants(WrittenText& text, const NameIndex& names, std::string& out) {
  if (!text.take("{")) return false;
  if (text.take("}")) return true;
  for (;;) {
    const std::size_t member = text.at();
    std::string_view name;
    if (!text.take_string(name) || !text.take(":") || names.find(name) != NameIndex::kAbsent) {
      return false;
    }
    const std::size_t value = text.at();
    const bool scalar = !text.next_is('[') && !text.next_is('{');
    text.pass_value();
    if (!out.empty()) out.push_back(',');
    if (scalar) {
      out.append(text.since(member));  // a scalar holds no table
    } else if (const std::string_view array_or_object = text.since(value);
               !may_hold_a_table(array_or_object)) {
      out.append(text.since(member));
    } else {
      out.append(text.since(member).substr(0, value - member));
      json::Buffer turned_back;
      if (!write_back_in_one_pass(array_or_object, turned_back)) return false;
      out.append(turned_back.view());
    }
    if (text.take("}")) return true;
    if (!text.take(",")) return false;
  }
}

}  // namespace

bool read_written_columns(std::string_view written, DecodedTable& out, NameIndex& names) {
  WrittenText text(written);
  return read_columns(text, out, names) && text.at_end();
}

bool read_written_constants(std::string_view written, const NameIndex& names, std::string& out) {
  WrittenText text(written);
  return read_constants(text, names, out) && text.at_end();
}

}  // namespace tarvik
