// What a host sets to keep control of a machine's runs, and what the run looks at between
// two instructions to know whether it must pause: a slice of instructions, a deadline on the
// monotonic clock, an interrupt from another thread or a signal handler, or a host escape
// that asked for a pause. Escapes that sleep or wait for a child do so through here, so that
// an interrupt or the deadline wakes them at once.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>

namespace zandle {

// Nanoseconds on the monotonic clock.
std::uint64_t monotonicNanoseconds();

class RunControl {
 public:
  RunControl() = default;
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  // The host's settings, for the next run or resume on: pause after this many instructions
  // (0: never), pause once this many nanoseconds have passed since it began (0: never).
  void setSlice(std::uint64_t instructions) { slice_ = instructions; }
  void setDeadline(std::uint64_t nanoseconds) { deadline_ns_ = nanoseconds; }

  // A run or resume begins with `executed` instructions counted so far.
  void begin(std::uint64_t executed);

  // The instruction count at which the slice ends (UINT64_MAX without one).
  std::uint64_t pauseAt() const { return pause_at_; }

  // Whether the run must pause now, between two instructions (the slice is the caller's to
  // compare against its count). Reading the clock costs: callers ask every so many
  // instructions, and after every escape.
  bool pauseRequested() const {
    return interrupt_.load(std::memory_order_acquire) != 0 || escape_pause_ || deadlinePassed();
  }
  bool deadlinePassed() const { return deadline_at_ != 0 && monotonicNanoseconds() >= deadline_at_; }

  // The run paused: the requests that made it are answered.
  void paused() {
    interrupt_.store(0, std::memory_order_release);
    escape_pause_ = false;
  }

  // Asks the run to pause at its next instruction boundary (or, with no run in progress,
  // the next run or resume before its first instruction), and wakes an escape that sleeps or
  // waits. Safe from any thread and from a signal handler: an atomic store and, where the
  // system has one, a wake-up of whoever waits on it (a futex), nothing that allocates,
  // locks or keeps a descriptor.
  void interrupt();

  // A host escape asks that the run pause just after it.
  void pauseAfterEscape() { escape_pause_ = true; }

  // Sleeps for `ms` milliseconds, or less when an interrupt comes or the deadline passes
  // first: false then.
  bool sleep(std::uint64_t ms);

  // Waits for a child to end, as waitpid(pid) would (pid may name any child, or a group):
  // 1 with the child that ended and its status, 0 when an interrupt or the deadline came
  // first (the child goes on and can be waited for later), -1 with errno when there is none
  // to wait for.
  int waitChild(pid_t pid, pid_t& ended, int& status);

 private:
  // Waits until an interrupt comes or `until` (monotonic nanoseconds) passes, at most
  // `step` nanoseconds where there is no futex; false when an interrupt came.
  bool waitUntil(std::uint64_t until, std::uint64_t step);

  std::uint64_t slice_ = 0;
  std::uint64_t deadline_ns_ = 0;
  std::uint64_t pause_at_ = UINT64_MAX;
  std::uint64_t deadline_at_ = 0;  // 0: none
  bool escape_pause_ = false;
  std::atomic<std::uint32_t> interrupt_{0};
};

}  // namespace zandle
