// A host's output and input functions over strings, and its variables as strings, for tests
// that drive machines through the C interface.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "zandle/zandle.h"

namespace zandle::test_support {

// Collects what a machine prints.
struct Output {
  std::string text;
  static int write(void* user, const char* bytes, std::size_t size) {
    static_cast<Output*>(user)->text.append(bytes, size);
    return 0;
  }
};

// Hands a machine `text` as its input, as much as it asks for at a time.
struct Input {
  std::string text;
  std::size_t pos = 0;
  static long read(void* user, char* buffer, std::size_t capacity) {
    auto* self = static_cast<Input*>(user);
    const std::size_t n = std::min(capacity, self->text.size() - self->pos);
    std::memcpy(buffer, self->text.data() + self->pos, n);
    self->pos += n;
    return static_cast<long>(n);
  }
};

// A variable's text, or "<unset>" when it has none.
inline std::string textOf(zandle_machine* m, const char* name) {
  const char* text = nullptr;
  std::size_t len = 0;
  if (zandle_get_text(m, name, std::strlen(name), &text, &len) != ZANDLE_OK) return "<unset>";
  return std::string(text, len);
}

inline zandle_status setText(zandle_machine* m, const char* name, const std::string& text) {
  return zandle_set_text(m, name, std::strlen(name), text.data(), text.size());
}

}  // namespace zandle::test_support
