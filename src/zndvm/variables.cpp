#include "variables.hpp"

#include <cstring>
#include <new>

namespace zandle::zndvm {

namespace {

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  h ^= h >> 32;
  return h;
}

// Eight bytes at a time; names are short, so the tail matters as much as the loop.
std::uint64_t hashName(std::string_view s) {
  std::uint64_t h = 0x9e3779b97f4a7c15ull ^ s.size();
  const char* p = s.data();
  std::size_t n = s.size();
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = mix(h ^ w) * 0xbf58476d1ce4e5b9ull;
    p += 8;
    n -= 8;
  }
  if (n != 0) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = mix(h ^ w) * 0x94d049bb133111ebull;
  }
  return mix(h);
}

// A buffer far larger than what it holds is given back, so one huge string does not pin its
// memory for the rest of the run.
bool oversized(std::size_t capacity, std::size_t needed) {
  return capacity > 4096 && needed < capacity / 4;
}

}  // namespace

Variables::Variables() : table_(16, 0), names_(4096) {}

Variables::~Variables() {
  for (std::size_t id = 0; id < count_; ++id) delete[] slot(static_cast<SlotId>(id)).bytes;
}

std::size_t Variables::probe(std::string_view name, std::uint64_t hash) const {
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    SlotId entry = table_[i];
    if (entry == 0) return i;
    const Slot& s = slot(entry - 1);
    if (s.hash == hash && s.name == name) return i;
  }
}

void Variables::rehash(std::size_t new_size) {
  std::vector<SlotId> table(new_size, 0);
  const std::size_t mask = new_size - 1;
  for (std::size_t id = 0; id < count_; ++id) {
    std::size_t i = slot(static_cast<SlotId>(id)).hash & mask;
    while (table[i] != 0) i = (i + 1) & mask;
    table[i] = static_cast<SlotId>(id + 1);
  }
  table_.swap(table);
}

SlotId Variables::intern(std::string_view name) {
  const std::uint64_t hash = hashName(name);
  std::size_t i = probe(name, hash);
  if (table_[i] != 0) return table_[i] - 1;

  if (count_ >= SlotId{0xffffffff} - 1) throw std::bad_alloc();
  const auto id = static_cast<SlotId>(count_);
  if ((id >> chunk_bits) == chunks_.size()) chunks_.push_back(std::make_unique<Slot[]>(chunk_size));
  Slot& s = slot(id);
  s.name = names_.copy(name);
  s.hash = hash;
  ++count_;
  if (count_ * 2 > table_.size()) {
    rehash(table_.size() * 2);
  } else {
    table_[i] = id + 1;
  }
  return id;
}

const Value* Variables::find(std::string_view name) const {
  SlotId entry = table_[probe(name, hashName(name))];
  return entry == 0 ? nullptr : get(entry - 1);
}

void Variables::set(SlotId id, Value value) {
  Slot& s = slot(id);
  if (value.type != Type::str) {
    s.value = value;
    s.defined = true;
    return;
  }
  const std::string_view text = value.text();
  if (text.size() > s.capacity || oversized(s.capacity, text.size())) {
    std::size_t capacity = text.size() > s.capacity && text.size() < 2 * s.capacity
                               ? 2 * s.capacity  // a growing string grows in doubling steps
                               : text.size();
    char* bytes = new char[capacity];
    // Copy before the old buffer goes: the text may be a slice of it.
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    delete[] s.bytes;
    value_capacity_ += capacity;
    value_capacity_ -= s.capacity;
    s.bytes = bytes;
    s.capacity = capacity;
  } else if (!text.empty()) {
    std::memmove(s.bytes, text.data(), text.size());
  }
  s.value = Value::ofStr({s.bytes, text.size()});
  s.defined = true;
}

}  // namespace zandle::zndvm
