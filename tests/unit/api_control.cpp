// Keeping control through the C interface, on both kinds of machine: runs in slices, pauses
// seen from the host, interrupts from threads and signal handlers, deadlines, pauses asked
// for by host escapes, waits given up and taken up again, snapshots restored into new
// machines, snapshots refused, the pure preset, and running out of memory on the way.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host_io.hpp"
#include "test_memory.hpp"
#include "zandle/zandle.h"

namespace {

using zandle::test_support::Input;
using zandle::test_support::setText;
using zandle::test_support::textOf;
using zandle::test_support::TestAllocator;
using Clock = std::chrono::steady_clock;

constexpr zandle_kind both[] = {ZANDLE_VM, ZANDLE_ZNDVM};

// Generous bounds: a pause that comes at all comes within milliseconds; these only tell a
// pause from a run that went on to its end.
constexpr auto soon = std::chrono::seconds(2);

int collect(void* user, const char* bytes, std::size_t size) {
  static_cast<std::string*>(user)->append(bytes, size);
  return 0;
}

zandle_options defaults() {
  zandle_options o;
  zandle_options_init(&o);
  return o;
}

// vm's budgets lifted, so that a recursion without end runs until something pauses it.
zandle_options unbounded(zandle_options o = defaults()) {
  o.vm_budget_instructions = o.vm_budget_new = o.vm_budget_func = o.vm_budget_call = UINT32_MAX;
  o.call_depth_max = UINT32_MAX;
  return o;
}

// A machine with its output captured.
struct Host {
  explicit Host(zandle_kind kind, zandle_options o = defaults()) {
    o.output = collect;
    o.output_user = &out;
    status = zandle_new(kind, &o, &m);
  }
  ~Host() { zandle_free(m); }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;
  zandle_status run(const std::string& text) { return zandle_run(m, text.data(), text.size(), "s.znd", 5); }
  std::string get(const char* name) const { return textOf(m, name); }
  zandle_status set(const char* name, const std::string& text) { return setText(m, name, text); }
  std::string snapshot() const {
    const void* bytes = nullptr;
    std::size_t size = 0;
    if (zandle_snapshot(m, &bytes, &size) != ZANDLE_OK) return "<none>";
    return std::string(static_cast<const char*>(bytes), size);
  }
  zandle_status restore(const std::string& bytes) { return zandle_restore(m, bytes.data(), bytes.size()); }
  std::uint32_t line() const {
    zandle_place at{};
    zandle_where(m, &at);
    return at.line;
  }
  zandle_machine* m = nullptr;
  zandle_status status;
  std::string out;
};

std::string print(zandle_kind kind, const char* var) {
  return kind == ZANDLE_VM ? std::string("New ARG1 '") + var + "'\nEscape Print\n"
                           : std::string("New __Escape_std.io.print_ARG0 '") + var + "'\nEscape std.io.print\n";
}

// A loop without end: a tail call on zndvm, a recursion on vm (which has no other loop).
const std::string endless = "New n '0'\nFunc loop\nNew n \"n + 1\"\nCall loop\nEnd\nCall loop\n";

// How far the loop got (0 before its first line).
std::uint64_t counted(const Host& h) {
  const std::string n = h.get("n");
  return n == "<unset>" ? 0 : std::stoull(n);
}

// Two calls deep, printing, and reading a variable the host sets.
std::string nested(zandle_kind kind) {
  return "New n '0'\n"                      // 1
         "Func inner\n"                     // 2
         "New n \"n + 1\"\n"                // 3
         "End\n"                            // 4
         "Func outer\n"                     // 5
         "Call inner\n"                     // 6
         "Call inner\n"                     // 7
         "End\n"                            // 8
         "Call outer\n" +                   // 9
         print(kind, "n") +                 // 10, 11
         "New copy fromhost\n" +            // 12
         print(kind, "copy");               // 13, 14
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    out.push_back(text.substr(start, nl - start));
  }
  return out;
}

TEST(Control, ARunInSlicesIsTheWholeRunAndItsPausesAreVisible) {
  for (zandle_kind kind : both) {
    const std::string script = nested(kind);
    const std::vector<std::string> text = lines(script);
    Host whole(kind);
    ASSERT_EQ(whole.set("fromhost", "H"), ZANDLE_OK);
    ASSERT_EQ(whole.run(script), ZANDLE_OK);
    ASSERT_EQ(whole.out, "2\nH\n");

    Host h(kind);
    ASSERT_EQ(zandle_set_slice(h.m, 1), ZANDLE_OK);
    zandle_status s = h.run(script);
    struct Seen {
      std::uint32_t line;
      std::string function;
      std::uint32_t from;
      std::size_t depth;
      bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (int pauses = 0; s == ZANDLE_PAUSED; ++pauses) {
      ASSERT_EQ(zandle_paused(h.m), 1);
      EXPECT_EQ(zandle_run(h.m, "New x '1'\n", 10, nullptr, 0), ZANDLE_BUSY);
      EXPECT_EQ(zandle_call(h.m, "inner", 5), ZANDLE_BUSY);
      // Variables can be read and set; the script reads what was set.
      EXPECT_NE(h.get("n"), "<unset>");
      if (pauses == 0) {
        ASSERT_EQ(h.set("fromhost", "H"), ZANDLE_OK);
      }
      zandle_place at{};
      ASSERT_EQ(zandle_where(h.m, &at), ZANDLE_OK);
      ASSERT_GE(at.line, 1u);
      ASSERT_LE(at.line, text.size());
      EXPECT_EQ(std::string(at.text, at.text_len), text[at.line - 1]);
      EXPECT_EQ(std::string(at.source, at.source_len), "s.znd");
      Seen here{at.line, "", 0, zandle_active_call_count(h.m)};
      if (here.depth != 0) {
        const char* f = nullptr;
        std::size_t n = 0;
        zandle_place from{};
        ASSERT_EQ(zandle_active_call(h.m, 0, &f, &n, &from), ZANDLE_OK);
        here.function.assign(f, n);
        here.from = from.line;
      }
      seen.push_back(here);
      s = zandle_resume(h.m);
    }
    ASSERT_EQ(s, ZANDLE_OK) << zandle_error_name(h.m);
    EXPECT_EQ(zandle_paused(h.m), 0);
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_INVALID_ARGUMENT);
    EXPECT_EQ(h.out, whole.out);
    EXPECT_EQ(h.get("n"), "2");
    EXPECT_GT(seen.size(), 10u);
    // Inside both calls of inner and inside outer, each where it was called from.
    for (const Seen& want : {Seen{3, "inner", 6, 2}, Seen{3, "inner", 7, 2}, Seen{7, "outer", 9, 1}}) {
      EXPECT_NE(std::find(seen.begin(), seen.end(), want), seen.end()) << kind << " line " << want.line;
    }
    // The same in a call the host makes.
    ASSERT_EQ(zandle_set_slice(h.m, 2), ZANDLE_OK);
    int pauses = 0;
    for (s = zandle_call(h.m, "outer", 5); s == ZANDLE_PAUSED; s = zandle_resume(h.m)) ++pauses;
    EXPECT_EQ(s, ZANDLE_OK);
    EXPECT_GT(pauses, 0);
    EXPECT_EQ(h.get("n"), "4");
  }
}

