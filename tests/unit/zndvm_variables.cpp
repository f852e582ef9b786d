// The variable store: interning, lookups that create nothing, slots that own their string
// bytes (copies, reuse of capacity, and stores whose bytes alias a slot), cells that compiled
// code keeps, and concatenation into a slot, in place when it appends to the slot's value.
#include <gtest/gtest.h>

#include <string>

#include "variables.hpp"

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
  void concat(SlotId id, std::string_view l, std::string_view r) {
    EXPECT_TRUE(Variables::concat(id, l, r));
  }
  void set(std::string_view name, Value v) { EXPECT_TRUE(Variables::set(name, v)); }
};

TEST(Variables, InternGivesOneStableSlotPerName) {
  Memory memory;
  Vars vars(memory);
  const SlotId a = vars.intern("a");
  const SlotId b = vars.intern("b");
  EXPECT_NE(a, b);
  EXPECT_EQ(vars.intern("a"), a);
  EXPECT_EQ(vars.name(b), "b");
  EXPECT_EQ(vars.get(a), nullptr);  // interned, but holds no value yet
  EXPECT_EQ(vars.find("a"), nullptr);
  EXPECT_EQ(vars.slotCount(), 2u);
  EXPECT_EQ(vars.find("c"), nullptr);
  EXPECT_EQ(vars.slotCount(), 2u);  // a lookup creates nothing
}

TEST(Variables, NamesAreExactBytes) {
  Memory memory;
  Vars vars(memory);
  const std::string with_nul("a\0b", 3);
  vars.set("", Value::ofWord(1));
  vars.set(with_nul, Value::ofWord(2));
  vars.set("a", Value::ofWord(3));
  vars.set("A", Value::ofWord(4));
  vars.set("a_long_name_over_eight_bytes", Value::ofWord(5));
  vars.set("a_long_name_over_eight_bytez", Value::ofWord(6));
  EXPECT_EQ(vars.find("")->as.word, 1u);
  EXPECT_EQ(vars.find(with_nul)->as.word, 2u);
  EXPECT_EQ(vars.find("a")->as.word, 3u);
  EXPECT_EQ(vars.find("A")->as.word, 4u);
  EXPECT_EQ(vars.find("a_long_name_over_eight_bytes")->as.word, 5u);
  EXPECT_EQ(vars.find("a_long_name_over_eight_bytez")->as.word, 6u);
  EXPECT_EQ(vars.find(std::string_view("a\0", 2)), nullptr);
}

TEST(Variables, ManyNamesStayFindableAndSlotsDoNotMove) {
  Memory memory;
  Vars vars(memory);
  vars.set("first", Value::ofWord(42));
  const Value* first = vars.find("first");
  for (std::uint64_t i = 0; i < 20000; ++i) vars.set("v" + std::to_string(i), Value::ofWord(i));
  EXPECT_EQ(vars.find("first"), first);  // interning thousands of names moved nothing
  for (std::uint64_t i = 0; i < 20000; ++i) {
    const Value* v = vars.find("v" + std::to_string(i));
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->as.word, i);
  }
}

TEST(Variables, StoringCopiesTheBytes) {
  Memory memory;
  Vars vars(memory);
  std::string source = "hello";
  vars.set("s", Value::ofStr(source));
  source[0] = 'j';
  EXPECT_EQ(vars.find("s")->text(), "hello");
  vars.set("s", Value::ofFloat(1.5));  // a number replaces a string, and back
  EXPECT_EQ(vars.find("s")->type, Type::float_);
  vars.set("s", Value::ofStr(""));
  EXPECT_EQ(vars.find("s")->type, Type::str);
  EXPECT_EQ(vars.find("s")->text(), "");
}

TEST(Variables, ReassigningReusesTheSlotsMemory) {
  Memory memory;
  Vars vars(memory);
  const SlotId s = vars.intern("s");
  std::string text;
  vars.set(s, Value::ofStr(std::string(64, 'x')));
  const std::size_t capacity = vars.valueCapacity();
  for (int i = 0; i < 100000; ++i) {
    text.assign(static_cast<std::size_t>(1 + i % 64), static_cast<char>('a' + i % 26));
    vars.set(s, Value::ofStr(text));
    ASSERT_EQ(vars.get(s)->text(), text);
  }
  EXPECT_EQ(vars.valueCapacity(), capacity);
}

TEST(Variables, HugeBuffersAreGivenBack) {
  Memory memory;
  Vars vars(memory);
  vars.set("s", Value::ofStr(std::string(1 << 20, 'x')));
  EXPECT_GE(vars.valueCapacity(), std::size_t{1} << 20);
  vars.set("s", Value::ofStr("small"));
  EXPECT_LT(vars.valueCapacity(), std::size_t{4096});
  EXPECT_EQ(vars.find("s")->text(), "small");
}

TEST(Variables, StoresWhoseBytesAliasASlot) {
  Memory memory;
  Vars vars(memory);
  const SlotId a = vars.intern("a");
  const SlotId b = vars.intern("b");
  vars.set(a, Value::ofStr("abcdef"));
  // Its own value, then a slice of it from the middle (the bytes overlap their destination).
  vars.set(a, *vars.get(a));
  EXPECT_EQ(vars.get(a)->text(), "abcdef");
  vars.set(a, Value::ofStr(vars.get(a)->text().substr(2)));
  EXPECT_EQ(vars.get(a)->text(), "cdef");
  // Another slot's bytes are copied; changing that slot later leaves this one alone.
  vars.set(b, *vars.get(a));
  vars.set(a, Value::ofStr("zz"));
  EXPECT_EQ(vars.get(b)->text(), "cdef");
  // Growing from its own bytes: the old buffer is read before it is released.
  std::string big(5000, 'q');
  vars.set(a, Value::ofStr(big));
  vars.set(b, Value::ofStr(vars.get(a)->text().substr(10, 3000)));
  vars.set(a, Value::ofStr(vars.get(a)->text().substr(4990)));
  EXPECT_EQ(vars.get(a)->text(), std::string(10, 'q'));
  EXPECT_EQ(vars.get(b)->text(), std::string(3000, 'q'));
  vars.set(b, Value::ofStr(vars.get(b)->text().substr(0, 3)));  // shrinks from its own bytes
  EXPECT_EQ(vars.get(b)->text(), "qqq");
}

