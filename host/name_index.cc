#include "host/name_index.h"

#include <cstring>
#include <utility>

#include "host/text.h"

namespace axis {

uint32_t NameIndex::Hash(std::string_view name) {
  // FNV-1a over the case-folded bytes.
  uint32_t h = 2166136261u;
  for (char c : name) {
    h ^= static_cast<unsigned char>(FoldCase(c));
    h *= 16777619u;
  }
  return h;
}

namespace {
// The n bytes at a and b are the same. Names are short: words compared whole (the last one
// overlapping the one before) beat a byte loop and a call into the C library alike.
inline bool SameBytes(const char* a, const char* b, size_t n) {
  const auto load8 = [](const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  };
  const auto load4 = [](const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  };
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) {
      if (load8(a + i) != load8(b + i)) return false;
    }
    return load8(a + n - 8) == load8(b + n - 8);
  }
  if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}
}  // namespace

size_t NameIndex::MemoSlot(const char* data) {
  // Literals sit packed in the caller's read-only data, a few bytes apart: every bit of the
  // address must reach the slot number, or neighbours ("In", "R", "L") would evict each other.
  const uint64_t address = reinterpret_cast<uintptr_t>(data);
  return static_cast<size_t>((address * 0x9E3779B97F4A7C15ull) >> 54) % kMemoSets;
}

bool NameIndex::SlotHoldsOtherSpelling(size_t slot, std::string_view name) const {
  return SlotHolds(slot, name);
}

bool NameIndex::SlotHolds(size_t slot, std::string_view name) const {
  const std::string& folded = slots_[slot].folded;
  if (folded.size() != name.size()) return false;
  for (size_t k = 0; k < name.size(); ++k) {
    if (folded[k] != FoldCase(name[k])) return false;
  }
  return true;
}

size_t NameIndex::FindSlot(std::string_view name) const {
  if (slots_.empty()) return 0;
  const uint32_t h = Hash(name);
  const size_t mask = slots_.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.index == kNotFound) return slots_.size();
    if (slot.hash == h && SlotHolds(i, name)) return i;
  }
}

int NameIndex::Find(std::string_view name) const {
  MemoSet& set = memo_[MemoSlot(name.data())];
  for (int w = 0; w < 2; ++w) {
    const MemoEntry& memo = set.way[w];
    if (memo.data != name.data() || memo.data == nullptr) continue;
    const Slot& slot = slots_[memo.slot];
    // The caller may spell the name in another case than the table ("isMotori2t" for
    // "isMotorI2t"): then the folded comparison confirms it.
    if (slot.spelled.size() != name.size() ||
        (!SameBytes(slot.spelled.data(), name.data(), name.size()) &&
         !SlotHoldsOtherSpelling(memo.slot, name))) {
      break;
    }
    if (w == 1) std::swap(set.way[0], set.way[1]);
    return slot.index;
  }
  const AbsentEntry& absent = absent_[MemoSlot(name.data()) % kAbsentEntries];
  if (absent.data == name.data() && absent.data != nullptr && absent.names == size_ &&
      absent.size == name.size() && SameBytes(absent.text, name.data(), name.size())) {
    return kNotFound;
  }
  return FindAndRemember(name);
}

int NameIndex::FindAndRemember(std::string_view name) const {
  const size_t slot = FindSlot(name);
  if (slot >= slots_.size()) {
    AbsentEntry& absent = absent_[MemoSlot(name.data()) % kAbsentEntries];
    if (name.size() <= sizeof absent.text) {
      absent.data = name.data();
      absent.names = size_;
      absent.size = static_cast<uint8_t>(name.size());
      std::memcpy(absent.text, name.data(), name.size());
    }
    return kNotFound;
  }
  MemoSet& set = memo_[MemoSlot(name.data())];
  set.way[1] = set.way[0];
  set.way[0] = {name.data(), slot};
  return slots_[slot].index;
}

bool NameIndex::Insert(std::string_view name, int index) {
  if (Find(name) != kNotFound) return false;
  if ((size_ + 1) * 2 > slots_.size()) Grow();
  Slot slot;
  slot.hash = Hash(name);
  slot.index = index;
  slot.spelled = std::string(name);
  slot.folded.reserve(name.size());
  for (char c : name) slot.folded.push_back(FoldCase(c));
  const size_t mask = slots_.size() - 1;
  size_t i = slot.hash & mask;
  while (slots_[i].index != kNotFound) i = (i + 1) & mask;
  slots_[i] = std::move(slot);
  ++size_;
  return true;
}

void NameIndex::Grow() { Rehash(slots_.empty() ? 64 : slots_.size() * 2); }

void NameIndex::Reserve(size_t names) {
  // The table is kept at most half full.
  size_t count = slots_.empty() ? 64 : slots_.size();
  while (count < names * 2) count *= 2;
  if (count > slots_.size()) Rehash(count);
}

void NameIndex::Rehash(size_t slot_count) {
  memo_ = {};
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(slot_count, Slot{});
  const size_t mask = slots_.size() - 1;
  for (Slot& slot : old) {
    if (slot.index == kNotFound) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].index != kNotFound) i = (i + 1) & mask;
    slots_[i] = std::move(slot);
  }
}

void NameIndex::Clear() {
  slots_.clear();
  size_ = 0;
  memo_ = {};
  absent_ = {};
}

}  // namespace axis