TEST(Control, DiscardDropsThePausedRunAndAnUnfinishedRecording) {
  for (zandle_kind kind : both) {
    Host h(kind);
    ASSERT_EQ(h.set("fromhost", "H"), ZANDLE_OK);
    ASSERT_EQ(zandle_set_slice(h.m, 1), ZANDLE_OK);
    // Paused inside inner: the functions recorded before stay.
    zandle_status s = h.run(nested(kind));
    while (s == ZANDLE_PAUSED && zandle_active_call_count(h.m) != 2) s = zandle_resume(h.m);
    ASSERT_EQ(s, ZANDLE_PAUSED);
    ASSERT_EQ(zandle_discard(h.m), ZANDLE_OK);
    EXPECT_EQ(zandle_paused(h.m), 0);
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_INVALID_ARGUMENT);
    EXPECT_EQ(h.out, "");
    ASSERT_EQ(zandle_set_slice(h.m, 0), ZANDLE_OK);
    const std::string before = h.get("n");
    EXPECT_EQ(zandle_call(h.m, "outer", 5), ZANDLE_OK);
    EXPECT_EQ(h.get("n"), std::to_string(std::stoi(before) + 2));
    // Paused while recording a new function: it is not recorded.
    ASSERT_EQ(zandle_set_slice(h.m, 2), ZANDLE_OK);
    ASSERT_EQ(h.run("Func fresh\nNew r '1'\nNew r '2'\nEnd\n"), ZANDLE_PAUSED);
    ASSERT_EQ(zandle_discard(h.m), ZANDLE_OK);
    ASSERT_EQ(zandle_set_slice(h.m, 0), ZANDLE_OK);
    EXPECT_EQ(zandle_call(h.m, "fresh", 5), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(h.m), "UnknownFunction");
    EXPECT_EQ(h.run("New after 'yes'\n"), ZANDLE_OK);
    EXPECT_EQ(h.get("after"), "yes");
  }
  // vm records the rest of a body after a Func run inside it: dropped, that recording leaves
  // the function whose body it was.
  Host vm(ZANDLE_VM);
  ASSERT_EQ(zandle_set_slice(vm.m, 1), ZANDLE_OK);
  zandle_status s = vm.run("Func h\nFunc inner\nNew a '1'\nNew b '2'\nEnd\nCall h\n");
  while (s == ZANDLE_PAUSED && (zandle_active_call_count(vm.m) != 1 || vm.line() != 4)) s = zandle_resume(vm.m);
  ASSERT_EQ(s, ZANDLE_PAUSED);
  ASSERT_EQ(zandle_discard(vm.m), ZANDLE_OK);
  ASSERT_EQ(zandle_set_slice(vm.m, 0), ZANDLE_OK);
  EXPECT_EQ(zandle_call(vm.m, "h", 1), ZANDLE_OK) << zandle_error_name(vm.m);
}

// The time from `interrupted` (set by whoever interrupts) to now.
Clock::duration since(const std::atomic<Clock::rep>& interrupted) {
  return Clock::now() - Clock::time_point(Clock::duration(interrupted.load()));
}

