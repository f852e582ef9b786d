// The machine as an embedder uses it: in-process runs with a sink, caps and escape sets.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "embedding.hpp"
#include "escapes/table.hpp"
#include "machine.hpp"

using namespace zandle;
using namespace zandle::zndvm;

using zandle::test_support::StringSink;
using zandle::test_support::TestAllocator;

TEST(ZndvmEmbedding, OutputGoesToTheSinkAndMachinesAreIndependent) {
  for (int round = 0; round < 2; ++round) {
    StringSink out;
    Machine m(Options{.output = out.sink()});
    Outcome o = m.run(
        "New n '2'\nNew n \"n * 21\"\nNew __Escape_std.io.print_ARG0 'n'\nEscape std.io.print\n");
    EXPECT_EQ(o.ending, Ending::finished);
    EXPECT_EQ(out.text, "42\n");
  }
}

TEST(ZndvmEmbedding, AnEndlessLoopStopsAtTheInstructionCap) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .instruction_cap = 10000});
  Outcome o = m.run("New i '0'\nFunc f\nNew i \"i + 1\"\nCall f\nEnd\nCall f\n");
  EXPECT_EQ(o.ending, Ending::halted);
  EXPECT_EQ(o.reason, HaltReason::instruction_cap);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(out.text, "");  // the command line prints what stopped it
}

TEST(ZndvmEmbedding, MemoryCapStopsDeepRecursionAndGrowingStrings) {
  StringSink out;
  Machine deep(Options{.output = out.sink(), .memory_cap = 8u << 20});
  Outcome o = deep.run("Func f\nCall f\nNew x '1'\nEnd\nCall f\n");
  EXPECT_EQ(o.ending, Ending::failed);
  EXPECT_EQ(o.error, Error::OutOfMemory);

  std::string doubling = "New s 'abcdefghijklmnopqrstuvwxyz'\n";
  for (int i = 0; i < 40; ++i) doubling += "New s \"s s++ s\"\n";
  Machine growing(Options{.output = out.sink(), .memory_cap = 8u << 20});
  o = growing.run(doubling);
  EXPECT_EQ(o.ending, Ending::failed);
  EXPECT_EQ(o.error, Error::OutOfMemory);
}

// The cap is charged with the sizes asked for, so no rounding by the C library's allocator
// can let the held bytes pass it. These caps once let a run take hundreds of megabytes.
TEST(ZndvmEmbedding, NoCapIsPassedWhateverItsValue) {
  std::string doubling = "New s 'abcdefghijklmnopqrstuvwxyz'\n";
  for (int i = 0; i < 40; ++i) doubling += "New s \"s s++ s\"\n";
  for (std::size_t cap = 10'600'000; cap < 10'600'048; ++cap) {
    StringSink out;
    TestAllocator alloc;
    Machine m(Options{.output = out.sink(), .memory_cap = cap, .alloc = TestAllocator::fn, .alloc_user = &alloc});
    EXPECT_EQ(m.run(doubling).error, Error::OutOfMemory) << cap;
    EXPECT_LE(alloc.peak, cap);
    EXPECT_LE(m.memory().peak(), cap);
  }
}

TEST(ZndvmEmbedding, EscapeSetsHideTheRest) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .escapes = consoleEscapes()});
  EXPECT_EQ(m.run("New m 'ok'\nNew __Escape_std.io.print_ARG0 'm'\nEscape std.io.print\n").ending,
            Ending::finished);
  EXPECT_EQ(out.text, "ok\n");
  for (const char* name : {"std.misc.sleep", "std.misc.random", "std.misc.time"}) {
    Outcome o = m.run(std::string("Escape ") + name + "\n");
    EXPECT_EQ(o.error, Error::UnknownEscape) << name;
  }
}

TEST(ZndvmEmbedding, EveryAllocationFailureIsOutOfMemory) {
  const std::string program =
      "New a 'one'\nFunc f\nNew b \"a s++ a\"\nEnd\nCall f\n"
      "New __Escape_std.io.print_ARG0 'b'\nEscape std.io.print\n";
  test_support::expectEveryAllocationFailureIsOutOfMemory<Machine, Options>(program, "oneone\n");
}

TEST(ZndvmEmbedding, AStringRebuiltEveryIterationStaysWithinTheMemoryCap) {
  // The shape of an input the fuzzer timed out on: each pass grows a string by doubling and
  // starts it afresh. Passes must not accumulate memory, so the instruction cap ends the run,
  // not the memory cap.
  std::string program = "New i '0'\nFunc loop\nNew s '" + std::string(64, 'x') + "'\n";
  for (int k = 0; k < 10; ++k) program += "New s \"s s++ s\"\n";
  program += "New i \"i + 1\"\nCall loop\nEnd\nCall loop\n";
  StringSink out;
  Machine m(Options{.output = out.sink(), .instruction_cap = 5000, .memory_cap = 1u << 20});
  Outcome o = m.run(program);
  EXPECT_EQ(o.ending, Ending::halted);
  EXPECT_EQ(o.reason, HaltReason::instruction_cap);
  const Value* i = m.vars().find("i");
  ASSERT_NE(i, nullptr);
  EXPECT_GT(i->as.float_, 300.0);  // 5000 instructions, 14 per pass
  const Value* s = m.vars().find("s");
  ASSERT_NE(s, nullptr);
  EXPECT_LE(s->str_len, 64u << 10);
}

