#include "line_reader.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zandle {

LineStatus LineReader::readLine(std::size_t max_line, std::size_t max_at_eof,
                                std::string_view& line) {
  // Drop what earlier calls handed out before reading more, so the buffer stays small.
  if (start_ > 0) {
    buf_.erase(0, start_);
    start_ = 0;
  }
  std::size_t searched = 0;
  for (;;) {
    std::size_t len = buf_.size();
    std::size_t limit = len < max_line + 1 ? len : max_line + 1;
    if (searched < limit) {
      if (const void* nl = std::memchr(buf_.data() + searched, '\n', limit - searched)) {
        auto end = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_.data());
        line = std::string_view(buf_.data(), end);
        start_ = end + 1;
        return LineStatus::ok;
      }
      searched = limit;
    }
    if (len > max_line && len > max_at_eof) return LineStatus::stream_too_long;

    char chunk[4096];
    ssize_t n;
    do {
      n = ::read(fd_, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return LineStatus::read_failed;
    if (n == 0) {
      if (len == 0) return LineStatus::end_of_stream;
      if (len > max_at_eof) return LineStatus::stream_too_long;
      line = std::string_view(buf_.data(), len);
      start_ = len;
      return LineStatus::ok;
    }
    buf_.append(chunk, static_cast<std::size_t>(n));
  }
}

LineReader& stdinReader() {
  static LineReader reader(0);
  return reader;
}

}  // namespace zandle
