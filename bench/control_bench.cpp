// What keeping control costs a host, in one run: a pause and a resume; the counting loop run
// in slices of 1,000 instructions against whole; how soon a run returns after
// zandle_interrupt from another thread, in a loop and in a sleep; snapshot and restore of a
// machine with 10,000 variables and 1,000 recorded functions. Prints medians (and, for the
// interrupt, the 99th percentile and the largest figure) with the goals beside them. A slow
// figure of the interrupt on a busy machine is often the runner waiting for a core.
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "zandle/zandle.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "control_bench: %s\n", what);
  std::exit(1);
}

// Budgets far above what any script here needs, so that vm runs as long as zndvm would.
zandle_machine* newMachine(zandle_kind kind, const char* escapes = nullptr) {
  zandle_options o;
  zandle_options_init(&o);
  o.escapes = escapes;
  o.vm_budget_instructions = 4000000000u;
  o.vm_budget_new = 4000000000u;
  o.vm_budget_escape = 4000000000u;
  o.vm_budget_func = 4000000000u;
  o.vm_budget_call = 4000000000u;
  o.vm_budget_return = 4000000000u;
  zandle_machine* m;
  if (zandle_new(kind, &o, &m) != ZANDLE_OK) fail("zandle_new");
  return m;
}

// Runs a text to its end, resuming after every pause.
zandle_status runToEnd(zandle_machine* m, const std::string& text) {
  zandle_status s = zandle_run(m, text.data(), text.size(), nullptr, 0);
  while (s == ZANDLE_PAUSED) s = zandle_resume(m);
  return s;
}

const std::string zndvm_counting =
    "New i '0'\nFunc loop\nNew i \"i + 1\"\nIf loop \"i < 10000000\"\nEnd\nCall loop\n";

// vm loops only by recursion, which its depth of calls bounds: a function of 1,000 lines
// called `calls` times instead.
std::string vmCounting(int calls) {
  std::string text = "New i '0'\nFunc f\n";
  for (int k = 0; k < 1000; ++k) text += "New i \"i + 1\"\n";
  text += "End\n";
  for (int k = 0; k < calls; ++k) text += "Call f\n";
  return text;
}

const char* kindName(zandle_kind kind) { return kind == ZANDLE_VM ? "vm   " : "zndvm"; }

// ---------------------------------------------------------------------------------------
// A pause and a resume: with a slice of one instruction, each resume runs one instruction
// of the loop and pauses again; and a host escape that asks for the pause.

int pauseEscape(zandle_machine* m, void*) { return zandle_escape_pause(m); }

// Nanoseconds a resume of `m`, whose run is paused and pauses again at every resume; frees m.
double resumesNs(zandle_machine* m, int resumes) {
  const auto start = Clock::now();
  for (int k = 0; k < resumes; ++k) {
    if (zandle_resume(m) != ZANDLE_PAUSED) fail("resume ended the loop");
  }
  const double ns = secondsSince(start) / resumes * 1e9;
  zandle_free(m);
  return ns;
}

double roundTripNs(zandle_kind kind, int resumes) {
  zandle_machine* m = newMachine(kind);
  const std::string text = kind == ZANDLE_VM ? vmCounting(resumes / 1000 + 1) : zndvm_counting;
  if (zandle_set_slice(m, 1) != ZANDLE_OK) fail("set_slice");
  if (zandle_run(m, text.data(), text.size(), nullptr, 0) != ZANDLE_PAUSED) fail("no pause");
  return resumesNs(m, resumes);
}

double escapePauseNs(int resumes) {
  zandle_machine* m = newMachine(ZANDLE_ZNDVM);
  if (zandle_register_escape(m, "host.pause", 10, pauseEscape, nullptr) != ZANDLE_OK) fail("register");
  const std::string text = "Func loop\nEscape host.pause\nIf loop \"1 == 1\"\nEnd\nCall loop\n";
  if (zandle_run(m, text.data(), text.size(), nullptr, 0) != ZANDLE_PAUSED) fail("no pause");
  return resumesNs(m, resumes);
}

