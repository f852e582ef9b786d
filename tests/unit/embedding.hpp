// Helpers for the embedding tests of both machines: a sink that keeps what a run printed,
// and the allocation-failure walk over a small program.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/outcome.hpp"
#include "common/output.hpp"
#include "test_memory.hpp"

namespace zandle::test_support {

struct StringSink {
  std::string text;
  static int write(void* user, const char* bytes, std::size_t size) {
    static_cast<StringSink*>(user)->text.append(bytes, size);
    return 0;
  }
  Sink sink() { return {write, this}; }
};

// Runs `program` with allocation 1, 2, ... failing (and every one after it) until a run
// finishes. Every earlier run must fail with OutOfMemory and give back every byte; the
// finished run must print `expected`, and allocations must have been needed.
template <class Machine, class Options>
void expectEveryAllocationFailureIsOutOfMemory(std::string_view program, std::string_view expected) {
  for (std::uint64_t n = 1;; ++n) {
    StringSink out;
    TestAllocator alloc;
    alloc.fail_at = n;
    {
      Options options;
      options.output = out.sink();
      options.alloc = TestAllocator::fn;
      options.alloc_user = &alloc;
      Machine m(options);
      const auto o = m.run(program);
      if (o.ending == Ending::finished) {
        EXPECT_EQ(out.text, expected);
        EXPECT_GT(n, 3u);
        break;
      }
      EXPECT_EQ(o.ending, Ending::failed) << n;
      EXPECT_EQ(errorName(o.error), "OutOfMemory") << n;
    }
    EXPECT_EQ(alloc.held, 0u) << n;
    ASSERT_LT(n, 1000u);
  }
}

}  // namespace zandle::test_support
