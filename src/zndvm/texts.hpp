// The texts compiled into the program: version, handbook, and the tests, dance and psh
// programs, each packed (common/packed.hpp unpacks them).
#pragma once
#include <string_view>

namespace zandle::zndvm::texts {

std::string_view version();
std::string_view handbook();
std::string_view tests();
std::string_view dance();
std::string_view psh();

}  // namespace zandle::zndvm::texts