TEST(Control, AnInterruptFromAnotherThreadPausesLoopsAndSleeps) {
  for (zandle_kind kind : both) {
    Host h(kind, unbounded());
    std::atomic<Clock::rep> interrupted{0};
    std::thread t([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      interrupted = Clock::now().time_since_epoch().count();
      zandle_interrupt(h.m);
    });
    const zandle_status s = h.run(endless);
    const auto latency = since(interrupted);
    t.join();
    ASSERT_EQ(s, ZANDLE_PAUSED) << kind;
    EXPECT_LT(latency, soon);
    // It goes on from there and is paused again.
    const std::uint64_t before = counted(h);
    ASSERT_EQ(zandle_set_slice(h.m, 1000), ZANDLE_OK);
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_PAUSED);
    EXPECT_GT(counted(h), before);
  }
  // A sleep of a minute ends at once, and the script goes on after it on resuming.
  Host z(ZANDLE_ZNDVM);
  std::atomic<Clock::rep> interrupted{0};
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    interrupted = Clock::now().time_since_epoch().count();
    zandle_interrupt(z.m);
  });
  const auto started = Clock::now();
  const zandle_status s =
      z.run("New ms '60000'\nNew __Escape_std.misc.sleep_ARG0 'ms'\nEscape std.misc.sleep\nNew after '1'\n");
  const auto latency = since(interrupted);
  t.join();
  ASSERT_EQ(s, ZANDLE_PAUSED);
  EXPECT_LT(Clock::now() - started, soon);
  EXPECT_LT(latency, soon);
  EXPECT_EQ(z.get("after"), "<unset>");
  EXPECT_EQ(zandle_resume(z.m), ZANDLE_OK);
  EXPECT_EQ(z.get("after"), "1");
}

zandle_machine* alarmed = nullptr;
std::atomic<Clock::rep> alarm_at{0};

extern "C" void onAlarm(int) {
  alarm_at.store(Clock::now().time_since_epoch().count());
  zandle_interrupt(alarmed);
}

TEST(Control, AnInterruptFromASignalHandlerPausesLoopsAndSleeps) {
  struct sigaction action {}, old{};
  action.sa_handler = onAlarm;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGALRM, &action, &old), 0);
  const std::string sleep = "New ms '60000'\nNew __Escape_std.misc.sleep_ARG0 'ms'\nEscape std.misc.sleep\n";
  for (int round = 0; round < 3; ++round) {
    const zandle_kind kind = round == 0 ? ZANDLE_VM : ZANDLE_ZNDVM;
    Host h(kind, unbounded());
    alarmed = h.m;
    alarm_at = 0;
    const itimerval in30ms{{0, 0}, {0, 30000}};
    ASSERT_EQ(::setitimer(ITIMER_REAL, &in30ms, nullptr), 0);
    const auto started = Clock::now();
    const zandle_status s = h.run(round == 2 ? sleep : endless);
    const auto took = Clock::now() - started;
    EXPECT_EQ(s, ZANDLE_PAUSED) << round;
    EXPECT_NE(alarm_at.load(), 0);
    EXPECT_LT(since(alarm_at), soon);
    if (round == 2) {
      EXPECT_LT(took, soon);
    }
  }
  alarmed = nullptr;
  ::sigaction(SIGALRM, &old, nullptr);
}

TEST(Control, AnInterruptWithNoRunPausesTheNextBeforeItsFirstInstruction) {
  for (zandle_kind kind : both) {
    Host h(kind);
    zandle_interrupt(h.m);
    zandle_interrupt(h.m);  // twice is once
    ASSERT_EQ(h.run("New a '1'\nNew b '2'\n"), ZANDLE_PAUSED);
    EXPECT_EQ(h.get("a"), "<unset>");
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_OK);
    EXPECT_EQ(h.get("b"), "2");
    // The same before a call, and before a resume.
    zandle_interrupt(h.m);
    ASSERT_EQ(h.run("Func f\nNew c '3'\nEnd\n"), ZANDLE_PAUSED);
    zandle_interrupt(h.m);
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_PAUSED);
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_OK);
    zandle_interrupt(h.m);
    ASSERT_EQ(zandle_call(h.m, "f", 1), ZANDLE_PAUSED);
    EXPECT_EQ(h.get("c"), "<unset>");
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_OK);
    EXPECT_EQ(h.get("c"), "3");
  }
}

TEST(Control, ADeadlinePausesLoopsAndWakesSleeps) {
  for (zandle_kind kind : both) {
    Host h(kind, unbounded());
    ASSERT_EQ(zandle_set_deadline(h.m, 50'000'000), ZANDLE_OK);
    auto started = Clock::now();
    ASSERT_EQ(h.run(endless), ZANDLE_PAUSED);
    EXPECT_LT(Clock::now() - started, soon);
    // Each resume has the whole deadline again.
    const std::uint64_t before = counted(h);
    started = Clock::now();
    ASSERT_EQ(zandle_resume(h.m), ZANDLE_PAUSED);
    EXPECT_LT(Clock::now() - started, soon);
    EXPECT_GT(counted(h), before);
    ASSERT_EQ(zandle_set_deadline(h.m, 0), ZANDLE_OK);
    ASSERT_EQ(zandle_set_slice(h.m, 100), ZANDLE_OK);
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_PAUSED);  // the slice, not a deadline long gone
  }
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_set_deadline(z.m, 50'000'000), ZANDLE_OK);
  const auto started = Clock::now();
  ASSERT_EQ(z.run("New ms '60000'\nNew __Escape_std.misc.sleep_ARG0 'ms'\nEscape std.misc.sleep\n"
                  "New after '1'\n"),
            ZANDLE_PAUSED);
  EXPECT_LT(Clock::now() - started, soon);
  EXPECT_EQ(z.get("after"), "<unset>");
  EXPECT_EQ(zandle_resume(z.m), ZANDLE_OK);
  EXPECT_EQ(z.get("after"), "1");
}

// Stores a result, counts its calls and asks for a pause.
struct Asker {
  int calls = 0;
  static int run(zandle_machine* m, void* user) {
    const int n = ++static_cast<Asker*>(user)->calls;
    const std::string answer = "answer" + std::to_string(n);
    const zandle_status s = zandle_machine_kind(m) == ZANDLE_VM
                                ? zandle_set_text(m, "answer", 6, answer.data(), answer.size())
                                : zandle_escape_result(m, 0, answer.data(), answer.size());
    if (s != ZANDLE_OK) return s;
    // A snapshot needs the run to have stopped.
    const void* bytes;
    std::size_t size;
    if (zandle_snapshot(m, &bytes, &size) != ZANDLE_BUSY) return zandle_escape_fail(m, "SnapshotInside", 14);
    return zandle_escape_pause(m);
  }
};

