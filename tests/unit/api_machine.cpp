// The C interface as a host uses it, on both kinds of machine: options, runs and their
// outcomes, variables, host escapes, the allowed set, allocation, and misuse.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "host_io.hpp"
#include "test_memory.hpp"
#include "zandle/zandle.h"

namespace {

using zandle::test_support::Input;
using zandle::test_support::setText;
using zandle::test_support::textOf;
using zandle::test_support::Output;
using zandle::test_support::TestAllocator;

// A machine with its output captured; freed at the end of the test.
struct Host {
  explicit Host(zandle_kind kind, zandle_options* given = nullptr) {
    zandle_options o;
    zandle_options_init(&o);
    if (given != nullptr) o = *given;
    o.output = Output::write;
    o.output_user = &out;
    status = zandle_new(kind, &o, &m);
  }
  ~Host() { zandle_free(m); }
  zandle_status run(const std::string& text, const char* name = "script.znd") {
    return zandle_run(m, text.data(), text.size(), name, std::strlen(name));
  }
  std::string get(const char* name) const { return textOf(m, name); }
  zandle_status set(const char* name, const std::string& text) { return setText(m, name, text); }
  zandle_machine* m = nullptr;
  zandle_status status;
  Output out;
};

const char* const zndvm_print = "New __Escape_std.io.print_ARG0 'v'\nEscape std.io.print\n";

TEST(CApi, HelloOnBothMachines) {
  Host vm(ZANDLE_VM);
  ASSERT_EQ(vm.status, ZANDLE_OK);
  EXPECT_EQ(zandle_machine_kind(vm.m), ZANDLE_VM);
  EXPECT_EQ(vm.run("New v 'hello'\nNew ARG1 'v'\nEscape Print\n"), ZANDLE_OK);
  EXPECT_EQ(vm.out.text, "hello\n");
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(z.status, ZANDLE_OK);
  EXPECT_EQ(z.run(std::string("New v \"6 * 7\"\n") + zndvm_print), ZANDLE_OK);
  EXPECT_EQ(z.out.text, "42\n");
  EXPECT_STREQ(zandle_error_name(z.m), "");
  EXPECT_EQ(zandle_exit_status(z.m), 0);
}

TEST(CApi, InputComesFromTheHostsReadFunction) {
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    Input in{"first\nsecond\n"};
    zandle_options o;
    zandle_options_init(&o);
    o.input = Input::read;
    o.input_user = &in;
    Host h(kind, &o);
    ASSERT_EQ(h.status, ZANDLE_OK);
    const std::string script = kind == ZANDLE_VM ? "Escape Input\nEscape Input\n"
                                                 : "Escape std.io.input\nEscape std.io.input\n";
    EXPECT_EQ(h.run(script), ZANDLE_OK);
    EXPECT_EQ(h.get(kind == ZANDLE_VM ? "input" : "__Escape_std.io.input_RET0"), "second");
    EXPECT_EQ(h.run(kind == ZANDLE_VM ? "Escape Input\n" : "Escape std.io.input\n"), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(h.m), "EndOfStream");
  }
}

TEST(CApi, FailuresAreNamedAndPlacedWithTheirCalls) {
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    Host h(kind);
    const std::string script =
        "Func inner\nNew y missing\nEnd\nFunc outer\nNew x 'a'\nCall inner\nEnd\nCall outer\n";
    ASSERT_EQ(h.run(script, "calls.znd"), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(h.m), "UnknownVariable");
    EXPECT_EQ(zandle_exit_status(h.m), 1);
    zandle_place at{};
    ASSERT_EQ(zandle_where(h.m, &at), ZANDLE_OK);
    EXPECT_EQ(std::string(at.source, at.source_len), "calls.znd");
    EXPECT_EQ(at.line, 2u);
    EXPECT_EQ(std::string(at.text, at.text_len), "New y missing");
    ASSERT_EQ(zandle_active_call_count(h.m), 2u);
    const char* f = nullptr;
    std::size_t n = 0;
    zandle_place from{};
    ASSERT_EQ(zandle_active_call(h.m, 0, &f, &n, &from), ZANDLE_OK);
    EXPECT_EQ(std::string(f, n), "inner");
    EXPECT_EQ(from.line, 6u);
    ASSERT_EQ(zandle_active_call(h.m, 1, &f, &n, &from), ZANDLE_OK);
    EXPECT_EQ(std::string(f, n), "outer");
    EXPECT_EQ(std::string(from.text, from.text_len), "Call outer");
    EXPECT_EQ(zandle_active_call(h.m, 2, &f, &n, &from), ZANDLE_NOT_FOUND);
    // A finished run has no place.
    EXPECT_EQ(h.run("New q 'ok'\n"), ZANDLE_OK);
    zandle_where(h.m, &at);
    EXPECT_EQ(at.line, 0u);
    EXPECT_EQ(zandle_active_call_count(h.m), 0u);
  }
}

