// Where a machine's memory comes from and how much it may take. Every byte a machine holds
// is allocated through its own Memory: the host's allocation function (or the C library's),
// charged against the machine's cap with the exact sizes asked for, so that two machines
// never see each other's bytes and a cap cannot be passed. Nothing here throws: a refused
// allocation is a null pointer, which the caller reports as OutOfMemory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zandle {

// An allocation function in the realloc style: new_size 0 frees `ptr` and returns null;
// otherwise it returns a block of new_size bytes (holding the first old_size bytes of `ptr`
// when ptr is not null), aligned as malloc aligns, or null when it cannot.
using AllocFn = void* (*)(void* user, void* ptr, std::size_t old_size, std::size_t new_size);

// The C library's malloc, realloc and free.
void* systemAlloc(void* user, void* ptr, std::size_t old_size, std::size_t new_size);

// A base for what holds a machine's memory and must not be copied: a copy would give the
// same bytes back twice.
struct Pinned {
  Pinned() = default;
  Pinned(const Pinned&) = delete;
  Pinned& operator=(const Pinned&) = delete;
};

class Memory {
 public:
  Memory() = default;
  Memory(AllocFn fn, void* user, std::size_t limit) : cap(limit), fn_(fn), user_(user) {}
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  // A block of `size` bytes (size > 0), or null when the cap or the allocator refuses.
  void* allocate(std::size_t size) {
    if (!admit(size)) return nullptr;
    void* p = fn_(user_, nullptr, 0, size);
    if (p != nullptr) charge(size);
    return p;
  }

  // Grows or shrinks a block; on failure null is returned and the block is left as it was.
  void* resize(void* p, std::size_t old_size, std::size_t new_size) {
    if (new_size > old_size && !admit(new_size - old_size)) return nullptr;
    void* q = fn_(user_, p, old_size, new_size);
    if (q == nullptr) return nullptr;
    held_ -= old_size;
    charge(new_size);
    return q;
  }

  // Gives back a block of `size` bytes (the size it was allocated or resized with).
  void release(void* p, std::size_t size) {
    if (p == nullptr) return;
    fn_(user_, p, size, 0);
    held_ -= size;
  }

  // Charges bytes that were allocated for the machine elsewhere (the object that holds
  // this Memory, say), as if they had come from here; false when they do not fit the cap.
  [[nodiscard]] bool chargeOwn(std::size_t size) {
    if (held_ > cap || size > cap - held_) return false;
    charge(size);
    return true;
  }

  std::size_t held() const { return held_; }  // bytes allocated and not yet released
  std::size_t peak() const { return peak_; }
  std::uint64_t allocations() const { return allocations_; }

  std::size_t cap = SIZE_MAX;  // bytes that may be held at once
  // When non-zero, allocation number fail_at (1 = the next) and every later one fail, as
  // on an exhausted heap: the tests walk every failure path with it.
  std::uint64_t fail_at = 0;

 private:
  bool admit(std::size_t size) {
    ++allocations_;
    if (fail_at != 0 && allocations_ >= fail_at) return false;
    return held_ <= cap && size <= cap - held_;  // no subtraction that could wrap
  }
  void charge(std::size_t size) {
    held_ += size;
    if (held_ > peak_) peak_ = held_;
  }

  std::size_t held_ = 0;
  std::size_t peak_ = 0;
  std::uint64_t allocations_ = 0;
  AllocFn fn_ = systemAlloc;
  void* user_ = nullptr;
};

}  // namespace zandle