std::string asking(zandle_kind kind) {
  const std::string answer = kind == ZANDLE_VM ? "answer" : "__Escape_app.ask_RET0";
  return "Func f\n"                                         // 1
         "Escape app.ask\n"                                 // 2
         "New inside " + answer + "\n"                      // 3
         "End\n"                                            // 4
         "Escape app.ask\n"                                 // 5
         "New first " + answer + "\n"                       // 6
         "Call f\n"                                         // 7
         "New last 'done'\n";                               // 8
}

TEST(Control, AHostEscapePausesTheRunJustAfterIt) {
  for (zandle_kind kind : both) {
    Host h(kind);
    Asker asker;
    ASSERT_EQ(zandle_register_escape(h.m, "app.ask", 7, Asker::run, &asker), ZANDLE_OK);
    ASSERT_EQ(h.run(asking(kind)), ZANDLE_PAUSED);
    EXPECT_EQ(h.get(kind == ZANDLE_VM ? "answer" : "__Escape_app.ask_RET0"), "answer1");
    EXPECT_EQ(h.get("first"), "<unset>");
    ASSERT_EQ(zandle_resume(h.m), ZANDLE_PAUSED);
    EXPECT_EQ(h.get("first"), "answer1");
    ASSERT_EQ(zandle_active_call_count(h.m), 1u);
    EXPECT_EQ(h.get("inside"), "<unset>");
    EXPECT_EQ(zandle_resume(h.m), ZANDLE_OK);
    EXPECT_EQ(h.get("inside"), "answer2");
    EXPECT_EQ(h.get("last"), "done");
    EXPECT_EQ(asker.calls, 2);
    EXPECT_EQ(zandle_escape_pause(h.m), ZANDLE_INVALID_ARGUMENT);  // no escape is running
  }
}

TEST(Control, AnInterruptedWaitLeavesTheChildAndWaitsAgainOnResuming) {
  for (zandle_kind kind : both) {
    zandle_options o = defaults();
    o.escapes = "all";
    Host h(kind, o);
    std::atomic<bool> waiting{false};
    const auto ready = [](zandle_machine*, void* user) {
      static_cast<std::atomic<bool>*>(user)->store(true);
      return 0;
    };
    ASSERT_EQ(zandle_register_escape(h.m, "app.ready", 9, ready, &waiting), ZANDLE_OK);
    const bool vm = kind == ZANDLE_VM;
    const std::string script =
        vm ? "New cmd 'sleep 30'\nNew ARG1 'cmd'\nEscape SpawnProc\nNew ARG1 'pid'\nEscape app.ready\n"
             "Escape WaitPid\n"
           : "New cmd 'sleep 30'\nNew __Escape_std.proc.spawn_ARG0 'cmd'\nEscape std.proc.spawn\n"
             "New __Escape_std.proc.wait_ARG0 '__Escape_std.proc.spawn_RET0'\nEscape app.ready\n"
             "Escape std.proc.wait\n";
    std::thread t([&] {
      while (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      zandle_interrupt(h.m);
    });
    const zandle_status s = h.run(script);
    t.join();
    ASSERT_EQ(s, ZANDLE_PAUSED);
    EXPECT_EQ(h.line(), 6u);  // the wait runs again on resuming
    const auto pid = static_cast<pid_t>(std::stol(h.get(vm ? "pid" : "__Escape_std.proc.spawn_RET0")));
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT), 0);
    EXPECT_EQ(info.si_pid, 0) << "the child ended";
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_EQ(zandle_resume(h.m), ZANDLE_OK) << zandle_error_name(h.m);
    if (vm) {
      EXPECT_EQ(h.get("killedBySig"), "9");
    } else {
      EXPECT_EQ(h.get("__Escape_std.proc.wait_RET0") + h.get("__Escape_std.proc.wait_RET1"), "90");
    }
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);  // waited for once, by the script
  }
}

// A snapshot through the interface into a new machine of the kind, with its own output.
// Restored, it is the same machine, and its own snapshot the same bytes (but for the host
// escapes, which it has not registered).
std::unique_ptr<Host> moved(zandle_kind kind, const Host& from, bool host_escapes = false) {
  auto to = std::make_unique<Host>(kind);
  const std::string bytes = from.snapshot();
  EXPECT_EQ(to->restore(bytes), ZANDLE_OK);
  if (!host_escapes) {
    EXPECT_EQ(to->snapshot(), bytes);
  }
  return to;
}

void bitsEqual(double got, std::uint64_t want) {
  std::uint64_t bits;
  std::memcpy(&bits, &got, sizeof bits);
  EXPECT_EQ(bits, want);
}

