// Heap accounting for runs that must stay within a memory cap: while a MemoryScope is open,
// every operator new of its thread is charged to its budget, and passing the cap fails like
// an exhausted heap (std::bad_alloc, reported as OutOfMemory). Tests can make the Nth
// allocation and all later ones fail, to prove every failure path.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zandle {

struct MemoryBudget {
  std::size_t cap = SIZE_MAX;  // bytes the run may hold at once
  std::size_t held = 0;        // bytes allocated under the budget and not yet freed
  std::size_t peak = 0;
  std::uint64_t allocations = 0;
  // When non-zero, allocation number fail_at (1 = the next) and all later ones fail.
  std::uint64_t fail_at = 0;
};

// Charges the allocations of this thread to `budget` until destroyed; scopes nest. A null
// budget leaves the charging as it is (an outer scope, if any, goes on counting).
class MemoryScope {
 public:
  explicit MemoryScope(MemoryBudget* budget);
  ~MemoryScope();
  MemoryScope(const MemoryScope&) = delete;
  MemoryScope& operator=(const MemoryScope&) = delete;

 private:
  MemoryBudget* previous_;
};

}  // namespace zandle
