// std.proc: starting a command, waiting for it, running it for its output, and ending the
// run. Everything the child needs (its arguments, the files to try) is prepared before
// fork, so the child only calls execve, write and _exit. A close-on-exec pipe tells the
// parent why exec failed, so a command that cannot be started is a named failure of the
// escape, not a child whose exit status 1 looks like false's. The child shares the standard
// streams, the environment and the working directory. Lines that std.io.input has read
// ahead stay with the program: the child reads standard input from where the program's
// reader stopped reading, not from where the program's last line ended.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "common/bytes.hpp"
#include "common/files.hpp"
#include "library.hpp"
#include "zndvm/machine.hpp"

extern char** environ;

namespace zandle::zndvm::escapes {

namespace {

constexpr std::string_view default_search_path = "/usr/local/bin:/bin/:/usr/bin";

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A command made ready to start: argv and the files to try, each zero-terminated.
struct Command {
  explicit Command(Memory& memory) : args(memory), starts(memory), files(memory), argv(memory), tries(memory) {}
  Buffer args;
  Vec<std::size_t> starts;
  Buffer files;
  Vec<char*> argv;
  Vec<char*> tries;
};

bool prepare(Machine& m, Command& c) {
  char buf[value_text_capacity];
  std::string_view line;
  if (!textArgument(m, 0, buf, line)) return false;
  if (!commandWords(line, c.args, c.starts)) return m.fail(Error::OutOfMemory);
  if (c.starts.empty()) return m.fail(Error::InvalidArgument);
  // A word with a zero byte cannot be passed whole, and must not be cut short silently.
  for (std::size_t i = 0; i < c.starts.size(); ++i) {
    const std::size_t end = (i + 1 < c.starts.size() ? c.starts[i + 1] : c.args.size()) - 1;
    if (std::memchr(c.args.data() + c.starts[i], '\0', end - c.starts[i]) != nullptr) {
      return m.fail(i == 0 ? Error::BadPathName : Error::InvalidArgument);
    }
  }
  const std::string_view command(c.args.data());
  if (command.size() > path_max) return m.fail(Error::NameTooLong);
  if (!commandCandidates(command, ::getenv("PATH"), c.files) ||
      !c.argv.reserve(c.starts.size() + 1)) {
    return m.fail(Error::OutOfMemory);
  }
  for (std::size_t start : c.starts) (void)c.argv.push(c.args.data() + start);
  (void)c.argv.push(nullptr);
  for (std::size_t i = 0; i < c.files.size(); i += std::strlen(c.files.data() + i) + 1) {
    if (!c.tries.push(c.files.data() + i)) return m.fail(Error::OutOfMemory);
  }
  return true;
}

void reap(pid_t pid, int& status) {
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// In the child: runs the first file that can be run, or reports why none could (the
// denial of one that exists beats "not found" from the others, as with a shell).
[[noreturn]] void execChild(const Command& c, int report_fd, int stdout_fd) {
  int err = 0;
  if (stdout_fd == 1) {
    // Already in place, but close-on-exec like every descriptor of ours.
    if (::fcntl(1, F_SETFD, 0) != 0) err = errno;
  } else if (stdout_fd >= 0 && ::dup2(stdout_fd, 1) < 0) {
    err = errno;
  }
  if (err == 0) {
    bool denied = false;
    for (char* file : c.tries) {
      ::execve(file, c.argv.data(), environ);
      err = errno;
      if (err == EACCES) denied = true;
      else if (err != ENOENT && err != ENOTDIR && err != ENAMETOOLONG && err != ELOOP) break;
    }
    if (denied && (err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG || err == ELOOP)) err = EACCES;
  }
  // Nothing to do if the report cannot be written: the parent then sees a started child.
  (void)!::write(report_fd, &err, sizeof err);
  ::_exit(127);
}

// A file that is no program, and arguments beyond what the system passes to one, have names
// of their own; the rest are the system's.
Error startFailure(int err) {
  if (err == ENOEXEC) return Error::InvalidExe;
  if (err == E2BIG) return Error::ArgumentListTooLong;
  return fromSys(classifyErrno(err));
}

// Starts the command, its standard output on `stdout_fd` when that is not -1.
bool launch(Machine& m, const Command& c, int stdout_fd, pid_t& pid) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return m.fail(classifyErrno(errno));
  pid = ::fork();
  if (pid == 0) execChild(c, report[1], stdout_fd);
  const int fork_err = errno;
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    return m.fail(classifyErrno(fork_err));
  }
  // End of file: exec closed the pipe. A number: why exec failed.
  int err = 0;
  std::size_t got = 0;
  while (got < sizeof err) {
    const ssize_t n = ::read(report[0], reinterpret_cast<char*>(&err) + got, sizeof err - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(report[0]);
  if (got == sizeof err) {
    int status;
    reap(pid, status);
    return m.fail(startFailure(err));
  }
  return true;
}

// How the child ended, as results `first` and the one after it: its exit status and 1 (it
// exited), or the signal's number and 0 (a signal ended it), the truth words telling "ended
// otherwise than by exiting".
bool storeEnding(Machine& m, unsigned first, int status) {
  if (WIFSIGNALED(status)) {
    return storeWord(m, first, static_cast<std::uint64_t>(WTERMSIG(status))) && storeWord(m, first + 1, 0);
  }
  return storeWord(m, first, static_cast<std::uint64_t>(WEXITSTATUS(status))) && storeWord(m, first + 1, 1);
}

}  // namespace

bool commandWords(std::string_view line, Buffer& bytes, Vec<std::size_t>& starts) {
  std::size_t i = 0;
  for (;;) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size()) return true;
    const std::size_t start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    if (!starts.push(bytes.size()) || !bytes.append(slice(line, start, i - start)) ||
        !bytes.push('\0')) {
      return false;
    }
  }
}