TEST(CApi, HaltsSayWhatEndedThem) {
  zandle_options all;
  zandle_options_init(&all);
  all.escapes = "all";
  Host vm(ZANDLE_VM, &all);
  std::string calls = "Func f\nCall f\nEnd\nCall f\n";
  EXPECT_EQ(vm.run(calls), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(vm.m), ZANDLE_HALT_CALL);
  EXPECT_EQ(zandle_exit_status(vm.m), 1);
  // A halt is a status and a reason; nothing of it goes into the host's output.
  EXPECT_EQ(vm.out.text, "");
  EXPECT_EQ(vm.run("Escape Exit\n"), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(vm.m), ZANDLE_HALT_EXIT);
  EXPECT_EQ(zandle_exit_status(vm.m), 0);

  zandle_options o;
  zandle_options_init(&o);
  o.instruction_cap = 1000;
  Host z(ZANDLE_ZNDVM, &o);
  EXPECT_EQ(z.run("Func f\nNew x '1'\nCall f\nEnd\nCall f\n"), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(z.m), ZANDLE_HALT_INSTRUCTION_CAP);
  EXPECT_STREQ(zandle_error_name(z.m), "");
  o.instruction_cap = 50;
  Host capped_vm(ZANDLE_VM, &o);
  std::string lines;
  for (int i = 0; i < 60; ++i) lines += "x\n";  // unknown keywords: instructions and nothing else
  EXPECT_EQ(capped_vm.run(lines), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(capped_vm.m), ZANDLE_HALT_INSTRUCTION_CAP);
  EXPECT_EQ(z.out.text + capped_vm.out.text, "");
}

TEST(CApi, VariablesAsTextAndTyped) {
  Host vm(ZANDLE_VM);
  EXPECT_EQ(vm.set("greeting", "hi there"), ZANDLE_OK);
  EXPECT_EQ(vm.run("New both \"greeting s++ greeting\"\n"), ZANDLE_OK);
  EXPECT_EQ(vm.get("both"), "hi therehi there");
  EXPECT_EQ(vm.get("nothing"), "<unset>");
  std::uint64_t w = 0;
  EXPECT_EQ(zandle_get_word(vm.m, "both", 4, &w), ZANDLE_UNSUPPORTED);
  EXPECT_EQ(zandle_set_word(vm.m, "n", 1, 3), ZANDLE_UNSUPPORTED);

  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_set_word(z.m, "w", 1, 40), ZANDLE_OK);
  ASSERT_EQ(zandle_set_sword(z.m, "s", 1, -2), ZANDLE_OK);
  ASSERT_EQ(zandle_set_float(z.m, "f", 1, 0.5), ZANDLE_OK);
  ASSERT_EQ(z.set("t", "12"), ZANDLE_OK);  // text stays a str, however it reads
  EXPECT_EQ(z.run("New sum \"w + s + f\"\nNew joined \"t s++ t\"\n"), ZANDLE_OK);
  double f = 0;
  ASSERT_EQ(zandle_get_float(z.m, "sum", 3, &f), ZANDLE_OK);
  EXPECT_EQ(f, 38.5);
  EXPECT_EQ(z.get("sum"), "38.5");
  EXPECT_EQ(z.get("w"), "40");
  zandle_type type;
  ASSERT_EQ(zandle_get_type(z.m, "t", 1, &type), ZANDLE_OK);
  EXPECT_EQ(type, ZANDLE_STR);
  EXPECT_EQ(zandle_get_word(z.m, "sum", 3, &w), ZANDLE_WRONG_TYPE);
  EXPECT_EQ(zandle_get_word(z.m, "w", 1, &w), ZANDLE_OK);
  EXPECT_EQ(w, 40u);
  std::int64_t s = 0;
  EXPECT_EQ(zandle_get_sword(z.m, "s", 1, &s), ZANDLE_OK);
  EXPECT_EQ(s, -2);
  EXPECT_EQ(zandle_get_word(z.m, "none", 4, &w), ZANDLE_NOT_FOUND);
  EXPECT_EQ(z.get("joined"), "1212");
}

TEST(CApi, RunsAgainAndCallsRecordedFunctions) {
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    Host h(kind);
    ASSERT_EQ(h.run("New n '0'\nFunc bump\nNew n \"n + 1\"\nEnd\n"), ZANDLE_OK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(zandle_call(h.m, "bump", 4), ZANDLE_OK);
    EXPECT_EQ(h.get("n"), "3");
    EXPECT_EQ(zandle_call(h.m, "nope", 4), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(h.m), "UnknownFunction");
    // An unfinished Func records nothing; the next run runs.
    EXPECT_EQ(h.run("Func bump\nNew n '100'\n"), ZANDLE_OK);
    EXPECT_EQ(zandle_call(h.m, "bump", 4), ZANDLE_OK);
    EXPECT_EQ(h.get("n"), "4");
  }
}

// A host escape that reads its argument, stores a result and counts its calls.
struct Shout {
  int calls = 0;
  static int run(zandle_machine* m, void* user) {
    auto* self = static_cast<Shout*>(user);
    ++self->calls;
    const bool vm = zandle_machine_kind(m) == ZANDLE_VM;
    const char* text = nullptr;
    std::size_t len = 0;
    const zandle_status got = zandle_escape_arg(m, vm ? 1 : 0, &text, &len);
    if (got == ZANDLE_OUT_OF_MEMORY) return got;
    if (got != ZANDLE_OK) return zandle_escape_fail(m, "NoArgument", 10);
    std::string loud(text, len);
    for (char& c : loud) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (loud == "BOOM") return zandle_escape_fail(m, "Boom", 4);
    if (loud == "BAD") return zandle_escape_fail(m, "not a name", 10);
    if (loud == "SILENT") return 1;
    return vm ? zandle_set_text(m, "loud", 4, loud.data(), loud.size())
              : zandle_escape_result(m, 0, loud.data(), loud.size());
  }
};

