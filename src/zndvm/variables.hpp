// The variable store: one global scope of named values. Every name is interned once to a
// slot whose id never changes, so compiled code finds its variables by index instead of by
// hashing text on every run. A slot owns the bytes of the string it holds and reuses them on
// the next store, so a loop that keeps reassigning runs in constant memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/intern.hpp"
#include "common/memory.hpp"
#include "value.hpp"

namespace zandle::zndvm {

using SlotId = NameId;
inline constexpr SlotId no_slot = no_name;

class Variables : Pinned {
 public:
  explicit Variables(Memory& memory) : table_(memory) {}
  ~Variables();

  // The slot of `name` into `id`, created empty (no value) when the name is new. False when
  // memory runs out.
  [[nodiscard]] bool intern(std::string_view name, SlotId& id) { return table_.intern(name, id); }
  // Room for `more` new names, made at once. False when memory runs out.
  [[nodiscard]] bool reserve(std::size_t more) { return table_.reserve(more); }

  // Null when the slot holds no value. The pointer stays valid until the slot is stored to;
  // a str value's bytes likewise.
  const Value* get(SlotId id) const {
    const Slot& s = table_[id];
    return s.value.type != Type::failure ? &s.value : nullptr;
  }

  // The slot's value in place, for compiled code: slots never move, so a record can keep
  // the pointer for the machine's lifetime. A slot without a value holds a failure. Only
  // numbers may be written through it (setNumber's rule): a str must go through set, which
  // gives the slot its own copy of the bytes.
  Value* cell(SlotId id) { return &table_[id].value; }

  // Looks a name up without creating a slot.
  SlotId slotOf(std::string_view name) const { return table_.find(name); }
  const Value* find(std::string_view name) const {
    const SlotId id = table_.find(name);
    return id == no_slot ? nullptr : get(id);
  }

  // Stores a copy of `value` (never a failure); its str bytes are copied into the slot, so
  // they may come from anywhere, this slot's own current bytes included. False when memory
  // runs out; the slot then keeps its old value.
  [[nodiscard]] bool set(SlotId id, Value value);
  [[nodiscard]] bool set(std::string_view name, Value value) {
    SlotId id;
    return intern(name, id) && set(id, value);
  }

  // Stores a number: no bytes to copy, and the slot keeps its buffer for a later string.
  void setNumber(SlotId id, Value value) { table_[id].value = value; }

  // Stores the text `left` followed by `right` (together at most str_max bytes); either may
  // be a slice of any slot's value, this one's included. When `left` is this slot's value or
  // a prefix of it, `right` is written after it in place and the buffer grows in doubling
  // steps, so building a string by appending takes time and memory linear in its length.
  // False when memory runs out; the slot then keeps its old value.
  [[nodiscard]] bool concat(SlotId id, std::string_view left, std::string_view right);

  std::string_view name(SlotId id) const { return table_.name(id); }
  std::size_t slotCount() const { return table_.count(); }

  // Bytes the slots hold for string values (their buffers' capacities).
  std::size_t valueCapacity() const { return value_capacity_; }

 private:
  struct Slot {
    Value value = Value::failure(Error::UnknownVariable);  // no value yet
    char* bytes = nullptr;
    std::size_t capacity = 0;
  };

  // Gives the slot a new buffer of `capacity` bytes holding `left` then `right`; the old
  // buffer, which either may view, is released after the copy.
  bool rebuild(Slot& s, std::size_t capacity, std::string_view left, std::string_view right);

  InternTable<Slot> table_;
  std::size_t value_capacity_ = 0;
};

}  // namespace zandle::zndvm
