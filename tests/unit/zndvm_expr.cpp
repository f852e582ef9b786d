// Expressions: the operator tables, the compiler's shapes, the tiers and left-to-right rule in
// both evaluators, where the compiled and the text evaluator differ, and the memory rules
// (numeric evaluation allocates nothing; working memory is reset on every exit).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "errors.hpp"
#include "expr.hpp"

namespace zandle::zndvm {
namespace {

// The store with the fallible calls asserted, so that the tests read as before.
struct Vars : Variables {
  explicit Vars(Memory& memory) : Variables(memory) {}
  SlotId intern(std::string_view name) {
    SlotId id = no_slot;
    EXPECT_TRUE(Variables::intern(name, id));
    return id;
  }
  void set(SlotId id, Value v) { EXPECT_TRUE(Variables::set(id, v)); }
  void set(std::string_view name, Value v) { EXPECT_TRUE(Variables::set(name, v)); }
};

std::string print(const Value& v) {
  char buf[value_text_capacity];
  return std::string(valueToString(v, buf));
}

class Expr : public ::testing::Test {
 protected:
  Memory memory;
  Vars vars{memory};
  Arena persistent{memory, 4096}, scratch{memory, 4096}, temp{memory, 4096};
  EvalContext ctx{vars, scratch, temp};

  CompiledExpr compile(std::string_view text) {
    CompiledExpr e;
    EXPECT_TRUE(compileExpression(persistent, text, vars, e)) << text;
    return e;
  }

  Value compiled(std::string_view text) {
    CompiledExpr e = compile(text);
    EXPECT_TRUE(e.compiled()) << text;
    return evalCompiledExpr(ctx, e);
  }

  Value text(std::string_view t) { return evaluate(ctx, t); }

