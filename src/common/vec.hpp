// A growable array of plain values whose memory comes from a machine's Memory. Growing can
// fail: every call that may allocate says whether it did, and on failure the array is as it
// was. Elements are copied bytewise, so only trivially copyable types may be stored.
#pragma once
#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "memory.hpp"

namespace zandle {

template <class T>
class Vec {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  explicit Vec(Memory& memory) : memory_(&memory) {}
  ~Vec() { release(); }
  Vec(const Vec&) = delete;
  Vec& operator=(const Vec&) = delete;

  [[nodiscard]] bool push(const T& value) {
    if (size_ == capacity_) [[unlikely]] return pushGrowing(value);
    data_[size_++] = value;
    return true;
  }

  [[nodiscard]] bool append(const T* items, std::size_t n) {
    if (n > capacity_ - size_ && !grow(size_ + n)) return false;
    if (n != 0) std::memcpy(static_cast<void*>(data_ + size_), items, n * sizeof(T));
    size_ += n;
    return true;
  }

  // Room for n elements in all, without changing the size.
  [[nodiscard]] bool reserve(std::size_t n) { return n <= capacity_ || setCapacity(n); }

  // New elements are value-initialised (zero).
  [[nodiscard]] bool resize(std::size_t n) {
    if (n > capacity_ && !grow(n)) return false;
    if (n > size_) std::memset(static_cast<void*>(data_ + size_), 0, (n - size_) * sizeof(T));
    size_ = n;
    return true;
  }

  // Exchanges contents with an array of the same Memory.
  void swap(Vec& other) {
    T* d = data_;
    data_ = other.data_;
    other.data_ = d;
    std::size_t n = size_;
    size_ = other.size_;
    other.size_ = n;
    n = capacity_;
    capacity_ = other.capacity_;
    other.capacity_ = n;
  }

  // Hands the buffer over to the caller, who must release capacity() * sizeof(T) bytes of
  // it to the same Memory; the array is left empty.
  T* take() {
    T* d = data_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return d;
  }

  void pop() { --size_; }
  void clear() { size_ = 0; }
  void shrink(std::size_t n) { size_ = n; }  // n <= size()

  // Gives the buffer back to the machine.
  void release() {
    memory_->release(data_, capacity_ * sizeof(T));
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  Memory& memory() const { return *memory_; }

 private:
  // Apart, so that the common push is a store and an increment wherever it is inlined.
  [[gnu::noinline]] bool pushGrowing(const T& value) {
    const T copy = value;  // `value` may live in the old buffer
    if (!grow(size_ + 1)) return false;
    data_[size_++] = copy;
    return true;
  }

  // Doubles (at least) so that pushing is amortised constant time.
  bool grow(std::size_t needed) {
    std::size_t n = capacity_ < 8 ? 8 : capacity_ * 2;
    if (n < needed) n = needed;
    return setCapacity(n);
  }

  bool setCapacity(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) return false;
    void* p = data_ == nullptr ? memory_->allocate(n * sizeof(T))
                               : memory_->resize(data_, capacity_ * sizeof(T), n * sizeof(T));
    if (p == nullptr) return false;
    data_ = static_cast<T*>(p);
    capacity_ = n;
    return true;
  }

  Memory* memory_;
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Bytes, with the appends that text building needs.
class Buffer : public Vec<char> {
 public:
  using Vec<char>::Vec;
  [[nodiscard]] bool append(std::string_view text) { return Vec<char>::append(text.data(), text.size()); }
  std::string_view view() const { return {data(), size()}; }
};

}  // namespace zandle
