// SpawnProc, WaitPid and Exit: child processes and the end of the interpreter itself.
// Everything the child needs is prepared before fork, so that the child only calls execve
// and _exit. It shares the standard streams, the environment and the working directory.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "escapes.hpp"

extern char** environ;

namespace zandle::vm::escapes {

namespace {

constexpr std::string_view default_search_path = "/usr/local/bin:/bin/:/usr/bin";

// The two process escapes insist on their argument: a missing one is an error.
bool requiredArgument(Machine& m, std::string_view& value) {
  return argument(m, "ARG1", value) || m.fail(Error::VariableNotFound);
}

}  // namespace

bool commandArguments(std::string_view line, const Variables& vars, Buffer& bytes,
                      Vec<std::size_t>& starts) {
  for (;;) {
    const std::size_t space = line.find(' ');
    const std::string_view piece = slice(line, 0, space);
    std::string_view value;
    if (!vars.find(piece, value)) value = piece;
    if (!starts.push(bytes.size()) || !bytes.append(value) || !bytes.push('\0')) return false;
    if (space == std::string_view::npos) return true;
    line.remove_prefix(space + 1);
  }
}

bool commandCandidates(std::string_view command, const char* path_env, Buffer& out) {
  if (command.find('/') != std::string_view::npos) return out.append(command) && out.push('\0');
  std::string_view dirs = path_env != nullptr ? std::string_view(path_env) : default_search_path;
  for (;;) {
    const std::size_t colon = dirs.find(':');
    if (!out.append(slice(dirs, 0, colon)) || !out.push('/') || !out.append(command) ||
        !out.push('\0')) {
      return false;
    }
    if (colon == std::string_view::npos) return true;
    dirs.remove_prefix(colon + 1);
  }
}

bool spawnProc(Machine& m) {
  std::string_view line;
  if (!requiredArgument(m, line)) return false;
  Buffer args(m.memory());
  Vec<std::size_t> starts(m.memory());
  Buffer files(m.memory());
  Vec<char*> argv(m.memory());
  if (!commandArguments(line, m.data(), args, starts) ||
      // A zero byte inside an argument ends it as far as the child can see.
      !commandCandidates(std::string_view(args.data()), ::getenv("PATH"), files) ||
      !argv.reserve(starts.size() + 1)) {
    return m.fail(Error::OutOfMemory);
  }
  for (std::size_t start : starts) (void)argv.push(args.data() + start);
  (void)argv.push(nullptr);
  if (!m.children().reserve()) return m.fail(Error::OutOfMemory);

  const pid_t pid = ::fork();
  if (pid < 0) {
    if (errno == EAGAIN || errno == ENOMEM) return m.fail(Error::SystemResources);
    return m.fail(Error::Unexpected);
  }
  if (pid == 0) {
    for (const char* file = files.data(); file < files.data() + files.size();
         file += std::strlen(file) + 1) {
      ::execve(file, argv.data(), environ);
    }
    // No exit handlers and no flushing of buffers that belong to the parent.
    ::_exit(1);
  }
  m.children().started(pid);
  char buf[24];
  return storeResult(m, "pid", formatI64(pid, buf));
}

bool waitPid(Machine& m) {
  std::string_view text;
  if (!requiredArgument(m, text)) return false;
  auto r = parseI32(text);
  if (r.status == DecimalStatus::invalid_character) return m.fail(Error::InvalidCharacter);
  if (r.status == DecimalStatus::overflow) return m.fail(Error::Overflow);
  int status = 0;
  pid_t waited = 0;
  // An interrupt or the host's deadline ends the wait: the line runs again on resuming.
  const int got = m.control().waitChild(r.value, waited, status);
  if (got == 0) return m.pauseBefore();
  if (got < 0) {
    // Not a child of ours (never started, or already waited for); ESRCH is how the
    // system answers for the one process-group number it cannot negate.
    if (errno == ECHILD || errno == ESRCH) return m.fail(Error::ChildNotFound);
    return m.fail(Error::Unexpected);
  }
  m.children().waited(waited);
  char buf[24];
  if ((status & 0x7f) != 0) {
    return storeResult(m, "killedBySig", formatI64(status & 0x7f, buf)) &&
           storeResult(m, "otherTermination", std::string_view("0"));
  }
  return storeResult(m, "exitCode", formatI64((status >> 8) & 0xff, buf)) &&
         storeResult(m, "otherTermination", std::string_view("1"));
}

bool exit(Machine& m) { return m.halt(HaltReason::exit, 0); }

}  // namespace zandle::vm::escapes
