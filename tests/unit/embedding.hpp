// Helpers for the embedding tests of both machines: a sink that keeps what a run printed,
// and the allocation-failure walk over a small program.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/memory.hpp"
#include "common/output.hpp"

namespace zandle::test_support {

struct StringSink final : Sink {
  std::string text;
  void write(std::string_view bytes) override { text.append(bytes); }
};

// Runs `program` with allocation 1, 2, ... failing (and every one after it) until a run
// finishes. Every earlier run must fail with OutOfMemory, including one whose machine could
// not be made; the finished run must print `expected`, and allocations must have been needed.
template <class Machine, class Options>
void expectEveryAllocationFailureIsOutOfMemory(std::string_view program, std::string_view expected) {
  using Outcome = decltype(std::declval<Machine&>().runProtected(program));
  using Error = decltype(Outcome::error);
  for (std::uint64_t n = 1;; ++n) {
    StringSink out;
    MemoryBudget budget;
    budget.fail_at = n;
    Outcome o;
    {
      MemoryScope scope(&budget);
      try {
        Machine m(Options{.output = &out});
        o = m.runProtected(program);
      } catch (const std::bad_alloc&) {  // the machine itself could not be made
        o.kind = Outcome::Kind::failed;
        o.error = Error::OutOfMemory;
      }
    }
    if (o.kind == Outcome::Kind::finished) {
      EXPECT_EQ(out.text, expected);
      EXPECT_GT(n, 3u);
      break;
    }
    EXPECT_EQ(o.kind, Outcome::Kind::failed) << n;
    EXPECT_EQ(o.error, Error::OutOfMemory) << n;
    ASSERT_LT(n, 1000u);
  }
}

}  // namespace zandle::test_support
