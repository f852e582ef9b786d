#include "packed.hpp"

namespace zandle {

bool unpack(std::string_view packed, Buffer& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(packed.data());
  const auto* end = p + packed.size();
  const std::size_t start = out.size();
  while (p < end) {
    const unsigned c = *p++;
    if (c < 0x80) {
      const std::size_t n = c + 1;
      if (static_cast<std::size_t>(end - p) < n || !out.append(std::string_view(reinterpret_cast<const char*>(p), n))) return false;
      p += n;
      continue;
    }
    if (end - p < 2) return false;
    const std::size_t n = (c & 0x7f) + 4;
    const std::size_t distance = p[0] | static_cast<std::size_t>(p[1]) << 8;
    p += 2;
    if (distance == 0 || distance > out.size() - start || !out.reserve(out.size() + n)) return false;
    // Byte by byte: a copy may overlap what it writes (a run repeats its own bytes).
    for (std::size_t i = 0; i < n; ++i) (void)out.push(out[out.size() - distance]);
  }
  return true;
}

}  // namespace zandle
