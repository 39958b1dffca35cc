// The member names of a document as its scan reads them: each distinct name numbered once, found
// by the name that followed the one before it last time, else by its keyed hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/hash.hpp"
#include "json/model/map.hpp"

namespace tarvik {

class DocumentNames {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  // Readies it for the names of a document, those not within `input` copied into `kept`: the
  // names of an earlier one are forgotten, the room they took kept.
  void start(std::string_view input, json::Arena& kept) {
    input_ = input;
    kept_ = &kept;
    seed_ = json::next_map_seed();
    texts_.clear();
    hashes_.clear();
    after_.clear();
    slots_.clear();
  }
  // The bytes its vectors hold.
  std::size_t held_bytes() const {
    return texts_.capacity() * sizeof(std::string_view) +
           hashes_.capacity() * sizeof(std::uint64_t) +
           (after_.capacity() + slots_.capacity()) * sizeof(std::uint32_t);
  }

  std::string_view text(std::uint32_t number) const { return texts_[number]; }
  // The name's keyed hash, made once: a payload cannot choose names whose hashes collide, so the
  // indexes of name numbers use it too.
  std::uint64_t hash(std::uint32_t number) const { return hashes_[number]; }

  // The number of `name` (its text may be transient), which follows the name numbered `before`
  // in its object (kNone for an object's first name). Objects mostly repeat the names of the
  // objects before them in their order: the name that followed `before` last time (or
  // `first_guess` for a first name) is compared first, then the one that followed it (a member
  // this object lacks), and the guess is set to the name found; only a name not guessed is
  // hashed.
  std::uint32_t number(std::string_view name, std::uint32_t before, std::uint32_t& first_guess) {
    const std::uint32_t guess = before == kNone ? first_guess : after_[before];
    if (guess != kNone && json::same_key(texts_[guess], name)) return guess;
    std::uint32_t found = guess != kNone ? after_[guess] : kNone;
    if (found == kNone || !json::same_key(texts_[found], name)) found = find_or_add(name);
    (before == kNone ? first_guess : after_[before]) = found;
    return found;
  }

 private:
  std::size_t mask() const { return slots_.size() - 1; }

  std::uint32_t find_or_add(std::string_view name) {
    const std::uint64_t hash = json::hash_key(seed_, name);
    std::size_t slot = 0;
    if (!slots_.empty()) {
      for (slot = hash & mask();; slot = (slot + 1) & mask()) {
        const std::uint32_t held = slots_[slot];
        if (held == 0) break;
        if (hashes_[held - 1] == hash && json::same_key(texts_[held - 1], name)) return held - 1;
      }
    }
    if (texts_.size() >= kNone - 1) throw std::length_error("too many names in one document");
    const auto number = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(keep(name));
    hashes_.push_back(hash);
    after_.push_back(kNone);
    if (2 * texts_.size() > slots_.size()) {
      rebuild(slots_.empty() ? kFirstSlots : 2 * slots_.size());
    } else {
      slots_[slot] = number + 1;
    }
    return number;
  }

  void rebuild(std::size_t slot_count) {
    slots_.assign(slot_count, 0);
    for (std::uint32_t number = 0; number < texts_.size(); ++number) {
      std::size_t slot = hashes_[number] & mask();
      while (slots_[slot] != 0)
        slot = (slot + 1) & mask();
      slots_[slot] = number + 1;
    }
  }

  std::string_view keep(std::string_view text) {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(input_.data());
    if (start >= begin && start + text.size() <= begin + input_.size()) return text;
    return kept_->copy_string(text);
  }

  static constexpr std::size_t kFirstSlots = 64;

  std::string_view input_;
  json::Arena* kept_ = nullptr;
  json::HashSeed seed_{};
  std::vector<std::string_view> texts_;  // by number
  std::vector<std::uint64_t> hashes_;
  std::vector<std::uint32_t> after_;  // the guess of the name that follows each
  std::vector<std::uint32_t> slots_;  // number + 1, 0 for an empty slot
};

}  // namespace tarvik
