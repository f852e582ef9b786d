// Where a program's output goes. The interpreters write through a Sink so that an embedder,
// a test or a fuzzer can collect or discard output instead of writing to a descriptor.
#pragma once
#include <string_view>

namespace zandle {

class Sink {
 public:
  virtual ~Sink() = default;
  // Writes all bytes, ignoring failure (the vm prints, fatal messages, fixed texts).
  virtual void write(std::string_view bytes) = 0;
  // Writes all bytes and tells whether that worked, for writers that report failure.
  virtual bool tryWrite(std::string_view bytes) {
    write(bytes);
    return true;
  }
};

// Writes straight to a descriptor, unbuffered, so nothing is pending when a run ends.
class FdSink final : public Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  void write(std::string_view bytes) override;
  bool tryWrite(std::string_view bytes) override;

 private:
  int fd_;
};

// Discards everything.
class NullSink final : public Sink {
 public:
  void write(std::string_view) override {}
};

// Writes text and a newline, in one write when the text is short, so that a line is not
// split between two writes; tells whether everything was written.
bool writeLine(Sink& sink, std::string_view text);

FdSink& stdoutSink();
FdSink& stderrSink();

// Makes SIGPIPE harmless: a write to a closed pipe then fails instead of ending the process.
// A handler that does nothing (rather than ignoring the signal) lets child processes start
// with the default disposition.
void makeSigpipeHarmless();

}  // namespace zandle
