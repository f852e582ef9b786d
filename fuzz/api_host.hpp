// What the harnesses that go through the public interface share with their hosts' escapes.
#pragma once
#include <cstddef>

#include "harness.hpp"
#include "zandle/zandle.h"

namespace zandle::fuzz {

// A host escape's body: stores its first argument as its result, by each machine's
// convention (vm: ARG1 into `echoed`; zndvm: ARG0 into RET0).
inline int echoArgument(zandle_machine* m) {
  const bool vm = zandle_machine_kind(m) == ZANDLE_VM;
  const char* text = nullptr;
  std::size_t len = 0;
  const zandle_status s = zandle_escape_arg(m, vm ? 1 : 0, &text, &len);
  if (s == ZANDLE_OUT_OF_MEMORY) return s;
  if (s != ZANDLE_OK) return zandle_escape_fail(m, "NoArgument", 10);
  expect(text != nullptr || len == 0, "api: an argument without bytes");
  return vm ? zandle_set_text(m, "echoed", 6, text, len) : zandle_escape_result(m, 0, text, len);
}

}  // namespace zandle::fuzz