TEST(CApi, HostEscapesFollowEachMachinesConvention) {
  Shout shout;
  Host vm(ZANDLE_VM);
  ASSERT_EQ(zandle_register_escape(vm.m, "Shout", 5, Shout::run, &shout), ZANDLE_OK);
  EXPECT_EQ(vm.run("New w 'hey'\nNew ARG1 'w'\nEscape Shout\n"), ZANDLE_OK);
  EXPECT_EQ(vm.get("loud"), "HEY");

  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_register_escape(z.m, "app.shout", 9, Shout::run, &shout), ZANDLE_OK);
  EXPECT_EQ(z.run("New w 'hey'\nNew __Escape_app.shout_ARG0 <w>\nEscape app.shout\n"), ZANDLE_OK);
  EXPECT_EQ(z.get("__Escape_app.shout_RET0"), "HEY");
  EXPECT_EQ(shout.calls, 2);
  // Outside an escape there is no argument to read.
  const char* t;
  std::size_t n;
  EXPECT_EQ(zandle_escape_arg(z.m, 0, &t, &n), ZANDLE_INVALID_ARGUMENT);
}

TEST(CApi, HostEscapesFailByNameOrAsEscapeFailed) {
  Shout shout;
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_register_escape(z.m, "app.shout", 9, Shout::run, &shout), ZANDLE_OK);
  EXPECT_EQ(z.run("Escape app.shout\n"), ZANDLE_FAILED);  // no argument given
  EXPECT_STREQ(zandle_error_name(z.m), "NoArgument");
  const std::string head = "New __Escape_app.shout_ARG0 'w'\n";
  EXPECT_EQ(z.run(head + "New w 'boom'\nNew after 'x'\nEscape app.shout\nNew never 'x'\n", "f.znd"), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(z.m), "Boom");
  zandle_place at{};
  zandle_where(z.m, &at);
  EXPECT_EQ(at.line, 4u);
  EXPECT_EQ(z.get("never"), "<unset>");
  EXPECT_EQ(z.run(head + "New w 'bad'\nEscape app.shout\n"), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(z.m), "EscapeFailed");
  EXPECT_EQ(z.run(head + "New w 'silent'\nEscape app.shout\n"), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(z.m), "EscapeFailed");
}

TEST(CApi, HostEscapesObeyTheAllowedSetAndShareTheLookup) {
  Shout shout;
  zandle_options o;
  zandle_options_init(&o);
  o.escapes = "console";
  Host z(ZANDLE_ZNDVM, &o);
  ASSERT_EQ(z.status, ZANDLE_OK);
  // Recorded before the escape exists, called after it is registered.
  ASSERT_EQ(z.run("New w 'a'\nNew __Escape_app.shout_ARG0 'w'\nFunc f\nEscape app.shout\nEnd\n"), ZANDLE_OK);
  EXPECT_EQ(zandle_call(z.m, "f", 1), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(z.m), "UnknownEscape");
  ASSERT_EQ(zandle_register_escape(z.m, "app.shout", 9, Shout::run, &shout), ZANDLE_OK);
  EXPECT_EQ(zandle_call(z.m, "f", 1), ZANDLE_OK);
  EXPECT_EQ(shout.calls, 1);
  // Withheld by name, it is unknown to scripts and never called.
  ASSERT_EQ(zandle_allow_escape(z.m, "app.shout", 9, 0), ZANDLE_OK);
  EXPECT_EQ(zandle_call(z.m, "f", 1), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(z.m), "UnknownEscape");
  EXPECT_EQ(shout.calls, 1);
  // The console preset withholds the rest of the library; one of them can be allowed back.
  EXPECT_EQ(z.run("Escape std.misc.random\n"), ZANDLE_FAILED);
  ASSERT_EQ(zandle_allow_escape(z.m, "std.misc.random", 15, 1), ZANDLE_OK);
  EXPECT_EQ(z.run("Escape std.misc.random\n"), ZANDLE_OK);
  // A host escape takes the place of a built-in one of its name, and removing it brings
  // the built-in back.
  ASSERT_EQ(zandle_register_escape(z.m, "std.io.print", 12, Shout::run, &shout), ZANDLE_OK);
  EXPECT_EQ(z.run("New w 'quiet'\nNew __Escape_std.io.print_ARG0 'w'\nEscape std.io.print\n"), ZANDLE_OK);
  EXPECT_EQ(z.out.text, "");
  EXPECT_EQ(z.get("__Escape_std.io.print_RET0"), "QUIET");
  ASSERT_EQ(zandle_register_escape(z.m, "std.io.print", 12, nullptr, nullptr), ZANDLE_OK);
  EXPECT_EQ(z.run("Escape std.io.print\n"), ZANDLE_OK);
  EXPECT_EQ(z.out.text, "quiet\n");
}

