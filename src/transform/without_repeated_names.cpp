// The rewrite without repeated names: values written compact as they are read; an object's members
// are gathered at their depth (each value's text, each name once), then written in order.
#include "transform/without_repeated_names.hpp"

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <utility>
#include <vector>

#include "json/read/walk.hpp"
#include "json/text/float_text.hpp"
#include "json/write/writer.hpp"
#include "transform/name_index.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::Value;
using json::reading::StringRead;

struct Nothing {};

// The members of the objects open at one depth: each name's written text and its last value's.
struct Members {
  Buffer names{0};
  Buffer values{0};
  struct Member {
    std::size_t name_start;
    std::size_t name_end;
    std::size_t value_start;
    std::size_t value_end;
  };
  std::vector<Member> order;
  NameIndex seen;       // by decoded name; each name's number is its place in `order`
  json::Arena decoded;  // the decoded names that are not text of the input
};

struct ArrayState {
  Buffer* out;
  bool first = true;
};

struct ObjectState {
  Buffer* out;  // where the object's text goes once complete
  Members* members;
  std::size_t member = 0;  // the member being read: its place in `order`
};

class Rewriter final : public json::reading::Walker<Rewriter> {
 public:
  template <class>
  using ResultOf = Nothing;

  Rewriter(std::string_view input, json::Arena& unused) : Walker(input, unused) {}

  void run(Buffer& out) {
    Nothing done;
    if (!walk_value(&out, done)) throw std::logic_error("a document read once does not read back");
  }

  bool scalar(Buffer* out, const Value& value, const char* start, Nothing&) {
    if (value.kind() == json::Kind::Number && value.as_number().form() == json::NumberForm::Float &&
        !json::is_written_float(number_, pos_, value.as_number().as_float())) {
      out->reserve_more(json::kFloatRoom);
      out->commit(json::write_float_text(value.as_number().as_float(), out->write_position()));
    } else {
      out->append(start, static_cast<std::size_t>(pos_ - start));
    }
    return true;
  }

  bool string(Buffer* out, const StringRead& string, const char* quote, Nothing&) {
    write_string(*out, string, quote);
    return true;
  }

  ArrayState begin_array(Buffer* out, const char*) {
    out->push_back('[');
    return {out};
  }
  Buffer* element_context(ArrayState& array) {
    if (!std::exchange(array.first, false)) array.out->push_back(',');
    return array.out;
  }
  void end_element(ArrayState&, Nothing&) {}
  bool end_array(ArrayState& array, const char*, Nothing&) {
    array.out->push_back(']');
    return true;
  }

  ObjectState begin_object(Buffer* out, const char*) {
    if (depth_ == levels_.size()) levels_.emplace_back();
    Members& members = levels_[depth_++];
    members.names.clear();
    members.values.clear();
    members.order.clear();
    members.seen.clear();
    members.decoded.release_all();
    return {out, &members};
  }

  bool read_key(ObjectState& object, const char* quote) {
    StringRead name;
    if (!parse_str(name, json::reading::StringUse::Decoded)) return false;
    Members& members = *object.members;
    const std::uint32_t seen = members.seen.find(name.text);
    if (seen != NameIndex::kAbsent) {
      object.member = seen;  // the last value wins, where the name first stood
      return true;
    }
    const std::string_view kept =
        in_input(name.text) ? name.text : members.decoded.copy_string(name.text);
    object.member = members.seen.add(kept);
    const std::size_t name_start = members.names.size();
    write_string(members.names, name, quote);
    members.order.push_back({name_start, members.names.size(), 0, 0});
    return true;
  }

  Buffer* member_context(ObjectState& object) {
    object.members->order[object.member].value_start = object.members->values.size();
    return &object.members->values;
  }

  void end_member(ObjectState& object, Nothing&) {
    object.members->order[object.member].value_end = object.members->values.size();
  }

  bool end_object(ObjectState& object, const char*, Nothing&) {
    const Members& members = *object.members;
    Buffer& out = *object.out;
    out.push_back('{');
    for (std::size_t i = 0; i < members.order.size(); ++i) {
      const Members::Member& member = members.order[i];
      if (i > 0) out.push_back(',');
      out.append(members.names.data() + member.name_start, member.name_end - member.name_start);
      out.push_back(':');
      out.append(members.values.data() + member.value_start, member.value_end - member.value_start);
    }
    out.push_back('}');
    --depth_;
    return true;
  }

 private:
  void write_string(Buffer& out, const StringRead& string, const char* quote) {
    if (string.escapes_as_written) {
      out.append(quote, static_cast<std::size_t>(pos_ - quote));
    } else {
      json::serialize_value(Value::string(string.text), out);
    }
  }

  bool in_input(std::string_view text) const {
    return text.data() >= begin_ && text.data() + text.size() <= end_;
  }

  std::deque<Members> levels_;  // by depth; never moved
  std::size_t depth_ = 0;
};

}  // namespace

void write_without_repeated_names(std::string_view document, json::Buffer& out) {
  json::Arena unused;  // strings are decoded into the reader's own buffer
  Rewriter rewriter(document, unused);
  rewriter.run(out);
}

}  // namespace tarvik