bool commandCandidates(std::string_view command, const char* path_env, Buffer& out) {
  if (command.find('/') != std::string_view::npos) return out.append(command) && out.push('\0');
  std::string_view dirs = path_env != nullptr ? std::string_view(path_env) : default_search_path;
  for (;;) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = slice(dirs, 0, colon);
    if (!out.append(dir) || (!dir.empty() && !out.push('/')) || !out.append(command) ||
        !out.push('\0')) {
      return false;
    }
    if (colon == std::string_view::npos) return true;
    dirs.remove_prefix(colon + 1);
  }
}

bool procSpawn(Machine& m) {
  Command c(m.memory());
  pid_t pid;
  if (!prepare(m, c)) return false;
  if (!m.children().reserve()) return m.fail(Error::OutOfMemory);
  if (!launch(m, c, -1, pid)) return false;
  m.children().started(pid);
  return storeWord(m, 0, static_cast<std::uint64_t>(pid));
}

// Only a child of this process can be waited for, and only once: any other number, 0 and
// negative ones (which would mean "any child of a group") included, fails rather than hang.
bool procWait(Machine& m) {
  const Value* v = requiredArgument(m, 0);
  if (v == nullptr) return false;
  std::uint64_t n;
  if (!wholeNumber(*v, n) || n < 1 || n > static_cast<std::uint64_t>(INT32_MAX)) {
    return m.fail(Error::InvalidArgument);
  }
  // As system() does: a ^C or a ^\ from the terminal is the child's to act on (it started with
  // the default dispositions), so the program that waits ignores both until the child ends.
  struct sigaction ignore {}, old_int{}, old_quit{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGINT, &ignore, &old_int);
  ::sigaction(SIGQUIT, &ignore, &old_quit);
  int status = 0;
  pid_t ended = 0;
  // An interrupt or the host's deadline ends the wait: the Escape runs again on resuming.
  const int got = m.control().waitChild(static_cast<pid_t>(n), ended, status);
  const int err = got < 0 ? errno : 0;
  ::sigaction(SIGINT, &old_int, nullptr);
  ::sigaction(SIGQUIT, &old_quit, nullptr);
  if (got == 0) return m.pauseBefore();
  if (err != 0) return m.fail(err == ECHILD ? Error::ChildNotFound : Error::Unexpected);
  m.children().waited(static_cast<int>(n));
  return storeEnding(m, 0, status);
}

// Runs the command to its end with its standard output collected: the output in RET0, how
// it ended in RET1 and RET2 as std.proc.wait gives it. Output beyond what a file read may
// hold is StreamTooLong; the child is then stopped and waited for.
bool procCapture(Machine& m) {
  Command c(m.memory());
  if (!prepare(m, c)) return false;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return m.fail(classifyErrno(errno));
  pid_t pid;
  const bool started = launch(m, c, out[1], pid);
  ::close(out[1]);
  if (!started) {
    ::close(out[0]);
    return false;
  }
  // One byte more than a file read may hold tells that the output is too long.
  Buffer text(m.memory());
  std::size_t len = 0;
  Error failure = Error::ok;
  for (;;) {
    if (len == text.size()) {
      if (len > file_size_max) {
        failure = Error::StreamTooLong;
        break;
      }
      std::size_t grown = len < 2048 ? 4096 : len * 2;
      if (grown > file_size_max + 1) grown = file_size_max + 1;
      if (!text.resize(grown)) {
        failure = Error::OutOfMemory;
        break;
      }
    }
    const ssize_t n = ::read(out[0], text.data() + len, text.size() - len);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failure = fromSys(classifyErrno(errno));
    if (n <= 0) break;
    len += static_cast<std::size_t>(n);
  }
  text.shrink(len);
  ::close(out[0]);
  if (failure != Error::ok) ::kill(pid, SIGKILL);
  int status = 0;
  reap(pid, status);
  if (failure != Error::ok) return m.fail(failure);
  return storeText(m, 0, text.view()) && storeEnding(m, 1, status);
}

// Ends the run with the status the argument holds (0 to 255), or 0 without one.
bool procExit(Machine& m) {
  std::uint64_t status = 0;
  SlotId named;
  if (!m.escapeSlot(Machine::EscapeVar::arg, 0, false, named)) return m.fail(Error::OutOfMemory);
  if (named != no_slot && m.vars().get(named) != nullptr) {
    const Value* v = requiredArgument(m, 0);
    if (v == nullptr) return false;
    if (!wholeNumber(*v, status) || status > 255) return m.fail(Error::InvalidArgument);
  }
  return m.halt(HaltReason::exit, static_cast<int>(status));
}

}  // namespace zandle::zndvm::escapes