TEST(Control, EveryKindOfValueAndFunctionSurvivesASnapshot) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  const std::uint64_t floats[] = {0x7ff8000000000123u, 0x7ff0000000000000u, 0xfff0000000000000u,
                                  0x8000000000000000u, 0x0000000000000001u, 0x3fb999999999999au};
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(zandle_set_word(z.m, "w0", 2, 0), ZANDLE_OK);
  ASSERT_EQ(zandle_set_word(z.m, "wmax", 4, UINT64_MAX), ZANDLE_OK);
  ASSERT_EQ(zandle_set_sword(z.m, "smin", 4, INT64_MIN), ZANDLE_OK);
  ASSERT_EQ(zandle_set_sword(z.m, "sneg", 4, -1), ZANDLE_OK);
  for (std::size_t i = 0; i < std::size(floats); ++i) {
    double f;
    std::memcpy(&f, &floats[i], sizeof f);
    const std::string name = "f" + std::to_string(i);
    ASSERT_EQ(zandle_set_float(z.m, name.data(), name.size(), f), ZANDLE_OK);
  }
  ASSERT_EQ(z.set("bytes", every_byte), ZANDLE_OK);
  ASSERT_EQ(z.set("empty", ""), ZANDLE_OK);
  // ghost is named by a recorded line and never given a value; inner exists once outer ran.
  ASSERT_EQ(z.run("New i 'i'\nFunc outer\nFunc inner\nNew got \"got s++ i\"\nEnd\nNew got 'o'\nEnd\n"
                  "Func never\nNew x ghost\nEnd\nCall outer\n"),
            ZANDLE_OK);
  auto r = moved(ZANDLE_ZNDVM, z);
  std::uint64_t w = 1;
  std::int64_t s = 0;
  EXPECT_EQ(zandle_get_word(r->m, "w0", 2, &w), ZANDLE_OK);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(zandle_get_word(r->m, "wmax", 4, &w), ZANDLE_OK);
  EXPECT_EQ(w, UINT64_MAX);
  EXPECT_EQ(zandle_get_sword(r->m, "smin", 4, &s), ZANDLE_OK);
  EXPECT_EQ(s, INT64_MIN);
  EXPECT_EQ(zandle_get_sword(r->m, "sneg", 4, &s), ZANDLE_OK);
  EXPECT_EQ(s, -1);
  for (std::size_t i = 0; i < std::size(floats); ++i) {
    const std::string name = "f" + std::to_string(i);
    double f = 0;
    ASSERT_EQ(zandle_get_float(r->m, name.data(), name.size(), &f), ZANDLE_OK) << name;
    bitsEqual(f, floats[i]);
  }
  zandle_type type;
  ASSERT_EQ(zandle_get_type(r->m, "bytes", 5, &type), ZANDLE_OK);
  EXPECT_EQ(type, ZANDLE_STR);
  EXPECT_EQ(r->get("bytes"), every_byte);
  ASSERT_EQ(zandle_get_type(r->m, "empty", 5, &type), ZANDLE_OK);
  EXPECT_EQ(type, ZANDLE_STR);
  EXPECT_EQ(r->get("empty"), "");
  EXPECT_EQ(zandle_get_type(r->m, "ghost", 5, &type), ZANDLE_NOT_FOUND);
  EXPECT_EQ(zandle_call(r->m, "inner", 5), ZANDLE_OK);
  EXPECT_EQ(zandle_call(r->m, "outer", 5), ZANDLE_OK);
  EXPECT_EQ(zandle_call(r->m, "inner", 5), ZANDLE_OK);
  EXPECT_EQ(r->get("got"), "oi");
  EXPECT_EQ(zandle_call(r->m, "never", 5), ZANDLE_FAILED);
  EXPECT_STREQ(zandle_error_name(r->m), "UnknownVariable");

  Host vm(ZANDLE_VM);
  ASSERT_EQ(vm.set("bytes", every_byte), ZANDLE_OK);
  ASSERT_EQ(vm.set("empty", ""), ZANDLE_OK);
  ASSERT_EQ(vm.run("New f 'f'\nFunc f\nNew got \"got s++ f\"\nEnd\nNew got 'x'\n"), ZANDLE_OK);
  auto rv = moved(ZANDLE_VM, vm);
  EXPECT_EQ(rv->get("bytes"), every_byte);
  EXPECT_EQ(rv->get("empty"), "");
  EXPECT_EQ(zandle_call(rv->m, "f", 1), ZANDLE_OK);
  EXPECT_EQ(rv->get("got"), "xf");
}

// A restore prepares a line that repeats once and copies its record; the copies must be the
// line as written, not as the code around its first place changed it (a step joined to the
// If after it, a record marked as the last before an End).
TEST(Control, ALineRepeatedInRecordedCodeRunsAsWrittenInEachPlace) {
  const std::string script =
      "New i '0'\nNew j '0'\n"
      "Func count\nNew i \"i + 1\"\nIf count \"i < 5\"\nEnd\n"
      "Func once\nNew i \"i + 1\"\nEnd\n"
      "Func twice\nNew i \"i + 1\"\nNew j \"j + 1\"\nIf twice \"j < 3\"\nEnd\n"
      "Func tail\nIf count \"i < 5\"\nNew j 'after'\nEnd\n";
  Host z(ZANDLE_ZNDVM);
  ASSERT_EQ(z.run(script), ZANDLE_OK);
  auto r = moved(ZANDLE_ZNDVM, z);
  for (Host* h : {&z, r.get()}) {
    for (const char* f : {"count", "once", "twice", "tail"}) ASSERT_EQ(zandle_call(h->m, f, std::strlen(f)), ZANDLE_OK);
    EXPECT_EQ(h->get("i"), "9");
    EXPECT_EQ(h->get("j"), "after");
  }
  EXPECT_EQ(r->snapshot(), z.snapshot());
}

