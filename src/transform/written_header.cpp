// A table's header in the writer's form read from its text: there each name has one spelling, so
// names are compared, and a column's name and a scalar constant written, as they stand.
#include "transform/written_header.hpp"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
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

bool read_constants(WrittenText& text, const NameIndex& names, std::string& out);

// Reads a table's columns and the groups in them into the tables `maker` makes. What a group's
// header is read with (its names, its constants before they are kept) is kept for its depth and
// taken over by the groups after it there: a header mostly holds many small groups.
class ColumnsReader {
 public:
  ColumnsReader(WrittenText& text, json::Arena& arena) : text_(text), maker_(arena) {}

  bool read(DecodedTable& out, NameIndex& names) { return read_columns(out, names); }

 private:
  struct GroupScratch {
    NameIndex names;
    std::string constants;
  };

  // A group's or list group's header, `{"columns":…,"constants":…}`, at the read position.
  bool read_group(DecodedTable& group) {
    if (depth_ == scratch_.size()) scratch_.push_back(std::make_unique<GroupScratch>());
    GroupScratch& scratch = *scratch_[depth_++];
    scratch.names.clear();
    scratch.constants.clear();
    const bool read = text_.take("{\"columns\":") && read_columns(group, scratch.names) &&
                      text_.take(",\"constants\":") &&
                      read_constants(text_, scratch.names, scratch.constants) && text_.take("}");
    --depth_;
    group.constants = maker_.keep(scratch.constants);
    return read;
  }

  bool read_columns(DecodedTable& out, NameIndex& names) {
    if (!text_.take("[")) return false;
    const std::size_t begun = maker_.begin_list();
    if (!text_.take("]")) {
      for (;;) {
        DecodedTable::Column column;
        if (!text_.take_string(column.name)) {
          // A group is `{"NAME":{header}}`, a list group `{"NAME":[{header}]}`.
          if (!text_.take("{") || !text_.take_string(column.name) || !text_.take(":")) {
            return false;
          }
          column.form = text_.take("[") ? ColumnForm::ListGroup : ColumnForm::Group;
          DecodedTable& group = maker_.new_group();
          if (!read_group(group)) return false;
          if (column.form == ColumnForm::ListGroup && !text_.take("]")) return false;
          if (!text_.take("}")) return false;
          column.group = &group;
        }
        if (names.find(column.name) != NameIndex::kAbsent) return false;
        names.add(column.name);
        // Its quotes stand just around it in the text.
        column.member = maker_.member({column.name.data() - 1, column.name.size() + 2});
        maker_.add(column);
        if (text_.take("]")) break;
        if (!text_.take(",")) return false;
      }
    }
    out.columns = maker_.end_list(begun);
    return true;
  }

  WrittenText& text_;
  DecodedTableMaker maker_;
  std::vector<std::unique_ptr<GroupScratch>> scratch_;  // by depth; never moved
  std::size_t depth_ = 0;                               // of the group being read
};

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

bool read_written_columns(std::string_view written, json::Arena& arena, DecodedTable& out,
                          NameIndex& names) {
  WrittenText text(written);
  return ColumnsReader(text, arena).read(out, names) && text.at_end();
}

bool read_written_constants(std::string_view written, const NameIndex& names, std::string& out) {
  WrittenText text(written);
  return read_constants(text, names, out) && text.at_end();
}

}  // namespace tarvik
