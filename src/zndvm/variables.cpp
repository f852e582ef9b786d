#include "variables.hpp"

#include <cstring>

namespace zandle::zndvm {

namespace {

// A buffer far larger than what it holds is given back, so one huge string does not pin its
// memory for the rest of the run.
bool oversized(std::size_t capacity, std::size_t needed) {
  return capacity > 4096 && needed < capacity / 4;
}

}  // namespace

Variables::~Variables() {
  for (std::size_t id = 0; id < table_.count(); ++id) {
    Slot& s = table_[static_cast<SlotId>(id)];
    table_.memory().release(s.bytes, s.capacity);
  }
}

bool Variables::set(SlotId id, Value value) {
  Slot& s = table_[id];
  if (value.type != Type::str) {
    s.value = value;
    s.defined = true;
    return true;
  }
  const std::string_view text = value.text();
  if (text.size() > s.capacity || oversized(s.capacity, text.size())) {
    // A growing string grows in doubling steps.
    const std::size_t capacity = text.size() > s.capacity && text.size() < 2 * s.capacity
                                     ? 2 * s.capacity
                                     : text.size();
    char* bytes = nullptr;
    if (capacity != 0) {
      bytes = static_cast<char*>(table_.memory().allocate(capacity));
      if (bytes == nullptr) return false;
      // Copy before the old buffer goes: the text may be a slice of it.
      std::memcpy(bytes, text.data(), text.size());
    }
    table_.memory().release(s.bytes, s.capacity);
    value_capacity_ += capacity;
    value_capacity_ -= s.capacity;
    s.bytes = bytes;
    s.capacity = capacity;
  } else if (!text.empty()) {
    std::memmove(s.bytes, text.data(), text.size());
  }
  s.value = Value::ofStr({s.bytes, text.size()});
  s.defined = true;
  return true;
}

}  // namespace zandle::zndvm
