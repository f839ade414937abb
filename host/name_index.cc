#include "host/name_index.h"

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

int NameIndex::Find(std::string_view name) const {
  if (slots_.empty()) return kNotFound;
  const uint32_t h = Hash(name);
  const size_t mask = slots_.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.index == kNotFound) return kNotFound;
    if (slot.hash == h && slot.folded.size() == name.size()) {
      bool same = true;
      for (size_t k = 0; k < name.size(); ++k) {
        if (slot.folded[k] != FoldCase(name[k])) {
          same = false;
          break;
        }
      }
      if (same) return slot.index;
    }
  }
}

bool NameIndex::Insert(std::string_view name, int index) {
  if (Find(name) != kNotFound) return false;
  if ((size_ + 1) * 2 > slots_.size()) Grow();
  Slot slot;
  slot.hash = Hash(name);
  slot.index = index;
  slot.folded.reserve(name.size());
  for (char c : name) slot.folded.push_back(FoldCase(c));
  const size_t mask = slots_.size() - 1;
  size_t i = slot.hash & mask;
  while (slots_[i].index != kNotFound) i = (i + 1) & mask;
  slots_[i] = std::move(slot);
  ++size_;
  return true;
}

void NameIndex::Grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
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
}

}  // namespace axis