TEST(CApi, PresetsNameWhatScriptsMayReach) {
  for (const char* preset : {"console", "sandbox"}) {
    zandle_options o;
    zandle_options_init(&o);
    o.escapes = preset;
    Host vm(ZANDLE_VM, &o);
    ASSERT_EQ(vm.status, ZANDLE_OK);
    for (const char* name : {"Fread", "SpawnProc", "Exit", "Chcwd", "ListDir"}) {
      EXPECT_EQ(vm.run(std::string("Escape ") + name + "\n"), ZANDLE_FAILED) << name;
      EXPECT_STREQ(zandle_error_name(vm.m), "UnknownEscape");
    }
    EXPECT_EQ(vm.run("Escape Random\n"), std::string(preset) == "sandbox" ? ZANDLE_OK : ZANDLE_FAILED);
  }
  zandle_options o;
  zandle_options_init(&o);
  o.escapes = "everything";
  zandle_machine* m = reinterpret_cast<zandle_machine*>(1);
  EXPECT_EQ(zandle_new(ZANDLE_ZNDVM, &o, &m), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(m, nullptr);
}

TEST(CApi, EachMachineHasItsOwnAllocatorAndCap) {
  TestAllocator small_alloc, big_alloc;
  zandle_options small;
  zandle_options_init(&small);
  small.alloc = TestAllocator::fn;
  small.alloc_user = &small_alloc;
  small.memory_cap = 200000;
  zandle_options big = small;
  big.alloc_user = &big_alloc;
  big.memory_cap = 0;
  Host a(ZANDLE_ZNDVM, &small);
  Host b(ZANDLE_ZNDVM, &big);
  ASSERT_EQ(a.status, ZANDLE_OK);
  std::string grow = "New s 'xxxxxxxxxxxxxxxx'\n";
  for (int i = 0; i < 15; ++i) grow += "New s \"s s++ s\"\n";
  EXPECT_EQ(b.run(grow), ZANDLE_OK);  // half a megabyte, beside the small machine
  EXPECT_EQ(a.run(grow), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(a.m), "OutOfMemory");
  EXPECT_LE(small_alloc.peak, 200000u);
  EXPECT_GT(big_alloc.peak, 500000u);
  EXPECT_LE(zandle_memory_peak(a.m), 200000u);
  EXPECT_EQ(zandle_memory_used(a.m), small_alloc.held);
  EXPECT_EQ(a.run("New ok 'small things still fit'\n"), ZANDLE_OK);
  zandle_free(a.m);
  a.m = nullptr;
  EXPECT_EQ(small_alloc.held, 0u);
  // A cap below the machine's own size refuses the machine.
  small.memory_cap = 100;
  zandle_machine* m = nullptr;
  EXPECT_EQ(zandle_new(ZANDLE_VM, &small, &m), ZANDLE_OUT_OF_MEMORY);
  EXPECT_EQ(m, nullptr);
}

// Every allocation of a host's session fails in turn: each call says so by its status, and
// nothing is left behind.
TEST(CApi, EveryAllocationFailureIsAStatus) {
  Shout shout;
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    for (std::uint64_t n = 1;; ++n) {
      TestAllocator alloc;
      alloc.fail_at = n;
      zandle_options o;
      zandle_options_init(&o);
      o.alloc = TestAllocator::fn;
      o.alloc_user = &alloc;
      o.output = Output::write;
      Output out;
      o.output_user = &out;
      zandle_machine* m = nullptr;
      const zandle_status created = zandle_new(kind, &o, &m);
      bool complete = false;
      if (created == ZANDLE_OK) {
        const std::string script = kind == ZANDLE_VM
                                       ? "New w 'x'\nFunc f\nNew ARG1 'w'\nEscape Shout\nEnd\nCall f\n"
                                       : "New w 'x'\nFunc f\nNew __Escape_Shout_ARG0 'w'\nEscape Shout\nEnd\nCall f\n";
        const zandle_status r = zandle_register_escape(m, "Shout", 5, Shout::run, &shout);
        const zandle_status s = zandle_set_text(m, "v", 1, "value", 5);
        const zandle_status run = zandle_run(m, script.data(), script.size(), "s", 1);
        for (zandle_status st : {r, s}) EXPECT_TRUE(st == ZANDLE_OK || st == ZANDLE_OUT_OF_MEMORY) << n;
        EXPECT_TRUE(run == ZANDLE_OK || (run == ZANDLE_FAILED && std::string(zandle_error_name(m)) == "OutOfMemory" ) ||
                    (run == ZANDLE_FAILED && std::string(zandle_error_name(m)) == "UnknownEscape" && r != ZANDLE_OK))
            << n << " " << zandle_error_name(m);
        complete = r == ZANDLE_OK && s == ZANDLE_OK && run == ZANDLE_OK;
        zandle_free(m);
      } else {
        EXPECT_EQ(created, ZANDLE_OUT_OF_MEMORY);
        EXPECT_EQ(m, nullptr);
      }
      EXPECT_EQ(alloc.held, 0u) << n;
      if (complete && alloc.allocations < n) {
        EXPECT_GT(n, 20u);  // the walk went through the whole session
        break;
      }
      ASSERT_LT(n, 2000u);
    }
  }
}

