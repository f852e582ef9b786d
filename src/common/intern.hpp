// A table that interns names: each distinct name gets a dense id once, and the id never
// changes, so compiled code can find a variable or a function by index instead of by
// hashing its text on every run. Each entry carries the caller's data beside the name;
// entries live in fixed chunks, so interning never moves an existing one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "arena.hpp"
#include "bytes.hpp"
#include "memory.hpp"
#include "vec.hpp"

namespace zandle {

using NameId = std::uint32_t;
inline constexpr NameId no_name = UINT32_MAX;

std::uint64_t hashName(std::string_view name);

template <class Data>
class InternTable {
 public:
  struct Entry {
    std::string_view name;
    std::uint64_t hash;
    Data data;
  };

  explicit InternTable(Memory& memory) : chunks_(memory), index_(memory), names_(memory, 4096) {}
  ~InternTable() {
    for (Entry* chunk : chunks_) chunks_.memory().release(chunk, chunk_size * sizeof(Entry));
  }
  InternTable(const InternTable&) = delete;
  InternTable& operator=(const InternTable&) = delete;

  // The id of `name`, made with default data when the name is new. False when memory runs
  // out; the table is then as it was.
  [[nodiscard]] bool intern(std::string_view name, NameId& id) {
    const std::uint64_t hash = hashName(name);
    if (index_.empty() && !rehash(16)) return false;
    std::size_t i = probe(name, hash);
    if (index_[i] != 0) {
      id = index_[i] - 1;
      return true;
    }
    if (count_ >= no_name - 1) return false;
    // Everything that can fail comes before the entry is made.
    if ((count_ + 1) * 2 > index_.size()) {
      if (!rehash(index_.size() * 2)) return false;
      i = probe(name, hash);
    }
    if ((count_ >> chunk_bits) == chunks_.size()) {
      void* chunk = chunks_.memory().allocate(chunk_size * sizeof(Entry));
      if (chunk == nullptr) return false;
      if (!chunks_.push(static_cast<Entry*>(chunk))) {
        chunks_.memory().release(chunk, chunk_size * sizeof(Entry));
        return false;
      }
    }
    std::string_view copy;
    if (!names_.copy(name, copy)) return false;
    id = static_cast<NameId>(count_++);
    new (&entry(id)) Entry{copy, hash, Data{}};
    index_[i] = id + 1;
    return true;
  }

  // The id of `name`, or no_name when it was never interned.
  NameId find(std::string_view name) const {
    if (index_.empty()) return no_name;
    const NameId entry_id = index_[probe(name, hashName(name))];
    return entry_id == 0 ? no_name : entry_id - 1;
  }

  Entry& entry(NameId id) { return chunks_[id >> chunk_bits][id & (chunk_size - 1)]; }
  const Entry& entry(NameId id) const { return chunks_[id >> chunk_bits][id & (chunk_size - 1)]; }
  Data& operator[](NameId id) { return entry(id).data; }
  const Data& operator[](NameId id) const { return entry(id).data; }
  std::string_view name(NameId id) const { return entry(id).name; }
  std::size_t count() const { return count_; }
  Memory& memory() const { return chunks_.memory(); }

 private:
  static constexpr unsigned chunk_bits = 8;
  static constexpr std::size_t chunk_size = std::size_t{1} << chunk_bits;

  // Index into index_ of the name's entry, or of the empty place where it would go.
  std::size_t probe(std::string_view name, std::uint64_t hash) const {
    const std::size_t mask = index_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const NameId id = index_[i];
      if (id == 0) return i;
      const Entry& e = entry(id - 1);
      if (e.hash == hash && sameBytes(e.name, name)) return i;
    }
  }

  bool rehash(std::size_t size) {
    Vec<NameId> index(chunks_.memory());
    if (!index.resize(size)) return false;
    const std::size_t mask = size - 1;
    for (std::size_t id = 0; id < count_; ++id) {
      std::size_t i = entry(static_cast<NameId>(id)).hash & mask;
      while (index[i] != 0) i = (i + 1) & mask;
      index[i] = static_cast<NameId>(id + 1);
    }
    index_.swap(index);
    return true;
  }

  Vec<Entry*> chunks_;
  std::size_t count_ = 0;
  // Open addressing: id + 1, 0 for an empty place; a power of two, at most half full.
  Vec<NameId> index_;
  Arena names_;
};

}  // namespace zandle
