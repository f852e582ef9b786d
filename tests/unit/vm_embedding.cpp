// The machine as an embedder uses it: in-process runs with a sink, caps and escape sets.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "embedding.hpp"
#include "escapes/table.hpp"
#include "machine.hpp"

using namespace zandle;
using namespace zandle::vm;

using zandle::test_support::StringSink;

TEST(VmEmbedding, OutputGoesToTheSinkAndRunsAreIndependent) {
  for (int round = 0; round < 2; ++round) {
    StringSink out;
    Machine m(Options{.output = &out});
    Outcome o = m.runProtected("New n 'x'\nNew n \"n s++ n\"\nNew ARG1 'n'\nEscape Print\n");
    EXPECT_EQ(o.kind, Outcome::Kind::finished);
    EXPECT_EQ(out.text, "xx\n");
  }
}

TEST(VmEmbedding, FailuresAndHaltsAreOutcomes) {
  StringSink out;
  Machine failing(Options{.output = &out});
  Outcome o = failing.runProtected("New x missing\n");
  EXPECT_EQ(o.kind, Outcome::Kind::failed);
  EXPECT_EQ(o.error, Error::UnknownVariable);

  Machine exiting(Options{.output = &out});
  o = exiting.runProtected("New m 'a'\nEscape Exit\nNew x missing\n");
  EXPECT_EQ(o.kind, Outcome::Kind::halted);
  EXPECT_EQ(o.halt.reason, Halt::Reason::exit);
  EXPECT_EQ(o.halt.status, 0);
}

TEST(VmEmbedding, InstructionCapIsALowerBudget) {
  StringSink out;
  Machine m(Options{.output = &out, .instruction_cap = 10});
  std::string script;
  for (int i = 0; i < 10; ++i) script += "x\n";
  EXPECT_EQ(m.runProtected(script).kind, Outcome::Kind::finished);
  Outcome o = m.runProtected("x\n");
  EXPECT_EQ(o.kind, Outcome::Kind::halted);
  EXPECT_EQ(o.halt.reason, Halt::Reason::budget);
  EXPECT_EQ(out.text, "VM: FATAL: INSTRUCTION LIMIT REACHED\n");
}

TEST(VmEmbedding, MemoryCapIsOutOfMemory) {
  StringSink out;
  std::string script = "New s 'abcdefghijklmnopqrstuvwxyz0123456789'\n";
  for (int i = 0; i < 40; ++i) script += "New s \"s s++ s\"\n";
  Machine m(Options{.output = &out, .memory_cap = 16u << 20});
  Outcome o = m.runProtected(script);
  EXPECT_EQ(o.kind, Outcome::Kind::failed);
  EXPECT_EQ(o.error, Error::OutOfMemory);
  // Without the cap the same script gets further than the cap allows.
  MemoryBudget watch;
  {
    MemoryScope scope(&watch);
    Machine unlimited(Options{.output = &out});
    std::string shorter = "New s 'abcdefghijklmnopqrstuvwxyz0123456789'\n";
    for (int i = 0; i < 20; ++i) shorter += "New s \"s s++ s\"\n";
    EXPECT_EQ(unlimited.runProtected(shorter).kind, Outcome::Kind::finished);
  }
  EXPECT_GT(watch.peak, std::size_t{16} << 20);
}

TEST(VmEmbedding, EscapeSetsHideTheRest) {
  StringSink out;
  Machine m(Options{.output = &out, .escapes = consoleEscapes()});
  EXPECT_EQ(m.runProtected("New m 'ok'\nNew ARG1 'm'\nEscape Print\n").kind, Outcome::Kind::finished);
  EXPECT_EQ(out.text, "ok\n");
  for (const char* name : {"Fread", "SpawnProc", "Exit", "Chcwd", "Random"}) {
    Outcome o = m.runProtected(std::string("Escape ") + name + "\n");
    EXPECT_EQ(o.kind, Outcome::Kind::failed) << name;
    EXPECT_EQ(o.error, Error::UnknownEscape) << name;
  }
  Machine sandbox(Options{.output = &out, .escapes = sandboxEscapes()});
  EXPECT_EQ(sandbox.runProtected("Escape Random\nEscape Time\n").kind, Outcome::Kind::finished);
  EXPECT_EQ(sandbox.runProtected("Escape Gcwd\n").error, Error::UnknownEscape);
  EXPECT_EQ(escapeBit("NoSuchEscape"), 0u);
  EXPECT_EQ(allEscapes(), (1u << 17) - 1);
}

TEST(VmEmbedding, EveryAllocationFailureIsOutOfMemory) {
  // Fail each allocation of a small run in turn: every run ends cleanly.
  const std::string script =
      "New a 'one'\nFunc f\nNew b \"a s++ a\"\nEnd\nCall f\nNew ARG1 'b'\nEscape Print\n";
  test_support::expectEveryAllocationFailureIsOutOfMemory<Machine, Options>(script, "oneone\n");
}
