// Case-insensitive name -> index table.
//
// Lookup by name is the hot path of every calculator, so this is an open-addressing hash table
// over the case-folded name: no allocation per lookup, one hash and usually one comparison.
#pragma once

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
  void Clear();
  size_t Size() const { return size_; }

 private:
  struct Slot {
    uint32_t hash = 0;
    int index = kNotFound;
    std::string folded;
  };

  static uint32_t Hash(std::string_view name);
  void Grow();

  std::vector<Slot> slots_;
  size_t size_ = 0;
};

}  // namespace axis
