// What the escape tests look at in their own process: how many descriptors are open, the
// working directory, and the zero-terminated lists that command lines are prepared into.
#pragma once
#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/vec.hpp"

namespace zandle::test_support {

inline std::size_t openDescriptors() {
  std::size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

inline std::string currentDirectory() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

// The strings of a buffer that holds them one after another, each ended by a zero byte.
inline std::vector<std::string> zeroTerminated(const Buffer& bytes) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < bytes.size(); i += out.back().size() + 1) out.emplace_back(bytes.data() + i);
  return out;
}

}  // namespace zandle::test_support
