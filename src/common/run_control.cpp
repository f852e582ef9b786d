#include "run_control.hpp"

#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#if defined(SYS_futex) && !defined(__EMSCRIPTEN__)
#include <linux/futex.h>
#define ZANDLE_HAS_FUTEX 1
#endif

namespace zandle {

namespace {

constexpr std::uint64_t million = 1000000;
// Without a way to be woken, a sleep looks at the flag this often. A WebAssembly build runs on
// one thread, whose host's own sleep sees its interrupts: it sleeps all at once.
#ifdef __EMSCRIPTEN__
constexpr std::uint64_t sleep_step = UINT64_MAX;
#else
constexpr std::uint64_t sleep_step = million / 2;
#endif

timespec duration(std::uint64_t ns) {
  return {static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
}

}  // namespace

std::uint64_t monotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

void RunControl::begin(std::uint64_t executed) {
  pause_at_ = slice_ != 0 && slice_ <= UINT64_MAX - executed ? executed + slice_ : UINT64_MAX;
  deadline_at_ = deadline_ns_ != 0 ? monotonicNanoseconds() + deadline_ns_ : 0;
}

void RunControl::interrupt() {
  interrupt_.store(1, std::memory_order_release);
#ifdef ZANDLE_HAS_FUTEX
  const int saved = errno;  // a signal handler must leave errno as it found it
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&interrupt_), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
            0);
  errno = saved;
#endif
}

bool RunControl::waitUntil(std::uint64_t until, std::uint64_t step) {
  for (;;) {
    if (interrupt_.load(std::memory_order_acquire) != 0) return false;
    const std::uint64_t now = monotonicNanoseconds();
    if (now >= until) return true;
    std::uint64_t left = until - now;
#ifdef ZANDLE_HAS_FUTEX
    // Sleeps while the flag is 0: an interrupt sets it and wakes this at once.
    timespec ts = duration(left);
    if (::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&interrupt_), FUTEX_WAIT_PRIVATE, 0, &ts, nullptr,
                  0) == 0 ||
        errno == EAGAIN || errno == EINTR || errno == ETIMEDOUT) {
      continue;
    }
#endif
    if (left > step) left = step;
    timespec ts2 = duration(left);
    ::nanosleep(&ts2, nullptr);
  }
}

bool RunControl::sleep(std::uint64_t ms) {
  const std::uint64_t now = monotonicNanoseconds();
  std::uint64_t until = ms > (UINT64_MAX - now) / million ? UINT64_MAX : now + ms * million;
  const bool capped = deadline_at_ != 0 && deadline_at_ < until;
  if (capped) until = deadline_at_;
  return waitUntil(until, sleep_step) && !capped;
}

int RunControl::waitChild(pid_t pid, pid_t& ended, int& status) {
  // The child is looked at again and again, at first every 50 microseconds, then less often
  // up to every millisecond; between looks the wait sleeps as a sleep does, so that an
  // interrupt ends it at once. (A descriptor of the child would wake it sooner, but would be
  // one more open while a script waits, which a child could see.)
  std::uint64_t step = million / 20;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r > 0) {
      ended = r;
      return 1;
    }
    if (r < 0 && errno != EINTR) return -1;
    if (r < 0) continue;
    if (deadlinePassed()) return 0;
    std::uint64_t until = monotonicNanoseconds() + step;
    if (deadline_at_ != 0 && deadline_at_ < until) until = deadline_at_;
    if (!waitUntil(until, step)) return 0;
    if (step < million) step *= 2;
  }
}

}  // namespace zandle
