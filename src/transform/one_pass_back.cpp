// The way back in one pass over text in the writer's form: copied in runs, each table turned back
// where it stands, its rows written before the constants that end them are read.
#include "transform/one_pass_back.hpp"

#include <algorithm>
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/read/walk.hpp"
#include "transform/name_index.hpp"
#include "transform/table_header.hpp"
#include "transform/written_header.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::reading::StringRead;
using json::reading::StringUse;

// The text is copied in runs, and each table met is turned back where it stands.
class OnePassBack final : public json::reading::Walker<OnePassBack> {
 public:
  OnePassBack(std::string_view input, json::Arena& unused) : Walker(input, unused), run_(pos_) {}

  bool run(Buffer& out) {
    out_ = &out;
    if (!pass<true>() || pos_ != end_) return false;
    flush();
    return true;
  }

 private:
  // Deeper text is left to the walks, which bound its depth.
  static constexpr std::size_t kMostDepth = 64;
  // An object's names are each compared with those before it up to this many; an object of more
  // is checked once it is passed, its names sorted.
  static constexpr std::size_t kMostNamesScanned = 24;

  // A member's name, with its length and first bytes packed into one word: names mostly differ
  // there, and are compared no further.
  struct Name {
    explicit Name(std::string_view name) : text(name) {
      std::memcpy(&mark, name.data(), std::min<std::size_t>(name.size(), 7));
      mark = mark << 8 | (name.size() & 0xff);
    }
    std::uint64_t mark = 0;
    std::string_view text;
    bool operator==(const Name& other) const { return mark == other.mark && text == other.text; }
    auto operator<=>(const Name& other) const {
      return mark != other.mark ? mark <=> other.mark : text <=> other.text;
    }
  };

  // Where each row of the table being written ends (its "}"), and whether it has a member.
  struct RowEnd {
    std::size_t at;
    bool empty;
  };
  // The columns and constants of the table written last: the next mostly has the same.
  struct KnownColumns {
    std::string_view text;  // its names are views of it
    // Most headers fit in this block: then the table takes no allocation of its own.
    alignas(16) std::array<char, 4096> first_block;
    json::Arena arena{first_block.data(), first_block.size()};  // holds the table
    DecodedTable table;
    NameIndex names;
  };
  struct KnownConstants {
    const KnownColumns* columns = nullptr;
    std::string_view text;
    std::string written;
  };

  // The value at the read position, read and passed over; with kTurnBack, the tables in it are
  // written back in place of their text.
  template <bool kTurnBack>
  bool pass() {
    if (pos_ == end_) return false;
    switch (*pos_) {
      case '"':
        return pass_string();
      case '[':
        return pass_array<kTurnBack>();
      case '{':
        return pass_object<kTurnBack>();
      default:
        return pass_scalar();
    }
  }

  bool pass_string() {
    ++pos_;
    StringRead string;
    return read_string(string, StringUse::Checked) && string.escapes_as_written;
  }

  bool pass_scalar() {
    switch (*pos_) {
      case 'n':
        return pass_null();
      case 't':
        return pass_word("true");
      case 'f':
        return pass_word("false");
      default: {
        if (!starts_number(static_cast<unsigned char>(*pos_))) return false;
        bool written = false;
        return skim_number(written) && written;
      }
    }
  }

  // The commonest cell, passed over as one word.
  bool pass_null() {
    static constexpr char kNull[] = {'n', 'u', 'l', 'l'};
    if (end_ - pos_ < 4 || std::memcmp(pos_, kNull, 4) != 0) return false;
    pos_ += 4;
    return true;
  }

  bool pass_word(std::string_view word) {
    if (static_cast<std::size_t>(end_ - pos_) < word.size() ||
        std::string_view(pos_, word.size()) != word) {
      return false;
    }
    pos_ += word.size();
    return true;
  }

