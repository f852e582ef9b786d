// std.io: printing with and without a line end, and reading a line. Output goes to the
// machine's sink at once, so nothing is left buffered between instructions; a print that
// cannot be written fails rather than pass for done.
#include <cerrno>

#include "zndvm/machine.hpp"
#include "table.hpp"

namespace zandle::zndvm::escapes {

namespace {

bool write(Machine& m, bool newline) {
  const Value* value;
  if (!argument(m, 0, value)) return false;
  if (value == nullptr) return true;
  char buf[value_text_capacity];
  const std::string_view text = valueToString(*value, buf);
  const int err = newline ? writeLine(m.output(), text) : m.output().write(text);
  if (err == 0) return true;
  // Past the file-size limit the file is too big; any other lost output is WriteFailed.
  return m.fail(err == EFBIG ? Error::FileTooBig : Error::WriteFailed);
}

}  // namespace

bool print(Machine& m) { return write(m, true); }

bool printLn(Machine& m) { return write(m, false); }

bool input(Machine& m) {
  // A line holds at most 1023 bytes, however it ends.
  char storage[LineReader::line_max];
  std::string_view line;
  const Error e = lineFailure<Error>(m.input().readLine(1023, 1023, storage, line));
  if (e != Error::ok) return m.fail(e);
  return result(m, 0, Value::ofStr(line));
}

}  // namespace zandle::zndvm::escapes
