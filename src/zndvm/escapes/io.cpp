// std.io: printing with and without a line end, and reading a line. Output goes to the
// machine's sink at once, so nothing is left buffered between instructions; a print that
// cannot be written fails rather than pass for done.
#include "machine.hpp"
#include "table.hpp"

namespace zandle::zndvm::escapes {

namespace {

void write(Machine& m, std::string_view arg_var, bool newline) {
  const Value* value = argument(m, arg_var);
  if (value == nullptr) return;
  char buf[value_text_capacity];
  const std::string_view text = valueToString(*value, buf);
  const bool written = newline ? writeLine(m.output(), text) : m.output().tryWrite(text);
  if (!written) fail(Error::WriteFailed);
}

}  // namespace

void print(Machine& m) { write(m, "__Escape_std.io.print_ARG0", true); }

void printLn(Machine& m) { write(m, "__Escape_std.io.printLn_ARG0", false); }

void input(Machine& m) {
  // A line holds at most 1023 bytes, however it ends.
  std::string_view line;
  switch (m.input().readLine(1023, 1023, line)) {
    case LineStatus::ok: break;
    case LineStatus::end_of_stream: fail(Error::EndOfStream);
    case LineStatus::stream_too_long: fail(Error::StreamTooLong);
    case LineStatus::read_failed: fail(Error::ReadFailed);
  }
  m.vars().set("__Escape_std.io.input_RET0", Value::ofStr(line));
}

}  // namespace zandle::zndvm::escapes