  // A comma, or the end of the container `close` ends: is there another element or member?
  bool next(char close, bool& more) {
    if (pos_ == end_) return false;
    more = *pos_ == ',';
    if (!more && *pos_ != close) return false;
    ++pos_;
    return true;
  }

  bool enter() {
    ++pos_;
    return ++depth_ <= kMostDepth && pos_ != end_;
  }

  template <bool kTurnBack>
  bool pass_array() {
    if (!enter()) return false;
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (!pass<kTurnBack>() || !next(']', more)) return false;
      }
    }
    --depth_;
    return true;
  }

  template <bool kTurnBack>
  bool pass_object() {
    const char* const brace = pos_;
    if (!enter()) return false;
    if (*pos_ == '}') {
      ++pos_;
      --depth_;
      return true;
    }
    if constexpr (kTurnBack) {
      if (starts_with("\"columns\":") || starts_with("\"keys\":")) {
        switch (turn_back(brace)) {
          case Shape::Table:
            --depth_;
            return true;
          case Shape::Object:
            break;
          case Shape::Failed:
            return false;
        }
      }
    }
    const std::size_t first_name = names_.size();
    for (bool more = true; more;) {
      if (*pos_ != '"') return false;
      const char* const start = pos_ + 1;
      if (!pass_string()) return false;
      // Spelt as the writer spells them, two names are the same when their texts are.
      const Name name(std::string_view(start, static_cast<std::size_t>(pos_ - 1 - start)));
      if (names_.size() - first_name < kMostNamesScanned) {
        for (std::size_t i = first_name; i < names_.size(); ++i) {
          if (names_[i] == name) return false;
        }
      }
      names_.push_back(name);
      if (pos_ == end_ || *pos_++ != ':' || !pass<kTurnBack>() || !next('}', more)) return false;
      if (more && pos_ == end_) return false;
    }
    if (names_.size() - first_name > kMostNamesScanned && repeats_a_name(first_name)) return false;
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(first_name), names_.end());
    --depth_;
    return true;
  }

  // Whether two of the names from `first` on are the same (an object of many names).
  bool repeats_a_name(std::size_t first) {
    sorted_names_.assign(names_.begin() + static_cast<std::ptrdiff_t>(first), names_.end());
    std::ranges::sort(sorted_names_);
    return std::ranges::adjacent_find(sorted_names_) != sorted_names_.end();
  }

  bool starts_with(std::string_view text) const {
    return static_cast<std::size_t>(end_ - pos_) >= text.size() &&
           std::string_view(pos_, text.size()) == text;
  }

  // Passes over `name` as written with its colon.
  bool take_name(std::string_view name) {
    if (!starts_with(name)) return false;
    pos_ += name.size();
    return true;
  }

  enum class Shape : std::uint8_t { Table, Object, Failed };

  // An object whose first member's name is "columns" or "keys", its "{" passed: written back when
  // its members are a table's, or left unread to be passed as an object. The rows come before the
  // constants that end each of them: they are written first, and the constants put in after.
  Shape turn_back(const char* brace) {
    // An object shaped so inside a row's cell (rare) is left to the walks.
    if (writing_rows_) return Shape::Failed;
    const char* const body = pos_;
    std::string_view keys;
    if (take_name("\"keys\":")) {
      keys = pass_text();
      if (keys.empty() || !take_name(",")) return not_a_table(body, keys.data());
    }
    if (!take_name("\"columns\":")) return not_a_table(body, pos_);
    const std::string_view columns = pass_text();
    if (columns.empty() || !take_name(",\"rows\":")) return not_a_table(body, columns.data());
    if (pos_ == end_ || *pos_ != '[') return Shape::Failed;  // rare: left to the walks
    // Most objects shaped so far are tables: written as one, unwritten if the shape ends otherwise.
    const KnownColumns* const header = columns_of(columns);
    std::vector<std::string_view> key_texts;
    if (header == nullptr || (!keys.empty() && !read_keys(keys, key_texts))) return Shape::Failed;
    Buffer& out = *out_;
    const std::size_t unwritten = out.size();
    const char* const run = run_;
    flush_to(brace);
    if (!enter()) return Shape::Failed;
    out.push_back(keys.empty() ? '[' : '{');
    row_ends_.clear();
    writing_rows_ = true;
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (!keys.empty()) {
          if (row_ends_.size() == key_texts.size()) return Shape::Failed;
          out.append(key_texts[row_ends_.size()]);
          out.push_back(':');
        }
        if (!write_row(header->table, true) || !next(']', more)) return Shape::Failed;
        if (more) out.push_back(',');
      }
    }
    writing_rows_ = false;
    --depth_;
    if (!take_name(",\"constants\":")) {
      out.cut_to(unwritten);
      run_ = run;
      return not_a_table(body, pos_);
    }
    const std::string_view constants = pass_text();
    if (constants.empty() || !take_name("}")) {
      out.cut_to(unwritten);
      run_ = run;
      return not_a_table(body, constants.data());
    }
    if (!keys.empty() && row_ends_.size() != key_texts.size()) return Shape::Failed;
    const std::string* const written = constants_of(constants, *header);
    if (written == nullptr) return Shape::Failed;
    if (!written->empty()) put_in_constants(*written);
    out.push_back(keys.empty() ? ']' : '}');
    run_ = pos_;
    return Shape::Table;
  }

  // Each row of the table being written ends with its constants, `written`.
  void put_in_constants(std::string_view written) {
    Buffer& out = *out_;
    std::size_t room = 0;
    for (const RowEnd& end : row_ends_)
      room += written.size() + (end.empty ? 0 : 1);
    out.reserve_more(room);
    char* const data = out.write_position() - out.size();
    // From the last row back, each piece moves once.
    std::size_t from = out.size();
    std::size_t to = from + room;
    for (auto end = row_ends_.rbegin(); end != row_ends_.rend(); ++end) {
      const std::size_t piece = from - end->at;
      to -= piece;
      std::memmove(data + to, data + end->at, piece);
      to -= written.size();
      std::memcpy(data + to, written.data(), written.size());
      if (!end->empty) data[--to] = ',';
      from = end->at;
    }
    out.commit(room);
  }

  // The object begun at `body` is read again as an object, unless the text at `stop` is not JSON.
  Shape not_a_table(const char* body, const char* stop) {
    if (stop == nullptr) return Shape::Failed;
    pos_ = body;
    return Shape::Object;
  }

  // The text of the value at the read position, passed over (empty when it is not one).
  std::string_view pass_text() {
    const char* const start = pos_;
    if (!pass<false>()) return {};
    return {start, static_cast<std::size_t>(pos_ - start)};
  }

  // The columns of the table whose "columns" are spelt so; null where they are broken.
  const KnownColumns* columns_of(std::string_view text) {
    if (columns_ != nullptr && columns_->text == text) return columns_.get();
    constants_ = {};
    auto known = std::make_unique<KnownColumns>();
    known->text = text;
    if (!read_written_columns(text, known->arena, known->table, known->names)) return nullptr;
    columns_ = std::move(known);
    return columns_.get();
  }

  // The constants, spelt `text`, of a table of `columns`, as written after a row's cells; null
  // where they are broken.
  const std::string* constants_of(std::string_view text, const KnownColumns& columns) {
    if (constants_.columns == &columns && constants_.text == text) return &constants_.written;
    constants_ = {};
    if (!read_written_constants(text, columns.names, constants_.written)) return nullptr;
    constants_.columns = &columns;
    constants_.text = text;
    return &constants_.written;
  }

  // The keys of a keyed table, as written with their quotes, when they are distinct strings.
  bool read_keys(std::string_view text, std::vector<std::string_view>& out) {
    sorted_names_.clear();
    std::size_t at = 1;
    while (at < text.size() && text[at] == '"') {
      // Written as the writer writes them: each ends at the first quote not escaped.
      std::size_t end = at + 1;
      while (text[end] != '"')
        end += text[end] == '\\' ? 2 : 1;
      const std::string_view key = text.substr(at, end + 1 - at);
      sorted_names_.emplace_back(key);
      out.push_back(key);
      at = end + 2;  // past the quote and the comma or bracket
    }
    if (at < text.size() && text != "[]") return false;
    std::ranges::sort(sorted_names_);
    return std::ranges::adjacent_find(sorted_names_) == sorted_names_.end();
  }

  // A row of `header` at the read position, written as the object of its cells; a table's row
  // (`top`) is noted to take the table's constants later, a group's takes the group's.
  bool write_row(const DecodedTable& header, bool top) {
    Buffer& out = *out_;
    if (pos_ == end_ || *pos_ != '[' || !enter()) return false;
    // Every member is written after a comma: the first one's becomes the row's "{".
    const std::size_t open = out.size();
    const std::span<const DecodedTable::Column> columns = header.columns;
    if (columns.empty() && *pos_++ != ']') return false;
    for (const DecodedTable::Column& column : columns) {
      if (pos_ == end_) return false;
      if (*pos_ == 'n') {
        if (!pass_null()) return false;
      } else if (column.form == ColumnForm::Plain) {
        const char* const value = pos_;
        // Most cells are strings: passed without the dispatch of any value.
        if (!(*pos_ == '"' ? pass_string() : pass<true>())) return false;
        out.append_pair(column.member, {value, static_cast<std::size_t>(pos_ - value)});
      } else {
        out.append(column.member);
        const bool written = column.form == ColumnForm::Group ? write_row(*column.group, false)
                                                              : write_group_list(*column.group);
        if (!written) return false;
      }
      // A cell for each column: a comma after each but the last, whose "]" ends the row.
      if (pos_ == end_ || *pos_++ != (&column == &columns.back() ? ']' : ',')) return false;
    }
    --depth_;
    const bool empty = out.size() == open;
    if (empty) {
      out.push_back('{');
    } else {
      *(out.write_position() - (out.size() - open)) = '{';
    }
    if (top) {
      row_ends_.push_back({out.size(), empty});
    } else if (!header.constants.empty()) {
      if (!empty) out.push_back(',');
      out.append(header.constants);
    }
    out.push_back('}');
    return true;
  }

  // A list group's cell at the read position: an array of the group's rows.
  bool write_group_list(const DecodedTable& group) {
    Buffer& out = *out_;
    if (pos_ == end_ || *pos_ != '[' || !enter()) return false;
    out.push_back('[');
    if (*pos_ == ']') {
      ++pos_;
    } else {
      for (bool more = true; more;) {
        if (!write_row(group, false) || !next(']', more)) return false;
        if (more) out.push_back(',');
      }
    }
    --depth_;
    out.push_back(']');
    return true;
  }

  // The text passed over since the last write, copied.
  void flush_to(const char* end) {
    out_->append(run_, static_cast<std::size_t>(end - run_));
    run_ = end;
  }
  void flush() { flush_to(pos_); }

  Buffer* out_ = nullptr;
  const char* run_;  // the start of the text passed over and not yet copied
  std::size_t depth_ = 0;
  std::vector<Name> names_;         // of the objects being passed, outermost first
  std::vector<Name> sorted_names_;  // of an object of many names, or of a keyed table
  std::vector<RowEnd> row_ends_;
  bool writing_rows_ = false;  // a table's rows are being written
  std::unique_ptr<KnownColumns> columns_;
  KnownConstants constants_;
};

}  // namespace

bool write_back_in_one_pass(std::string_view payload, Buffer& out) {
  json::Arena unused;  // strings are checked, not kept
  OnePassBack back(payload, unused);
  return back.run(out);
}

}  // namespace tarvik
