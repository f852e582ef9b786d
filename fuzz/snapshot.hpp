// What the snapshot harnesses share: machines made through the public interface under both
// caps, each taking its bytes from an allocation function of its own whose peak must stay
// within the memory cap, and the checks a restored machine must pass: its place and calls
// readable, its own snapshot restorable into a new machine with the same bytes, and its run
// going on under the caps to an ending.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/snapshot.hpp"
#include "api_host.hpp"
#include "harness.hpp"
#include "host_io.hpp"
#include "test_memory.hpp"
#include "zandle/zandle.h"

namespace zandle::fuzz {

inline int discardOutput(void*, const char*, std::size_t) { return 0; }

// Host escapes a snapshot may name: one that echoes its argument and one that pauses the run.
inline int echo(zandle_machine* m, void*) { return echoArgument(m); }
inline int pauseHere(zandle_machine* m, void*) { return zandle_escape_pause(m); }

// A machine of either kind under both caps, reaching only printing, the fixed input and
// strings, and the two host escapes.
class Machine {
 public:
  explicit Machine(bool vm) {
    zandle_options o;
    zandle_options_init(&o);
    o.output = discardOutput;
    o.input = test_support::Input::read;
    o.input_user = &input_;
    o.instruction_cap = instruction_cap;
    o.memory_cap = memory_cap;
    o.alloc = test_support::TestAllocator::fn;
    o.alloc_user = &alloc_;
    o.escapes = "pure";
    expect(zandle_new(vm ? ZANDLE_VM : ZANDLE_ZNDVM, &o, &m_) == ZANDLE_OK, "snapshot: no machine");
    registerEscapes();
  }
  ~Machine() {
    zandle_free(m_);
    expect(alloc_.peak <= memory_cap, "snapshot: a machine held more than its memory cap");
  }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  zandle_machine* get() const { return m_; }
  // A restore drops the host's escapes with the rest of the machine.
  void registerEscapes() {
    const bool vm = zandle_machine_kind(m_) == ZANDLE_VM;
    const char* echo_name = vm ? "HostEcho" : "host.echo";
    const char* pause_name = vm ? "HostPause" : "host.pause";
    const zandle_status a = zandle_register_escape(m_, echo_name, std::strlen(echo_name), echo, nullptr);
    const zandle_status b = zandle_register_escape(m_, pause_name, std::strlen(pause_name), pauseHere, nullptr);
    expect((a == ZANDLE_OK || a == ZANDLE_OUT_OF_MEMORY) && (b == ZANDLE_OK || b == ZANDLE_OUT_OF_MEMORY),
           "snapshot: registering the host escapes");
  }
  std::string snapshot() const {
    const void* bytes = nullptr;
    std::size_t size = 0;
    const zandle_status s = zandle_snapshot(m_, &bytes, &size);
    expect(s == ZANDLE_OK || s == ZANDLE_OUT_OF_MEMORY, "snapshot: a snapshot status");
    return s == ZANDLE_OK ? std::string(static_cast<const char*>(bytes), size) : std::string();
  }

 private:
  test_support::TestAllocator alloc_;
  test_support::Input input_{std::string(fixed_input)};
  zandle_machine* m_ = nullptr;
};

inline bool ending(zandle_status s) {
  return s == ZANDLE_OK || s == ZANDLE_FAILED || s == ZANDLE_HALTED || s == ZANDLE_PAUSED;
}

// A machine that took a snapshot: it says where it stands; its own snapshot restores into
// a new machine (unless memory runs out) with the same bytes again; and its run goes on
// under the caps, pausing only where a host escape asks, to an ending.
inline void checkRestored(Machine& restored, bool vm) {
  zandle_machine* m = restored.get();
  readPlace(m);
  const std::string own = restored.snapshot();
  if (!own.empty()) {
    Machine again(vm);
    const zandle_status s = zandle_restore(again.get(), own.data(), own.size());
    expect(s == ZANDLE_OK || s == ZANDLE_OUT_OF_MEMORY, "snapshot: a machine's own snapshot was refused");
    if (s == ZANDLE_OK) {
      const std::string twice = again.snapshot();
      expect(twice.empty() || twice == own, "snapshot: a restored machine's snapshot has other bytes");
    }
  }
  restored.registerEscapes();
  for (int resumes = 0; zandle_paused(m) != 0 && resumes < 64; ++resumes) {
    const zandle_status s = zandle_resume(m);
    expect(ending(s), "snapshot: a resume status");
    expect((s == ZANDLE_FAILED) == (zandle_error_name(m)[0] != '\0'), "snapshot: an error name without a failure");
    readPlace(m);
  }
  expect(zandle_memory_peak(m) <= memory_cap, "snapshot: the memory cap was passed");
}

// Makes a header hold over changed fields: the payload's length and the library's checksum.
inline void fixHeader(std::string& bytes) {
  if (bytes.size() < 32) return;
  std::uint64_t length = bytes.size() - 32;
  std::uint64_t h = snapshotChecksum(std::string_view(bytes).substr(32));
  for (int i = 0; i < 8; ++i, length >>= 8, h >>= 8) {
    bytes[16 + static_cast<std::size_t>(i)] = static_cast<char>(length & 0xff);
    bytes[24 + static_cast<std::size_t>(i)] = static_cast<char>(h & 0xff);
  }
}

}  // namespace zandle::fuzz