// A forced evaluation whose concatenation cannot be made fails; it used to store the
// unevaluated text.
TEST(ZndvmEmbedding, AForcedEvaluationThatRunsOutOfMemoryFails) {
  std::string program = "New big '" + std::string(100000, 'x') + "'\nNew e 'big s++ big'\nNew c {e}\n";
  StringSink out;
  Machine m(Options{.output = out.sink(), .memory_cap = 600000});
  Outcome o = m.run(program);
  EXPECT_EQ(o.ending, Ending::failed);
  EXPECT_EQ(o.error, Error::OutOfMemory);
  EXPECT_EQ(m.vars().find("c"), nullptr);
}

TEST(ZndvmEmbedding, AFailureInsideCallsIsLocatedWithItsCallers) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  const std::string program =
      "Func inner\nNew x 'ok'\nNew y missing\nEnd\n"
      "Func outer\nCall inner\nEnd\n"
      "New z 'before'\nCall outer\n";
  Outcome o = m.run(program, "calls.znd");
  EXPECT_EQ(o.error, Error::UnknownVariable);
  const LineRef at = m.failedAt();
  EXPECT_EQ(at.source, "calls.znd");
  EXPECT_EQ(at.line, 3u);
  EXPECT_EQ(at.text, "New y missing");
  ASSERT_EQ(m.activeCallCount(), 2u);
  EXPECT_EQ(m.activeCall(0).function, "inner");
  EXPECT_EQ(m.activeCall(0).called_from.line, 6u);
  EXPECT_EQ(m.activeCall(0).called_from.text, "Call inner");
  EXPECT_EQ(m.activeCall(1).function, "outer");
  EXPECT_EQ(m.activeCall(1).called_from.line, 9u);
  EXPECT_EQ(m.activeCall(1).called_from.source, "calls.znd");

  // The same machine runs on: variables and functions stay, the failed calls are gone (they
  // used to make the next run fail with the old error or InvalidPC).
  o = m.run("New missing 'now'\nCall outer\nNew __Escape_std.io.print_ARG0 'y'\nEscape std.io.print\n");
  EXPECT_EQ(o.ending, Ending::finished);
  EXPECT_EQ(out.text, "now\n");
  EXPECT_EQ(m.activeCallCount(), 0u);
}

TEST(ZndvmEmbedding, AnUnfinishedFunctionIsNotRecordedAndTheNextRunRuns) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  EXPECT_EQ(m.run("Func f\nNew v 'first'\nEnd\n").ending, Ending::finished);
  EXPECT_EQ(m.run("Func f\nNew v 'second'\n").ending, Ending::finished);  // no End
  EXPECT_EQ(m.run("Call f\nNew __Escape_std.io.print_ARG0 'v'\nEscape std.io.print\n").ending,
            Ending::finished);
  EXPECT_EQ(out.text, "first\n");
  EXPECT_EQ(m.run("Func g\nNew v 'g'\n").ending, Ending::finished);
  EXPECT_EQ(m.run("Call g\n").error, Error::UnknownFunction);
}

TEST(ZndvmEmbedding, TheInstructionCapBelongsToOneRun) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .instruction_cap = 5});
  const std::string five = "New a '1'\nNew a '2'\nNew a '3'\nNew a '4'\nNew a '5'\n";
  EXPECT_EQ(m.run(five).ending, Ending::finished);
  EXPECT_EQ(m.run(five).ending, Ending::finished);  // it used to halt at once
  EXPECT_EQ(m.run(five + "New a '6'\n").reason, HaltReason::instruction_cap);
  EXPECT_EQ(m.failedAt().line, 6u);
}

// Every line counts, recorded ones included; an End that returns does not. The loop's run
// is 1 + 4 + 1 + 2 * 10 instructions.
TEST(ZndvmEmbedding, TheCapIsExactInsideFunctions) {
  const std::string loop = "New i '0'\nFunc loop\nNew i \"i + 1\"\nIf loop \"i < 10\"\nEnd\nCall loop\n";
  for (std::uint64_t cap : {26u, 25u, 7u, 8u, 9u, 10u}) {
    StringSink out;
    Machine m(Options{.output = out.sink(), .instruction_cap = cap});
    const Outcome o = m.run(loop);
    const Value* i = m.vars().find("i");
    ASSERT_NE(i, nullptr) << cap;
    if (cap == 26) {
      EXPECT_EQ(o.ending, Ending::finished);
      EXPECT_EQ(i->as.float_, 10.0);
      continue;
    }
    EXPECT_EQ(o.reason, HaltReason::instruction_cap) << cap;
    // The instruction past the cap does not run: the 26th is the last If, the 8th the first
    // If, the 9th the second New, the 10th the second If, the 11th the third New. (From the
    // second pass on, the New and the If are run as one step unless the cap falls between.)
    EXPECT_EQ(m.failedAt().line, cap == 8 || cap == 10 ? 3u : 4u) << cap;
    EXPECT_EQ(i->as.float_, cap == 25 ? 10.0 : cap >= 9 ? 2.0 : 1.0) << cap;
    EXPECT_EQ(m.activeCallCount(), 1u);
  }
}