// What a C caller can get wrong is a status, never a crash.
TEST(CApi, MisuseIsAStatus) {
  zandle_machine* m = nullptr;
  EXPECT_EQ(zandle_new(static_cast<zandle_kind>(7), nullptr, &m), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_new(ZANDLE_VM, nullptr, nullptr), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_run(nullptr, "x", 1, nullptr, 0), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_call(nullptr, "f", 1), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_set_text(nullptr, "a", 1, "b", 1), ZANDLE_INVALID_ARGUMENT);
  EXPECT_STREQ(zandle_error_name(nullptr), "");
  EXPECT_EQ(zandle_exit_status(nullptr), 1);
  EXPECT_EQ(zandle_active_call_count(nullptr), 0u);
  zandle_free(nullptr);
  zandle_options short_options;
  zandle_options_init(&short_options);
  short_options.struct_size = 0;
  EXPECT_EQ(zandle_new(ZANDLE_VM, &short_options, &m), ZANDLE_INVALID_ARGUMENT);

  Host h(ZANDLE_ZNDVM);
  EXPECT_EQ(zandle_run(h.m, nullptr, 5, nullptr, 0), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_run(h.m, nullptr, 0, nullptr, 0), ZANDLE_OK);  // the empty text
  EXPECT_EQ(zandle_set_text(h.m, nullptr, 3, "x", 1), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_get_text(h.m, "a", 1, nullptr, nullptr), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_register_escape(h.m, "", 0, Shout::run, nullptr), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_where(h.m, nullptr), ZANDLE_INVALID_ARGUMENT);
  const char* args[] = {"prog", nullptr};
  EXPECT_EQ(zandle_set_arguments(h.m, 2, args), ZANDLE_INVALID_ARGUMENT);
  EXPECT_EQ(zandle_set_arguments(h.m, -1, args), ZANDLE_INVALID_ARGUMENT);
}

// An escape may read and set variables, but not re-enter the machine.
struct Reenter {
  std::vector<zandle_status> seen;
  static int run(zandle_machine* m, void* user) {
    auto* self = static_cast<Reenter*>(user);
    self->seen.push_back(zandle_run(m, "New x 'y'\n", 10, nullptr, 0));
    self->seen.push_back(zandle_call(m, "f", 1));
    self->seen.push_back(zandle_set_arguments(m, 0, nullptr));
    self->seen.push_back(zandle_free(m));  // frees nothing while running
    self->seen.push_back(zandle_set_text(m, "inside", 6, "yes", 3));
    return 0;
  }
};

TEST(CApi, AnEscapeCannotReenterItsMachine) {
  Reenter reenter;
  Host h(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_register_escape(h.m, "app.reenter", 11, Reenter::run, &reenter), ZANDLE_OK);
  EXPECT_EQ(h.run("Escape app.reenter\n"), ZANDLE_OK);
  EXPECT_EQ(reenter.seen,
            (std::vector<zandle_status>{ZANDLE_BUSY, ZANDLE_BUSY, ZANDLE_BUSY, ZANDLE_BUSY, ZANDLE_OK}));
  EXPECT_EQ(h.get("inside"), "yes");
  EXPECT_EQ(h.run("New after 'free'\n"), ZANDLE_OK);
}

TEST(CApi, ArgumentsAndVersion) {
  Host h(ZANDLE_ZNDVM);
  const char* args[] = {"host", "one", "two words"};
  ASSERT_EQ(zandle_set_arguments(h.m, 3, args), ZANDLE_OK);
  EXPECT_EQ(h.get("VMARGC"), "3");
  EXPECT_EQ(h.get("VMARG2"), "two words");
  // The library a host links says the version of the header it was compiled against.
  EXPECT_EQ(std::string(zandle_version()), std::to_string(ZANDLE_VERSION_MAJOR) + "." +
                                                std::to_string(ZANDLE_VERSION_MINOR) + "." +
                                                std::to_string(ZANDLE_VERSION_PATCH));
}

// Two numbers read as text: each view keeps its own text.
struct Pair {
  std::string seen;
  static int run(zandle_machine* m, void* user) {
    const bool vm = zandle_machine_kind(m) == ZANDLE_VM;
    const char* a = nullptr;
    const char* b = nullptr;
    std::size_t na = 0, nb = 0;
    if (zandle_escape_arg(m, vm ? 1 : 0, &a, &na) != ZANDLE_OK) return 1;
    if (zandle_escape_arg(m, vm ? 2 : 1, &b, &nb) != ZANDLE_OK) return 1;
    // Reading other variables, numbers included, leaves the views alone.
    const char* other = nullptr;
    std::size_t n = 0;
    if (zandle_get_text(m, "third", 5, &other, &n) != ZANDLE_OK) return 1;
    auto* self = static_cast<Pair*>(user);
    self->seen = std::string(a, na) + "," + std::string(b, nb) + "," + std::string(other, n);
    return 0;
  }
};

