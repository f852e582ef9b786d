#include "output.hpp"

#include <csignal>
#include <cstring>

#include "files.hpp"

namespace zandle {

void FdSink::write(std::string_view bytes) { (void)writeAll(fd_, bytes); }

bool FdSink::tryWrite(std::string_view bytes) { return !writeAll(fd_, bytes).has_value(); }

bool writeLine(Sink& sink, std::string_view text) {
  char line[1024];
  if (text.size() < sizeof line) {
    // An empty text may have no bytes at all (a null pointer), which memcpy must not see.
    if (!text.empty()) std::memcpy(line, text.data(), text.size());
    line[text.size()] = '\n';
    return sink.tryWrite(std::string_view(line, text.size() + 1));
  }
  return sink.tryWrite(text) && sink.tryWrite("\n");
}

FdSink& stdoutSink() {
  static FdSink sink(1);
  return sink;
}

FdSink& stderrSink() {
  static FdSink sink(2);
  return sink;
}

namespace {
extern "C" void ignoreSignal(int) {}
}  // namespace

void makeSigpipeHarmless() {
  struct sigaction sa {};
  sa.sa_handler = ignoreSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &sa, nullptr);
}

}  // namespace zandle
