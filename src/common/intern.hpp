// A table that interns names: each distinct name gets a dense id once, and the id never
// changes, so compiled code can find a variable or a function by index instead of by
// hashing its text on every run. Each entry carries the caller's data beside the name;
// entries live in fixed chunks, so interning never moves an existing one. The name index is
// one class for every kind of data; only the data chunks depend on the type.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "arena.hpp"
#include "memory.hpp"
#include "vec.hpp"

namespace zandle {

using NameId = std::uint32_t;
inline constexpr NameId no_name = UINT32_MAX;

std::uint64_t hashName(std::string_view name);

// Entries are made in chunks of this many.
inline constexpr unsigned intern_chunk_bits = 5;
inline constexpr std::size_t intern_chunk = std::size_t{1} << intern_chunk_bits;

class NameIndex {
 public:
  explicit NameIndex(Memory& memory) : chunks_(memory), index_(memory), names_(memory, 512) {}
  ~NameIndex();
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;

  // The id of `name`; `added` tells whether it was new. False when memory runs out; the
  // index is then as it was.
  [[nodiscard]] bool intern(std::string_view name, NameId& id, bool& added);
  // The id of `name`, or no_name when it was never interned.
  NameId find(std::string_view name) const;

  std::string_view name(NameId id) const { return entry(id).name; }
  std::size_t count() const { return count_; }
  Memory& memory() const { return chunks_.memory(); }

 private:
  struct Entry {
    std::string_view name;
    std::uint64_t hash;
  };
  Entry& entry(NameId id) { return chunks_[id >> intern_chunk_bits][id & (intern_chunk - 1)]; }
  const Entry& entry(NameId id) const { return chunks_[id >> intern_chunk_bits][id & (intern_chunk - 1)]; }
  std::size_t probe(std::string_view name, std::uint64_t hash) const;
  bool rehash(std::size_t size);

  Vec<Entry*> chunks_;
  std::size_t count_ = 0;
  // Open addressing: id + 1, 0 for an empty place; a power of two, at most half full.
  Vec<NameId> index_;
  Arena names_;
};

template <class Data>
class InternTable {
 public:
  explicit InternTable(Memory& memory) : index_(memory), chunks_(memory) {}
  ~InternTable() {
    for (Data* chunk : chunks_) memory().release(chunk, intern_chunk * sizeof(Data));
  }
  InternTable(const InternTable&) = delete;
  InternTable& operator=(const InternTable&) = delete;

  // The id of `name`, made with default data when the name is new. False when memory runs
  // out; the table is then as it was.
  [[nodiscard]] bool intern(std::string_view name, NameId& id) {
    // Room for the data of a new entry comes first, so that nothing can fail after the name
    // is in.
    if ((index_.count() >> intern_chunk_bits) == chunks_.size()) {
      void* chunk = memory().allocate(intern_chunk * sizeof(Data));
      if (chunk == nullptr) return false;
      if (!chunks_.push(static_cast<Data*>(chunk))) {
        memory().release(chunk, intern_chunk * sizeof(Data));
        return false;
      }
    }
    bool added;
    if (!index_.intern(name, id, added)) return false;
    if (added) new (&(*this)[id]) Data{};
    return true;
  }

  NameId find(std::string_view name) const { return index_.find(name); }
  Data& operator[](NameId id) { return chunks_[id >> intern_chunk_bits][id & (intern_chunk - 1)]; }
  const Data& operator[](NameId id) const { return chunks_[id >> intern_chunk_bits][id & (intern_chunk - 1)]; }
  std::string_view name(NameId id) const { return index_.name(id); }
  std::size_t count() const { return index_.count(); }
  Memory& memory() const { return index_.memory(); }

 private:
  NameIndex index_;
  Vec<Data*> chunks_;
};

}  // namespace zandle