TEST(CApi, EveryViewHasItsOwnStorage) {
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_set_word(z.m, "a", 1, 40), ZANDLE_OK);
  ASSERT_EQ(zandle_set_sword(z.m, "b", 1, -2), ZANDLE_OK);
  ASSERT_EQ(zandle_set_float(z.m, "c", 1, 0.25), ZANDLE_OK);
  ASSERT_EQ(z.set("d", "text"), ZANDLE_OK);
  const char* views[4];
  std::size_t sizes[4];
  const char* names[] = {"a", "b", "c", "d"};
  for (int i = 0; i < 4; ++i) ASSERT_EQ(zandle_get_text(z.m, names[i], 1, &views[i], &sizes[i]), ZANDLE_OK);
  // Reading one again, and setting another variable, keep them too.
  const char* again;
  std::size_t again_size;
  ASSERT_EQ(zandle_get_text(z.m, "a", 1, &again, &again_size), ZANDLE_OK);
  ASSERT_EQ(zandle_set_word(z.m, "e", 1, 123456789), ZANDLE_OK);
  ASSERT_EQ(zandle_get_text(z.m, "e", 1, &again, &again_size), ZANDLE_OK);
  const char* expected[] = {"40", "-2", "0.25", "text"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(std::string(views[i], sizes[i]), expected[i]) << names[i];

  // An escape's arguments, on both machines.
  Pair pair;
  ASSERT_EQ(zandle_register_escape(z.m, "app.pair", 8, Pair::run, &pair), ZANDLE_OK);
  ASSERT_EQ(z.run("New x '7'\nNew y '8'\nNew third '9'\nNew __Escape_app.pair_ARG0 'x'\n"
                  "New __Escape_app.pair_ARG1 'y'\nEscape app.pair\n"),
            ZANDLE_OK);
  EXPECT_EQ(pair.seen, "7,8,9");
  // The arguments name other variables now: the escape reads those.
  ASSERT_EQ(z.run("New __Escape_app.pair_ARG0 'y'\nNew __Escape_app.pair_ARG1 'x'\nEscape app.pair\n"), ZANDLE_OK);
  EXPECT_EQ(pair.seen, "8,7,9");
  Host vm(ZANDLE_VM);
  ASSERT_EQ(zandle_register_escape(vm.m, "Pair", 4, Pair::run, &pair), ZANDLE_OK);
  ASSERT_EQ(vm.run("New x '7'\nNew y '8'\nNew third '9'\nNew ARG1 'x'\nNew ARG2 'y'\nEscape Pair\n"), ZANDLE_OK);
  EXPECT_EQ(pair.seen, "7,8,9");

  // Where a run stopped and its calls, and the failure's name, stay until the next run,
  // whatever the host reads and sets in between.
  for (Host* h : {&z, &vm}) {
    ASSERT_EQ(h->run("Func f\nNew q missing\nEnd\nCall f\n", "views.znd"), ZANDLE_FAILED);
    const char* error = zandle_error_name(h->m);
    zandle_place at{}, from{};
    const char* function = nullptr;
    std::size_t function_len = 0;
    ASSERT_EQ(zandle_where(h->m, &at), ZANDLE_OK);
    ASSERT_EQ(zandle_active_call(h->m, 0, &function, &function_len, &from), ZANDLE_OK);
    for (int i = 0; i < 100; ++i) {
      const std::string name = "v" + std::to_string(i);
      ASSERT_EQ(h->set(name.c_str(), std::string(i, 'x')), ZANDLE_OK);
      (void)h->get(name.c_str());
    }
    EXPECT_STREQ(error, "UnknownVariable");
    EXPECT_EQ(std::string(at.source, at.source_len), "views.znd");
    EXPECT_EQ(std::string(at.text, at.text_len), "New q missing");
    EXPECT_EQ(std::string(function, function_len), "f");
    EXPECT_EQ(std::string(from.text, from.text_len), "Call f");
  }
}

// Views an escape hands out end when it returns, so a host escape called many times in a
// run holds no more memory at the end than after a few calls.
TEST(CApi, EscapeViewsDoNotAccumulate) {
  Pair pair;
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_register_escape(z.m, "app.pair", 8, Pair::run, &pair), ZANDLE_OK);
  ASSERT_EQ(z.run("New x '0'\nNew third '0.5'\nNew __Escape_app.pair_ARG0 'x'\nNew __Escape_app.pair_ARG1 'x'\n"
                  "Func loop\nNew x \"x + 1\"\nEscape app.pair\nIf loop \"x < n\"\nEnd\n"),
            ZANDLE_OK);
  ASSERT_EQ(zandle_set_word(z.m, "n", 1, 10), ZANDLE_OK);
  ASSERT_EQ(zandle_call(z.m, "loop", 4), ZANDLE_OK);
  const std::size_t after_few = zandle_memory_used(z.m);
  ASSERT_EQ(zandle_set_word(z.m, "n", 1, 100000), ZANDLE_OK);
  ASSERT_EQ(zandle_call(z.m, "loop", 4), ZANDLE_OK);
  EXPECT_EQ(pair.seen, "100000,100000,0.5");
  EXPECT_EQ(zandle_memory_used(z.m), after_few);
}

// A struct_size must be one of a released layout: anything else could be read past its end
// or give another preset than the host meant.
TEST(CApi, OnlyReleasedOptionLayoutsAreAccepted) {
  for (std::size_t size : {std::size_t{0}, std::size_t{4}, std::size_t{12}, offsetof(zandle_options, escapes),
                           sizeof(zandle_options) - 1, sizeof(zandle_options) + 8}) {
    zandle_options o;
    zandle_options_init(&o);
    o.struct_size = size;
    zandle_machine* m = reinterpret_cast<zandle_machine*>(1);
    EXPECT_EQ(zandle_new(ZANDLE_ZNDVM, &o, &m), ZANDLE_INVALID_ARGUMENT) << size;
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(zandle_new(ZANDLE_VM, &o, &m), ZANDLE_INVALID_ARGUMENT) << size;
    EXPECT_EQ(zandle_options_init_sized(&o, size), ZANDLE_INVALID_ARGUMENT) << size;
  }
  // A host built against 0.4.0 calls the function by that name, which fills that layout and
  // writes nothing past it; the machine it asks for then works.
  constexpr std::size_t old_layout = offsetof(zandle_options, call_depth_max);
  zandle_options o;
  std::memset(&o, 0xab, sizeof o);
  (zandle_options_init)(&o);
  EXPECT_EQ(o.struct_size, old_layout);
  EXPECT_EQ(o.escapes, nullptr);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&o)[old_layout], 0xab);
  zandle_machine* m = nullptr;
  ASSERT_EQ(zandle_new(ZANDLE_ZNDVM, &o, &m), ZANDLE_OK);
  EXPECT_EQ(zandle_run(m, "New x '1'\n", 10, nullptr, 0), ZANDLE_OK);
  zandle_free(m);
}

