// A region allocator: bump allocation in blocks that are released all at once. What it hands
// out never moves, so views into it stay valid until the arena is reset or destroyed. Blocks
// come from a machine's Memory; an allocation that cannot be had is a null pointer.
#pragma once
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

#include "memory.hpp"

namespace zandle {

class Arena {
 public:
  Arena(Memory& memory, std::size_t first_block) : memory_(&memory), next_block_(first_block) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { release(); }

  // Null when memory runs out.
  void* allocate(std::size_t size, std::size_t align = alignof(std::max_align_t)) {
    std::size_t offset = (used_ + align - 1) & ~(align - 1);
    if (head_ == nullptr || offset > head_->size || size > head_->size - offset) {
      if (!grow(size, align)) return nullptr;
      offset = 0;
    }
    used_ = offset + size;
    return head_->bytes() + offset;
  }

  template <class T>
  T* allocateArray(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(allocate(sizeof(T) * n, alignof(T)));
  }

  // A copy of the bytes into `out`; false when memory runs out. The empty text takes no
  // memory.
  [[nodiscard]] bool copy(std::string_view text, std::string_view& out) {
    if (text.empty()) {
      out = {};
      return true;
    }
    char* p = static_cast<char*>(allocate(text.size(), 1));
    if (p == nullptr) return false;
    std::memcpy(p, text.data(), text.size());
    out = {p, text.size()};
    return true;
  }

  // Forgets everything handed out but keeps the largest block for reuse.
  void reset() {
    used_ = 0;
    if (head_ == nullptr || head_->prev == nullptr) return;  // the usual case: one block
    Block* keep = head_;
    for (Block* b = head_->prev; b != nullptr;) {
      Block* prev = b->prev;
      if (b->size > keep->size) {
        Block* smaller = keep;
        keep = b;
        b = smaller;
      }
      memory_->release(b, sizeof(Block) + b->size);
      b = prev;
    }
    keep->prev = nullptr;
    head_ = keep;
  }

  // Returns every block.
  void release() {
    for (Block* b = head_; b != nullptr;) {
      Block* prev = b->prev;
      memory_->release(b, sizeof(Block) + b->size);
      b = prev;
    }
    head_ = nullptr;
    used_ = 0;
  }

  // Bytes obtained and still held.
  std::size_t capacity() const {
    std::size_t total = 0;
    for (Block* b = head_; b != nullptr; b = b->prev) total += b->size;
    return total;
  }

 private:
  struct alignas(std::max_align_t) Block {
    Block* prev;
    std::size_t size;
    char* bytes() { return reinterpret_cast<char*>(this + 1); }
  };

  // A block's bytes start max_align_t-aligned, so a fresh block needs no padding.
  bool grow(std::size_t size, std::size_t align) {
    if (align > alignof(std::max_align_t) || size > SIZE_MAX / 2 - sizeof(Block)) return false;
    std::size_t block = next_block_ > size ? next_block_ : size;
    void* p = memory_->allocate(sizeof(Block) + block);
    if (p == nullptr) return false;
    head_ = new (p) Block{head_, block};
    used_ = 0;
    if (next_block_ < (std::size_t{1} << 20)) next_block_ *= 2;
    return true;
  }

  Memory* memory_;
  Block* head_ = nullptr;
  std::size_t used_ = 0;
  std::size_t next_block_;
};

}  // namespace zandle
