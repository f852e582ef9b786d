// The standard-input line reader. There is one per process (or one per input an embedder
// supplies): bytes that a read delivered past the end of a line are kept for the next call,
// so piped input never loses lines.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zandle {

enum class LineStatus : unsigned char { ok, end_of_stream, stream_too_long, read_failed };

class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // Reads the next line, without its newline (a carriage return before it stays). A line
  // may hold at most max_line bytes when a newline ends it, and at most max_at_eof bytes
  // when the input ends it; a longer line is stream_too_long and consumes nothing. At the
  // end of input with nothing buffered: end_of_stream. The view stays valid until the next
  // call.
  LineStatus readLine(std::size_t max_line, std::size_t max_at_eof, std::string_view& line);

  // Bytes read from the descriptor and not yet handed out as lines.
  std::size_t pending() const { return buf_.size() - start_; }

 private:
  int fd_;
  std::string buf_;
  std::size_t start_ = 0;
};

// The reader of file descriptor 0, shared by everything in the process that reads it.
LineReader& stdinReader();

}  // namespace zandle
