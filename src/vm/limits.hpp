// Execution budgets, fixed when the program is built. A counter may reach its maximum and
// go one past it: maximum + 1 events of a kind run, the next one stops the process.
// Each maximum is the CMake cache variable of its macro's name (cmake/ZandleBudgets.cmake,
// which reads the defaults below), so a build can raise or lower it without editing this file.
#pragma once
#include <cstdint>

#ifndef ZANDLE_VM_BUDGET_INSTRUCTIONS
#define ZANDLE_VM_BUDGET_INSTRUCTIONS 1000000
#endif
#ifndef ZANDLE_VM_BUDGET_NEW
#define ZANDLE_VM_BUDGET_NEW 10000
#endif
#ifndef ZANDLE_VM_BUDGET_ESCAPE
#define ZANDLE_VM_BUDGET_ESCAPE 100
#endif
#ifndef ZANDLE_VM_BUDGET_FUNC
#define ZANDLE_VM_BUDGET_FUNC 100
#endif
#ifndef ZANDLE_VM_BUDGET_CALL
#define ZANDLE_VM_BUDGET_CALL 100
#endif
#ifndef ZANDLE_VM_BUDGET_RETURN
#define ZANDLE_VM_BUDGET_RETURN 100
#endif

namespace zandle::vm::limits {

// One past the maximum must still fit the counters.
inline constexpr std::uint64_t budget_ceiling = UINT32_MAX - 1;
static_assert(ZANDLE_VM_BUDGET_INSTRUCTIONS <= budget_ceiling && ZANDLE_VM_BUDGET_NEW <= budget_ceiling &&
              ZANDLE_VM_BUDGET_ESCAPE <= budget_ceiling && ZANDLE_VM_BUDGET_FUNC <= budget_ceiling &&
              ZANDLE_VM_BUDGET_CALL <= budget_ceiling && ZANDLE_VM_BUDGET_RETURN <= budget_ceiling);

inline constexpr std::uint32_t inst_max = ZANDLE_VM_BUDGET_INSTRUCTIONS;
inline constexpr std::uint32_t inst_new_max = ZANDLE_VM_BUDGET_NEW;
inline constexpr std::uint32_t inst_escape_max = ZANDLE_VM_BUDGET_ESCAPE;
inline constexpr std::uint32_t inst_func_max = ZANDLE_VM_BUDGET_FUNC;  // Func and If share this budget
inline constexpr std::uint32_t inst_call_max = ZANDLE_VM_BUDGET_CALL;
inline constexpr std::uint32_t inst_return_max = ZANDLE_VM_BUDGET_RETURN;

}  // namespace zandle::vm::limits