// ---------------------------------------------------------------------------------------
// The counting loop whole and in slices of 1,000, alternately, round after round, so that
// a slow moment of the machine hits both alike.

// Seconds of the monotonic clock and of this thread's processor time (which leaves out the
// moments another process had the core, though not what it did to the caches).
struct SliceFigures {
  double whole, sliced, whole_cpu, sliced_cpu;
};

double threadSeconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

SliceFigures slicedAgainstWhole(zandle_kind kind, const std::string& text, int rounds) {
  zandle_machine* whole = newMachine(kind);
  zandle_machine* sliced = newMachine(kind);
  if (zandle_set_slice(sliced, 1000) != ZANDLE_OK) fail("set_slice");
  std::vector<double> w, s, wc, sc;
  for (int r = 0; r < rounds; ++r) {
    for (int half = 0; half < 2; ++half) {
      const bool slicing = (half == 0) == (r % 2 == 0);
      const double cpu = threadSeconds(CLOCK_THREAD_CPUTIME_ID);
      const auto start = Clock::now();
      if (runToEnd(slicing ? sliced : whole, text) != ZANDLE_OK) fail("counting loop");
      (slicing ? s : w).push_back(secondsSince(start));
      (slicing ? sc : wc).push_back(threadSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu);
    }
  }
  const char* a;
  const char* b;
  std::size_t alen, blen;
  if (zandle_get_text(whole, "i", 1, &a, &alen) != ZANDLE_OK || zandle_get_text(sliced, "i", 1, &b, &blen) != ZANDLE_OK ||
      alen != blen || std::memcmp(a, b, alen) != 0) {
    fail("the sliced loop counted otherwise");
  }
  zandle_free(whole);
  zandle_free(sliced);
  return {median(w), median(s), median(wc), median(sc)};
}

// ---------------------------------------------------------------------------------------
// Interrupt latency: a runner thread runs a script that tells the host it has begun, then
// loops (or sleeps) without end; the main thread waits a moment, notes the time and calls
// zandle_interrupt; the runner notes when zandle_run returned.

std::atomic<int> begun{0};

int beginEscape(zandle_machine*, void*) {
  begun.store(1, std::memory_order_release);
  return 0;
}

struct Spread {
  double median, p99, max;
};

Spread spread(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 99 / 100], v.back()};
}

// Microseconds of the monotonic clock, and of the runner's own processor time: the first is
// what a host waits, the second what the library spends, without the time the runner waited
// for a core (on a busy machine, often most of a slow figure).
struct Latency {
  Spread wall, cpu;
};


Latency interruptLatency(zandle_kind kind, const std::string& text, int trials) {
  zandle_machine* m = newMachine(kind);
  if (zandle_register_escape(m, "host.begin", 10, beginEscape, nullptr) != ZANDLE_OK) fail("register");
  std::atomic<int> go{-1}, done{-1};
  std::vector<Clock::time_point> returned(trials);
  std::vector<double> returned_cpu(trials);
  std::thread runner([&] {
    for (int t = 0; t < trials; ++t) {
      while (go.load(std::memory_order_acquire) != t) std::this_thread::yield();
      const zandle_status s = zandle_run(m, text.data(), text.size(), nullptr, 0);
      returned[t] = Clock::now();
      returned_cpu[t] = threadSeconds(CLOCK_THREAD_CPUTIME_ID);
      if (s != ZANDLE_PAUSED || zandle_discard(m) != ZANDLE_OK) fail("the interrupted run did not pause");
      done.store(t, std::memory_order_release);
    }
  });
  clockid_t runner_clock;
  if (pthread_getcpuclockid(runner.native_handle(), &runner_clock) != 0) fail("the runner's clock");
  std::vector<double> us, cpu_us;
  for (int t = 0; t < trials; ++t) {
    begun.store(0, std::memory_order_relaxed);
    go.store(t, std::memory_order_release);
    while (begun.load(std::memory_order_acquire) == 0) std::this_thread::yield();
    // From 0.5 to 2 ms into the run, varied so as not to fall on the same instruction.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + (t * 37) % 1500));
    const double called_cpu = threadSeconds(runner_clock);
    const auto called = Clock::now();
    zandle_interrupt(m);
    while (done.load(std::memory_order_acquire) != t) std::this_thread::yield();
    us.push_back(std::chrono::duration<double, std::micro>(returned[t] - called).count());
    cpu_us.push_back((returned_cpu[t] - called_cpu) * 1e6);
  }
  runner.join();
  zandle_free(m);
  return {spread(us), spread(cpu_us)};
}