  Error compiledError(std::string_view t) {
    const Value v = compiled(t);
    if (v.failed()) return v.error();
    ADD_FAILURE() << t << " did not fail";
    return Error::ok;
  }
};

TEST_F(Expr, EveryOperatorAndNoOtherSpelling) {
  const std::pair<const char*, const char*> applied[] = {
      {"6 + 3", "9"},      {"6 - 3", "3"},       {"6 * 3", "18"},       {"6 / 3", "2"},
      {"6 == 3", "1"},     {"6 != 3", "0"},      {"6 > 3", "0"},        {"6 < 3", "1"},
      {"ab s++ cd", "abcd"}, {"ab ?= ab", "0"},  {"abc s?= ab", "0"},   {"abc e?= bc", "0"},
      {"abc -?= b", "0"}};
  for (const auto& [expr, expected] : applied) {
    EXPECT_EQ(print(compiled(expr)), expected) << expr;
    EXPECT_EQ(print(text(expr)), expected) << expr;
  }
  for (const char* not_op : {"S++", "=", "<=", ">=", "&&", "+=", "++", "s+++", "s+", "?", "x"}) {
    const std::string expr = std::string("1 ") + not_op + " 2";
    EXPECT_FALSE(compile(expr).compiled()) << expr;
    EXPECT_EQ(print(text(expr)), expr);  // no operator: the text comes back
  }
}
TEST_F(Expr, CompiledShapes) {
  CompiledExpr x = compile("x");
  ASSERT_EQ(x.size, 1u);
  EXPECT_EQ(x.items[0].kind, ExprOperand::Kind::variable);
  EXPECT_EQ(x.items[0].name(), "x");
  EXPECT_EQ(x.items[0].variable.slot, vars.intern("x"));

  CompiledExpr n = compile("42");
  ASSERT_EQ(n.size, 1u);
  EXPECT_EQ(n.items[0].kind, ExprOperand::Kind::literal);
  EXPECT_TRUE(identical(n.items[0].literal, Value::ofWord(42)));

  CompiledExpr sum = compile("a + 1");
  ASSERT_EQ(sum.size, 3u);
  EXPECT_EQ(sum.items[0].name(), "a");
  EXPECT_EQ(sum.items[1].kind, ExprOperand::Kind::op);
  EXPECT_EQ(sum.items[1].op, Op::add);
  EXPECT_TRUE(identical(sum.items[2].literal, Value::ofWord(1)));

  CompiledExpr neg = compile("-5 - -5");
  ASSERT_EQ(neg.size, 3u);
  EXPECT_TRUE(identical(neg.items[0].literal, Value::ofSword(-5)));
  EXPECT_EQ(neg.items[1].op, Op::sub);
  EXPECT_TRUE(identical(neg.items[2].literal, Value::ofSword(-5)));

  // Operator spellings in operand positions are ordinary names.
  CompiledExpr pluses = compile("+ + +");
  ASSERT_EQ(pluses.size, 3u);
  EXPECT_EQ(pluses.items[0].kind, ExprOperand::Kind::variable);
  EXPECT_EQ(pluses.items[0].name(), "+");
  EXPECT_EQ(pluses.items[1].op, Op::add);
  EXPECT_EQ(pluses.items[2].name(), "+");
  EXPECT_EQ(compile("- + -").items[2].name(), "-");

  CompiledExpr empty = compile("");
  ASSERT_EQ(empty.size, 1u);
  EXPECT_EQ(empty.items[0].kind, ExprOperand::Kind::variable);
  EXPECT_EQ(empty.items[0].name(), "");

  EXPECT_EQ(compile("1.5 * -2 + x").size, 5u);
}

TEST_F(Expr, NamesAreSlicesOfTheText) {
  const std::string source = "total s++ suffix";
  CompiledExpr e = compile(source);
  ASSERT_EQ(e.size, 3u);
  EXPECT_EQ(e.items[0].name().data(), source.data());
  EXPECT_EQ(e.items[2].name().data(), source.data() + 10);
}

TEST_F(Expr, MalformedTextsHaveNoCompiledForm) {
  for (const char* t : {"a  + 1", " a + 1", "a + 1 ", "a + b c", "a + b - c d", "a + b c d",
                        "a plus 1", "a +", "+ 1", "1 2 3", "a S++ b", "a = b", "a <= b", "a && b"}) {
    EXPECT_FALSE(compile(t).compiled()) << t;
  }
  EXPECT_EQ(vars.slotCount(), 0u);  // nothing was interned for them
}

TEST_F(Expr, LongExpressionsCompileToOneElementPerToken) {
  std::string t = "1";
  for (int i = 0; i < 500; ++i) t += " + 1";
  CompiledExpr e = compile(t);
  EXPECT_EQ(e.size, 1001u);
  EXPECT_EQ(print(evalCompiledExpr(ctx, e)), "501");
  EXPECT_EQ(print(text(t)), "501");
}

// Well-formed expressions mean the same to both evaluators.
TEST_F(Expr, BothEvaluatorsAgree) {
  vars.set("e", Value::ofStr(""));
  vars.set("h", Value::ofStr("hello"));
  const std::pair<const char*, const char*> cases[] = {
      {"1 + 2", "3"},
      {"7 / 2", "3.5"},
      {"1 / 0", "inf"},
      {"-1 / 0", "-inf"},
      {"0 * -1", "-0"},
      {"0.1 + 0.2", "0.30000000000000004"},
      {"9007199254740993 + 0", "9007199254740992"},
      {"2 + 3 * 4", "14"},
      {"2 * 3 + 4", "10"},
      {"10 - 4 - 3", "3"},
      {"8 / 2 / 2", "2"},
      {"2 - 3 * 4 / 8 + 1", "1.5"},
      {"1 < 2", "0"},
      {"2 < 1", "1"},
      {"2 > 1", "0"},
      {"1 < 2 == 0", "0"},
      {"1 == 1 == 1", "1"},
      {"5 != 5", "1"},
      {"abc s++ 1", "abc1"},
      {"1 s++ 2 + 1", "13"},
      {"3 - 2 s++ 1", "11"},
      {"1 s++ 2 * 3", "16"},
      {"1.50 s++ x", "1.5x"},
      {"10 == 10.0", "0"},
      {"10 ?= 10.0", "0"},
      {"10 ?= 10.5", "1"},
      {"abc ?= ABC", "1"},
      {"hello -?= ell", "0"},
      {"hello s?= he", "0"},
      {"hello e?= llo", "0"},
      {"ell s?= hello", "1"},
      {"ell e?= hello", "1"},
      {"ell -?= hello", "1"},
      {"hello -?= xyz", "1"},
      {"hello s?= hello", "0"},
      {"h -?= e", "0"},
      {"h s?= e", "0"},
      {"h e?= e", "0"},
      {"e ?= e", "0"},
      {"e -?= h", "1"},
      {"e s++ e", ""},
      {"h s++ e", "hello"},
      {"nan == nan", "1"},
      {"nan != nan", "0"},
      {"nan > 1", "1"},
      {"nan < 1", "1"},
      {"inf > 1e308", "0"},
      {"0x10 + 1_000", "1016"},
      {"-5 - -5", "0"},
      {"18446744073709551615 + 0", "18446744073709552000"},
      {"1 + 2 ?= 3", "0"},
      {"a s++ + s++ b", "a+b"},
  };
  for (const auto& [expr, expected] : cases) {
    SCOPED_TRACE(expr);
    EXPECT_EQ(print(compiled(expr)), expected);
    EXPECT_EQ(print(text(expr)), expected);
  }
}

TEST_F(Expr, ResultTypes) {
  EXPECT_EQ(compiled("1 + 2").type, Type::float_);
  EXPECT_EQ(compiled("1 < 2").type, Type::word);
  EXPECT_EQ(compiled("a ?= a").type, Type::word);
  EXPECT_EQ(compiled("1 s++ 2").type, Type::str);
  EXPECT_EQ(compiled("-7").type, Type::sword);
  const Value nan = compiled("0 / 0");
  ASSERT_EQ(nan.type, Type::float_);
  ASSERT_TRUE(std::isnan(nan.as.float_));
  EXPECT_EQ(print(nan), std::signbit(nan.as.float_) ? "-nan" : "nan");
  EXPECT_FALSE(isTrue(compiled("0 * -1")));  // prints -0
  EXPECT_TRUE(isTrue(compiled("0 * 1")));
}

TEST_F(Expr, EmptyRightOperandAfterATrailingSpace) {
  // Three tokens, the last one empty: an empty text starts, ends and is contained in all.
  for (const char* t : {"hello s?= ", "hello e?= ", "hello -?= "}) {
    EXPECT_EQ(print(compiled(t)), "0") << t;
    EXPECT_EQ(print(text(t)), "0") << t;
  }
  EXPECT_EQ(print(text("hello ?= ")), "1");
}

TEST_F(Expr, UndefinedNamesStandForThemselves) {
  EXPECT_EQ(print(text("hello")), "hello");
  EXPECT_EQ(text("hello").type, Type::str);
  EXPECT_TRUE(identical(text("42"), Value::ofWord(42)));
  EXPECT_TRUE(identical(text(""), Value::ofStr("")));
  EXPECT_EQ(print(compiled("hello")), "hello");
  EXPECT_EQ(print(compiled("name s++ 1")), "name1");
}

TEST_F(Expr, CompiledAndTextEvaluatorsDiffer) {
  EXPECT_EQ(compiledError("abc + 1"), Error::NotNumeric);
  EXPECT_EQ(compiledError("1 * abc"), Error::NotNumeric);
  EXPECT_EQ(compiledError("1 + 2 s++ x * 3"), Error::NotNumeric);
  Value t = text("abc + 1");
  EXPECT_EQ(t.type, Type::str);
  EXPECT_EQ(t.text(), "abc + 1");

  vars.set("x", Value::ofWord(5));
  EXPECT_EQ(text("x is here").text(), "5 is here");
  EXPECT_EQ(text("x  + 1").text(), "5  + 1");  // spacing kept
  EXPECT_EQ(print(text("x + 1")), "6");
  EXPECT_EQ(text("x + y").text(), "5 + y");
  EXPECT_EQ(text("+ + +").text(), "+ + +");
  EXPECT_EQ(text("1 * 2 3").text(), "1 * 2 3");  // two elements remain
  EXPECT_EQ(text("x +").text(), "5 +");

  // A number in the text is looked up as a name first; a compiled literal never is.
  vars.set("5", Value::ofWord(7));
  EXPECT_EQ(print(text("5 + 1")), "8");
  EXPECT_EQ(print(compiled("5 + 1")), "6");
  EXPECT_EQ(print(text("5")), "7");
  EXPECT_EQ(print(compiled("5")), "5");
}

TEST_F(Expr, StrOperandsThatReadAsNumbers) {
  vars.set("s", Value::ofStr("12"));
  vars.set("h", Value::ofStr("0x10"));
  vars.set("u", Value::ofStr("1_0.5"));
  vars.set("sp", Value::ofStr(" 12"));
  EXPECT_EQ(print(compiled("s + 1")), "13");
  EXPECT_EQ(print(compiled("h * 2")), "32");
  EXPECT_EQ(print(compiled("u - 0.5")), "10");
  EXPECT_EQ(compiledError("sp + 1"), Error::NotNumeric);
}

TEST_F(Expr, SubstitutionReplacesWholeTokensOnly) {
  vars.set("name", Value::ofStr("Bob"));
  vars.set("f", Value::ofFloat(1.5));
  vars.set("", Value::ofStr("E"));
  EXPECT_EQ(text("Hello name").text(), "Hello Bob");
  EXPECT_EQ(text("names name_ f f.").text(), "names name_ 1.5 f.");
  EXPECT_EQ(text("a  b").text(), "a E b");  // the empty token between two spaces
  EXPECT_EQ(text("x").text(), "x");
  EXPECT_EQ(text("Hello name").text(), "Hello Bob");
}

TEST_F(Expr, StrResultsAreCopiedToScratch) {
  vars.set("a", Value::ofStr("abc"));
  const Value* stored = vars.find("a");
  Value single = compiled("a");
  EXPECT_EQ(single.text(), "abc");
  EXPECT_NE(single.text().data(), stored->text().data());
  Value by_text = text("a");
  EXPECT_NE(by_text.text().data(), stored->text().data());
  // Temp memory is reset on return, so a later evaluation cannot overwrite this result.
  Value joined = compiled("a s++ a");
  compiled("a s++ zzzzzzzzzzzzzzzzzzzzzzzzzzzz");
  text("a s++ yyyyyyyyyyyyyyyyyyyyyyyy");
  EXPECT_EQ(joined.text(), "abcabc");
}

TEST_F(Expr, StoringAnExpressionOfItself) {
  const SlotId a = vars.intern("a");
  vars.set(a, Value::ofStr("xy"));
  CompiledExpr doubled = compile("a s++ a");
  for (int i = 0; i < 3; ++i) vars.set(a, evalCompiledExpr(ctx, doubled));
  EXPECT_EQ(vars.get(a)->text(), std::string("xyxyxyxyxyxyxyxy"));
  vars.set(a, evaluate(ctx, "a"));
  EXPECT_EQ(vars.get(a)->text(), std::string("xyxyxyxyxyxyxyxy"));
}

TEST_F(Expr, NumericEvaluationAllocatesNothing) {
  vars.set("a", Value::ofFloat(0.5));
  vars.set("n", Value::ofWord(3));
  const CompiledExpr exprs[] = {compile("a + 1"), compile("a < 10000000"), compile("a"),
                                compile("n * 2 + a / 4 - 1 == 5"),
                                compile("1 + 2 + 3 + 4 + 5 + 6 + 7 + 8")};
  for (int i = 0; i < 1000; ++i) {
    for (const CompiledExpr& e : exprs) evalCompiledExpr(ctx, e);
  }
  EXPECT_EQ(temp.capacity(), 0u);
  EXPECT_EQ(scratch.capacity(), 0u);
}

TEST_F(Expr, WorkingMemoryIsResetOnEveryExit) {
  vars.set("s", Value::ofStr(std::string(3000, 's')));
  std::string long_sum = "1";
  for (int i = 0; i < 40; ++i) long_sum += " + 1";
  const CompiledExpr failing = compile("s s++ s + 1");
  const CompiledExpr long_list = compile(long_sum);
  auto once = [&] {
    EXPECT_EQ(evalCompiledExpr(ctx, failing).error(), Error::NotNumeric);
    evalCompiledExpr(ctx, long_list);
    evaluate(ctx, "s s++ s + 1");  // falls back after the concatenation
    evaluate(ctx, long_sum);
  };
  once();
  const std::size_t settled = temp.capacity();
  for (int i = 0; i < 2000; ++i) once();
  EXPECT_EQ(temp.capacity(), settled);
}

TEST_F(Expr, EvaluateAcceptsTextLivingInTemp) {
  vars.set("x", Value::ofWord(2));
  std::string_view t;
  ASSERT_TRUE(temp.copy("x * 21", t));
  EXPECT_EQ(print(evaluate(ctx, t)), "42");
  ASSERT_TRUE(temp.copy("x s++ x", t));
  EXPECT_EQ(evaluate(ctx, t).text(), "22");
}

TEST_F(Expr, ApplyOpDirectly) {
  EXPECT_EQ(print(applyOp(temp, Op::concat, Value::ofFloat(1.5), Value::ofSword(-2))), "1.5-2");
  EXPECT_TRUE(identical(applyOp(temp, Op::str_eq, Value::ofWord(10), Value::ofFloat(10.0)),
                        Value::ofWord(0)));
  EXPECT_TRUE(identical(applyOp(temp, Op::sub, Value::ofWord(0), Value::ofWord(1)),
                        Value::ofFloat(-1.0)));
  EXPECT_EQ(applyOp(temp, Op::lt, Value::ofStr("1"), Value::ofStr("two")).error(), Error::NotNumeric);
}

// Running out of memory inside an operator is a failure in both evaluators: the text
// evaluator falls back to its substituted text only for the language's own failures.
TEST_F(Expr, OutOfMemoryInsideAnOperatorIsNeverAValue) {
  vars.set("big", Value::ofStr(std::string(100000, 'x')));
  vars.set("e", Value::ofStr("big s++ big"));
  memory.cap = memory.held() + 150000;  // one copy of big fits, two do not
  EXPECT_EQ(text("big s++ big").error(), Error::OutOfMemory);
  EXPECT_EQ(compiled("big s++ big").error(), Error::OutOfMemory);
  EXPECT_EQ(text("big s++ big ?= big").error(), Error::OutOfMemory);
  // The language's own failure still falls back.
  EXPECT_EQ(text("abc + 1").text(), "abc + 1");
  memory.cap = SIZE_MAX;
  EXPECT_EQ(text("big s++ big").str_len, 200000u);
}

}  // namespace
}  // namespace zandle::zndvm
