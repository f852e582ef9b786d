// An escape's arguments and results, by index. A host escape called from a script loop goes
// through here on every call, so unlike the rest of the escapes this is built for speed.
#include "../machine.hpp"
#include "table.hpp"

namespace zandle::zndvm {

SlotId Machine::argumentTarget(unsigned index, std::string_view name) {
  EscapeSlots* cache = nullptr;
  // The cache is there once escapeSlot has found the argument's ARG variable. Interned
  // names never move, so the view of the cached one stays good.
  if (index < cached_escape_vars && running_escape_ < escape_slots_.size()) {
    cache = &escape_slots_[running_escape_];
    if (cache->target[index] != 0 && cache->target_name[index] == name) return cache->target[index] - 1;
  }
  const SlotId slot = vars_.slotOf(name);
  if (cache != nullptr && slot != no_slot) {
    cache->target[index] = slot + 1;
    cache->target_name[index] = vars_.name(slot);
  }
  return slot;
}

bool escapes::findArgument(Machine& m, unsigned index, const Value*& value, SlotId& slot) {
  value = nullptr;
  slot = no_slot;
  SlotId s;
  if (!m.escapeSlot(Machine::EscapeVar::arg, index, false, s)) return false;
  const Value* ref = s == no_slot ? nullptr : m.vars().get(s);
  if (ref == nullptr) return true;
  // A name is almost always a str, and then no text needs printing.
  char buf[value_text_capacity];
  slot = m.argumentTarget(index, ref->type == Type::str ? ref->text() : valueToString(*ref, buf));
  if (slot != no_slot) value = m.vars().get(slot);
  return true;
}

bool escapes::argument(Machine& m, unsigned index, const Value*& value) {
  SlotId slot;
  return findArgument(m, index, value, slot) || m.fail(Error::OutOfMemory);
}

bool escapes::result(Machine& m, unsigned index, Value value) {
  SlotId s;
  if (!m.escapeSlot(Machine::EscapeVar::ret, index, true, s)) return m.fail(Error::OutOfMemory);
  if (value.type != Type::str) {
    m.vars().setNumber(s, value);
    return true;
  }
  if (value.text().size() > str_max) return m.fail(Error::OutOfMemory);
  return m.vars().set(s, value) || m.fail(Error::OutOfMemory);
}

}  // namespace zandle::zndvm
