// Machines on threads: distinct machines on distinct threads are independent, and machines
// that read the process's standard input share it line by line. `make tsan` runs these under
// ThreadSanitizer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "zandle/zandle.h"

namespace {

int collect(void* user, const char* bytes, std::size_t size) {
  static_cast<std::string*>(user)->append(bytes, size);
  return 0;
}

// Adds one to its numeric argument, as text.
int increment(zandle_machine* m, void*) {
  const bool vm = zandle_machine_kind(m) == ZANDLE_VM;
  const char* text;
  std::size_t len;
  if (zandle_escape_arg(m, vm ? 1 : 0, &text, &len) != ZANDLE_OK) return zandle_escape_fail(m, "NoArgument", 10);
  const std::string next = std::to_string(std::stoull(std::string(text, len)) + 1);
  return vm ? zandle_set_text(m, "n", 1, next.data(), next.size())
            : zandle_escape_result(m, 0, next.data(), next.size());
}

// One machine's life: made, given an escape, run a few times, read and freed. Returns what
// went wrong, or "" when nothing did.
std::string lifeOfAMachine(zandle_kind kind, int seed) {
  std::string out;
  zandle_options o;
  zandle_options_init(&o);
  o.output = collect;
  o.output_user = &out;
  o.escapes = seed % 3 == 0 ? "console" : "sandbox";
  zandle_machine* m = nullptr;
  if (zandle_new(kind, &o, &m) != ZANDLE_OK) return "new";
  if (zandle_register_escape(m, "inc", 3, increment, nullptr) != ZANDLE_OK) return "register";
  const std::string start = std::to_string(seed);
  if (zandle_set_text(m, "n", 1, start.data(), start.size()) != ZANDLE_OK) return "set";
  const std::string script = kind == ZANDLE_VM
                                 ? "New ARG1 'n'\nFunc step\nEscape inc\nEnd\nCall step\nCall step\nCall step\n"
                                   "Escape Print\n"
                                 : "New __Escape_inc_ARG0 'n'\nNew i '0'\nFunc loop\nEscape inc\n"
                                   "New n __Escape_inc_RET0\nNew i \"i + 1\"\nIf loop \"i < 50\"\nEnd\nCall loop\n"
                                   "New __Escape_std.io.print_ARG0 'n'\nEscape std.io.print\n";
  const zandle_status s = zandle_run(m, script.data(), script.size(), "t.znd", 5);
  const std::string expected = std::to_string(seed + (kind == ZANDLE_VM ? 3 : 50));
  const char* text = nullptr;
  std::size_t len = 0;
  std::string problem;
  if (s != ZANDLE_OK) {
    problem = std::string("run: ") + zandle_error_name(m);
  } else if (zandle_get_text(m, "n", 1, &text, &len) != ZANDLE_OK || std::string(text, len) != expected) {
    problem = "n";
  } else if (out != expected + "\n") {
    problem = "output " + out;
  }
  zandle_free(m);
  return problem;
}

TEST(Threads, DistinctMachinesOnDistinctThreadsAreIndependent) {
  constexpr int threads = 4;
  constexpr int machines = 60;
  std::vector<std::string> problems(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([t, &problems] {
      for (int i = 0; i < machines && problems[t].empty(); ++i) {
        problems[t] = lifeOfAMachine(i % 2 == 0 ? ZANDLE_ZNDVM : ZANDLE_VM, t * 1000 + i);
      }
    });
  }
  for (std::thread& th : pool) th.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(problems[t], "") << "thread " << t;
}

// The text of line i: its number, then a run of one letter whose length varies, so that a
// line torn or joined with another shows.
std::string lineText(int i) {
  return std::to_string(i) + ":" + std::string(static_cast<std::size_t>(i * 37 % 900), static_cast<char>('a' + i % 26));
}

// Reads standard input through a machine, one line a run, until it ends.
void readAll(zandle_kind kind, std::vector<std::string>& lines, std::string& ending) {
  zandle_options o;
  zandle_options_init(&o);
  o.escapes = "console";
  zandle_machine* m = nullptr;
  if (zandle_new(kind, &o, &m) != ZANDLE_OK) return;
  const std::string script = kind == ZANDLE_VM ? "Escape Input\n" : "Escape std.io.input\n";
  const char* variable = kind == ZANDLE_VM ? "input" : "__Escape_std.io.input_RET0";
  while (zandle_run(m, script.data(), script.size(), nullptr, 0) == ZANDLE_OK) {
    const char* text = nullptr;
    std::size_t len = 0;
    if (zandle_get_text(m, variable, std::strlen(variable), &text, &len) != ZANDLE_OK) break;
    lines.emplace_back(text, len);
  }
  ending = zandle_error_name(m);
  zandle_free(m);
}

TEST(Threads, MachinesOnTheSharedStandardInputEachGetWholeLines) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(::dup2(fds[0], 0), 0);
  ::close(fds[0]);
  constexpr int count = 20000;
  std::thread writer([fd = fds[1]] {
    for (int i = 0; i < count; ++i) {
      const std::string line = lineText(i) + "\n";
      if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    }
    ::close(fd);
  });
  std::vector<std::string> got_vm, got_zndvm;
  std::string end_vm, end_zndvm;
  std::thread a([&] { readAll(ZANDLE_VM, got_vm, end_vm); });
  std::thread b([&] { readAll(ZANDLE_ZNDVM, got_zndvm, end_zndvm); });
  writer.join();
  a.join();
  b.join();
  ::dup2(saved, 0);
  ::close(saved);

  EXPECT_EQ(end_vm, "EndOfStream");
  EXPECT_EQ(end_zndvm, "EndOfStream");
  std::set<std::string> seen;
  std::size_t torn = 0;
  for (const auto* got : {&got_vm, &got_zndvm}) {
    for (const std::string& line : *got) {
      const int i = std::atoi(line.c_str());
      if (line != lineText(i) || !seen.insert(line).second) ++torn;
    }
  }
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(got_vm.size() + got_zndvm.size(), static_cast<std::size_t>(count));
}

}  // namespace
