// The forms of a prepared record, listed once. A form says which executor of the driver runs
// the record, with which operator fixed, and which fields of the Instruction that executor
// reads; the enum, the driver's cases and the names below are all made from this list.
// Forms of one shape differ only by their operator: each case runs with its operator a
// constant, so that the operator's own switch folds away.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ops.hpp"

namespace zandle::zndvm {

// The fields of an Instruction a form's executor reads (beside text, line and form, which
// every record has): the id it names, its left operand, its right operand as a cell or
// constant, or as a number kept in the record, the destination's cell, the function it
// calls, its operator, and the whole parsed line.
enum FormField : std::uint8_t {
  f_id = 1,
  f_left = 2,
  f_right = 4,
  f_right_number = 8,
  f_cell = 16,
  f_callee = 32,
  f_op = 64,
  f_parsed = 128,
};

// X(form, shape, operator, fields). The shapes:
//   general       any line the other forms do not cover, run over its ParsedLine
//   nop           End at the top level: counted, nothing done
//   end, ret      a body's End, and Return: the frame is left
//   func, call, escape   Func, Call and Escape of a name written in the line
//   new_compare, new_concat, new_value   New name "x op y" (op a string comparison, or s++)
//                 and New name 'text'
//   then_if       New x "x op k" right before If f "x cmp k": the counter and the test of a
//                 loop, run as one step (the If's record follows and is read too);
//                 then_if_any takes the operator from the record
//   new_number, new_number_k, if_number, if_number_k   New name "x op y" and If name
//                 "x op y" with op numeric, x and y cells or constants; _k: y a number
//                 written in the line, kept in the record
// Op{} stands where a form has no operator.
#define ZANDLE_FORMS(X)                                                                   \
  X(general, general, Op{}, f_parsed)                                                     \
  X(nop, nop, Op{}, 0)                                                                    \
  X(end, end, Op{}, 0)                                                                    \
  X(ret, ret, Op{}, 0)                                                                    \
  X(func, func, Op{}, f_id)                                                               \
  X(call, call, Op{}, f_id | f_callee)                                                    \
  X(escape, escape, Op{}, f_id)                                                           \
  X(new_compare, new_compare, Op{}, f_id | f_left | f_right | f_op | f_parsed)            \
  X(new_concat, new_concat, Op{}, f_id | f_left | f_right | f_parsed)                     \
  X(new_value, new_value, Op{}, f_id | f_left)                                            \
  X(add_then_if, then_if, Op::add, f_left | f_right_number | f_cell)                      \
  X(sub_then_if, then_if, Op::sub, f_left | f_right_number | f_cell)                      \
  X(new_then_if, then_if_any, Op{}, f_left | f_right_number | f_cell | f_op)              \
  X(new_add, new_number, Op::add, f_left | f_right | f_cell)                              \
  X(new_sub, new_number, Op::sub, f_left | f_right | f_cell)                              \
  X(new_mul, new_number, Op::mul, f_left | f_right | f_cell)                              \
  X(new_div, new_number, Op::div, f_left | f_right | f_cell)                              \
  X(new_eq, new_number, Op::num_eq, f_left | f_right | f_cell)                            \
  X(new_ne, new_number, Op::num_ne, f_left | f_right | f_cell)                            \
  X(new_gt, new_number, Op::gt, f_left | f_right | f_cell)                                \
  X(new_lt, new_number, Op::lt, f_left | f_right | f_cell)                                \
  X(new_add_k, new_number_k, Op::add, f_left | f_right_number | f_cell)                   \
  X(new_sub_k, new_number_k, Op::sub, f_left | f_right_number | f_cell)                   \
  X(new_mul_k, new_number_k, Op::mul, f_left | f_right_number | f_cell)                   \
  X(new_div_k, new_number_k, Op::div, f_left | f_right_number | f_cell)                   \
  X(new_eq_k, new_number_k, Op::num_eq, f_left | f_right_number | f_cell)                 \
  X(new_ne_k, new_number_k, Op::num_ne, f_left | f_right_number | f_cell)                 \
  X(new_gt_k, new_number_k, Op::gt, f_left | f_right_number | f_cell)                     \
  X(new_lt_k, new_number_k, Op::lt, f_left | f_right_number | f_cell)                     \
  X(if_add, if_number, Op::add, f_id | f_left | f_right | f_callee)                       \
  X(if_sub, if_number, Op::sub, f_id | f_left | f_right | f_callee)                       \
  X(if_mul, if_number, Op::mul, f_id | f_left | f_right | f_callee)                       \
  X(if_div, if_number, Op::div, f_id | f_left | f_right | f_callee)                       \
  X(if_eq, if_number, Op::num_eq, f_id | f_left | f_right | f_callee)                     \
  X(if_ne, if_number, Op::num_ne, f_id | f_left | f_right | f_callee)                     \
  X(if_gt, if_number, Op::gt, f_id | f_left | f_right | f_callee)                         \
  X(if_lt, if_number, Op::lt, f_id | f_left | f_right | f_callee)                         \
  X(if_add_k, if_number_k, Op::add, f_id | f_left | f_right_number | f_callee)            \
  X(if_sub_k, if_number_k, Op::sub, f_id | f_left | f_right_number | f_callee)            \
  X(if_mul_k, if_number_k, Op::mul, f_id | f_left | f_right_number | f_callee)            \
  X(if_div_k, if_number_k, Op::div, f_id | f_left | f_right_number | f_callee)            \
  X(if_eq_k, if_number_k, Op::num_eq, f_id | f_left | f_right_number | f_callee)          \
  X(if_ne_k, if_number_k, Op::num_ne, f_id | f_left | f_right_number | f_callee)          \
  X(if_gt_k, if_number_k, Op::gt, f_id | f_left | f_right_number | f_callee)              \
  X(if_lt_k, if_number_k, Op::lt, f_id | f_left | f_right_number | f_callee)

enum class Form : std::uint8_t {
#define ZANDLE_FORM_ENUM(form, shape, op, fields) form,
  ZANDLE_FORMS(ZANDLE_FORM_ENUM)
#undef ZANDLE_FORM_ENUM
};

enum class Shape : std::uint8_t {
  general,
  nop,
  end,
  ret,
  func,
  call,
  escape,
  new_compare,
  new_concat,
  new_value,
  then_if,
  then_if_any,
  new_number,
  new_number_k,
  if_number,
  if_number_k,
};

struct FormInfo {
  std::string_view name;
  Shape shape;
  Op op;
  std::uint8_t fields;
};

inline constexpr FormInfo form_info[] = {
#define ZANDLE_FORM_INFO(form, shape, op, fields) {#form, Shape::shape, op, fields},
    ZANDLE_FORMS(ZANDLE_FORM_INFO)
#undef ZANDLE_FORM_INFO
};

constexpr const FormInfo& formInfo(Form f) { return form_info[static_cast<std::size_t>(f)]; }
constexpr std::string_view formName(Form f) { return formInfo(f).name; }
constexpr bool reads(Form f, FormField field) { return (formInfo(f).fields & field) != 0; }

namespace detail {
inline constexpr std::size_t shape_count = static_cast<std::size_t>(Shape::if_number_k) + 1;
// Every (shape, operator) pair that names a form, looked up in the list once, when the
// program is built; the pairs that name none give general.
inline constexpr auto forms_by_shape = [] {
  std::array<std::array<Form, op_count>, shape_count> table{};
  for (auto& row : table) row.fill(Form::general);
  for (std::size_t i = 0; i < std::size(form_info); ++i) {
    const FormInfo& f = form_info[i];
    if (f.op != Op{} || f.shape == Shape::then_if) {
      table[static_cast<std::size_t>(f.shape)][static_cast<std::size_t>(f.op)] = static_cast<Form>(i);
    }
  }
  return table;
}();
}  // namespace detail

// The form of a numeric shape with an operator, found in the list rather than computed from
// the forms' order.
constexpr Form formOf(Shape shape, Op op) {
  return detail::forms_by_shape[static_cast<std::size_t>(shape)][static_cast<std::size_t>(op)];
}

// Every numeric shape has a form for every numeric operator.
static_assert([] {
  for (Shape s : {Shape::new_number, Shape::new_number_k, Shape::if_number, Shape::if_number_k}) {
    for (Op op : {Op::add, Op::sub, Op::mul, Op::div, Op::num_eq, Op::num_ne, Op::gt, Op::lt}) {
      const Form f = formOf(s, op);
      if (f == Form::general || formInfo(f).shape != s) return false;
    }
  }
  return true;
}());

}  // namespace zandle::zndvm
