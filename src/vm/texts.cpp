#include "texts.hpp"

#include <cstddef>

namespace zandle::embedded {
extern const char vm_version[];
extern const std::size_t vm_version_size;
extern const char vm_docs[];
extern const std::size_t vm_docs_size;
extern const char vm_tests[];
extern const std::size_t vm_tests_size;
}  // namespace zandle::embedded

namespace zandle::vm::texts {

std::string_view version() { return {embedded::vm_version, embedded::vm_version_size}; }
std::string_view docs() { return {embedded::vm_docs, embedded::vm_docs_size}; }
std::string_view tests() { return {embedded::vm_tests, embedded::vm_tests_size}; }

}  // namespace zandle::vm::texts
