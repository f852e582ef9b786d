// Cost of one evaluation of a compiled expression on the executor's hot paths: the median
// over repeated runs of nanoseconds per evaluation.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "expr.hpp"

namespace {

using namespace zandle;
using namespace zandle::zndvm;

constexpr int runs = 21;
constexpr int evaluations_per_run = 1'000'000;

// Sinks the result so that the evaluation cannot be optimised away.
volatile std::uint64_t sink;

template <class Body>
double medianNanoseconds(Body body) {
  std::vector<double> per_eval;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < evaluations_per_run; ++i) body();
    const auto end = std::chrono::steady_clock::now();
    per_eval.push_back(std::chrono::duration<double, std::nano>(end - start).count() /
                       evaluations_per_run);
  }
  std::sort(per_eval.begin(), per_eval.end());
  return per_eval[per_eval.size() / 2];
}

CompiledExpr compiled(Arena& arena, std::string_view text, Variables& vars) {
  CompiledExpr e;
  if (!compileExpression(arena, text, vars, e)) std::abort();
  return e;
}

}  // namespace

int main() {
  Memory memory;
  Variables vars(memory);
  Arena persistent(memory, 4096), scratch(memory, 4096), temp(memory, 4096);
  EvalContext ctx{vars, scratch, temp};
  SlotId s;
  if (!vars.set("a", Value::ofFloat(1234.5)) || !vars.set("x", Value::ofStr("prefix-")) ||
      !vars.set("y", Value::ofStr("tail")) || !vars.intern("s", s)) {
    return 1;
  }

  const CompiledExpr add = compiled(persistent, "a + 1", vars);
  const CompiledExpr less = compiled(persistent, "a < 10000000", vars);
  const CompiledExpr concat = compiled(persistent, "x s++ y", vars);
  const CompiledExpr starts = compiled(persistent, "s s?= x", vars);

  std::printf("sizeof(Value) = %zu, sizeof(ExprOperand) = %zu\n", sizeof(Value),
              sizeof(ExprOperand));
  std::printf("median of %d runs of %d evaluations, ns per evaluation:\n", runs,
              evaluations_per_run);
  std::printf("  a + 1 (a a float)          %7.2f\n", medianNanoseconds([&] {
                sink = evalCompiledExpr(ctx, add).as.word;
              }));
  std::printf("  a < 10000000               %7.2f\n", medianNanoseconds([&] {
                sink = evalCompiledExpr(ctx, less).as.word;
              }));
  // One instruction's worth: the scratch arena is reset as each instruction starts.
  std::printf("  s = x s++ y, then s s?= x  %7.2f\n", medianNanoseconds([&] {
                scratch.reset();
                if (!vars.set(s, evalCompiledExpr(ctx, concat))) std::abort();
                scratch.reset();
                sink = evalCompiledExpr(ctx, starts).as.word;
              }));
  std::printf("  text: a + 1                %7.2f\n", medianNanoseconds([&] {
                sink = evaluate(ctx, "a + 1").as.word;
              }));
  char buf[value_text_capacity];
  std::printf("  print 1234.5               %7.2f\n", medianNanoseconds([&] {
                sink = formatFloat(1234.5, buf).size();
              }));
  std::printf("  print 0.1 + 0.2            %7.2f\n", medianNanoseconds([&] {
                sink = formatFloat(0.30000000000000004, buf).size();
              }));
  std::printf("  read 1234.5                %7.2f\n", medianNanoseconds([&] {
                sink = static_cast<std::uint64_t>(parseValue("1234.5").type);
              }));
  return 0;
}
