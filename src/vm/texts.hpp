// The texts compiled into the program: version, documentation and the test script, each
// packed (common/packed.hpp unpacks them).
#pragma once
#include <string_view>

namespace zandle::vm::texts {

std::string_view version();
std::string_view docs();
std::string_view tests();

}  // namespace zandle::vm::texts
