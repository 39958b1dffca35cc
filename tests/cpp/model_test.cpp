// Document model: number forms, equality, deep copy, the insertion-ordered map and its keyed hash.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "documents.hpp"
#include "json/model/hash.hpp"
#include "json/read/deferred.hpp"

namespace tarvik::testing {
namespace {

using json::HashSeed;
using json::Kind;
using json::NumberForm;

// --- keyed hash ---------------------------------------------------------------------------

struct SipVector {
  std::string message;
  std::uint64_t expected;
};

std::string counting_bytes(int n) {
  std::string bytes;
  for (int i = 0; i < n; ++i)
    bytes.push_back(static_cast<char>(i));
  return bytes;
}

// Published SipHash-2-4 vectors (key 00 01 .. 0f, message 00 01 .. n-1) check the round
// structure that the 1-3 variant shares.
TEST(SipHash, MatchesPublishedSipHash24Vectors) {
  const HashSeed key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
  const SipVector vectors[] = {
      {counting_bytes(0), 0x726fdb47dd0e0e31ULL},
      {counting_bytes(1), 0x74f839c593dc67fdULL},
      {counting_bytes(15), 0xa129ca6149be45e5ULL},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ((json::siphash<2, 4>(key, v.message, -1)), v.expected) << v.message.size();
  }
}

// CPython hashes bytes with SipHash-1-3 (and 3.10 with SipHash-2-4); PYTHONHASHSEED=0 makes its
// key all zeros, which gives these independent reference values.
TEST(SipHash, MatchesCPythonZeroKeyHashes) {
  const HashSeed zero{0, 0};
  const struct {
    std::string message;
    std::uint64_t sip13;
    std::uint64_t sip24;
  } vectors[] = {
      {"a", 0x407448d2b89b1813ULL, 0x96c20860cd93a249ULL},
      {"abcdefg", 0x6db12aae9070f506ULL, 0xa3b197e9e3650078ULL},
      {"abcdefgh", 0x3f7b849c0b8e35eaULL, 0xe65ba172cce22193ULL},
      {"abcdefghijklmnopq", 0x61c47e6da27eacccULL, 0xaa01dd654293ae1cULL},
      {counting_bytes(15), 0xf30eb725bb91c9eaULL, 0xd0567cd44e891363ULL},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ((json::siphash<1, 3>(zero, v.message, -1)), v.sip13) << v.message;
    EXPECT_EQ((json::siphash<2, 4>(zero, v.message, -1)), v.sip24) << v.message;
  }
}

TEST(SipHash, KeyHashAppendsOneFFByte) {
  const HashSeed zero{0, 0};
  EXPECT_EQ(json::hash_key(zero, "name"), 0x313907108b3ca7c0ULL);  // hash(b"name\xff")
  // Seven bytes plus the suffix fill a whole word; the final block is then empty.
  EXPECT_EQ(json::hash_key(zero, std::string(7, '\0')), 0x3f5d10fcd386ee4eULL);
}

TEST(HashSeed, EachNewMapOfAThreadTakesTheNextSeed) {
  const HashSeed first = json::next_map_seed();
  const HashSeed second = json::next_map_seed();
  EXPECT_EQ(second.k0, first.k0 + 1);
  EXPECT_EQ(second.k1, first.k1);

  HashSeed other_thread{};
  std::thread([&other_thread] { other_thread = json::next_map_seed(); }).join();
  EXPECT_NE(other_thread, first);  // drawn afresh from the random source
}

// --- numbers and equality -------------------------------------------------------------------

TEST(Number, FormsSurviveCopyAndDecideEquality) {
  const auto u64_max = std::numeric_limits<std::uint64_t>::max();
  const auto i64_min = std::numeric_limits<std::int64_t>::min();
  Arena arena;
  for (const Value v : {uint_(u64_max), int_(i64_min), float_(-0.0), uint_(0), float_(1.5)}) {
    const Value copy = v.deep_copy(arena);
    EXPECT_EQ(copy.as_number().form(), v.as_number().form());
    EXPECT_TRUE(copy == v);
  }
  EXPECT_EQ(uint_(u64_max).as_number().as_non_negative(), u64_max);
  EXPECT_EQ(int_(i64_min).as_number().as_negative(), i64_min);
  EXPECT_TRUE(std::signbit(float_(-0.0).deep_copy(arena).as_number().as_float()));
}

TEST(Number, RefusesValuesOutsideItsForm) {
  EXPECT_THROW(Number::negative(0), std::invalid_argument);
  EXPECT_THROW(Number::floating(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
  EXPECT_THROW(Number::floating(-std::numeric_limits<double>::infinity()), std::invalid_argument);
}

struct SameValueCase {
  Number a;
  Number b;
  bool same;
};

TEST(Number, SameValueComparesExactValuesAcrossForms) {
  const auto u = Number::non_negative;
  const auto n = Number::negative;
  const auto f = Number::floating;
  constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();
  constexpr std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();
  const SameValueCase cases[] = {
      {u(1), f(1.0), true},
      {u(0), f(-0.0), true},
      {f(0.0), f(-0.0), true},
      {n(-2), f(-2.0), true},
      {n(i64_min), f(-0x1p63), true},
      {u(1), u(1), true},
      {u(1), f(1.5), false},
      {n(-1), f(-0.5), false},
      {u(1), n(-1), false},
      // Distinct integers that round to one double stay apart.
      {u(9007199254740993ULL), u(9007199254740992ULL), false},
      {u(9007199254740993ULL), f(9007199254740992.0), false},
      {u(9007199254740992ULL), f(9007199254740992.0), true},
      {u(1234567890123456789ULL), u(1234567890123456790ULL), false},
      {n(-9007199254740995LL), f(-9007199254740996.0), false},
      // Floats past the integer forms' ranges equal no integer.
      {u(u64_max), f(0x1p64), false},
      {n(i64_min), f(-0x1p64), false},
      {u(0), f(5e-324), false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].a.same_value(cases[i].b), cases[i].same) << "case " << i;
    EXPECT_EQ(cases[i].b.same_value(cases[i].a), cases[i].same) << "case " << i << ", swapped";
  }
}

struct EqualityCase {
  const char* name;
  Value a;
  Value b;
  bool equal;
};

TEST(ValueEquality, FollowsKindFormAndContent) {
  Arena arena;
  const Builder b(arena);
  const EqualityCase cases[] = {
      {"int 1 vs float 1.0 in objects", b.obj({{"a", uint_(1)}}), b.obj({{"a", float_(1.0)}}),
       false},
      {"0.0 vs -0.0", b.obj({{"a", float_(0.0)}}), b.obj({{"a", float_(-0.0)}}), true},
      {"int 0 vs float -0.0", uint_(0), float_(-0.0), false},
      {"array order matters", b.arr({uint_(1), uint_(2)}), b.arr({uint_(2), uint_(1)}), false},
      {"empty objects", b.obj({}), b.obj({}), true},
      {"empty arrays", b.arr({}), b.arr({}), true},
      {"empty array vs empty object", b.arr({}), b.obj({}), false},
      {"null vs false", Value::null(), Value::boolean(false), false},
      {"string 1 vs number 1", b.str("1"), uint_(1), false},
      {"member order does not matter", b.obj({{"a", uint_(1)}, {"b", uint_(2)}}),
       b.obj({{"b", uint_(2)}, {"a", uint_(1)}}), true},
      {"same size, other key", b.obj({{"a", uint_(1)}}), b.obj({{"A", uint_(1)}}), false},
      {"nested difference", b.arr({b.obj({{"k", b.arr({uint_(1)})}})}),
       b.arr({b.obj({{"k", b.arr({float_(1.0)})}})}), false},
      {"strings with NUL bytes", b.str(std::string_view("a\0b", 3)),
       b.str(std::string_view("a\0c", 3)), false},
      {"negative forms", int_(-5), int_(-5), true},
      {"bools", Value::boolean(true), Value::boolean(true), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.name;
    EXPECT_EQ(c.b == c.a, c.equal) << c.name << " (swapped)";
  }
}

// --- map ------------------------------------------------------------------------------------

std::vector<std::string> keys_of(const Map& map) {
  std::vector<std::string> keys;
  for (const auto& entry : map)
    keys.emplace_back(entry.key);
  return keys;
}

TEST(Map, RepeatedKeyKeepsFirstPositionAndReturnsOldValue) {
  Arena arena;
  Map& map = Map::create(arena);
  EXPECT_EQ(map.insert("a", uint_(1)).position, 0u);
  EXPECT_EQ(map.insert("b", uint_(2)).position, 1u);
  const auto again = map.insert("a", uint_(3));
  EXPECT_EQ(again.position, 0u);
  ASSERT_TRUE(again.previous.has_value());
  EXPECT_TRUE(*again.previous == uint_(1));
  EXPECT_EQ(keys_of(map), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(*map.get("a") == uint_(3));
}

TEST(Map, GetMatchesExactBytesOnly) {
  Arena arena;
  Map& map = Map::create(arena);
  EXPECT_EQ(map.get("a"), nullptr);  // empty map
  map.insert("Key", uint_(1));
  EXPECT_EQ(map.get("key"), nullptr);  // single entry, letter case differs
  EXPECT_EQ(map.get("Ke"), nullptr);
  map.insert("", uint_(2));
  map.insert(std::string_view("\0", 1), uint_(3));
  EXPECT_TRUE(*map.get("") == uint_(2));
  EXPECT_TRUE(*map.get(std::string_view("\0", 1)) == uint_(3));
  EXPECT_EQ(map.size(), 3u);
}

// Sizes on both sides of the switch from linear search to the hashed index, and well past it.
class MapSizes : public ::testing::TestWithParam<int> {};

TEST_P(MapSizes, KeepsOrderAndFindsEveryKeyAfterGrowth) {
  const int n = GetParam();
  Arena arena;
  Map& map = Map::create(arena);
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i)
    names.push_back("k" + std::to_string((i * 7919) % 100003));
  for (int i = 0; i < n; ++i)
    map.insert(names[i], uint_(static_cast<std::uint64_t>(i)));
  for (int i = 0; i < n; i += 3) {  // overwrite some: positions must not move
    EXPECT_EQ(map.insert(names[i], int_(-1 - i)).position, static_cast<std::size_t>(i));
  }
  ASSERT_EQ(map.size(), static_cast<std::size_t>(n));
  EXPECT_EQ(keys_of(map), names);
  for (int i = 0; i < n; ++i) {
    const Value* found = map.get(names[i]);
    ASSERT_NE(found, nullptr) << names[i];
    EXPECT_TRUE(*found == (i % 3 == 0 ? int_(-1 - i) : uint_(static_cast<std::uint64_t>(i))));
  }
  EXPECT_EQ(map.get("absent"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(AcrossTheIndexThreshold, MapSizes,
                         ::testing::Values(1, 2, 8, 9, 17, 1000, 40000));

// Building from a member list must equal inserting the members one by one, for short lists
// (repeated keys found pairwise) and long ones (found through the index).
class MapFromMembers : public ::testing::TestWithParam<int> {};

TEST_P(MapFromMembers, EqualsInsertingEachMemberInTurn) {
  const int n = GetParam();
  Arena arena;
  std::vector<Map::Member> members;
  for (int i = 0; i < n; ++i) {
    // Every third member repeats an earlier key, so repeats land everywhere in the list.
    const int key = i % 3 == 2 ? i / 2 : i;
    members.push_back(
        {arena.copy_string("key" + std::to_string(key)), uint_(static_cast<std::uint64_t>(i))});
  }
  Map& inserted = Map::create(arena);
  for (const auto& member : members)
    inserted.insert(member.key, member.value);
  const Map& built = Map::from_members(arena, members);
  EXPECT_EQ(keys_of(built), keys_of(inserted));
  ASSERT_EQ(built.size(), inserted.size());
  for (std::size_t i = 0; i < built.size(); ++i) {
    EXPECT_TRUE(built.entries()[i].value == inserted.entries()[i].value) << i;
    EXPECT_TRUE(*built.get(built.entries()[i].key) == built.entries()[i].value) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(ShortAndLong, MapFromMembers, ::testing::Values(0, 1, 5, 12, 64, 65, 200));

TEST(Map, CapacityHintDoesNotChangeContent) {
  Arena arena;
  Map& map = Map::create(arena, 100);
  map.insert("x", uint_(1));
  EXPECT_EQ(map.size(), 1u);
  EXPECT_TRUE(*map.get("x") == uint_(1));
}

TEST(Map, DeepCopyKeepsOrderAndIndexAndOutlivesTheOriginal) {
  Arena target;
  Value copy;
  {
    Arena source;
    const Builder b(source);
    Map& map = Map::create(source);
    for (int i = 0; i < 20; ++i)
      map.insert(source.copy_string("m" + std::to_string(i)), b.str("v"));
    map.insert("z", b.arr({b.obj({{"deep", float_(-0.0)}})}));
    copy = Value::object(map).deep_copy(target);
    EXPECT_TRUE(copy == Value::object(map));
  }  // the source arena is gone: the copy must own everything it refers to
  const Map& copied = copy.as_object();
  EXPECT_EQ(copied.size(), 21u);
  EXPECT_EQ(copied.entries()[0].key, "m0");
  EXPECT_EQ(copied.entries()[20].key, "z");
  for (const auto& entry : copied)
    EXPECT_EQ(copied.get(entry.key), &entry.value);
  const Value deep = copied.get("z")->as_array()[0].as_object().get("deep")[0];
  EXPECT_TRUE(std::signbit(deep.as_number().as_float()));
}

TEST(Map, SmallCopyIteratesInEntryOrder) {
  Arena arena;
  const Builder b(arena);
  const Value original = b.obj({{"z", uint_(1)}, {"a", uint_(2)}, {"m", uint_(3)}});
  EXPECT_EQ(keys_of(original.deep_copy(arena).as_object()),
            (std::vector<std::string>{"z", "a", "m"}));
}

// --- lifetime -------------------------------------------------------------------------------

TEST(Arena, ReleasesArbitrarilyDeepDocumentsWithoutRecursion) {
  Value inner = Value::array({});
  {
    Arena arena;
    for (int depth = 0; depth < 1'000'000; ++depth) {
      Value* slot = arena.allocate_array<Value>(1);
      *slot = inner;
      inner = Value::array({slot, 1});
    }
    EXPECT_EQ(inner.kind(), Kind::Array);
  }  // releasing a million levels must not touch the stack per level
  SUCCEED();
}

TEST(Arena, CopiesStringsAndServesLargeRequests) {
  Arena arena;
  const std::string big(1 << 20, 'x');
  const std::string_view copy = arena.copy_string(big);
  EXPECT_EQ(copy, big);
  EXPECT_NE(copy.data(), big.data());
  const auto* aligned = arena.allocate_array<std::uint64_t>(3);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % alignof(std::uint64_t), 0u);
  EXPECT_THROW(arena.allocate_array<Value>(std::numeric_limits<std::size_t>::max() / 8),
               std::length_error);
}

TEST(Arena, FillsTheCallersFirstBlockBeforeTakingChunks) {
  alignas(16) char first_block[64];
  Arena arena(first_block, sizeof first_block);
  const char* const small = static_cast<const char*>(arena.allocate(40, 8));
  EXPECT_GE(small, first_block);
  EXPECT_LE(small + 40, first_block + sizeof first_block);
  EXPECT_EQ(arena.reserved_bytes(), 0u);
  const char* const beyond = static_cast<const char*>(arena.allocate(40, 8));
  EXPECT_TRUE(beyond < first_block || beyond >= first_block + sizeof first_block);
  EXPECT_GT(arena.reserved_bytes(), 0u);
}

TEST(Arena, GivesBackOnlyTheChunksDoneWith) {
  Arena arena;
  std::string_view last;
  while (arena.reserved_bytes() < std::size_t{100} << 10)
    last = arena.copy_string("a string of some thirty bytes.");
  const std::size_t filled = arena.reserved_bytes();
  arena.release_before(last.data());
  const std::size_t kept = arena.reserved_bytes();
  EXPECT_LT(kept, filled);
  EXPECT_EQ(last, "a string of some thirty bytes.");
  // A request of a chunk of its own, and one after it in the chunk the earlier ones share: that
  // chunk is older than the request's, and still in use.
  const void* const alone = arena.allocate(std::size_t{1} << 20, 16);
  const std::string_view after = arena.copy_string("after");
  const std::size_t with_alone = arena.reserved_bytes();
  EXPECT_GT(with_alone, kept);
  arena.release_before(alone);
  EXPECT_EQ(arena.reserved_bytes(), with_alone);
  EXPECT_EQ(after, "after");
}

}  // namespace
}  // namespace tarvik::testing
