// SpawnProc, WaitPid and Exit: child processes and the end of the interpreter itself.
// Everything the child needs is prepared before fork, so that the child only calls execve
// and _exit. It shares the standard streams, the environment and the working directory.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/decimal.hpp"
#include "escapes.hpp"

extern char** environ;

namespace zandle::vm::escapes {

namespace {

constexpr std::string_view default_search_path = "/usr/local/bin:/bin/:/usr/bin";

// The two process escapes insist on their argument: a missing one is an error.
const std::string& requiredArgument(Machine& m) {
  const std::string* value = argument(m, "ARG1");
  if (value == nullptr) fail(Error::VariableNotFound);
  return *value;
}

}  // namespace

std::vector<std::string> commandArguments(std::string_view line, const Variables& vars) {
  std::vector<std::string> args;
  for (;;) {
    const std::size_t space = line.find(' ');
    std::string_view piece = line.substr(0, space);
    const std::string* value = vars.find(piece);
    args.emplace_back(value != nullptr ? std::string_view(*value) : piece);
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return args;
}

std::vector<std::string> commandCandidates(std::string_view command, const char* path_env) {
  if (command.find('/') != std::string_view::npos) return {std::string(command)};
  std::string_view dirs = path_env != nullptr ? std::string_view(path_env) : default_search_path;
  std::vector<std::string> files;
  for (;;) {
    const std::size_t colon = dirs.find(':');
    std::string file(dirs.substr(0, colon));
    file.push_back('/');
    file.append(command);
    files.push_back(std::move(file));
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return files;
}

void spawnProc(Machine& m) {
  std::vector<std::string> args = commandArguments(requiredArgument(m), m.data());
  // A NUL byte inside an argument ends it as far as the child can see.
  const std::vector<std::string> files = commandCandidates(args[0].c_str(), ::getenv("PATH"));
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) {
    if (errno == EAGAIN || errno == ENOMEM) fail(Error::SystemResources);
    fail(Error::Unexpected);
  }
  if (pid == 0) {
    for (const std::string& file : files) ::execve(file.c_str(), argv.data(), environ);
    // No exit handlers and no flushing of buffers that belong to the parent.
    ::_exit(1);
  }
  char buf[24];
  storeResult(m, "pid", formatI64(pid, buf));
}

void waitPid(Machine& m) {
  auto r = parseI32(requiredArgument(m));
  if (r.status == DecimalStatus::invalid_character) fail(Error::InvalidCharacter);
  if (r.status == DecimalStatus::overflow) fail(Error::Overflow);
  int status = 0;
  while (::waitpid(r.value, &status, 0) < 0) {
    if (errno == EINTR) continue;
    // Not a child of ours (never started, or already waited for); ESRCH is how the
    // system answers for the one process-group number it cannot negate.
    if (errno == ECHILD || errno == ESRCH) fail(Error::ChildNotFound);
    fail(Error::Unexpected);
  }
  char buf[24];
  if ((status & 0x7f) != 0) {
    storeResult(m, "killedBySig", formatI64(status & 0x7f, buf));
    storeResult(m, "otherTermination", std::string_view("0"));
  } else {
    storeResult(m, "exitCode", formatI64((status >> 8) & 0xff, buf));
    storeResult(m, "otherTermination", std::string_view("1"));
  }
}

void exit(Machine& m) { m.halt(0); }

}  // namespace zandle::vm::escapes
