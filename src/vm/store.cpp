#include "store.hpp"

#include <cstring>

namespace zandle::vm {

namespace {

// A buffer far larger than what it holds is given back, so one huge string does not pin its
// memory for the rest of the run.
bool oversized(std::size_t capacity, std::size_t needed) {
  return capacity > 4096 && needed < capacity / 4;
}

}  // namespace

Variables::~Variables() {
  for (std::size_t id = 0; id < table_.count(); ++id) {
    Slot& s = table_[static_cast<NameId>(id)];
    memory().release(s.bytes, s.capacity);
  }
}

bool Variables::store(std::string_view name, std::string_view value) {
  NameId id;
  if (!table_.intern(name, id)) return false;
  Slot& s = table_[id];
  if (value.size() > s.capacity || oversized(s.capacity, value.size())) {
    // A growing value grows in doubling steps.
    const std::size_t capacity = value.size() > s.capacity && value.size() < 2 * s.capacity
                                     ? 2 * s.capacity
                                     : value.size();
    char* bytes = nullptr;
    if (capacity != 0) {
      bytes = static_cast<char*>(memory().allocate(capacity));
      if (bytes == nullptr) return false;
      // Copy before the old buffer goes: the value may be a slice of it.
      std::memcpy(bytes, value.data(), value.size());
    }
    memory().release(s.bytes, s.capacity);
    s.bytes = bytes;
    s.capacity = capacity;
  } else if (!value.empty()) {
    std::memmove(s.bytes, value.data(), value.size());
  }
  s.size = value.size();
  s.defined = true;
  return true;
}

bool Variables::adopt(std::string_view name, Buffer& value) {
  NameId id;
  if (!table_.intern(name, id)) return false;
  Slot& s = table_[id];
  memory().release(s.bytes, s.capacity);
  s.size = value.size();
  s.capacity = value.capacity();
  s.bytes = value.take();
  s.defined = true;
  return true;
}

}  // namespace zandle::vm
