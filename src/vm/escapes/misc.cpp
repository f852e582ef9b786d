// Random and Time: values that come from the system rather than from the script. Time uses
// the process's time zone and the C library's default locale, which nothing here changes.
#include <stdlib.h>
#include <time.h>

#include <cstdint>

#include "common/decimal.hpp"
#include "escapes.hpp"

namespace zandle::vm::escapes {

bool random(Machine& m) {
  std::uint32_t value;
  ::arc4random_buf(&value, sizeof value);
  char buf[24];
  return storeResult(m, "random", formatU64(value, buf));
}

bool time(Machine& m) {
  const ::time_t now = ::time(nullptr);
  struct tm local {};
  if (::localtime_r(&now, &local) == nullptr) return m.fail(Error::Unexpected);
  char buf[64];
  // strftime gives 0 when the text does not fit, and the empty text is then stored.
  const std::size_t len = ::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Z %Y", &local);
  return storeResult(m, "time", std::string_view(buf, len));
}

}  // namespace zandle::vm::escapes