// Runs `script` in slices of one until `here` holds at a pause, moves the run to a new
// machine through a snapshot, and runs it there to its end: the outputs of the two together
// must be the whole run's.
void moveWhen(zandle_kind kind, const std::string& script, const std::function<bool(Host&)>& here) {
  Host whole(kind);
  ASSERT_EQ(whole.set("fromhost", "H"), ZANDLE_OK);
  ASSERT_EQ(whole.run(script), ZANDLE_OK);
  Host h(kind);
  ASSERT_EQ(h.set("fromhost", "H"), ZANDLE_OK);
  ASSERT_EQ(zandle_set_slice(h.m, 1), ZANDLE_OK);
  zandle_status s = h.run(script);
  while (s == ZANDLE_PAUSED && !here(h)) s = zandle_resume(h.m);
  ASSERT_EQ(s, ZANDLE_PAUSED) << "never there";
  const std::uint32_t line = h.line();
  const std::size_t calls = zandle_active_call_count(h.m);
  auto r = moved(kind, h);
  EXPECT_EQ(zandle_paused(r->m), 1);
  EXPECT_EQ(r->line(), line);
  EXPECT_EQ(zandle_active_call_count(r->m), calls);
  zandle_free(h.m);  // the old machine is gone
  h.m = nullptr;
  EXPECT_EQ(zandle_resume(r->m), ZANDLE_OK) << zandle_error_name(r->m);
  EXPECT_EQ(h.out + r->out, whole.out);
  EXPECT_EQ(r->get("n"), whole.get("n"));
}

TEST(Control, APausedRunMovesToANewMachine) {
  for (zandle_kind kind : both) {
    SCOPED_TRACE(kind);
    const std::string script = nested(kind);
    moveWhen(kind, script, [](Host& h) { return zandle_active_call_count(h.m) == 2; });
    // While recording outer's body: the rest of the recording happens on the new machine.
    moveWhen(kind, script, [](Host& h) { return h.line() == 6; });
    // After some output.
    moveWhen(kind, script, [](Host& h) { return h.line() == 13; });
    // Inside a call made by a last line without a line end.
    moveWhen(kind, "New n '0'\nFunc f\nNew n \"n + 1\"\nNew n \"n + 1\"\nEnd\nCall f",
             [](Host& h) { return zandle_active_call_count(h.m) == 1; });
  }
}

TEST(Control, APauseAskedForByAnEscapeMovesAndTheEscapeMustBeRegisteredAgain) {
  for (zandle_kind kind : both) {
    Asker asker;
    Host h(kind);
    ASSERT_EQ(zandle_register_escape(h.m, "app.ask", 7, Asker::run, &asker), ZANDLE_OK);
    ASSERT_EQ(h.run(asking(kind)), ZANDLE_PAUSED);
    // Without it, the run fails where it reaches it.
    auto bare = moved(kind, h, true);
    EXPECT_EQ(zandle_resume(bare->m), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(bare->m), "UnknownEscape");
    EXPECT_EQ(bare->line(), 2u);
    EXPECT_EQ(bare->get("first"), "answer1");
    // Registered again, it goes on, pausing in f and again moved there.
    auto r = moved(kind, h, true);
    ASSERT_EQ(zandle_register_escape(r->m, "app.ask", 7, Asker::run, &asker), ZANDLE_OK);
    ASSERT_EQ(zandle_resume(r->m), ZANDLE_PAUSED);
    auto last = moved(kind, *r, true);
    EXPECT_EQ(zandle_resume(last->m), ZANDLE_OK);
    EXPECT_EQ(last->get("inside"), "answer2");
    EXPECT_EQ(last->get("last"), "done");
  }
}

// The header's checksum of the payload from `from` on, written from the format's description
// (four lanes over 64-bit little-endian words, then the rest and the length), for snapshots
// made by hand. The test first checks that it gives a real snapshot's own header.
std::uint64_t rotl(std::uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }
std::uint64_t mix(std::uint64_t lane, std::uint64_t w) {
  return rotl(lane + w * 0xc2b2ae3d27d4eb4fu, 31) * 0x9e3779b185ebca87u;
}
std::uint64_t little(const std::string& bytes, std::size_t at, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = n; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}
std::uint64_t checksum(const std::string& bytes, std::size_t from) {
  std::uint64_t lane[4] = {1, 2, 3, 4};
  std::size_t at = from;
  for (; bytes.size() - at >= 32; at += 32)
    for (std::size_t i = 0; i < 4; ++i) lane[i] = mix(lane[i], little(bytes, at + 8 * i, 8));
  std::uint64_t h = rotl(lane[0], 1) + rotl(lane[1], 7) + rotl(lane[2], 12) + rotl(lane[3], 18);
  for (; bytes.size() - at >= 8; at += 8) h = mix(h, little(bytes, at, 8));
  const std::size_t left = bytes.size() - at;
  h = mix(h, little(bytes, at, left) ^ (static_cast<std::uint64_t>(left) << 56));
  h = mix(h, bytes.size() - from);
  h ^= h >> 33;
  h *= 0xc2b2ae3d27d4eb4fu;
  return h ^ (h >> 29);
}

void putLittle(std::string& bytes, std::size_t at, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i, v >>= 8) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(v & 0xff);
}

