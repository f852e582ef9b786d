#include "output.hpp"

#include <csignal>
#include <cstdint>
#include <cstring>

#include "files.hpp"

namespace zandle {

namespace {

int writeFd(void* user, const char* bytes, std::size_t size) {
  return writeAll(static_cast<int>(reinterpret_cast<std::intptr_t>(user)), {bytes, size});
}

int discard(void*, const char*, std::size_t) { return 0; }

extern "C" void ignoreSignal(int) {}

}  // namespace

Sink fdSink(int fd) { return {writeFd, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))}; }

Sink nullSink() { return {discard, nullptr}; }

int writeLine(const Sink& sink, std::string_view text) {
  char line[1024];
  if (text.size() < sizeof line) {
    // An empty text may have no bytes at all (a null pointer), which memcpy must not see.
    if (!text.empty()) std::memcpy(line, text.data(), text.size());
    line[text.size()] = '\n';
    return sink.write(std::string_view(line, text.size() + 1));
  }
  if (int err = sink.write(text)) return err;
  return sink.write("\n");
}

void makeWriteSignalsHarmless() {
  struct sigaction sa {};
  sa.sa_handler = ignoreSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &sa, nullptr);
  sigaction(SIGXFSZ, &sa, nullptr);
}

}  // namespace zandle
