// The C++ layer: ownership, string_view texts, callable host escapes, typed variables, a
// host calling back into a script, and keeping control of runs.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "zandle/zandle.hpp"

namespace {

TEST(CppApi, AMachineOwnsItsHandleAndMoves) {
  zandle::Zndvm a;
  EXPECT_FALSE(a);
  ASSERT_EQ(zandle::Zndvm::create(a), ZANDLE_OK);
  ASSERT_TRUE(a);
  zandle_machine* handle = a.handle();
  zandle::Zndvm b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(b.handle(), handle);
  EXPECT_EQ(b.run("New x '5'\n"), ZANDLE_OK);
  std::uint64_t x = 0;
  EXPECT_EQ(b.getWord("x", x), ZANDLE_OK);
  EXPECT_EQ(x, 5u);
}

TEST(CppApi, ACallableIsAHostEscapeAndTheHostCallsBack) {
  zandle::Zndvm m;
  ASSERT_EQ(zandle::Zndvm::create(m), ZANDLE_OK);
  std::string log;
  auto app_log = [&log](zandle::EscapeContext ctx) {
    std::string_view text;
    if (ctx.arg(0, text) != ZANDLE_OK) return ctx.fail("NothingToLog");
    log.append(text).push_back('\n');
    return static_cast<int>(ctx.result(0, "logged"));
  };
  ASSERT_EQ(m.registerEscape("app.log", app_log), ZANDLE_OK);
  const std::string script =
      "New count '0'\n"
      "Func onEvent\n"
      "New count \"count + 1\"\n"
      "New line \"event count\"\n"
      "New __Escape_app.log_ARG0 <line>\n"
      "Escape app.log\n"
      "End\n";
  ASSERT_EQ(m.run(script, "events.znd"), ZANDLE_OK);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(m.call("onEvent"), ZANDLE_OK);
  EXPECT_EQ(log, "event 1\nevent 2\nevent 3\n");
  std::string_view result;
  EXPECT_EQ(m.getText("__Escape_app.log_RET0", result), ZANDLE_OK);
  EXPECT_EQ(result, "logged");
  EXPECT_EQ(m.removeEscape("app.log"), ZANDLE_OK);
  EXPECT_EQ(m.call("onEvent"), ZANDLE_FAILED);
  EXPECT_EQ(m.errorName(), "UnknownEscape");
  const zandle::Place at = m.where();
  EXPECT_EQ(at.line, 6u);
  EXPECT_EQ(at.text, "Escape app.log");
  ASSERT_EQ(m.activeCallCount(), 1u);
  EXPECT_EQ(m.activeCall(0).function, "onEvent");
  EXPECT_EQ(m.activeCall(0).called_from.line, 0u);  // the host called it
}

TEST(CppApi, VmMachinesTakeOptions) {
  std::string out;
  zandle::Options o;
  zandle_options_init(&o);
  o.output = [](void* user, const char* bytes, std::size_t size) {
    static_cast<std::string*>(user)->append(bytes, size);
    return 0;
  };
  o.output_user = &out;
  o.escapes = "sandbox";
  zandle::Vm vm;
  ASSERT_EQ(zandle::Vm::create(vm, &o), ZANDLE_OK);
  EXPECT_EQ(vm.setText("who", "world"), ZANDLE_OK);
  EXPECT_EQ(vm.run("New m \"hello s++ who\"\nNew ARG1 'm'\nEscape Print\nEscape Fread\n"), ZANDLE_FAILED);
  EXPECT_EQ(out, "helloworld\n");
  EXPECT_EQ(vm.errorName(), "UnknownEscape");
  EXPECT_EQ(vm.exitStatus(), 1);
  EXPECT_GT(vm.memoryUsed(), 0u);
  EXPECT_GE(vm.memoryPeak(), vm.memoryUsed());
}

TEST(CppApi, ArgumentsKeepTheirTextAndAThrowingCallableFailsTheRun) {
  zandle::Zndvm m;
  ASSERT_EQ(zandle::Zndvm::create(m), ZANDLE_OK);
  auto join = [](zandle::EscapeContext ctx) {
    std::string_view a, b;
    if (ctx.arg(0, a) != ZANDLE_OK || ctx.arg(1, b) != ZANDLE_OK) return ctx.fail("NoArguments");
    if (a == "0") throw std::runtime_error("the host gave up");
    const std::string joined = std::string(a) + "+" + std::string(b);
    return static_cast<int>(ctx.result(0, joined));
  };
  ASSERT_EQ(m.registerEscape("app.join", join), ZANDLE_OK);
  const std::string head = "New __Escape_app.join_ARG0 'a'\nNew __Escape_app.join_ARG1 'b'\nNew b '8'\n";
  ASSERT_EQ(m.run(head + "New a '7'\nEscape app.join\n"), ZANDLE_OK);
  std::string_view joined;
  ASSERT_EQ(m.getText("__Escape_app.join_RET0", joined), ZANDLE_OK);
  EXPECT_EQ(joined, "7+8");
  // The exception ends the run as a named failure at its line; the machine runs on.
  EXPECT_EQ(m.run(head + "New a '0'\nEscape app.join\nNew never '1'\n", "throws.znd"), ZANDLE_FAILED);
  EXPECT_EQ(m.errorName(), "HostException");
  EXPECT_EQ(m.where().line, 5u);
  EXPECT_EQ(m.run(head + "New a '1'\nEscape app.join\n"), ZANDLE_OK);
  ASSERT_EQ(m.getText("__Escape_app.join_RET0", joined), ZANDLE_OK);
  EXPECT_EQ(joined, "1+8");
}

TEST(CppApi, RunsPauseResumeAndMoveThroughSnapshots) {
  zandle::Zndvm m;
  ASSERT_EQ(zandle::Zndvm::create(m), ZANDLE_OK);
  int asked = 0;
  auto ask = [&asked](zandle::EscapeContext ctx) {
    ++asked;
    if (const zandle::Status s = ctx.result(0, "later"); s != ZANDLE_OK) return static_cast<int>(s);
    return ctx.pause();
  };
  ASSERT_EQ(m.registerEscape("app.ask", ask), ZANDLE_OK);
  ASSERT_EQ(m.setSlice(2), ZANDLE_OK);
  const std::string script = "New a '1'\nNew b '2'\nEscape app.ask\nNew c __Escape_app.ask_RET0\n";
  ASSERT_EQ(m.run(script), ZANDLE_PAUSED);
  EXPECT_TRUE(m.paused());
  EXPECT_EQ(m.run("New x '1'\n"), ZANDLE_BUSY);
  ASSERT_EQ(m.setSlice(0), ZANDLE_OK);
  ASSERT_EQ(m.resume(), ZANDLE_PAUSED);  // the escape asked for it
  EXPECT_EQ(asked, 1);
  std::string_view bytes;
  ASSERT_EQ(m.snapshot(bytes), ZANDLE_OK);
  const std::string saved(bytes);
  zandle::Zndvm n;
  ASSERT_EQ(zandle::Zndvm::create(n), ZANDLE_OK);
  ASSERT_EQ(n.restore(saved), ZANDLE_OK);
  EXPECT_TRUE(n.paused());
  EXPECT_EQ(n.resume(), ZANDLE_OK);
  std::string_view c;
  ASSERT_EQ(n.getText("c", c), ZANDLE_OK);
  EXPECT_EQ(c, "later");
  EXPECT_EQ(n.restore(saved.substr(1)), ZANDLE_INVALID_SNAPSHOT);
  EXPECT_EQ(m.discard(), ZANDLE_OK);
  EXPECT_FALSE(m.paused());

  // An endless loop, interrupted from another thread; a deadline pauses it too.
  const std::string loop = "Func loop\nNew i \"i + 1\"\nCall loop\nEnd\nNew i '0'\nCall loop\n";
  std::thread t([&m] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m.interrupt();
  });
  EXPECT_EQ(m.run(loop), ZANDLE_PAUSED);
  t.join();
  ASSERT_EQ(m.setDeadline(10'000'000), ZANDLE_OK);
  EXPECT_EQ(m.resume(), ZANDLE_PAUSED);
}

}  // namespace
