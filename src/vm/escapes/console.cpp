// Print, PrintLn and Input: the console. Everything the interpreter writes goes to the
// machine's output (standard error for the command-line program). A print that cannot be
// written fails the run: output that is lost must not pass for success.
#include "escapes.hpp"

namespace zandle::vm::escapes {

bool argument(Machine& m, std::string_view arg_var, std::string_view& value) {
  std::string_view name;
  return m.data().find(arg_var, name) && m.data().find(name, value);
}

bool storeResult(Machine& m, std::string_view name, std::string_view value) {
  return m.data().store(name, value) || m.fail(Error::OutOfMemory);
}

bool storeResult(Machine& m, std::string_view name, Buffer& value) {
  return m.data().adopt(name, value) || m.fail(Error::OutOfMemory);
}

namespace {

bool written(Machine& m, int err) { return err == 0 || m.fail(classifyErrno(err)); }

}  // namespace

bool print(Machine& m) {
  std::string_view text;
  if (!argument(m, "ARG1", text)) return true;
  return written(m, writeLine(m.output(), text));
}

bool printLn(Machine& m) {
  std::string_view text;
  if (!argument(m, "ARG1", text)) return true;
  return written(m, m.output().write(text));
}

bool input(Machine& m) {
  // A line may hold 1023 bytes before its newline, or 1024 when the input ends it.
  char storage[LineReader::line_max];
  std::string_view line;
  const Error e = lineFailure<Error>(m.input().readLine(1023, 1024, storage, line));
  if (e != Error::ok) return m.fail(e);
  return storeResult(m, "input", line);
}

}  // namespace zandle::vm::escapes
