#include "run_control.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace zandle {

namespace {

constexpr std::uint64_t million = 1000000;

// Milliseconds to wait for `ns` nanoseconds, rounded up, within poll's range.
int pollMilliseconds(std::uint64_t ns) {
  const std::uint64_t ms = ns / million + (ns % million != 0);
  return ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
}

// A descriptor that becomes readable when the child ends, where the system offers one.
int childDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    (void)::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

}  // namespace

std::uint64_t monotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

RunControl::~RunControl() {
  if (wake_read_ >= 0) {
    ::close(wake_read_);
    ::close(wake_write_.load());
  }
}

void RunControl::begin(std::uint64_t executed) {
  pause_at_ = slice_ != 0 && slice_ <= UINT64_MAX - executed ? executed + slice_ : UINT64_MAX;
  deadline_at_ = deadline_ns_ != 0 ? monotonicNanoseconds() + deadline_ns_ : 0;
}

void RunControl::interrupt() {
  interrupt_.store(1, std::memory_order_release);
  const int fd = wake_write_.load(std::memory_order_acquire);
  if (fd >= 0) {
    const int saved = errno;  // a signal handler must leave errno as it found it
    const char byte = 1;
    (void)!::write(fd, &byte, 1);  // a full pipe is already awake
    errno = saved;
  }
}

bool RunControl::makePipe() {
  if (wake_read_ >= 0) return true;
  int fds[2];
  if (::pipe(fds) != 0) return false;
  for (int fd : fds) {
    (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  wake_read_ = fds[0];
  wake_write_.store(fds[1], std::memory_order_release);
  return true;
}

bool RunControl::waitUntil(std::uint64_t until) {
  // Without a pipe (no descriptors left) the sleep cannot be cut short, only checked.
  const bool wakeable = makePipe();
  if (wakeable) {
    // Bytes of interrupts already answered must not end this wait.
    char drain[64];
    while (::read(wake_read_, drain, sizeof drain) > 0) {
    }
  }
  for (;;) {
    if (interrupt_.load(std::memory_order_acquire) != 0) return false;
    const std::uint64_t now = monotonicNanoseconds();
    if (now >= until) return true;
    if (!wakeable) {
      const std::uint64_t ns = until - now;
      timespec ts{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
      ::nanosleep(&ts, nullptr);
      continue;
    }
    pollfd p{wake_read_, POLLIN, 0};
    if (::poll(&p, 1, pollMilliseconds(until - now)) > 0) return false;
  }
}

bool RunControl::sleep(std::uint64_t ms) {
  const std::uint64_t now = monotonicNanoseconds();
  std::uint64_t until = ms > (UINT64_MAX - now) / million ? UINT64_MAX : now + ms * million;
  const bool capped = deadline_at_ != 0 && deadline_at_ < until;
  if (capped) until = deadline_at_;
  return waitUntil(until) && !capped;
}

int RunControl::waitChild(pid_t pid, int& status) {
  const bool wakeable = interrupt_.load(std::memory_order_acquire) == 0 && makePipe();
  const int child = wakeable ? childDescriptor(pid) : -1;
  std::uint64_t step = million;  // without a descriptor for the child: how long between looks
  int result = -1;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      result = 1;
      break;
    }
    if (r < 0 && errno != EINTR) break;
    if (r < 0) continue;
    if (interrupt_.load(std::memory_order_acquire) != 0 || deadlinePassed()) {
      result = 0;
      break;
    }
    const std::uint64_t now = monotonicNanoseconds();
    std::uint64_t until = deadline_at_ != 0 ? deadline_at_ : UINT64_MAX;
    if (child < 0) {
      // Look again after a while, more rarely the longer the child runs.
      if (now + step < until) until = now + step;
      if (step < 50 * million) step *= 2;
      if (!waitUntil(until)) continue;
      continue;
    }
    pollfd p[2] = {{child, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    const int timeout = until == UINT64_MAX ? -1 : pollMilliseconds(until - now);
    if (::poll(p, 2, timeout) < 0 && errno != EINTR) break;
    if ((p[1].revents & POLLIN) != 0) {
      char drain[64];
      while (::read(wake_read_, drain, sizeof drain) > 0) {
      }
    }
  }
  if (child >= 0) {
    const int saved = errno;
    ::close(child);
    errno = saved;
  }
  return result;
}

}  // namespace zandle
