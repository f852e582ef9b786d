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

// Where the machine stands and each call in progress, read to their last byte (the
// sanitizers check every byte the views reach); gives the place.
inline zandle_place readPlace(zandle_machine* m) {
  volatile char sink = 0;
  zandle_place at{};
  expect(zandle_where(m, &at) == ZANDLE_OK, "api: no place");
  for (std::size_t i = 0; i < at.source_len; ++i) sink = at.source[i];
  for (std::size_t i = 0; i < at.text_len; ++i) sink = at.text[i];
  const std::size_t calls = zandle_active_call_count(m);
  for (std::size_t i = 0; i < calls && i < 64; ++i) {
    const char* f = nullptr;
    std::size_t n = 0;
    zandle_place from{};
    expect(zandle_active_call(m, i, &f, &n, &from) == ZANDLE_OK, "api: an active call unreadable");
    for (std::size_t k = 0; k < n; ++k) sink = f[k];
    for (std::size_t k = 0; k < from.text_len; ++k) sink = from.text[k];
  }
  (void)sink;
  return at;
}

}  // namespace zandle::fuzz