TEST(Variables, CellsStayPutAndSayWhenTheyHoldNothing) {
  Memory memory;
  Vars vars(memory);
  const SlotId a = vars.intern("a");
  Value* cell = vars.cell(a);
  EXPECT_EQ(cell->type, Type::failure);  // no value yet
  vars.set(a, Value::ofWord(7));
  EXPECT_EQ(cell->as.word, 7u);
  for (int i = 0; i < 5000; ++i) vars.intern("v" + std::to_string(i));
  EXPECT_EQ(vars.cell(a), cell);
  *cell = Value::ofFloat(2.5);  // what compiled code does with a number
  EXPECT_EQ(vars.get(a)->as.float_, 2.5);
}

TEST(Variables, AppendingToItsOwnValueIsLinear) {
  Memory memory;
  Vars vars(memory);
  const SlotId s = vars.intern("s");
  vars.set(s, Value::ofStr("a"));
  std::string expected = "a";
  const std::uint64_t allocations_before = memory.allocations();
  for (int i = 0; i < 100000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    vars.concat(s, vars.get(s)->text(), std::string_view(&c, 1));
    expected += c;
  }
  EXPECT_EQ(vars.get(s)->text(), expected);
  // Doubling: a few dozen allocations for 100,000 appends, and at most twice the length held.
  EXPECT_LT(memory.allocations() - allocations_before, 40u);
  EXPECT_LE(vars.valueCapacity(), 2 * expected.size());
}

TEST(Variables, ConcatenationWhoseTextsAliasTheSlot) {
  Memory memory;
  Vars vars(memory);
  const SlotId a = vars.intern("a");
  const SlotId b = vars.intern("b");
  vars.set(a, Value::ofStr("xy"));
  vars.set(b, Value::ofStr("<>"));
  for (int i = 0; i < 12; ++i) vars.concat(a, vars.get(a)->text(), vars.get(a)->text());
  EXPECT_EQ(vars.get(a)->text().size(), 2u << 12);
  EXPECT_EQ(vars.get(a)->text().substr(0, 6), "xyxyxy");
  vars.set(a, Value::ofStr("abc"));
  vars.concat(a, vars.get(b)->text(), vars.get(a)->text());  // prepending: a is the right text
  EXPECT_EQ(vars.get(a)->text(), "<>abc");
  vars.concat(a, vars.get(a)->text().substr(2), vars.get(a)->text().substr(0, 2));
  EXPECT_EQ(vars.get(a)->text(), "abc<>");
  vars.concat(a, vars.get(a)->text().substr(0, 1), "!");  // after a prefix of its value
  EXPECT_EQ(vars.get(a)->text(), "a!");
  vars.set(a, Value::ofStr("abcdef"));
  vars.concat(a, vars.get(a)->text().substr(0, 2), vars.get(a)->text().substr(1, 4));
  EXPECT_EQ(vars.get(a)->text(), "abbcde");  // the right text overlapped where it went
  vars.concat(a, "", "");
  EXPECT_EQ(vars.get(a)->type, Type::str);
  EXPECT_EQ(vars.get(a)->text(), "");
  vars.concat(b, vars.get(b)->text(), "");
  EXPECT_EQ(vars.get(b)->text(), "<>");
  // Into a slot holding a number, or nothing yet.
  const SlotId n = vars.intern("n");
  vars.set(n, Value::ofWord(5));
  vars.concat(n, "5", "6");
  EXPECT_EQ(vars.get(n)->text(), "56");
  const SlotId fresh = vars.intern("fresh");
  vars.concat(fresh, "new", "");
  EXPECT_EQ(vars.get(fresh)->text(), "new");
}

TEST(Variables, AnAppendThatCannotGrowKeepsTheOldValue) {
  Memory memory;
  Vars vars(memory);
  const SlotId s = vars.intern("s");
  const SlotId t = vars.intern("t");
  vars.set(s, Value::ofStr(std::string(1000, 's')));
  vars.set(t, Value::ofStr(std::string(1000, 't')));
  memory.fail_at = memory.allocations() + 1;  // this and every later allocation fails
  EXPECT_FALSE(static_cast<Variables&>(vars).concat(s, vars.get(s)->text(), vars.get(s)->text()));
  EXPECT_EQ(vars.get(s)->text(), std::string(1000, 's'));
  EXPECT_FALSE(static_cast<Variables&>(vars).concat(t, "x", vars.get(s)->text()));
  EXPECT_EQ(vars.get(t)->text(), std::string(1000, 't'));
  // Within the capacity it has, appending needs no allocation.
  vars.concat(s, vars.get(s)->text().substr(0, 10), "!");
  EXPECT_EQ(vars.get(s)->text(), "ssssssssss!");
  vars.concat(s, vars.get(s)->text(), vars.get(t)->text().substr(0, 2));
  EXPECT_EQ(vars.get(s)->text(), "ssssssssss!tt");
}

}  // namespace
}  // namespace zandle::zndvm
