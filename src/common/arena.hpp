// A region allocator: bump allocation in blocks that are released all at once. What it hands
// out never moves, so views into it stay valid until the arena is reset or destroyed.
#pragma once
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

namespace zandle {

class Arena {
 public:
  explicit Arena(std::size_t first_block = 4096) : next_block_(first_block) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { release(); }

  void* allocate(std::size_t size, std::size_t align = alignof(std::max_align_t)) {
    std::size_t offset = (used_ + align - 1) & ~(align - 1);
    if (head_ == nullptr || offset + size > head_->size) {
      grow(size + align);
      offset = (used_ + align - 1) & ~(align - 1);
    }
    used_ = offset + size;
    return head_->bytes() + offset;
  }

  template <class T>
  T* allocateArray(std::size_t n) {
    return static_cast<T*>(allocate(sizeof(T) * n, alignof(T)));
  }

  // A copy of the bytes; the empty text takes no memory.
  std::string_view copy(std::string_view text) {
    if (text.empty()) return {};
    char* p = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(p, text.data(), text.size());
    return {p, text.size()};
  }

  // Forgets everything handed out but keeps the largest block for reuse.
  void reset() {
    used_ = 0;
    if (head_ == nullptr || head_->prev == nullptr) return;  // the usual case: one block
    Block* keep = head_;
    for (Block* b = head_->prev; b != nullptr;) {
      Block* prev = b->prev;
      if (b->size > keep->size) std::swap(b, keep);
      ::operator delete(b);
      b = prev;
    }
    keep->prev = nullptr;
    head_ = keep;
    used_ = 0;
  }

  // Returns every block to the system.
  void release() {
    for (Block* b = head_; b != nullptr;) {
      Block* prev = b->prev;
      ::operator delete(b);
      b = prev;
    }
    head_ = nullptr;
    used_ = 0;
  }

  // Bytes obtained from the system and still held.
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

  void grow(std::size_t min_size) {
    std::size_t size = next_block_ > min_size ? next_block_ : min_size;
    auto* b = static_cast<Block*>(::operator new(sizeof(Block) + size));
    b->prev = head_;
    b->size = size;
    head_ = b;
    used_ = 0;
    if (next_block_ < (std::size_t{1} << 20)) next_block_ *= 2;
  }

  Block* head_ = nullptr;
  std::size_t used_ = 0;
  std::size_t next_block_;
};

}  // namespace zandle
