// std.io: printing with and without a line end, and reading a line. Output goes to the
// machine's sink at once, so nothing is left buffered between instructions; a print that
// cannot be written fails rather than pass for done.
#include <cstring>

#include "machine.hpp"
#include "table.hpp"

namespace zandle::zndvm::escapes {

namespace {

void write(Machine& m, std::string_view arg_var, bool newline) {
  const Value* value = argument(m, arg_var);
  if (value == nullptr) return;
  char buf[value_text_capacity + 1];
  std::string_view text = valueToString(*value, buf);
  bool written;
  if (!newline) {
    written = m.output().tryWrite(text);
  } else if (text.data() == buf) {
    // A printed number sits in buf already: add the newline and write once.
    buf[text.size()] = '\n';
    written = m.output().tryWrite(std::string_view(buf, text.size() + 1));
  } else if (text.size() < 1024) {
    char line[1024];
    // An empty str may have no bytes at all (a null pointer), which memcpy must not see.
    if (!text.empty()) std::memcpy(line, text.data(), text.size());
    line[text.size()] = '\n';
    written = m.output().tryWrite(std::string_view(line, text.size() + 1));
  } else {
    written = m.output().tryWrite(text) && m.output().tryWrite("\n");
  }
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
