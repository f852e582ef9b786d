#include "variables.hpp"

#include <cstdint>
#include <cstring>

namespace zandle::zndvm {

namespace {

// A buffer far larger than what it holds is given back, so one huge string does not pin its
// memory for the rest of the run.
bool oversized(std::size_t capacity, std::size_t needed) {
  return capacity > 4096 && needed < capacity / 4;
}

// The buffer for `needed` bytes where `capacity` are held: a growing string grows in
// doubling steps, anything else gets exactly what it needs.
std::size_t capacityFor(std::size_t capacity, std::size_t needed) {
  return needed > capacity && needed < 2 * capacity ? 2 * capacity : needed;
}

// Whether `text` views bytes of the buffer (compared as addresses: the two may be unrelated).
bool within(std::string_view text, const char* bytes, std::size_t capacity) {
  const auto p = reinterpret_cast<std::uintptr_t>(text.data());
  const auto b = reinterpret_cast<std::uintptr_t>(bytes);
  return !text.empty() && bytes != nullptr && p >= b && p - b < capacity;
}

}  // namespace

Variables::~Variables() {
  for (std::size_t id = 0; id < table_.count(); ++id) {
    Slot& s = table_[static_cast<SlotId>(id)];
    table_.memory().release(s.bytes, s.capacity);
  }
}

bool Variables::rebuild(Slot& s, std::size_t capacity, std::string_view left,
                        std::string_view right) {
  char* bytes = nullptr;
  if (capacity != 0) {
    bytes = static_cast<char*>(table_.memory().allocate(capacity));
    if (bytes == nullptr) return false;
    if (!left.empty()) std::memcpy(bytes, left.data(), left.size());
    if (!right.empty()) std::memcpy(bytes + left.size(), right.data(), right.size());
  }
  table_.memory().release(s.bytes, s.capacity);
  value_capacity_ += capacity;
  value_capacity_ -= s.capacity;
  s.bytes = bytes;
  s.capacity = capacity;
  s.value = Value::ofStr({bytes, left.size() + right.size()});
  return true;
}

bool Variables::set(SlotId id, Value value) {
  Slot& s = table_[id];
  if (value.type != Type::str) {
    s.value = value;
    return true;
  }
  const std::string_view text = value.text();
  if (text.size() > s.capacity || oversized(s.capacity, text.size())) {
    return rebuild(s, capacityFor(s.capacity, text.size()), text, {});
  }
  if (!text.empty()) std::memmove(s.bytes, text.data(), text.size());
  s.value = Value::ofStr({s.bytes, text.size()});
  return true;
}

bool Variables::concat(SlotId id, std::string_view left, std::string_view right) {
  Slot& s = table_[id];
  const std::size_t size = left.size() + right.size();
  if (!left.empty() && left.data() == s.bytes) {
    // Appending to this slot's value, or to a prefix of it: those bytes stay where they are.
    if (size > s.capacity) {
      const std::size_t capacity = capacityFor(s.capacity, size);
      const bool right_here = within(right, s.bytes, s.capacity);
      const std::size_t offset = right_here ? static_cast<std::size_t>(right.data() - s.bytes) : 0;
      void* bytes = table_.memory().resize(s.bytes, s.capacity, capacity);
      if (bytes == nullptr) return false;
      value_capacity_ += capacity;
      value_capacity_ -= s.capacity;
      s.bytes = static_cast<char*>(bytes);
      s.capacity = capacity;
      if (right_here) right = {s.bytes + offset, right.size()};
    }
    // `right` may be a part of this value that is about to be overwritten.
    if (!right.empty()) std::memmove(s.bytes + left.size(), right.data(), right.size());
    s.value = Value::ofStr({s.bytes, size});
    return true;
  }
  if (size > s.capacity || oversized(s.capacity, size) || within(left, s.bytes, s.capacity) ||
      within(right, s.bytes, s.capacity)) {
    const std::size_t capacity =
        size > s.capacity || oversized(s.capacity, size) ? capacityFor(s.capacity, size) : s.capacity;
    return rebuild(s, capacity, left, right);
  }
  if (!left.empty()) std::memcpy(s.bytes, left.data(), left.size());
  if (!right.empty()) std::memcpy(s.bytes + left.size(), right.data(), right.size());
  s.value = Value::ofStr({s.bytes, size});
  return true;
}

}  // namespace zandle::zndvm
