// Execution budgets, fixed when the program is built. A counter may reach its maximum and
// go one past it: maximum + 1 events of a kind run, the next one stops the process.
#pragma once
#include <cstdint>

namespace zandle::vm::limits {

inline constexpr std::uint32_t inst_max = 1'000'000;
inline constexpr std::uint32_t inst_new_max = 10'000;
inline constexpr std::uint32_t inst_escape_max = 100;
inline constexpr std::uint32_t inst_func_max = 100;  // Func and If share this budget
inline constexpr std::uint32_t inst_call_max = 100;
inline constexpr std::uint32_t inst_return_max = 100;

// Calls run on the host's stack, one nesting of the interpreter each: however high a host
// sets the budgets, this many calls at once are the most.
inline constexpr std::uint32_t call_depth_max = 10'000;

}  // namespace zandle::vm::limits
