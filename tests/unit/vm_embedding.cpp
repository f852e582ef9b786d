// The machine as an embedder uses it: in-process runs with a sink, caps and escape sets.
#include <gtest/gtest.h>

#include <string>

#include "embedding.hpp"
#include "escapes/table.hpp"
#include "machine.hpp"

using namespace zandle;
using namespace zandle::vm;

using zandle::test_support::StringSink;
using zandle::test_support::TestAllocator;

TEST(VmEmbedding, OutputGoesToTheSinkAndMachinesAreIndependent) {
  for (int round = 0; round < 2; ++round) {
    StringSink out;
    Machine m(Options{.output = out.sink()});
    Outcome o = m.run("New n 'x'\nNew n \"n s++ n\"\nNew ARG1 'n'\nEscape Print\n");
    EXPECT_EQ(o.ending, Ending::finished);
    EXPECT_EQ(out.text, "xx\n");
  }
}

TEST(VmEmbedding, FailuresAndHaltsAreOutcomes) {
  StringSink out;
  Machine failing(Options{.output = out.sink()});
  Outcome o = failing.run("New x missing\n");
  EXPECT_EQ(o.ending, Ending::failed);
  EXPECT_EQ(o.error, Error::UnknownVariable);

  Machine exiting(Options{.output = out.sink()});
  o = exiting.run("New m 'a'\nEscape Exit\nNew x missing\n");
  EXPECT_EQ(o.ending, Ending::halted);
  EXPECT_EQ(o.reason, HaltReason::exit);
  EXPECT_EQ(o.status, 0);
}

TEST(VmEmbedding, TheBudgetThatRanOutIsNamedAndBudgetsBelongToOneRun) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  std::string script = "New ARG1 'nothing'\n";
  for (int i = 0; i < 101; ++i) script += "Escape Print\n";
  EXPECT_EQ(m.run(script).ending, Ending::finished);
  Outcome o = m.run(script + "Escape Print\n");
  EXPECT_EQ(o.ending, Ending::halted);
  EXPECT_EQ(o.reason, HaltReason::escape);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(m.failedAt().line, 103u);
  EXPECT_EQ(m.run(script).ending, Ending::finished);  // a new run counts afresh
}

TEST(VmEmbedding, InstructionCapIsALowerBudget) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .instruction_cap = 10});
  std::string script;
  for (int i = 0; i < 10; ++i) script += "x\n";
  EXPECT_EQ(m.run(script).ending, Ending::finished);
  Outcome o = m.run(script + "x\n");
  EXPECT_EQ(o.ending, Ending::halted);
  EXPECT_EQ(o.reason, HaltReason::instruction_cap);
  EXPECT_EQ(out.text, "");  // the command line prints what stopped it
}

TEST(VmEmbedding, AFailureInsideCallsIsLocatedWithItsCallers) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  const std::string script =
      "Func inner\nNew x 'ok'\nNew y missing\nEnd\n"
      "Func outer\nCall inner\nEnd\n"
      "New z 'before'\nCall outer\n";
  Outcome o = m.run(script, "calls.znd");
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
  EXPECT_EQ(m.activeCall(1).called_from.text, "Call outer");

  // The same machine runs on: variables and functions stay, the failed calls are gone.
  o = m.run("New missing 'now'\nCall outer\nNew ARG1 'y'\nEscape Print\n", "second.znd");
  EXPECT_EQ(o.ending, Ending::finished);
  EXPECT_EQ(out.text, "now\n");
  EXPECT_EQ(m.activeCallCount(), 0u);
  EXPECT_EQ(m.failedAt().line, 0u);
}

TEST(VmEmbedding, AnUnfinishedFunctionIsNotRecordedAndTheNextRunRuns) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  EXPECT_EQ(m.run("Func f\nNew v 'first'\nEnd\n").ending, Ending::finished);
  EXPECT_EQ(m.run("Func f\nNew v 'second'\n").ending, Ending::finished);  // no End
  EXPECT_EQ(m.run("Call f\nNew ARG1 'v'\nEscape Print\n").ending, Ending::finished);
  EXPECT_EQ(out.text, "first\n");
  EXPECT_EQ(m.run("Func g\nNew v 'g'\n").ending, Ending::finished);
  EXPECT_EQ(m.run("Call g\n").error, Error::UnknownFunction);
}

