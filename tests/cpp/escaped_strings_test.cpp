// Strings with escapes, read the three ways the reader reads them (decoded into a row, checked in
// the text kept below the rows, respelled from that text for the writer), against a reference
// decoder written from the grammar: a table of edge cases and seeded random strings.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/read/reader.hpp"
#include "transform_entry_points.hpp"

namespace tarvik::testing {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> hex_unit(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  std::uint32_t unit = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const int digit = hex_value(text[i]);
    if (digit < 0) return std::nullopt;
    unit = unit * 16 + static_cast<std::uint32_t>(digit);
  }
  return unit;
}

void append_utf8(std::uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
  } else {
    if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    }
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (c & 0x3F));
}

// Whether `bytes` is well-formed UTF-8, sequence by sequence from the table of the standard.
bool valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 1;
    std::uint32_t c = lead;
    if (lead >= 0xF0) {
      length = 4;
      c = lead & 0x07;
    } else if (lead >= 0xE0) {
      length = 3;
      c = lead & 0x0F;
    } else if (lead >= 0xC0) {
      length = 2;
      c = lead & 0x1F;
    } else if (lead >= 0x80) {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = c << 6 | (next & 0x3F);
    }
    constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// The bytes a string body (the text between its quotes) stands for, or nothing when it is not
// a valid one.
std::optional<std::string> reference_decode(std::string_view body) {
  std::string out;
  std::string raw;  // the raw bytes since the last escape, validated as a whole
  for (std::size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (c == '"' || static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    if (c != '\\') {
      raw += c;
      ++i;
      continue;
    }
    if (!valid_utf8(raw)) return std::nullopt;
    out += raw;
    raw.clear();
    if (i + 1 >= body.size()) return std::nullopt;
    const char letter = body[i + 1];
    const std::string_view simple = "\"\\/bfnrt";
    const std::string_view meant = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = simple.find(letter); k != std::string_view::npos) {
      out += meant[k];
      i += 2;
      continue;
    }
    if (letter != 'u') return std::nullopt;
    const std::optional<std::uint32_t> unit = hex_unit(body, i + 2);
    if (!unit || (*unit >= 0xDC00 && *unit <= 0xDFFF)) return std::nullopt;
    i += 6;
    if (*unit < 0xD800 || *unit > 0xDBFF) {
      append_utf8(*unit, out);
      continue;
    }
    if (body.substr(i, 2) != "\\u") return std::nullopt;
    const std::optional<std::uint32_t> trail = hex_unit(body, i + 2);
    if (!trail || *trail < 0xDC00 || *trail > 0xDFFF) return std::nullopt;
    append_utf8(0x10000 + ((*unit - 0xD800) << 10) + (*trail - 0xDC00), out);
    i += 6;
  }
  if (!valid_utf8(raw)) return std::nullopt;
  return out + raw;
}

