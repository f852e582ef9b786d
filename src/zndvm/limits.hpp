// The one limit this interpreter enforces: how deep calls may nest. A host may set a lower
// bound for its machines (Options::call_depth_max).
#pragma once
#include <cstdint>

namespace zandle::zndvm::limits {

inline constexpr std::uint64_t call_depth_max = 4294967295u;

}  // namespace zandle::zndvm::limits