TEST(VmEmbedding, AHostCallsARecordedFunction) {
  StringSink out;
  Machine m(Options{.output = out.sink()});
  ASSERT_EQ(m.run("New n '0'\nFunc bump\nNew n \"n + 1\"\nEnd\n").ending, Ending::finished);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m.call("bump").ending, Ending::finished);
  std::string_view n;
  ASSERT_TRUE(m.data().find("n", n));
  EXPECT_EQ(n, "3");
  EXPECT_EQ(m.call("missing").error, Error::UnknownFunction);
}

TEST(VmEmbedding, MemoryCapIsOutOfMemory) {
  StringSink out;
  std::string script = "New s 'abcdefghijklmnopqrstuvwxyz0123456789'\n";
  for (int i = 0; i < 40; ++i) script += "New s \"s s++ s\"\n";
  TestAllocator capped;
  Machine m(Options{.output = out.sink(), .memory_cap = 16u << 20, .alloc = TestAllocator::fn, .alloc_user = &capped});
  Outcome o = m.run(script);
  EXPECT_EQ(o.ending, Ending::failed);
  EXPECT_EQ(o.error, Error::OutOfMemory);
  EXPECT_LE(capped.peak, std::size_t{16} << 20);
  // Without the cap the same script gets further than the cap allows.
  TestAllocator watch;
  Machine unlimited(Options{.output = out.sink(), .alloc = TestAllocator::fn, .alloc_user = &watch});
  std::string shorter = "New s 'abcdefghijklmnopqrstuvwxyz0123456789'\n";
  for (int i = 0; i < 20; ++i) shorter += "New s \"s s++ s\"\n";
  EXPECT_EQ(unlimited.run(shorter).ending, Ending::finished);
  EXPECT_GT(watch.peak, std::size_t{16} << 20);
}

TEST(VmEmbedding, EscapeSetsHideTheRest) {
  StringSink out;
  Machine m(Options{.output = out.sink(), .escapes = consoleEscapes()});
  EXPECT_EQ(m.run("New m 'ok'\nNew ARG1 'm'\nEscape Print\n").ending, Ending::finished);
  EXPECT_EQ(out.text, "ok\n");
  for (const char* name : {"Fread", "SpawnProc", "Exit", "Chcwd", "Random"}) {
    Outcome o = m.run(std::string("Escape ") + name + "\n");
    EXPECT_EQ(o.ending, Ending::failed) << name;
    EXPECT_EQ(o.error, Error::UnknownEscape) << name;
  }
  Machine sandbox(Options{.output = out.sink(), .escapes = sandboxEscapes()});
  EXPECT_EQ(sandbox.run("Escape Random\nEscape Time\n").ending, Ending::finished);
  EXPECT_EQ(sandbox.run("Escape Gcwd\n").error, Error::UnknownEscape);
}

TEST(VmEmbedding, EveryAllocationFailureIsOutOfMemory) {
  // Fail each allocation of a small run in turn: every run ends cleanly.
  const std::string script =
      "New a 'one'\nFunc f\nNew b \"a s++ a\"\nEnd\nCall f\nNew ARG1 'b'\nEscape Print\n";
  test_support::expectEveryAllocationFailureIsOutOfMemory<Machine, Options>(script, "oneone\n");
}

// The cap is charged with the sizes asked for, so no rounding by the C library's allocator
// can let the held bytes pass it. Caps near these once let a run take hundreds of megabytes.
TEST(VmEmbedding, NoCapIsPassedWhateverItsValue) {
  std::string script = "New s 'abcdefghijklmnopqrstuvwxyz0123456789'\n";
  for (int i = 0; i < 40; ++i) script += "New s \"s s++ s\"\n";
  for (std::size_t cap = 700'000; cap < 700'048; ++cap) {
    StringSink out;
    TestAllocator alloc;
    Machine m(Options{.output = out.sink(), .memory_cap = cap, .alloc = TestAllocator::fn, .alloc_user = &alloc});
    EXPECT_EQ(m.run(script).error, Error::OutOfMemory) << cap;
    EXPECT_LE(alloc.peak, cap);
  }
}
