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
#include <type_traits>

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

// The names and their index. Each entry is a record of `stride` bytes that begins with the
// name and its hash; what follows is the data of the InternTable that owns the index.
class NameIndex {
 public:
  NameIndex(Memory& memory, std::size_t stride)
      : chunks_(memory), index_(memory), names_(memory, 512), stride_(stride) {}
  ~NameIndex();
  NameIndex(const NameIndex&) = delete;
  NameIndex& operator=(const NameIndex&) = delete;

  struct Entry {
    std::string_view name;
    std::uint64_t hash;
  };

  // The id of `name`; `added` tells whether it was new (the owner then makes its data). False
  // when memory runs out; the index is then as it was.
  [[nodiscard]] bool intern(std::string_view name, NameId& id, bool& added);
  // The id of `name`, or no_name when it was never interned.
  NameId find(std::string_view name) const;
  // Makes room in the index for `more` names beyond those it has, so that interning them
  // never rebuilds it (a table filled from a known list). False when memory runs out.
  [[nodiscard]] bool reserve(std::size_t more);

  void* record(NameId id) const {
    return chunks_[id >> intern_chunk_bits] + (id & (intern_chunk - 1)) * stride_;
  }
  std::string_view name(NameId id) const { return static_cast<const Entry*>(record(id))->name; }
  std::size_t count() const { return count_; }
  Memory& memory() const { return chunks_.memory(); }

 private:
  const Entry& entry(NameId id) const { return *static_cast<const Entry*>(record(id)); }
  std::size_t probe(std::string_view name, std::uint64_t hash) const;
  bool rehash(std::size_t size);

  Vec<char*> chunks_;
  std::size_t count_ = 0;
  // Open addressing: id + 1, 0 for an empty place; a power of two, at most half full.
  Vec<NameId> index_;
  Arena names_;
  std::size_t stride_;
};

template <class Data>
class InternTable {
  static_assert(std::is_trivially_copyable_v<Data> && std::is_trivially_destructible_v<Data>);

  struct Record {
    NameIndex::Entry entry;
    Data data;
  };

 public:
  explicit InternTable(Memory& memory) : index_(memory, sizeof(Record)) {}

  // The id of `name`, made with default data (Data{}) when the name is new. False when
  // memory runs out; the table is then as it was.
  [[nodiscard]] bool intern(std::string_view name, NameId& id) {
    bool added;
    if (!index_.intern(name, id, added)) return false;
    if (added) ::new (static_cast<void*>(&(*this)[id])) Data{};
    return true;
  }

  NameId find(std::string_view name) const { return index_.find(name); }
  [[nodiscard]] bool reserve(std::size_t more) { return index_.reserve(more); }
  Data& operator[](NameId id) { return static_cast<Record*>(index_.record(id))->data; }
  const Data& operator[](NameId id) const { return static_cast<const Record*>(index_.record(id))->data; }
  std::string_view name(NameId id) const { return index_.name(id); }
  std::size_t count() const { return index_.count(); }
  Memory& memory() const { return index_.memory(); }

 private:
  NameIndex index_;
};

}  // namespace zandle
