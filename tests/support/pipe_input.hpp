// Standard input for in-process runs of the tests, the sweep and the fuzz harnesses: a fresh
// pipe that already holds the whole text, its writing end closed, with the programs' own line
// reader on it. Reading never blocks and ends where the text ends.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "common/line_reader.hpp"

namespace zandle {

// The largest text a PipeInput takes: it must fit in a pipe's buffer (64 KiB on Linux) to be
// written before anything reads it.
inline constexpr std::size_t pipe_input_max = 60000;

class PipeInput {
 public:
  explicit PipeInput(std::string_view text) : fd_(openPipe(text)), reader_(fdSource(fd_)) {}
  ~PipeInput() { ::close(fd_); }
  PipeInput(const PipeInput&) = delete;
  PipeInput& operator=(const PipeInput&) = delete;

  int fd() const { return fd_; }
  LineReader& reader() { return reader_; }

 private:
  static int openPipe(std::string_view text) {
    int fds[2];
    if (text.size() > pipe_input_max || ::pipe2(fds, O_CLOEXEC) != 0) std::abort();
    if (!text.empty() &&
        ::write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      std::abort();
    }
    ::close(fds[1]);
    return fds[0];
  }

  int fd_;
  BufferedReader reader_;
};

}  // namespace zandle
