#include <vector>

#include "driver.hpp"

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv, argv + argc);
  return zandle::zndvm::runCommandLine(args);
}
