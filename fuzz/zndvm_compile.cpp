// The zndvm line compiler on an arbitrary line: tokenizing into (text, marker) pairs, building
// the record, and evaluating each literal operand with both evaluators against a few typed
// variables. The pairs must account for the line, the record must hold what the pairs say,
// a compiled expression must have its operands and operators in place, and the text
// evaluator must never fail.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "common/arena.hpp"
#include "compiler.hpp"
#include "errors.hpp"
#include "expr.hpp"
#include "harness.hpp"

using namespace zandle;
using fuzz::expect;
using fuzz::isSpace;
using namespace zandle::zndvm;

namespace {

AddrMode modeOfMarker(std::string_view marker) {
  if (marker == marker_literal) return AddrMode::literal;
  if (marker == marker_true_literal) return AddrMode::true_literal;
  if (marker == marker_forced_eval) return AddrMode::forced_eval;
  if (marker == marker_pointer) return AddrMode::pointer;
  expect(marker == marker_bare, "zndvm tokenize: a pair without a marker");
  return AddrMode::bare;
}

void checkTokens(std::string_view line, const Vec<std::string_view>& tokens) {
  expect(tokens.size() % 2 == 0, "zndvm tokenize: odd token count");
  const char* cursor = line.data();
  const char* const end = line.data() + line.size();
  for (std::size_t i = 0; i < tokens.size(); i += 2) {
    const std::string_view t = tokens[i];
    // A marker is no slice of the line; a text always is.
    expect(tokens[i + 1].data() < line.data() || tokens[i + 1].data() > end,
           "zndvm tokenize: a text where a marker belongs");
    const AddrMode mode = modeOfMarker(tokens[i + 1]);
    expect(t.data() >= cursor && t.data() + t.size() <= end, "zndvm tokenize: token outside the line");
    const char* gap_end = mode == AddrMode::bare ? t.data() : t.data() - 1;
    expect(gap_end >= cursor, "zndvm tokenize: tokens overlap");
    for (const char* p = cursor; p < gap_end; ++p) expect(isSpace(*p), "zndvm tokenize: text lost between tokens");
    if (mode == AddrMode::bare) {
      expect(!t.empty() && t[0] != '#' && t[0] != '/', "zndvm tokenize: bad bare token start");
      for (char c : t) expect(!isSpace(c), "zndvm tokenize: white space inside a bare token");
      cursor = t.data() + t.size();
      expect(cursor == end || isSpace(*cursor), "zndvm tokenize: bare token cut short");
    } else {
      const char open = *gap_end;
      const char close = open == '<' ? '>' : open == '{' ? '}' : open;
      expect((open == '"' && mode == AddrMode::literal) ||
                 (open == '\'' && mode == AddrMode::true_literal) ||
                 (open == '{' && mode == AddrMode::forced_eval) ||
                 (open == '<' && mode == AddrMode::pointer),
             "zndvm tokenize: wrong marker for the delimiter");
      expect(t.data() + t.size() < end && t.data()[t.size()] == close &&
                 t.find(close) == std::string_view::npos,
             "zndvm tokenize: delimited token not closed where it ends");
      cursor = t.data() + t.size() + 1;
    }
  }
  while (cursor < end && isSpace(*cursor)) ++cursor;
  expect(cursor == end || *cursor == '#' || *cursor == '/', "zndvm tokenize: text after the last token");
}

void checkCompiled(const Operand& o, std::string_view text, std::string_view marker,
                   const Variables& vars) {
  expect(o.text == text, "zndvm compile: operand text differs from its token");
  expect(o.mode == modeOfMarker(marker), "zndvm compile: operand mode differs from its marker");
  if (!o.expr.compiled()) return;
  expect(o.mode == AddrMode::literal, "zndvm compile: a compiled expression outside literal mode");
  expect(o.expr.size % 2 == 1, "zndvm compile: even expression length");
  for (std::size_t k = 0; k < o.expr.size; ++k) {
    const ExprOperand& e = o.expr.items[k];
    expect((e.kind == ExprOperand::Kind::op) == (k % 2 == 1), "zndvm compile: operator out of place");
    if (e.kind == ExprOperand::Kind::variable) {
      expect(vars.name(e.variable.slot) == e.name(), "zndvm compile: variable bound to the wrong slot");
    } else if (e.kind == ExprOperand::Kind::literal) {
      expect(e.literal.type != Type::str, "zndvm compile: a str literal");
    }
  }
}

// Both evaluators on a literal operand. The compiled one may fail only with NotNumeric; the
// text one never fails (memory is plentiful here).
void evaluateBoth(EvalContext& ctx, const Operand& o) {
  char buf[value_text_capacity];
  if (o.expr.compiled()) {
    const Value v = evalCompiledExpr(ctx, o.expr);
    if (v.failed()) {
      expect(v.error() == Error::NotNumeric, "zndvm evalCompiledExpr: a failure other than NotNumeric");
    } else {
      (void)valueToString(v, buf);
    }
    ctx.scratch.reset();
  }
  const Value v = evaluate(ctx, o.text);
  if (v.failed()) fuzz::violated("zndvm evaluate: failed");
  (void)valueToString(v, buf);
  ctx.scratch.reset();
  ctx.temp.reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  Memory memory;
  Vec<std::string_view> tokens(memory);
  if (Error e = tokenize(line, tokens); e != Error::ok) {
    expect(e == Error::UnterminatedString, "zndvm tokenize: a failure other than UnterminatedString");
    return 0;
  }
  checkTokens(line, tokens);
  if (tokens.empty()) return 0;

  Variables vars(memory);
  const bool stored = vars.set("x", Value::ofWord(5)) && vars.set("n", Value::ofSword(-3)) &&
                      vars.set("f", Value::ofFloat(2.5)) && vars.set("s", Value::ofStr("abc")) &&
                      vars.set("t", Value::ofStr("12")) && vars.set("e", Value::ofStr(""));
  expect(stored, "zndvm: no room for the variables");
  Arena arena(memory, 4096), scratch(memory, 4096), temp(memory, 4096);
  ParsedLine ins;
  if (Error e = compileLine(tokens, arena, vars, ins); e != Error::ok) {
    expect(e == Error::UnknownInstruction || e == Error::UnknownAddressingMode,
           "zndvm compile: an unexpected failure");
    return 0;
  }
  expect(ins.has_data == (tokens.size() >= 6), "zndvm compile: has_data wrong");
  if (tokens.size() >= 4) checkCompiled(ins.dest, tokens[2], tokens[3], vars);
  if (tokens.size() >= 6) checkCompiled(ins.data, tokens[4], tokens[5], vars);
  EvalContext ctx{vars, scratch, temp};
  for (const Operand* o : {&ins.dest, &ins.data}) {
    if (o->mode == AddrMode::literal) evaluateBoth(ctx, *o);
  }
  return 0;
}
