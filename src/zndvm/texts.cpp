#include "texts.hpp"

#include <cstddef>

#define ZANDLE_EMBEDDED(symbol)             \
  extern const char symbol[];               \
  extern const std::size_t symbol##_size;

namespace zandle::embedded {
ZANDLE_EMBEDDED(zndvm_version)
ZANDLE_EMBEDDED(zndvm_handbook)
ZANDLE_EMBEDDED(zndvm_tests)
ZANDLE_EMBEDDED(zndvm_dance)
ZANDLE_EMBEDDED(zndvm_psh)
}  // namespace zandle::embedded

namespace zandle::zndvm::texts {

std::string_view version() { return {embedded::zndvm_version, embedded::zndvm_version_size}; }
std::string_view handbook() { return {embedded::zndvm_handbook, embedded::zndvm_handbook_size}; }
std::string_view tests() { return {embedded::zndvm_tests, embedded::zndvm_tests_size}; }
std::string_view dance() { return {embedded::zndvm_dance, embedded::zndvm_dance_size}; }
std::string_view psh() { return {embedded::zndvm_psh, embedded::zndvm_psh_size}; }

}  // namespace zandle::zndvm::texts
