// The C++ layer: ownership, string_view texts, callable host escapes, typed variables, and a
// host calling back into a script.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
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

}  // namespace
