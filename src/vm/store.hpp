// The variable store: one global scope mapping names to byte-string values. Lookups take
// any byte slice and compare exact bytes. A variable owns its bytes and reuses them on the
// next store, so a loop that keeps reassigning runs in constant memory.
#pragma once
#include <cstddef>
#include <string_view>

#include "common/intern.hpp"
#include "common/memory.hpp"
#include "common/vec.hpp"

namespace zandle::vm {

class Variables : Pinned {
 public:
  explicit Variables(Memory& memory) : table_(memory) {}
  ~Variables();

  // The value of `name` into `value`; false when there is no such variable. The view stays
  // valid until the variable is stored to.
  bool find(std::string_view name, std::string_view& value) const {
    const NameId id = table_.find(name);
    if (id == no_name || !table_[id].defined) return false;
    value = text(table_[id]);
    return true;
  }

  // Creates the variable or replaces its value; `value` may be any bytes, this or another
  // variable's included. False when memory runs out (the old value is then intact).
  [[nodiscard]] bool store(std::string_view name, std::string_view value);

  // The same, taking over the buffer's bytes instead of copying them (the buffer is left
  // empty). The buffer must use the store's Memory.
  [[nodiscard]] bool adopt(std::string_view name, Buffer& value);

  // The variables by id, 0 to size() - 1, in the order they were first named: a name that
  // was named and never stored has no value (false).
  std::size_t size() const { return table_.count(); }
  // Names `name` without giving it a value; false when memory runs out.
  [[nodiscard]] bool declare(std::string_view name) {
    NameId id;
    return table_.intern(name, id);
  }
  // Room for `more` new names, made at once; false when memory runs out.
  [[nodiscard]] bool reserve(std::size_t more) { return table_.reserve(more); }
  std::string_view name(NameId id) const { return table_.name(id); }
  bool valueOf(NameId id, std::string_view& value) const {
    if (!table_[id].defined) return false;
    value = text(table_[id]);
    return true;
  }

 private:
  struct Slot {
    char* bytes;
    std::size_t size;
    std::size_t capacity;
    bool defined;
  };
  static std::string_view text(const Slot& s) { return {s.bytes, s.size}; }
  Memory& memory() { return table_.memory(); }

  InternTable<Slot> table_;
};

}  // namespace zandle::vm