// How the writer spells a string of these bytes, quotes included.
std::string reference_written(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const std::string_view letters = "\"\\\b\f\n\r\t";
    const std::string_view spelt = "\"\\bfnrt";
    if (const std::size_t k = letters.find(c); k != std::string_view::npos) {
      out += '\\';
      out += spelt[k];
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string columnarized(std::string_view payload) {
  auto result = columnarize_json(payload);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

// The payloads that hold a string in each place the reader reads one: a row's cell, a key and
// values below the rows (with and without other text spelled otherwise), an element of a row.
std::vector<std::string> payloads_with(const std::string& string) {
  return {
      "[{\"c\":" + string + "}]",
      "[{\"c\":{\"k\":" + string + ",\"n\":[1,true]}}]",
      "[{\"c\":{\"k\":" + string + ",\"n\":1.50}}]",
      "[{\"c\":[" + string + "," + string + "]}]",
      "[{\"c\":{" + string + ":1}}]",
      "[{\"c\":1},[" + string + "]]",
  };
}

// Checks one body every way: decoded into a row as the reference decodes it, and every payload
// written as the same payload with the string in the writer's spelling, or failing exactly as
// building every value fails.
void expect_read_as_reference(const std::string& body) {
  const std::optional<std::string> decoded = reference_decode(body);
  const std::string string = "\"" + body + "\"";
  json::Arena arena;
  const std::string row = "[" + string + "]";
  auto values = json::parse_value_list(row, arena);
  ASSERT_EQ(values.ok(), decoded.has_value()) << ::testing::PrintToString(body);
  if (decoded) {
    EXPECT_EQ(values.value()[0].as_string(), *decoded);
  }
  const std::vector<std::string> written =
      payloads_with(decoded ? reference_written(*decoded) : string);
  const std::vector<std::string> payloads = payloads_with(string);
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    const std::string result = columnarized(payloads[i]);
    if (decoded) {
      EXPECT_EQ(result, columnarized(written[i])) << ::testing::PrintToString(payloads[i]);
      continue;
    }
    ASSERT_EQ(result.rfind("error: ", 0), 0u) << ::testing::PrintToString(payloads[i]);
    json::Arena built;
    auto error = json::parse_value_list(payloads[i], built, json::Build::Everything);
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(result, "error: invalid row-oriented JSON: " + error.error().display())
        << ::testing::PrintToString(payloads[i]);
  }
}

std::string repeated(std::string_view text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i)
    out += text;
  return out;
}

TEST(EscapedStrings, ReadAsTheReferenceOnTheTable) {
  const std::string bodies[] = {
      R"(\ud83d\ude00)",
      R"(\uD83D\uDE00\u3042)",
      repeated(R"(\u3042)", 7) + R"(\ud83d\ude00)" + repeated(R"(\u3044)", 9),
      repeated(R"(\u3042)", 8) + R"(\ud83d\ude00)",
      R"(\ud83d)",
      R"(\ude00)",
      R"(\u3042\ude00\u3044)",
      R"(\ud83dx)",
      R"(\ud83d\u0041)",
      R"(\ud83d\n)",
      R"(\ud83d\ud83d)",
      R"(\u0000)",
      R"(a\u0000b\u001f\u001F\u0008\u007f)",
      R"(\u0022\u005c\u005C\u002f)",
      "a\x01",
      "\\u3042\x1f",
      "\xFF",
      "\\u3042\xC3",
      "\xED\xA0\x80",
      "\\u3042\xE3\x81\x82\\u3044",
      R"(abc\u00e9\n\u3042\"\\\/\ud83d\ude00xyz\b\f\r\t)",
      R"(\u30)",
      R"(\u30G0)",
      R"(\x)",
      "\\",
      repeated(R"(\u00e9)", 40) + repeated(R"(\u3042)", 40) + repeated(R"(\u0041)", 40),
  };
  for (const std::string& body : bodies)
    expect_read_as_reference(body);
  // Escapes and faults at every offset across the 16-, 32- and 64-byte blocks of the scans.
  for (std::size_t offset = 0; offset <= 70; ++offset) {
    const std::string before(offset, 'a');
    for (const std::string_view piece :
         {R"(\u3042\u3044)", R"(\ud83d\ude00)", R"(\n)", "\xE3\x81\x82", R"(\ud83d)", "\x01",
          "\xC3", R"(\u30G0)"}) {
      expect_read_as_reference(before + std::string(piece));
      expect_read_as_reference(before + std::string(piece) + before);
    }
  }
}

// Random bodies of raw text, raw UTF-8, every kind of escape and, now and then, a fault.
TEST(EscapedStrings, ReadAsTheReferenceOnRandomStrings) {
  std::mt19937_64 random(2022);
  const auto below = [&](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
  };
  const std::string_view pieces[] = {"a",   "xyz ", "\xC3\xA9", "\xE3\x81\x82", "\xF0\x9F\x98\x80",
                                     "\\n", "\\\"", "\\\\",     "\\/",          "\\t"};
  const std::string_view faults[] = {"\x01", "\xFF", "\xE3\x81", "\\q", "\\u12", "\\ud800"};
  for (int round = 0; round < 3000; ++round) {
    std::string body;
    const std::uint32_t length = below(60);
    for (std::uint32_t i = 0; i < length; ++i) {
      const std::uint32_t kind = below(20);
      if (kind < 10) {
        std::uint32_t unit = below(0x10000);
        if (below(4) == 0) unit = 0x3000 + below(0x100);
        char escape[13];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          std::snprintf(escape, sizeof escape, "\\u%04x\\u%04X", unit, 0xDC00 + below(0x400));
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          std::snprintf(escape, sizeof escape, "\\u%04x", below(0x20));
        } else {
          std::snprintf(escape, sizeof escape, below(2) == 0 ? "\\u%04x" : "\\u%04X", unit);
        }
        body += escape;
      } else if (kind < 19 || below(10) != 0) {
        body += pieces[below(std::size(pieces))];
      } else {
        body += faults[below(std::size(faults))];
      }
    }
    expect_read_as_reference(body);
    if (HasFatalFailure() || HasNonfatalFailure()) return;
  }
}

}  // namespace
}  // namespace tarvik::testing