// Standard input for one test: a pipe that holds `text`, in place of descriptor 0.
class StdinPipe {
 public:
  explicit StdinPipe(const std::string& text) : saved_(::dup(0)) {
    int fds[2];
    if (::pipe(fds) != 0 || ::write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      std::abort();
    }
    ::close(fds[1]);
    ::dup2(fds[0], 0);
    ::close(fds[0]);
  }
  ~StdinPipe() {
    ::dup2(saved_, 0);
    ::close(saved_);
  }

 private:
  int saved_;
};

std::string workingDirectory() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

// Without options, or without a preset, a script reaches nothing outside the process: no
// file, no process, no change of directory, no exit, no terminal, no standard input.
TEST(CApi, WithoutAPresetScriptsAreSandboxed) {
  StdinPipe in("secret\n");
  const std::string cwd = workingDirectory();
  const char* const vm_attempts[] = {
      "New f 'README.md'\nNew ARG1 'f'\nEscape Fread\n", "New c 'true'\nNew ARG1 'c'\nEscape SpawnProc\n",
      "New d '/'\nNew ARG1 'd'\nEscape Chcwd\n", "Escape Exit\n"};
  const char* const zndvm_attempts[] = {
      "New f 'README.md'\nNew __Escape_std.fs.file.read_ARG0 'f'\nEscape std.fs.file.read\n",
      "New c 'true'\nNew __Escape_std.proc.spawn_ARG0 'c'\nEscape std.proc.spawn\n",
      "New d '/'\nNew __Escape_std.fs.dir.change_ARG0 'd'\nEscape std.fs.dir.change\n", "Escape std.proc.exit\n",
      "Escape std.term.screen.clear\n"};
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    for (bool given : {false, true}) {
      zandle_options o;
      zandle_options_init(&o);
      zandle_machine* m = nullptr;
      ASSERT_EQ(zandle_new(kind, given ? &o : nullptr, &m), ZANDLE_OK);
      for (const char* script : kind == ZANDLE_VM ? std::vector<const char*>(std::begin(vm_attempts), std::end(vm_attempts))
                                                   : std::vector<const char*>(std::begin(zndvm_attempts), std::end(zndvm_attempts))) {
        EXPECT_EQ(zandle_run(m, script, std::strlen(script), nullptr, 0), ZANDLE_FAILED) << script;
        EXPECT_STREQ(zandle_error_name(m), "UnknownEscape") << script;
      }
      const std::string input = kind == ZANDLE_VM ? "Escape Input\n" : "Escape std.io.input\n";
      EXPECT_EQ(zandle_run(m, input.data(), input.size(), nullptr, 0), ZANDLE_FAILED);
      EXPECT_STREQ(zandle_error_name(m), "EndOfStream");
      zandle_free(m);
    }
  }
  EXPECT_EQ(workingDirectory(), cwd);
  // The console preset reads the line the sandboxes left.
  zandle_options o;
  zandle_options_init(&o);
  o.escapes = "console";
  Host console(ZANDLE_ZNDVM, &o);
  EXPECT_EQ(console.run("Escape std.io.input\n"), ZANDLE_OK);
  EXPECT_EQ(console.get("__Escape_std.io.input_RET0"), "secret");
}

// Recursion that does not end stops at a depth of calls, by default and as a host sets it,
// on both machines; up to that depth it runs.
TEST(CApi, CallDepthIsBounded) {
  const std::string down = "Func down\nNew d \"d - 1\"\nIf down \"d > 0\"\nNew after '1'\nEnd\n";
  auto descend = [](Host& h, const char* depth) {
    EXPECT_EQ(h.set("d", depth), ZANDLE_OK);
    return zandle_call(h.m, "down", 4);
  };
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(z.run(down), ZANDLE_OK);
  EXPECT_EQ(descend(z, "200000"), ZANDLE_OK);
  EXPECT_EQ(descend(z, "200001"), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(z.m), ZANDLE_HALT_CALL_STACK);
  EXPECT_EQ(zandle_active_call_count(z.m), 200000u);
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    zandle_options o;
    zandle_options_init(&o);
    o.call_depth_max = 10;
    Host h(kind, &o);
    ASSERT_EQ(h.run(down), ZANDLE_OK);
    EXPECT_EQ(descend(h, "10"), ZANDLE_OK);
    EXPECT_EQ(descend(h, "11"), ZANDLE_HALTED);
    EXPECT_EQ(zandle_halt_reason(h.m), ZANDLE_HALT_CALL_STACK);
  }
  // vm's calls do not nest on the host's stack: with its budgets lifted, a recursion far
  // deeper than a thread's stack could hold as C frames runs to the bound the host set.
  zandle_options o;
  zandle_options_init(&o);
  o.vm_budget_instructions = o.vm_budget_new = o.vm_budget_func = o.vm_budget_call = UINT32_MAX;
  o.call_depth_max = 300000;
  Host vm(ZANDLE_VM, &o);
  ASSERT_EQ(vm.run("Func down\nNew d \"d - 1\"\nIf down \"d > 0\"\nNew after '1'\nEnd\n"), ZANDLE_OK);
  EXPECT_EQ(descend(vm, "300000"), ZANDLE_OK);
  EXPECT_EQ(descend(vm, "300001"), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(vm.m), ZANDLE_HALT_CALL_STACK);
  EXPECT_EQ(vm.out.text, "");
}

