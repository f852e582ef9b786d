// A host with its own global operator new and delete: it links (the library defines none of
// its own), it runs, and the library's machines never go through the host's allocator.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "zandle/zandle.hpp"

namespace {
std::size_t host_allocations = 0;
}

void* operator new(std::size_t size) {
  ++host_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main() {
  std::string greeting = "New v 'from a host with its own operator new'\n";  // the host's own allocation
  const std::size_t before = host_allocations;
  zandle::Zndvm m;
  if (zandle::Zndvm::create(m) != ZANDLE_OK) return 1;
  std::string_view v;
  if (m.run(greeting) != ZANDLE_OK || m.getText("v", v) != ZANDLE_OK) return 1;
  std::string grow = "New s 'xxxxxxxx'\n";
  for (int i = 0; i < 12; ++i) grow += "New s \"s s++ s\"\n";
  const std::size_t before_run = host_allocations;
  if (m.run(grow) != ZANDLE_OK) return 1;
  if (host_allocations != before_run) {
    std::fprintf(stderr, "the library called the host's operator new %zu times\n", host_allocations - before_run);
    return 1;
  }
  std::printf("%.*s\n", static_cast<int>(v.size()), v.data());
  return before > 0 ? 0 : 1;
}
