// An allocation function for tests (in the realloc style that machines take): it counts allocations and the bytes held, and can make
// the Nth allocation and every later one fail, as on an exhausted heap.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>


namespace zandle::test_support {

struct TestAllocator {
  std::uint64_t allocations = 0;  // blocks asked for (new ones and growths)
  std::uint64_t fail_at = 0;      // when non-zero: this one and every later one fails
  std::size_t held = 0;           // bytes handed out and not yet freed
  std::size_t peak = 0;

  static void* fn(void* user, void* ptr, std::size_t old_size, std::size_t new_size) {
    auto* self = static_cast<TestAllocator*>(user);
    if (new_size == 0) {
      std::free(ptr);
      self->held -= old_size;
      return nullptr;
    }
    ++self->allocations;
    if (self->fail_at != 0 && self->allocations >= self->fail_at) return nullptr;
    void* p = std::realloc(ptr, new_size);
    if (p != nullptr) {
      self->held += new_size - old_size;
      if (self->held > self->peak) self->peak = self->held;
    }
    return p;
  }
};

}  // namespace zandle::test_support
