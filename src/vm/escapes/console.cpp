// Print, PrintLn and Input: the console. Everything the interpreter writes goes to the
// machine's output (standard error for the command-line program).
#include "escapes.hpp"

namespace zandle::vm::escapes {

const std::string* argument(Machine& m, std::string_view arg_var) {
  const std::string* name = m.data().find(arg_var);
  if (name == nullptr) return nullptr;
  return m.data().find(*name);
}

void storeResult(Machine& m, std::string_view name, std::string&& value) {
  m.data().store(name, std::move(value));
}

void storeResult(Machine& m, std::string_view name, std::string_view value) {
  m.data().store(name, std::string(value));
}

void print(Machine& m) {
  const std::string* text = argument(m, "ARG1");
  if (text == nullptr) return;
  (void)writeLine(m.output(), *text);  // vm output ignores write failures
}

void printLn(Machine& m) {
  const std::string* text = argument(m, "ARG1");
  if (text == nullptr) return;
  m.output().write(*text);
}

void input(Machine& m) {
  // A line may hold 1023 bytes before its newline, or 1024 when the input ends it.
  std::string_view line;
  switch (m.input().readLine(1023, 1024, line)) {
    case LineStatus::ok: break;
    case LineStatus::end_of_stream: fail(Error::EndOfStream);
    case LineStatus::stream_too_long: fail(Error::StreamTooLong);
    case LineStatus::read_failed: fail(Error::ReadFailed);
  }
  storeResult(m, "input", line);
}

}  // namespace zandle::vm::escapes