TEST(Control, BytesThatAreNoSnapshotLeaveTheMachineAsItWas) {
  for (zandle_kind kind : both) {
    SCOPED_TRACE(kind);
    Host small(kind);
    ASSERT_EQ(small.set("v", "x"), ZANDLE_OK);
    ASSERT_EQ(zandle_set_slice(small.m, 1), ZANDLE_OK);
    ASSERT_EQ(small.run("Func f\nNew a '1'\nEnd\nCall f\n"), ZANDLE_PAUSED);
    const std::string good = small.snapshot();
    Host other(kind == ZANDLE_VM ? ZANDLE_ZNDVM : ZANDLE_VM);
    const std::string foreign = other.snapshot();

    // The victim: a variable and a paused run, which must survive every refusal.
    Host v(kind);
    ASSERT_EQ(v.set("keep", "safe"), ZANDLE_OK);
    ASSERT_EQ(zandle_set_slice(v.m, 1), ZANDLE_OK);
    ASSERT_EQ(v.run("New a '1'\nNew b '2'\n" + print(kind, "b")), ZANDLE_PAUSED);
    ASSERT_EQ(zandle_set_slice(v.m, 0), ZANDLE_OK);
    const std::string before = v.snapshot();
    ASSERT_EQ(little(good, 24, 8), checksum(good, 32)) << "the test's checksum is not the format's";
    int refused = 0;
    auto refuse = [&](const std::string& bytes, const char* what) {
      ASSERT_EQ(v.restore(bytes), ZANDLE_INVALID_SNAPSHOT) << what << " of " << bytes.size() << " bytes";
      ++refused;
    };
    refuse(foreign, "another kind");
    for (std::size_t n = 0; n < good.size(); ++n) refuse(good.substr(0, n), "a prefix");
    refuse(good + '\0', "a byte more");
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
      std::string flipped = good;
      flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
      refuse(flipped, "a flipped bit");
    }
    std::string version = good;
    putLittle(version, 8, 2, 4);
    refuse(version, "another version");
    std::mt19937_64 random(7);
    for (int i = 0; i < 300; ++i) {
      std::string bytes(random() % 200, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      refuse(bytes, "random bytes");
      // The same behind a header that holds: the fields themselves are refused.
      bytes = good.substr(0, 32) + bytes;
      putLittle(bytes, 16, bytes.size() - 32, 8);
      putLittle(bytes, 24, checksum(bytes, 32), 8);
      refuse(bytes, "random fields");
    }
    EXPECT_GT(refused, 1000);
    EXPECT_EQ(v.snapshot(), before);
    EXPECT_EQ(v.get("keep"), "safe");
    EXPECT_EQ(zandle_paused(v.m), 1);
    EXPECT_EQ(zandle_resume(v.m), ZANDLE_OK);
    EXPECT_EQ(v.out, "2\n");
    EXPECT_EQ(zandle_restore(v.m, nullptr, 4), ZANDLE_INVALID_ARGUMENT);
  }
}

TEST(Control, ASnapshotNeverAllowsWhatTheRestoringMachineWithholds) {
  const char* fs[] = {"Gcwd", "std.fs.dir.get"};
  const char* random[] = {"Random", "std.misc.random"};
  for (zandle_kind kind : both) {
    const bool vm = kind == ZANDLE_VM;
    const std::string reach = std::string("Escape ") + fs[vm ? 0 : 1] + "\n";
    const std::string roll = std::string("Escape ") + random[vm ? 0 : 1] + "\n";
    // Paused just before a file-system escape, under "all".
    zandle_options all = defaults();
    all.escapes = "all";
    Host open(kind, all);
    zandle_interrupt(open.m);
    ASSERT_EQ(open.run(reach), ZANDLE_PAUSED);
    Host sandbox(kind);
    ASSERT_EQ(sandbox.restore(open.snapshot()), ZANDLE_OK);
    EXPECT_EQ(zandle_resume(sandbox.m), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(sandbox.m), "UnknownEscape");
    // Allowed by name on the machine that took it, it is still the restoring machine's to allow.
    Host widened(kind);
    ASSERT_EQ(zandle_allow_escape(widened.m, fs[vm ? 0 : 1], std::strlen(fs[vm ? 0 : 1]), 1), ZANDLE_OK);
    ASSERT_EQ(widened.run(reach), ZANDLE_OK);
    Host narrow(kind);
    ASSERT_EQ(narrow.restore(widened.snapshot()), ZANDLE_OK);
    EXPECT_EQ(narrow.run(reach), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(narrow.m), "UnknownEscape");
    // Withheld by name, it stays withheld.
    Host withheld(kind);
    ASSERT_EQ(zandle_allow_escape(withheld.m, random[vm ? 0 : 1], std::strlen(random[vm ? 0 : 1]), 0), ZANDLE_OK);
    Host fresh(kind);
    ASSERT_EQ(fresh.run(roll), ZANDLE_OK);
    ASSERT_EQ(fresh.restore(withheld.snapshot()), ZANDLE_OK);
    EXPECT_EQ(fresh.run(roll), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(fresh.m), "UnknownEscape");
  }
}

