// The allocation-failure sweep shared by both interpreters: each script runs once freely and
// then again with its machine's allocation N failing (and every one after it, as on an
// exhausted heap) for N = 1, 2, ... until a run completes with no failure injected. Every run
// must hand back every byte it took and end either with OutOfMemory, having printed a prefix
// of the free run's output, or exactly as the free run did, outcome and output.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/line_reader.hpp"
#include "common/output.hpp"
#include "common/snapshot.hpp"
#include "pipe_input.hpp"
#include "test_memory.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZANDLE_SWEEP_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZANDLE_SWEEP_LSAN 1
#endif
#ifdef ZANDLE_SWEEP_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace zandle::sweep {

struct Script {
  std::string name;
  std::string text;
  std::string input;  // standard input of the run
};

// What a run ended with, in words ("finished", "failed OutOfMemory", "halted budget 1"), and
// what it printed.
struct Result {
  std::string ending;
  std::string output;
};

inline constexpr std::string_view out_of_memory = "failed OutOfMemory";

// Collects output into room reserved before the run; more output than that is a fault of
// the sweep's set.
class ReservedSink {
 public:
  explicit ReservedSink(std::size_t room) { text_.reserve(room); }
  Sink sink() { return {write, this}; }
  std::string take() { return overflow_ ? std::string("<output overflow>") : std::move(text_); }

 private:
  static int write(void* user, const char* bytes, std::size_t size) {
    auto* self = static_cast<ReservedSink*>(user);
    if (self->text_.size() + size > self->text_.capacity()) {
      self->overflow_ = true;
      return 0;
    }
    self->text_.append(bytes, size);
    return 0;
  }
  std::string text_;
  bool overflow_ = false;
};

using test_support::TestAllocator;

// Runs a script with its machine's memory from `alloc`. A Program has `Outcome run(text,
// sink, reader, alloc)`, which makes a machine and runs the script, and `std::string
// describe(const Outcome&)`. `held` receives the bytes still held after the machine is gone.
template <class Program>
Result runCharged(const Script& script, TestAllocator& alloc, std::size_t& held) {
  ReservedSink sink(std::size_t{1} << 20);
  PipeInput input(script.input);
  const typename Program::Outcome outcome = Program::run(script.text, sink.sink(), input.reader(), alloc);
  held = alloc.held;
  return {Program::describe(outcome), sink.take()};
}

struct Totals {
  std::size_t scripts = 0, runs = 0, skipped = 0, failures = 0, failed_scripts = 0;
  std::uint64_t max_n = 0;
};

// Sweeps one script. Scripts whose free run makes more than max_allocations allocations are
// skipped: the sweep's cost grows with the square of that number.
template <class Program>
void sweepScript(const Script& script, std::uint64_t max_allocations, Totals& totals) {
  const std::size_t failures_before = totals.failures;
  struct Tally {
    Totals& totals;
    std::size_t before;
    ~Tally() {
      if (totals.failures != before) ++totals.failed_scripts;
    }
  } tally{totals, failures_before};
  auto complain = [&](std::uint64_t n, const std::string& what) {
    ++totals.failures;
    std::printf("FAIL %s (allocation %llu fails): %s\n", script.name.c_str(),
                static_cast<unsigned long long>(n), what.c_str());
  };
  std::size_t held = 0;
  TestAllocator free_alloc;
  const Result reference = runCharged<Program>(script, free_alloc, held);
  if (held != 0) complain(0, "free run keeps " + std::to_string(held) + " bytes");
  if (free_alloc.allocations > max_allocations) {
    ++totals.skipped;
    return;
  }
  ++totals.scripts;
  for (std::uint64_t n = 1;; ++n) {
    TestAllocator alloc;
    alloc.fail_at = n;
    const Result r = runCharged<Program>(script, alloc, held);
    ++totals.runs;
    if (held != 0) complain(n, "keeps " + std::to_string(held) + " bytes after the run");
    if (alloc.allocations < n) {
      // Nothing failed: this run must be the free run again.
      if (r.ending != reference.ending) complain(n, "completing run ended '" + r.ending + "', free run '" + reference.ending + "'");
      if (r.output != reference.output) complain(n, "completing run printed other output");
      if (n > totals.max_n) totals.max_n = n;
      break;
    }
    if (r.ending == out_of_memory) {
      // What was printed before memory ran out is what the free run printed up to there.
      if (!reference.output.starts_with(r.output)) complain(n, "printed other output before OutOfMemory");
    } else if (r.ending != reference.ending || r.output != reference.output) {
      complain(n, "ended '" + r.ending + "', expected OutOfMemory or the free run's '" +
                      reference.ending + "' and output");
    }
    if (totals.failures > 20) return;
  }
#ifdef ZANDLE_SWEEP_LSAN
  if (__lsan_do_recoverable_leak_check() != 0) complain(0, "LeakSanitizer found leaks");
#endif
}

