#include "line_reader.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zandle {

namespace {

long readDescriptor(int fd, char* buf, std::size_t capacity) {
  for (;;) {
    ssize_t n = ::read(fd, buf, capacity);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

long readFd(void* user, char* buf, std::size_t capacity) {
  return readDescriptor(static_cast<int>(reinterpret_cast<std::intptr_t>(user)), buf, capacity);
}

long readStdin(void*, char* buf, std::size_t capacity) { return readDescriptor(0, buf, capacity); }

}  // namespace

Source fdSource(int fd) { return {readFd, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))}; }

LineStatus LineReader::readLine(std::size_t max_line, std::size_t max_at_eof, char* storage,
                                std::string_view& line) {
  // The line is copied out before the lock goes: the next caller may be another thread,
  // whose read moves the buffer.
  pthread_mutex_lock(&lock_);
  const LineStatus status = take(max_line, max_at_eof, line);
  if (status == LineStatus::ok) {
    if (!line.empty()) std::memcpy(storage, line.data(), line.size());
    line = std::string_view(storage, line.size());
  }
  pthread_mutex_unlock(&lock_);
  return status;
}

LineStatus LineReader::take(std::size_t max_line, std::size_t max_at_eof, std::string_view& line) {
  // Move what earlier calls left to the front, so that a full line and a chunk always fit.
  if (start_ > 0) {
    std::memmove(buf_, buf_ + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  std::size_t searched = 0;
  for (;;) {
    const std::size_t len = end_;
    const std::size_t limit = len < max_line + 1 ? len : max_line + 1;
    if (searched < limit) {
      if (const void* nl = std::memchr(buf_ + searched, '\n', limit - searched)) {
        auto at = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_);
        line = std::string_view(buf_, at);
        start_ = at + 1;
        return LineStatus::ok;
      }
      searched = limit;
    }
    if (len > max_line && len > max_at_eof) return LineStatus::stream_too_long;
    // Here len <= line_max, so a whole chunk fits behind it.
    const long n = source_.fn(source_.user, buf_ + len, chunk);
    if (n < 0 || static_cast<std::size_t>(n) > chunk) return LineStatus::read_failed;
    if (n == 0) {
      if (len == 0) return LineStatus::end_of_stream;
      if (len > max_at_eof) return LineStatus::stream_too_long;
      line = std::string_view(buf_, len);
      start_ = len;
      return LineStatus::ok;
    }
    end_ = len + static_cast<std::size_t>(n);
  }
}

bool LineReader::keep(std::string_view bytes) {
  if (buf_ == nullptr) return false;  // the reader of nothing
  pthread_mutex_lock(&lock_);
  const bool fits = bytes.size() <= buffer_size - (end_ - start_);
  if (fits) {
    if (start_ > 0) {
      std::memmove(buf_, buf_ + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    if (!bytes.empty()) std::memcpy(buf_ + end_, bytes.data(), bytes.size());
    end_ += bytes.size();
  }
  pthread_mutex_unlock(&lock_);
  return fits;
}

namespace {
long readNothing(void*, char*, std::size_t) { return 0; }

char stdin_storage[LineReader::buffer_size];
constinit LineReader stdin_reader(Source{readStdin, nullptr}, stdin_storage);
// With nothing ever read, the reader never touches a buffer.
constinit LineReader empty_reader(Source{readNothing, nullptr}, nullptr);
}  // namespace

LineReader& stdinReader() { return stdin_reader; }

LineReader& emptyReader() { return empty_reader; }

}  // namespace zandle
