#include "memory.hpp"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace zandle {

namespace {

thread_local MemoryBudget* current = nullptr;

void* allocate(std::size_t size) {
  MemoryBudget* budget = current;
  if (budget != nullptr) {
    ++budget->allocations;
    if (budget->fail_at != 0 && budget->allocations >= budget->fail_at) return nullptr;
    if (size > budget->cap - budget->held) return nullptr;
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr && budget != nullptr) {
    budget->held += malloc_usable_size(p);
    if (budget->held > budget->peak) budget->peak = budget->held;
  }
  return p;
}

void release(void* p) {
  if (p == nullptr) return;
  if (MemoryBudget* budget = current) {
    // Memory allocated before the scope opened may be freed inside it: never go below zero.
    std::size_t size = malloc_usable_size(p);
    budget->held = size < budget->held ? budget->held - size : 0;
  }
  std::free(p);
}

}  // namespace

MemoryScope::MemoryScope(MemoryBudget* budget) : previous_(current) {
  if (budget != nullptr) current = budget;
}

MemoryScope::~MemoryScope() { current = previous_; }

}  // namespace zandle

void* operator new(std::size_t size) {
  void* p = zandle::allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* operator new[](std::size_t size) {
  void* p = zandle::allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return zandle::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return zandle::allocate(size); }
void operator delete(void* p) noexcept { zandle::release(p); }
void operator delete[](void* p) noexcept { zandle::release(p); }
void operator delete(void* p, std::size_t) noexcept { zandle::release(p); }
void operator delete[](void* p, std::size_t) noexcept { zandle::release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { zandle::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { zandle::release(p); }