// What a run of a script showed: how it ended, what it printed, its variables afterwards,
// the instructions it executed, the line it stopped at, and how often it paused.
struct Observation {
  std::string ending, output, variables;
  std::uint64_t instructions = 0;
  std::uint32_t line = 0;
  std::uint64_t pauses = 0;
};

// Runs a script on a machine of its own, in slices of `slice` instructions (0: whole), each
// pause resumed at once. With `moves`, every pause is saved as a snapshot, the machine
// dropped, and the snapshot restored into a new machine that goes on (`broken` tells what
// went wrong on the way: a snapshot that would not restore, or whose restored machine's own
// snapshot has other bytes). A Program also has `Machine`, `Options options(sink, reader,
// alloc)` and `std::string variables(const Machine&)`.
template <class Program>
Observation observe(const Script& script, std::uint64_t slice, bool moves = false, std::string* broken = nullptr) {
  using Machine = typename Program::Machine;
  ReservedSink sink(std::size_t{1} << 20);
  PipeInput input(script.input);
  TestAllocator alloc;
  Observation seen;
  {
    auto machine = std::make_unique<Machine>(Program::options(sink.sink(), input.reader(), alloc));
    machine->control().setSlice(slice);
    auto o = Program::start(*machine, script.text);
    while (o.ending == Ending::paused && seen.pauses <= script.text.size() + 1000000) {
      ++seen.pauses;
      if (moves) {
        Memory memory;
        Buffer saved(memory), again(memory);
        auto moved = std::make_unique<Machine>(Program::options(sink.sink(), input.reader(), alloc));
        moved->control().setSlice(slice);
        if (!machine->snapshot(saved) || moved->restore(saved.view()) != Restored::ok) {
          if (broken != nullptr) *broken = "a snapshot did not restore";
          break;
        }
        if (!moved->snapshot(again) || again.view() != saved.view()) {
          if (broken != nullptr) *broken = "a restored machine's snapshot has other bytes";
        }
        machine = std::move(moved);
      }
      o = machine->resume();
    }
    seen.ending = Program::describe(o);
    seen.variables = Program::variables(*machine);
    seen.instructions = machine->instructions();
    seen.line = machine->failedAt().line;
  }
  seen.output = sink.take();
  return seen;
}