// Each of vm's budgets is the machine's own: a host lowers or raises it, and 0 keeps the
// built-in one. maximum + 1 events run; the next halts the run.
TEST(CApi, VmBudgetsAreOptions) {
  auto repeated = [](const char* line, int n) {
    std::string text = "Func f\nEnd\n";
    for (int i = 0; i < n; ++i) text += line;
    return text;
  };
  zandle_options o;
  zandle_options_init(&o);
  Host builtin(ZANDLE_VM, &o);
  EXPECT_EQ(builtin.run(repeated("Escape Random\n", 101)), ZANDLE_OK);
  EXPECT_EQ(builtin.run(repeated("Escape Random\n", 102)), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(builtin.m), ZANDLE_HALT_ESCAPE);
  o.vm_budget_call = 5;
  o.vm_budget_escape = 1000;
  o.vm_budget_new = 20000;
  Host tuned(ZANDLE_VM, &o);
  EXPECT_EQ(tuned.run(repeated("Call f\n", 6)), ZANDLE_OK);
  EXPECT_EQ(tuned.run(repeated("Call f\n", 7)), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(tuned.m), ZANDLE_HALT_CALL);
  EXPECT_EQ(tuned.run(repeated("Escape Random\n", 1001)), ZANDLE_OK);
  EXPECT_EQ(tuned.run(repeated("Escape Random\n", 1002)), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(tuned.m), ZANDLE_HALT_ESCAPE);
  EXPECT_EQ(tuned.run(repeated("New x 'y'\n", 20001)), ZANDLE_OK);
  EXPECT_EQ(tuned.run(repeated("New x 'y'\n", 20002)), ZANDLE_HALTED);
  EXPECT_EQ(zandle_halt_reason(tuned.m), ZANDLE_HALT_NEW);
}

TEST(CApi, NamesNoScriptCanWriteAndEscapeCallsOutsideEscapesAreRefused) {
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    Host h(kind);
    for (const std::string& name : {std::string("a b"), std::string("a\nb"), std::string("a\0b", 3),
                                    std::string("tab\t"), std::string("")}) {
      EXPECT_EQ(zandle_register_escape(h.m, name.data(), name.size(), Shout::run, nullptr), ZANDLE_INVALID_ARGUMENT);
      EXPECT_EQ(zandle_allow_escape(h.m, name.data(), name.size(), 1), ZANDLE_INVALID_ARGUMENT);
    }
    EXPECT_EQ(zandle_register_escape(h.m, "app.ok-name_1", 13, Shout::run, nullptr), ZANDLE_OK);
    EXPECT_EQ(zandle_set_text(h.m, "", 0, "x", 1), ZANDLE_INVALID_ARGUMENT);
    EXPECT_EQ(zandle_set_text(h.m, "x", 0, "x", 1), ZANDLE_INVALID_ARGUMENT);
    // Arguments, results and named failures belong to a running escape.
    ASSERT_EQ(h.run("New v 'x'\nNew ARG1 'v'\nNew __Escape_e_ARG0 'v'\nNew y missing\n"), ZANDLE_FAILED);
    const char* text = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(zandle_escape_arg(h.m, kind == ZANDLE_VM ? 1 : 0, &text, &len), ZANDLE_INVALID_ARGUMENT);
    EXPECT_EQ(zandle_escape_result(h.m, 0, "r", 1), ZANDLE_INVALID_ARGUMENT);
    EXPECT_EQ(zandle_escape_fail(h.m, "Late", 4), ZANDLE_INVALID_ARGUMENT);
    EXPECT_STREQ(zandle_error_name(h.m), "UnknownVariable");
  }
  Host z(ZANDLE_ZNDVM);
  EXPECT_EQ(zandle_set_word(z.m, "", 0, 1), ZANDLE_INVALID_ARGUMENT);
}

// A child a script started and never waited for is reaped when its machine is freed.
TEST(CApi, FreeingAMachineReapsTheChildrenItLeft) {
  for (zandle_kind kind : {ZANDLE_VM, ZANDLE_ZNDVM}) {
    zandle_options o;
    zandle_options_init(&o);
    o.escapes = "all";
    Host h(kind, &o);
    const bool vm = kind == ZANDLE_VM;
    ASSERT_EQ(h.run(vm ? "New c 'true'\nNew ARG1 'c'\nEscape SpawnProc\n"
                       : "New c 'true'\nNew __Escape_std.proc.spawn_ARG0 'c'\nEscape std.proc.spawn\n"),
              ZANDLE_OK);
    const auto pid = static_cast<pid_t>(std::stol(h.get(vm ? "pid" : "__Escape_std.proc.spawn_RET0")));
    // Wait for it to end, leaving it to be reaped.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
    zandle_free(h.m);
    h.m = nullptr;
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
}

}  // namespace