// How recorded lines are prepared decides which of the driver's executors runs them: a
// wrong form runs the wrong code. A stray End at the top level counts like any line, the
// End that returns from a function does not.
TEST(ZndvmEmbedding, LinesArePreparedInTheFormsTheirShapesCallFor) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  ASSERT_EQ(m.run("New i '0'\nNew x 'x'\nFunc f\nNew i \"i + 1\"\nIf f \"i < 3\"\nNew i \"i * i\"\n"
                  "If f \"i == x\"\nNew s \"s s++ x\"\nNew c \"s ?= x\"\nNew v 'text'\nCall f\n"
                  "Escape std.io.print\nCall <x>\nReturn\nEnd\n")
                .ending,
            Ending::finished);  // f is recorded, never called
  std::vector<std::string_view> forms;
  for (const Instruction& ins : m.recorded()) forms.push_back(formName(ins.form));
  EXPECT_EQ(forms, (std::vector<std::string_view>{"func", "add_then_if", "if_lt_k", "new_mul", "if_eq",
                                                  "new_concat", "new_compare", "new_value", "call",
                                                  "escape", "general", "ret", "end"}));
  Machine counted(Options{.output = out.sink(), .instruction_cap = 3});
  EXPECT_EQ(counted.run("End\nEnd\nEnd\n").ending, Ending::finished);
  EXPECT_EQ(counted.run("End\nEnd\nEnd\nEnd\n").reason, HaltReason::instruction_cap);
  EXPECT_EQ(counted.run("Func g\nEnd\nCall g\n").ending, Ending::finished);
}

TEST(ZndvmEmbedding, ACounterAndTestThatFailsIsLocatedAtTheTest) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  EXPECT_EQ(m.run("New i '0.5'\nFunc f\nNew i \"i + 1\"\nIf g \"i < 5\"\nEnd\nCall f\n").error,
            Error::UnknownFunction);
  EXPECT_EQ(m.failedAt().line, 4u);
  EXPECT_EQ(m.vars().find("i")->as.float_, 1.5);
}

TEST(ZndvmEmbedding, AFailureOfAPreparedLineIsLocated) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  const std::string program =
      "New s 'text'\nNew n '1'\nFunc f\nNew n \"n * 2\"\nIf f \"n < 8\"\nNew n \"s + 1\"\nEnd\nCall f\n";
  EXPECT_EQ(m.run(program, "p.znd").error, Error::NotNumeric);
  EXPECT_EQ(m.failedAt().line, 6u);
  EXPECT_EQ(m.failedAt().text, "New n \"s + 1\"");
  // The If recursed twice before the failing line: three frames of f.
  EXPECT_EQ(m.activeCallCount(), 3u);
  EXPECT_EQ(m.activeCall(0).called_from.line, 5u);
  EXPECT_EQ(m.activeCall(2).called_from.line, 8u);
  EXPECT_EQ(m.vars().find("n")->as.float_, 8.0);
}

// Doubling a string in place until the cap stops it: the failed append leaves the last
// string whole.
TEST(ZndvmEmbedding, AnAppendBeyondTheCapKeepsTheOldString) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .memory_cap = 4u << 20});
  Outcome o = m.run("New s 'abc'\nFunc double\nNew s \"s s++ s\"\nCall double\nEnd\nCall double\n");
  EXPECT_EQ(o.error, Error::OutOfMemory);
  const Value* s = m.vars().find("s");
  ASSERT_NE(s, nullptr);
  const std::string_view text = s->text();
  EXPECT_GE(text.size(), 3u << 18);
  EXPECT_EQ(text.size() % 3, 0u);
  EXPECT_EQ(text.size() / 3 & (text.size() / 3 - 1), 0u);  // 3 * 2^k bytes
  for (std::size_t k = 0; k < text.size(); k += 3) ASSERT_EQ(text.substr(k, 3), "abc") << k;
}

TEST(ZndvmEmbedding, AHostCallsARecordedFunction) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  ASSERT_EQ(m.run("New n '0'\nFunc bump\nNew n \"n + 1\"\nEnd\n").ending, Ending::finished);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m.call("bump").ending, Ending::finished);
  const Value* n = m.vars().find("n");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->as.float_, 3.0);
  EXPECT_EQ(m.call("missing").error, Error::UnknownFunction);
  ASSERT_EQ(m.run("Func bad\nNew q missing\nEnd\n").ending, Ending::finished);
  EXPECT_EQ(m.call("bad").error, Error::UnknownVariable);
  EXPECT_EQ(m.failedAt().line, 2u);
  ASSERT_EQ(m.activeCallCount(), 1u);
  EXPECT_EQ(m.activeCall(0).called_from.line, 0u);  // the host called it
}
