#include "intern.hpp"

#include <cstring>

namespace zandle {

namespace {

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  h ^= h >> 32;
  return h;
}

}  // namespace

// Eight bytes at a time; names are short, so the tail matters as much as the loop.
std::uint64_t hashName(std::string_view s) {
  std::uint64_t h = 0x9e3779b97f4a7c15ull ^ s.size();
  const char* p = s.data();
  std::size_t n = s.size();
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = mix(h ^ w) * 0xbf58476d1ce4e5b9ull;
    p += 8;
    n -= 8;
  }
  if (n != 0) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = mix(h ^ w) * 0x94d049bb133111ebull;
  }
  return mix(h);
}

}  // namespace zandle
