// The line reader of standard input (or of an input an embedder supplies). Bytes that a read
// delivered past the end of a line are kept for the next call, so piped input never loses
// lines. Lines are short, so the reader holds its bytes in a fixed buffer and never
// allocates. Machines on several threads may share one reader (that of standard input): a
// line is taken and copied out under the reader's lock, so each goes whole to one caller.
#pragma once
#include <pthread.h>

#include <cstddef>
#include <string_view>

namespace zandle {

// Reads up to `capacity` bytes into `buf`: the number read, 0 at the end of the input, or
// negative on failure.
using ReadFn = long (*)(void* user, char* buf, std::size_t capacity);

struct Source {
  ReadFn fn;
  void* user;
};

// A descriptor, read with read(2), retrying interruptions.
Source fdSource(int fd);

enum class LineStatus : unsigned char { ok, end_of_stream, stream_too_long, read_failed };

class LineReader {
 public:
  // The longest line any caller asks for, and the bytes one read may bring.
  static constexpr std::size_t line_max = 1024;
  static constexpr std::size_t chunk = 4096;
  static constexpr std::size_t buffer_size = line_max + 1 + chunk;

  // Reads from `source` through `storage`, buffer_size bytes that outlive the reader.
  constexpr LineReader(Source source, char* storage) : source_(source), buf_(storage) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Reads the next line, without its newline (a carriage return before it stays), into
  // `storage` (line_max bytes of the caller's), which `line` then views. A line may hold at
  // most max_line bytes when a newline ends it, and at most max_at_eof bytes when the input
  // ends it (both at most line_max); a longer line is stream_too_long and consumes nothing.
  // At the end of input with nothing buffered: end_of_stream.
  LineStatus readLine(std::size_t max_line, std::size_t max_at_eof, char* storage, std::string_view& line);

  // Bytes that someone else read from the same input (a terminal's typed-ahead keys, read
  // while waiting for its answer to a query), kept for the lines to come after those already
  // pending. False, keeping nothing, when they do not fit.
  bool keep(std::string_view bytes);

 private:
  LineStatus take(std::size_t max_line, std::size_t max_at_eof, std::string_view& line);

  Source source_;
  char* buf_;
  std::size_t start_ = 0;  // buf_[start_, end_) is read and not yet handed out
  std::size_t end_ = 0;
  pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
};

// The failure a line that could not be read is, in an interpreter's own errors (both name
// them alike); Error::ok for a line.
template <class Error>
constexpr Error lineFailure(LineStatus status) {
  switch (status) {
    case LineStatus::ok: return Error::ok;
    case LineStatus::end_of_stream: return Error::EndOfStream;
    case LineStatus::stream_too_long: return Error::StreamTooLong;
    case LineStatus::read_failed: break;
  }
  return Error::ReadFailed;
}

// A reader that carries its own buffer.
class BufferedReader : public LineReader {
 public:
  explicit BufferedReader(Source source) : LineReader(source, storage_) {}

 private:
  char storage_[buffer_size];
};

// The reader of file descriptor 0, shared by everything in the process that reads it.
LineReader& stdinReader();
// A reader of nothing: every call is end_of_stream. Shared, and never changes.
LineReader& emptyReader();

}  // namespace zandle
