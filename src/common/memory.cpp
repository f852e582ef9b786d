#include "memory.hpp"

#include <cstdlib>

namespace zandle {

void* systemAlloc(void*, void* ptr, std::size_t, std::size_t new_size) {
  if (new_size == 0) {
    std::free(ptr);
    return nullptr;
  }
  return ptr == nullptr ? std::malloc(new_size) : std::realloc(ptr, new_size);
}

}  // namespace zandle