TEST(Control, ThePurePresetGivesTheSameRunEveryTime) {
  const std::vector<const char*> vm_refused = {"Time", "Random", "Gcwd", "Fread", "SpawnProc", "WaitPid", "Exit"};
  const std::vector<const char*> zndvm_refused = {
      "std.misc.time",   "std.misc.random",       "std.misc.sleep", "std.term.screen.clear",
      "std.term.cursor.get", "std.fs.dir.get", "std.fs.file.read", "std.proc.spawn", "std.proc.exit"};
  for (zandle_kind kind : both) {
    const bool vm = kind == ZANDLE_VM;
    zandle_options pure = defaults();
    pure.escapes = "pure";
    Host h(kind, pure);
    for (const char* name : vm ? vm_refused : zndvm_refused) {
      EXPECT_EQ(h.run(std::string("Escape ") + name + "\n"), ZANDLE_FAILED) << name;
      EXPECT_STREQ(zandle_error_name(h.m), "UnknownEscape") << name;
    }
    // No standard input without the host's function.
    EXPECT_EQ(h.run(vm ? "Escape Input\n" : "Escape std.io.input\n"), ZANDLE_FAILED);
    EXPECT_STREQ(zandle_error_name(h.m), "EndOfStream");

    const std::string script = vm ? "Escape Input\nNew ARG1 'input'\nEscape StrLen\n" + print(kind, "input") +
                                        "Func f\nNew t \"t s++ input\"\nEnd\nNew t ''\nCall f\nCall f\n"
                                  : "Escape std.io.input\nNew __Escape_std.str.len_ARG0 '__Escape_std.io.input_RET0'\n"
                                    "Escape std.str.len\nNew l __Escape_std.str.len_RET0\nNew f \"l / 3\"\n" +
                                        print(kind, "f") + "Func g\nNew t \"t s++ 'x'\"\nEnd\nNew t ''\nCall g\n";
    std::string outputs[2], snapshots[2];
    for (int i = 0; i < 2; ++i) {
      Input in{"a line\n"};
      pure.input = Input::read;
      pure.input_user = &in;
      Host run(kind, pure);
      ASSERT_EQ(zandle_set_slice(run.m, 5), ZANDLE_OK);
      ASSERT_EQ(run.run(script), ZANDLE_PAUSED);
      snapshots[i] = run.snapshot();
      zandle_status s = ZANDLE_PAUSED;
      while (s == ZANDLE_PAUSED) s = zandle_resume(run.m);
      ASSERT_EQ(s, ZANDLE_OK) << zandle_error_name(run.m);
      outputs[i] = run.out;
      snapshots[i] += run.snapshot();
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_FALSE(outputs[0].empty());
    EXPECT_EQ(snapshots[0], snapshots[1]);
  }
}

// Every allocation of a snapshot, then of a restore, fails in turn: each is
// ZANDLE_OUT_OF_MEMORY with the machine as it was, until one succeeds; nothing leaks.
TEST(Control, EveryAllocationFailureInSnapshotAndRestoreIsAStatus) {
  for (zandle_kind kind : both) {
    SCOPED_TRACE(kind);
    const std::string script = nested(kind) + "Func late\nNew z 'z'\nEnd\n";
    auto pausedInside = [&](Host& h) {
      EXPECT_EQ(h.set("fromhost", "H"), ZANDLE_OK);
      EXPECT_EQ(zandle_set_slice(h.m, 1), ZANDLE_OK);
      zandle_status s = h.run(script);
      while (s == ZANDLE_PAUSED && zandle_active_call_count(h.m) != 2) s = zandle_resume(h.m);
      EXPECT_EQ(zandle_set_slice(h.m, 0), ZANDLE_OK);
      return s == ZANDLE_PAUSED;
    };
    Host reference(kind);
    ASSERT_TRUE(pausedInside(reference));
    const std::string saved = reference.snapshot();
    ASSERT_EQ(zandle_resume(reference.m), ZANDLE_OK);
    const std::string rest = reference.out;

    bool snapshot_done = false, restore_done = false;
    for (std::uint64_t n = 1; !(snapshot_done && restore_done); ++n) {
      ASSERT_LT(n, 5000u);
      TestAllocator alloc;
      zandle_options o = defaults();
      o.alloc = TestAllocator::fn;
      o.alloc_user = &alloc;
      {
        Host h(kind, o);
        ASSERT_EQ(h.status, ZANDLE_OK);
        ASSERT_TRUE(pausedInside(h));
        const std::string before = h.get("n");
        if (!snapshot_done) {
          alloc.fail_at = alloc.allocations + n;
          const void* bytes = nullptr;
          std::size_t size = 0;
          const zandle_status s = zandle_snapshot(h.m, &bytes, &size);
          const bool hit = alloc.allocations >= alloc.fail_at;
          alloc.fail_at = 0;
          if (s == ZANDLE_OK) {
            EXPECT_EQ(std::string(static_cast<const char*>(bytes), size), saved);
            snapshot_done = !hit;
          } else {
            ASSERT_EQ(s, ZANDLE_OUT_OF_MEMORY) << n;
          }
        }
        if (!restore_done) {
          alloc.fail_at = alloc.allocations + n;
          const zandle_status s = h.restore(saved);
          const bool hit = alloc.allocations >= alloc.fail_at;
          alloc.fail_at = 0;
          if (s == ZANDLE_OK) {
            restore_done = !hit;
          } else {
            ASSERT_EQ(s, ZANDLE_OUT_OF_MEMORY) << n;
            EXPECT_EQ(h.get("n"), before);
          }
        }
        // Restored or not, the paused run is the same and ends the same.
        ASSERT_EQ(zandle_paused(h.m), 1) << n;
        EXPECT_EQ(h.snapshot(), saved) << n;
        const std::string out_before = h.out;
        EXPECT_EQ(zandle_resume(h.m), ZANDLE_OK) << n;
        EXPECT_EQ(h.out.substr(out_before.size()), rest) << n;
      }
      EXPECT_EQ(alloc.held, 0u) << n;
    }
  }
}

TEST(Control, RestoringCountsAgainstTheMemoryCap) {
  for (zandle_kind kind : both) {
    Host big(kind);
    ASSERT_EQ(big.set("big", std::string(300000, 'b')), ZANDLE_OK);
    TestAllocator alloc;
    zandle_options o = defaults();
    o.memory_cap = 200000;
    o.alloc = TestAllocator::fn;
    o.alloc_user = &alloc;
    Host capped(kind, o);
    ASSERT_EQ(capped.set("keep", "safe"), ZANDLE_OK);
    EXPECT_EQ(capped.restore(big.snapshot()), ZANDLE_OUT_OF_MEMORY);
    EXPECT_LE(alloc.peak, o.memory_cap);
    EXPECT_EQ(capped.get("keep"), "safe");
    EXPECT_EQ(capped.get("big"), "<unset>");
  }
}

}  // namespace