// Slices one script at every size from 1 to its whole run's length (with longer runs: up to
// 300, then a spread up to the length and past it): every sliced run must print, end, leave
// its variables and count its instructions exactly as the whole run, and pause once each
// time its count reaches a multiple of the slice with an instruction left to run. Runs in
// slices of up to 40 (of scripts of up to 3,000 instructions) are made again moving to a new
// machine through a snapshot at every pause, with the same results.
template <class Program>
void sliceScript(const Script& script, Totals& totals) {
  const std::size_t failures_before = totals.failures;
  auto complain = [&](std::uint64_t slice, const std::string& what) {
    ++totals.failures;
    std::printf("FAIL %s (slices of %llu): %s\n", script.name.c_str(), static_cast<unsigned long long>(slice),
                what.c_str());
  };
  const Observation whole = observe<Program>(script, 0);
  if (whole.pauses != 0) complain(0, "a whole run paused");
  const std::uint64_t n = whole.instructions;
  std::vector<std::uint64_t> sizes;
  for (std::uint64_t k = 1; k <= n + 1 && k <= 300; ++k) sizes.push_back(k);
  for (std::uint64_t k = 301; k <= n + 1; k += (n - 300) / 50 + 1) sizes.push_back(k);
  if (n > 300) sizes.insert(sizes.end(), {n - 1, n, n + 1});
  for (const std::uint64_t slice : sizes) {
    for (const bool moves : {false, true}) {
    // A move copies the machine twice: runs of a few thousand instructions are enough.
    if (moves && (slice > 40 || n > 3000)) break;
    std::string broken;
    const Observation s = observe<Program>(script, slice, moves, &broken);
    ++totals.runs;
    if (!broken.empty()) complain(slice, broken);
    if (s.ending != whole.ending) complain(slice, "ended '" + s.ending + "', whole '" + whole.ending + "'");
    if (s.output != whole.output) complain(slice, "printed other output");
    if (s.variables != whole.variables) complain(slice, "left other variables");
    if (s.instructions != n) {
      complain(slice, "counted " + std::to_string(s.instructions) + " instructions, whole " + std::to_string(n));
    }
    if (s.line != whole.line) complain(slice, "stopped at line " + std::to_string(s.line));
    const bool ended_by_count = whole.ending.starts_with("halted");
    if (!ended_by_count && n > 0 && s.pauses != (n - 1) / slice) {
      complain(slice, "paused " + std::to_string(s.pauses) + " times");
    }
    if (totals.failures > failures_before + 10) break;
    }
  }
  ++totals.scripts;
  if (totals.failures != failures_before) ++totals.failed_scripts;
}

inline bool readFile(const std::string& path, std::string& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(file), {});
  return true;
}

// The test program: sweeps the built-in scripts and every script named on the command line
// ("[--name NAME] [--stdin INPUT] PATH", as tests/sweep/run.py passes them); prints a
// summary and the closing count, and fails on any fault.
template <class Program>
int sweepMain(const char* program, const std::vector<Script>& builtins,
              int argc, char** argv, std::uint64_t max_allocations) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<Script> scripts = builtins;
  Script next;
  bool slices = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--slices") {
      slices = true;
      continue;
    }
    if ((arg == "--name" || arg == "--stdin") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--name") {
        next.name = value;
      } else if (!readFile(value, next.input)) {
        return 2;
      }
      continue;
    }
    if (!readFile(arg, next.text)) return 2;
    if (next.name.empty()) next.name = arg;
    scripts.push_back(std::move(next));
    next = Script{};
  }
  Totals totals;
  for (const Script& s : scripts) {
    if (slices) {
      sliceScript<Program>(s, totals);
    } else {
      sweepScript<Program>(s, max_allocations, totals);
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (slices) {
    std::printf("%s: %zu scripts run in slices of every size, %zu runs, %.1f s\n", program, totals.scripts,
                totals.runs, seconds);
    std::printf("%zu passed, %zu failed\n", totals.scripts - totals.failed_scripts, totals.failed_scripts);
    return totals.failures == 0 && totals.scripts > 0 ? 0 : 1;
  }
  std::printf("%s: %zu scripts swept (%zu skipped as too large), %zu runs, allocation N up to %llu, %.1f s\n",
              program, totals.scripts, totals.skipped, totals.runs,
              static_cast<unsigned long long>(totals.max_n), seconds);
  std::printf("%zu passed, %zu failed\n", totals.scripts - totals.failed_scripts,
              totals.failed_scripts);
  return totals.failures == 0 && totals.scripts > 0 ? 0 : 1;
}

}  // namespace zandle::sweep
