// std.io: printing with and without a line end, and reading a line. Output goes to the
// machine's sink at once, so nothing is left buffered between instructions; a print that
// cannot be written fails rather than pass for done.
#include <cerrno>

#include "../machine.hpp"
#include "table.hpp"

namespace zandle::zndvm::escapes {

namespace {

bool write(Machine& m, std::string_view arg_var, bool newline) {
  const Value* value = argument(m, arg_var);
  if (value == nullptr) return true;
  char buf[value_text_capacity];
  const std::string_view text = valueToString(*value, buf);
  const int err = newline ? writeLine(m.output(), text) : m.output().write(text);
  if (err == 0) return true;
  // Past the file-size limit the file is too big; any other lost output is WriteFailed.
  return m.fail(err == EFBIG ? Error::FileTooBig : Error::WriteFailed);
}

}  // namespace

bool print(Machine& m) { return write(m, "__Escape_std.io.print_ARG0", true); }

bool printLn(Machine& m) { return write(m, "__Escape_std.io.printLn_ARG0", false); }

bool input(Machine& m) {
  // A line holds at most 1023 bytes, however it ends.
  std::string_view line;
  switch (m.input().readLine(1023, 1023, line)) {
    case LineStatus::ok: break;
    case LineStatus::end_of_stream: return m.fail(Error::EndOfStream);
    case LineStatus::stream_too_long: return m.fail(Error::StreamTooLong);
    case LineStatus::read_failed: return m.fail(Error::ReadFailed);
  }
  return m.vars().set("__Escape_std.io.input_RET0", Value::ofStr(line)) || m.fail(Error::OutOfMemory);
}

}  // namespace zandle::zndvm::escapes
