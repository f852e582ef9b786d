#include "output.hpp"

#include <csignal>

#include "files.hpp"

namespace zandle {

void FdSink::write(std::string_view bytes) { (void)writeAll(fd_, bytes); }

bool FdSink::tryWrite(std::string_view bytes) { return !writeAll(fd_, bytes).has_value(); }

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
