// Case-insensitive name -> index table.
//
// Lookup by name is the hot path of every calculator, so this is an open-addressing hash table
// over the case-folded name: no allocation per lookup, one hash and usually one comparison.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace axis {

class NameIndex {
 public:
  static constexpr int kNotFound = -1;

  // Adds name -> index; returns false (and changes nothing) when the name, ignoring case, is
  // already present.
  bool Insert(std::string_view name, int index);
  int Find(std::string_view name) const;
  // Room for that many names in all without regrowing.
  void Reserve(size_t names);
  void Clear();
  size_t Size() const { return size_; }

 private:
  struct Slot {
    uint32_t hash = 0;
    int index = kNotFound;
    std::string folded;
    std::string spelled;  // as inserted
  };

  // Calculators look the same few names up again and again through the same string literals.
  // A small memo keyed by the caller's text pointer remembers the slot where such a name was
  // found; a hit still compares the bytes with the slot's name as spelled, so a reused buffer
  // holding another name (or another spelling) simply takes the hashed path. A name found absent
  // is remembered too, with its spelling (optional names are probed on every pass), until a name
  // is added. Two pointers share
  // each set, the one used last first: with a few hundred literals in play, a direct-mapped memo
  // would keep evicting one for another. Growing the table moves the slots and clears the memo.
  struct MemoEntry {
    const char* data = nullptr;
    size_t slot = 0;
  };
  // A name found absent, with its spelling (short names only), valid while the table holds
  // `names` names.
  struct AbsentEntry {
    const char* data = nullptr;
    size_t names = 0;
    uint8_t size = 0;
    char text[31] = {};
  };
  static constexpr size_t kAbsentEntries = 64;
  struct MemoSet {
    MemoEntry way[2];
  };
  static constexpr size_t kMemoSets = 1024;
  static size_t MemoSlot(const char* data);
  // The hashed path of Find, kept out of line so that a remembered name is found quickly.
  [[gnu::noinline]] int FindAndRemember(std::string_view name) const;

  static uint32_t Hash(std::string_view name);
  // Slot position of the name, or slots_.size() when absent.
  size_t FindSlot(std::string_view name) const;
  bool SlotHolds(size_t slot, std::string_view name) const;
  // SlotHolds, out of line: only a name spelled in another case than the table's needs it.
  [[gnu::noinline]] bool SlotHoldsOtherSpelling(size_t slot, std::string_view name) const;
  void Grow();
  void Rehash(size_t slot_count);

  std::vector<Slot> slots_;
  size_t size_ = 0;
  mutable std::array<MemoSet, kMemoSets> memo_{};
  mutable std::array<AbsentEntry, kAbsentEntries> absent_{};
};

}  // namespace axis
