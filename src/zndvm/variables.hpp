// The variable store: one global scope of named values. Every name is interned once to a
// slot whose id never changes, so compiled code finds its variables by index instead of by
// hashing text on every run. A slot owns the bytes of the string it holds and reuses them on
// the next store, so a loop that keeps reassigning runs in constant memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "common/arena.hpp"
#include "value.hpp"

namespace zandle::zndvm {

using SlotId = std::uint32_t;

class Variables {
 public:
  Variables();
  ~Variables();
  Variables(const Variables&) = delete;
  Variables& operator=(const Variables&) = delete;

  // The slot of `name`, created empty (no value) when the name is new.
  SlotId intern(std::string_view name);

  // Null when the slot holds no value. The pointer stays valid until the slot is stored to;
  // a str value's bytes likewise.
  const Value* get(SlotId id) const {
    const Slot& s = slot(id);
    return s.defined ? &s.value : nullptr;
  }

  // Looks a name up without creating a slot.
  const Value* find(std::string_view name) const;

  // Stores a copy of `value`; its str bytes are copied into the slot, so they may come from
  // anywhere, this slot's own current bytes included.
  void set(SlotId id, Value value);
  void set(std::string_view name, Value value) { set(intern(name), value); }

  // Stores a number: no bytes to copy, and the slot keeps its buffer for a later string.
  void setNumber(SlotId id, Value value) {
    Slot& s = slot(id);
    s.value = value;
    s.defined = true;
  }

  std::string_view name(SlotId id) const { return slot(id).name; }
  std::size_t slotCount() const { return count_; }

  // Bytes the slots hold for string values (their buffers' capacities).
  std::size_t valueCapacity() const { return value_capacity_; }

 private:
  struct Slot {
    Value value;
    std::string_view name;
    std::uint64_t hash;
    char* bytes = nullptr;
    std::size_t capacity = 0;
    bool defined = false;
  };

  static constexpr unsigned chunk_bits = 8;
  static constexpr std::size_t chunk_size = std::size_t{1} << chunk_bits;

  Slot& slot(SlotId id) { return chunks_[id >> chunk_bits][id & (chunk_size - 1)]; }
  const Slot& slot(SlotId id) const { return chunks_[id >> chunk_bits][id & (chunk_size - 1)]; }
  // Index into table_ of the name's entry, or of the empty entry where it would go.
  std::size_t probe(std::string_view name, std::uint64_t hash) const;
  void rehash(std::size_t new_size);

  // Slots live in fixed chunks so that interning never moves existing slots.
  std::vector<std::unique_ptr<Slot[]>> chunks_;
  std::size_t count_ = 0;
  // Open addressing: slot id + 1, 0 for an empty entry; a power of two, at most half full.
  std::vector<SlotId> table_;
  Arena names_;
  std::size_t value_capacity_ = 0;
};

}  // namespace zandle::zndvm
