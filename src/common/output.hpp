// Where a program's output goes: a write function and its user data, so that an embedder, a
// test or a fuzzer can collect or discard output instead of writing to a descriptor.
#pragma once
#include <cstddef>
#include <string_view>

namespace zandle {

// Writes all `size` bytes; returns 0 when they were written, otherwise the errno value of
// the failure (or any other non-zero number).
using WriteFn = int (*)(void* user, const char* bytes, std::size_t size);

struct Sink {
  WriteFn fn;
  void* user;

  // Writes the bytes (nothing at all for an empty text); 0 or the failure's number.
  int write(std::string_view bytes) const {
    return bytes.empty() ? 0 : fn(user, bytes.data(), bytes.size());
  }
};

// A descriptor, written unbuffered, so that nothing is pending when a run ends.
Sink fdSink(int fd);
// Discards everything.
Sink nullSink();

// Writes text and a newline, in one write when the text is short, so that a line is not
// split between two writes; 0 or the failure's number.
int writeLine(const Sink& sink, std::string_view text);

// Makes SIGPIPE and SIGXFSZ harmless: a write to a closed pipe, or past the file-size
// limit, then fails (EPIPE, EFBIG) instead of ending the process. A handler that does
// nothing (rather than ignoring the signal) lets child processes start with the default
// disposition.
void makeWriteSignalsHarmless();

}  // namespace zandle