// ---------------------------------------------------------------------------------------
// Snapshot and restore of a machine with 10,000 variables (words, signed words, floats and
// strings on zndvm; texts on vm) and 1,000 recorded functions of three lines.

std::string bigMachineText(zandle_kind kind) {
  std::string text;
  char line[96];
  for (int k = 0; k < 10000; ++k) {
    switch (k % 4) {
      case 0: std::snprintf(line, sizeof line, "New v%d '%d'\n", k, k); break;
      case 1: std::snprintf(line, sizeof line, "New v%d '-%d'\n", k, k); break;
      case 2: std::snprintf(line, sizeof line, "New v%d '%d.25'\n", k, k); break;
      default: std::snprintf(line, sizeof line, "New v%d 'some text of variable %d'\n", k, k); break;
    }
    text += line;
  }
  for (int k = 0; k < 1000; ++k) {
    std::snprintf(line, sizeof line, "Func f%d\nNew x \"x + %d\"\nNew y \"x * 2\"\nReturn\nEnd\n", k, k);
    text += line;
  }
  (void)kind;
  return text;
}

struct SnapshotFigures {
  double snapshot_us, restore_us;
  std::size_t bytes, memory;
};

SnapshotFigures snapshotAndRestore(zandle_kind kind, int trials) {
  zandle_machine* m = newMachine(kind);
  const std::string text = bigMachineText(kind);
  if (zandle_run(m, text.data(), text.size(), nullptr, 0) != ZANDLE_OK) fail("the big machine's script");
  const std::size_t memory = zandle_memory_used(m);

  std::vector<double> snap, rest;
  const void* view = nullptr;
  std::size_t size = 0;
  for (int t = 0; t < trials; ++t) {
    const auto start = Clock::now();
    if (zandle_snapshot(m, &view, &size) != ZANDLE_OK) fail("snapshot");
    snap.push_back(secondsSince(start) * 1e6);
  }
  const std::string bytes(static_cast<const char*>(view), size);
  for (int t = 0; t < trials; ++t) {
    zandle_machine* fresh = newMachine(kind);
    const auto start = Clock::now();
    if (zandle_restore(fresh, bytes.data(), bytes.size()) != ZANDLE_OK) fail("restore");
    rest.push_back(secondsSince(start) * 1e6);
    if (t == 0) {  // the restored machine is the same machine: it saves to the same bytes
      if (zandle_snapshot(fresh, &view, &size) != ZANDLE_OK ||
          std::string(static_cast<const char*>(view), size) != bytes) {
        fail("the restored machine saves to other bytes");
      }
    }
    zandle_free(fresh);
  }
  zandle_free(m);
  return {median(snap), median(rest), bytes.size(), memory};
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

constexpr int round_trips = 1000000;
constexpr int interrupts = 200;
constexpr int snapshots = 51;

void pauses() {
  std::printf(" pause + resume, nanoseconds a round trip (%d resumes):\n", round_trips);
  for (zandle_kind kind : {ZANDLE_ZNDVM, ZANDLE_VM}) {
    std::printf("  %s slice of 1 instruction            %7.1f\n", kindName(kind), roundTripNs(kind, round_trips));
  }
  std::printf("  zndvm host escape asking for the pause  %7.1f\n", escapePauseNs(round_trips));
}

void slices() {
  std::printf(" the counting loop whole and in slices of 1,000 instructions, seconds (medians, alternate rounds):\n");
  struct Loop {
    zandle_kind kind;
    const char* what;
    std::string text;
    int rounds;
  };
  const Loop loops[] = {
      {ZANDLE_ZNDVM, "zndvm, 10,000,000 iterations (20,000,000 instructions), 21 rounds", zndvm_counting, 21},
      {ZANDLE_VM, "vm, 10,000 calls of 1,000 lines (10,010,000 instructions), 7 rounds", vmCounting(10000), 7},
  };
  for (const Loop& loop : loops) {
    const SliceFigures f = slicedAgainstWhole(loop.kind, loop.text, loop.rounds);
    const double over = (f.sliced / f.whole - 1) * 100;
    std::printf("  %s\n    whole %.4f   sliced %.4f   %+.1f %% (goal within 5 %%: %s)\n", loop.what, f.whole, f.sliced,
                over, verdict(over <= 5));
    std::printf("    processor time: whole %.4f   sliced %.4f   %+.1f %%\n", f.whole_cpu, f.sliced_cpu,
                (f.sliced_cpu / f.whole_cpu - 1) * 100);
  }
}

void interruptions() {
  std::printf(" interrupt from another thread until zandle_run returns, microseconds (%d trials each):\n", interrupts);
  struct Endless {
    zandle_kind kind;
    const char* what;
    std::string text;
  };
  const Endless endless[] = {
      {ZANDLE_ZNDVM, "zndvm endless loop",
       "Escape host.begin\nNew i '0'\nFunc loop\nNew i \"i + 1\"\nIf loop \"i > -1\"\nEnd\nCall loop\n"},
      {ZANDLE_ZNDVM, "zndvm std.misc.sleep 60000",
       "Escape host.begin\nNew ms '60000'\nNew __Escape_std.misc.sleep_ARG0 'ms'\nEscape std.misc.sleep\n"},
      {ZANDLE_VM, "vm 1,000 lines called 10,000 times", "Escape host.begin\n" + vmCounting(10000)},
  };
  for (const Endless& e : endless) {
    const Latency l = interruptLatency(e.kind, e.text, interrupts);
    std::printf("  %s\n", e.what);
    std::printf("    the host waited          median %7.1f   99th %8.1f   max %8.1f   "
                "(goal within 1,000: median %s, max %s)\n",
                l.wall.median, l.wall.p99, l.wall.max, verdict(l.wall.median <= 1000), verdict(l.wall.max <= 1000));
    std::printf("    runner's processor time  median %7.1f   99th %8.1f   max %8.1f\n", l.cpu.median, l.cpu.p99,
                l.cpu.max);
  }
}

void snapshotsAndRestores() {
  std::printf(" snapshot and restore, 10,000 variables and 1,000 recorded functions (median of %d):\n", snapshots);
  for (zandle_kind kind : {ZANDLE_ZNDVM, ZANDLE_VM}) {
    const SnapshotFigures f = snapshotAndRestore(kind, snapshots);
    std::printf("  %s snapshot %7.1f us (goal under 1,000: %s)   restore %7.1f us (goal under 1,000: %s)\n",
                kindName(kind), f.snapshot_us, verdict(f.snapshot_us < 1000), f.restore_us,
                verdict(f.restore_us < 1000));
    std::printf("        %zu bytes for %zu bytes of memory used: %.2f times (goal under 2: %s)\n", f.bytes, f.memory,
                static_cast<double>(f.bytes) / static_cast<double>(f.memory), verdict(f.bytes < 2 * f.memory));
  }
}

}  // namespace

// With arguments, only the parts they name: pauses, slices, interrupts, snapshots.
int main(int argc, char** argv) {
  struct Part {
    const char* name;
    void (*run)();
  };
  const Part parts[] = {{"pauses", pauses}, {"slices", slices}, {"interrupts", interruptions}, {"snapshots", snapshotsAndRestores}};
  std::printf("keeping control (control_bench):\n");
  for (const Part& part : parts) {
    bool wanted = argc == 1;
    for (int a = 1; a < argc; ++a) wanted = wanted || std::strcmp(argv[a], part.name) == 0;
    if (wanted) part.run();
  }
  return 0;
}
