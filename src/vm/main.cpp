#include <cstdlib>
#include <string_view>

#include "common/outcome.hpp"
#include "driver.hpp"

int main(int argc, char** argv) {
  // The arguments as views; a long command line takes them from the heap.
  constexpr int inline_args = 64;
  std::string_view inline_views[inline_args];
  std::string_view* views = inline_views;
  if (argc > inline_args) {
    views = static_cast<std::string_view*>(std::malloc(sizeof(std::string_view) * static_cast<std::size_t>(argc)));
    if (views == nullptr) return zandle::reportFailure("OutOfMemory");
  }
  for (int i = 0; i < argc; ++i) views[i] = argv[i];
  return zandle::vm::runCommandLine({views, static_cast<std::size_t>(argc)});
}
