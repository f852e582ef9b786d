/* What the WebAssembly C library (emscripten's) lacks of what the interpreters use: it is
 * forced into every source of that build, and nowhere else. */
#ifndef ZANDLE_WEB_COMPAT_H
#define ZANDLE_WEB_COMPAT_H
#include <stddef.h>
#include <unistd.h>

/* Random bytes from the host's generator (crypto.getRandomValues), at most 256 a call. */
static inline void arc4random_buf(void* buffer, size_t size) {
  unsigned char* p = (unsigned char*)buffer;
  while (size > 0) {
    size_t n = size < 256 ? size : 256;
    if (getentropy(p, n) != 0) return;
    p += n;
    size -= n;
  }
}

#ifdef __cplusplus
/* Its C++ library predates std::bit_cast; the compiler has what it is made of. */
#include <version>
#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
#endif

#endif
