#include "shell.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/decimal.hpp"
#include "common/files.hpp"
#include "common/memory.hpp"
#include "common/outcome.hpp"
#include "common/packed.hpp"
#include "common/output.hpp"
#include "common/vec.hpp"

namespace zandle::cli {

namespace {

// Whether the place where a run stopped follows the report. ZANDLE_TRACE=1 asks for it
// anywhere and =0 turns it off; otherwise a terminal shows it after a failure or a budget
// stop, and output to a pipe or a file stays exactly the report.
struct Trace {
  bool asked;     // ZANDLE_TRACE=1: also after an exit with a non-zero status
  bool terminal;  // shown to a person: names escaped, an unreadable script named
  bool on() const { return asked || terminal; }
};

Trace traceMode() {
  const char* value = std::getenv("ZANDLE_TRACE");
  const bool asked = value != nullptr && std::strcmp(value, "1") == 0;
  const bool off = value != nullptr && std::strcmp(value, "0") == 0;
  return {asked, !off && ::isatty(2) != 0};
}

// The trace goes to standard error in one write per line, like the report. On a terminal,
// text a script controls (its lines, names, the file's name) has its control bytes written
// as \xHH, so that a script cannot drive the terminal through its own error report.
class TraceLine {
 public:
  TraceLine(Memory& memory, bool escape) : text_(memory), escape_(escape) {}
  TraceLine& operator<<(std::string_view s) {
    ok_ = ok_ && text_.append(s);
    return *this;
  }
  // Text a script controls. A tab stays; C0 controls, DEL and C1 controls (raw, or as
  // UTF-8) are shown as \xHH.
  TraceLine& script(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0u;
      const bool utf8_c1 = c == 0xc2 && next >= 0x80 && next <= 0x9f;
      if (escape_ && (utf8_c1 || (c < 0x20 && c != '\t') || (c >= 0x7f && c <= 0x9f))) {
        hex(c);
        if (utf8_c1) hex(static_cast<unsigned char>(s[++i]));
      } else {
        ok_ = ok_ && text_.push(s[i]);
      }
    }
    return *this;
  }
  TraceLine& operator<<(std::uint32_t n) {
    char digits[24];
    return *this << formatU64(n, digits);
  }
  void end() {
    if (ok_ && text_.push('\n')) (void)fdSink(2).write(text_.view());
    text_.clear();
    ok_ = true;
  }

 private:
  void hex(unsigned c) {
    const char digits[] = "0123456789abcdef";
    const char text[] = {'\\', 'x', digits[c >> 4], digits[c & 15]};
    *this << std::string_view(text, sizeof text);
  }

  Buffer text_;
  bool escape_;
  bool ok_ = true;
};

void writePlace(TraceLine& line, const zandle_place& p) {
  line.script(std::string_view(p.source, p.source_len)) << ":" << p.line << ": ";
  line.script(std::string_view(p.text, p.text_len));
}

std::string_view haltName(zandle_halt h) {
  switch (h) {
    case ZANDLE_HALT_INSTRUCTIONS: return "budget: instructions";
    case ZANDLE_HALT_NEW: return "budget: New";
    case ZANDLE_HALT_ESCAPE: return "budget: Escape";
    case ZANDLE_HALT_FUNC: return "budget: Func and If";
    case ZANDLE_HALT_CALL: return "budget: Call";
    case ZANDLE_HALT_RETURN: return "budget: Return";
    case ZANDLE_HALT_INSTRUCTION_CAP: return "instruction cap";
    case ZANDLE_HALT_CALL_STACK: return "call stack overflow";
    case ZANDLE_HALT_EXIT: return "exit";
    case ZANDLE_HALT_NONE: break;
  }
  return "halt";
}

// Where the run stopped and the calls in progress, innermost first.
void trace(zandle_machine* m, zandle_status status, Trace mode) {
  Memory memory;
  TraceLine line(memory, mode.terminal);
  if (status == ZANDLE_HALTED) {
    line << "  " << haltName(zandle_halt_reason(m));
    line.end();
  }
  zandle_place at{};
  zandle_where(m, &at);
  if (at.line != 0) {
    line << "  at ";
    writePlace(line, at);
    line.end();
  }
  // Deep recursion would print millions of lines: the innermost and outermost ten are kept.
  const std::size_t calls = zandle_active_call_count(m);
  constexpr std::size_t shown = 10;
  for (std::size_t i = 0; i < calls; ++i) {
    if (calls > 2 * shown && i == shown) {
      line << "  ... " << static_cast<std::uint32_t>(calls - 2 * shown) << " more calls";
      line.end();
      i = calls - shown;
    }
    const char* function = nullptr;
    std::size_t function_len = 0;
    zandle_place from{};
    if (zandle_active_call(m, i, &function, &function_len, &from) != ZANDLE_OK) break;
    line << "  in ";
    line.script(std::string_view(function, function_len));
    if (from.line != 0) {
      line << ", called at ";
      writePlace(line, from);
    }
    line.end();
  }
}

// The script file that could not be read, named on a terminal (a pipe or a file gets the
// report alone, as it always has).
void traceUnreadable(std::string_view path, Trace mode) {
  if (!mode.terminal) return;
  Memory memory;
  TraceLine line(memory, true);
  line << "  reading ";
  line.script(path);
  line.end();
}

// The fatal message of a halt, which the program prints where scripts print: the interface
// reports a halt by its reason alone. An exit prints nothing.
std::string_view haltMessage(zandle_halt h) {
  switch (h) {
    case ZANDLE_HALT_INSTRUCTIONS:
    case ZANDLE_HALT_NEW:
    case ZANDLE_HALT_ESCAPE:
    case ZANDLE_HALT_FUNC:
    case ZANDLE_HALT_CALL:
    case ZANDLE_HALT_RETURN:
    case ZANDLE_HALT_INSTRUCTION_CAP: return "VM: FATAL: INSTRUCTION LIMIT REACHED\n";
    case ZANDLE_HALT_CALL_STACK: return "VM: FATAL: CALL STACK OVERFLOW\n";
    case ZANDLE_HALT_EXIT:
    case ZANDLE_HALT_NONE: break;
  }
  return {};
}

// Prints a fixed text. Output that is lost fails like a script's lost output: the report
// names the failure and the status is 1.
int print(const Program& program, std::string_view text, bool newline) {
  const Sink sink = fdSink(program.text_fd);
  const int err = newline ? writeLine(sink, text) : sink.write(text);
  return err == 0 ? 0 : reportFailure(program.write_failure(err));
}

const Mode* findMode(const Program& program, std::string_view name) {
  for (const Mode& mode : program.modes) {
    if (mode.name == name) return &mode;
  }
  return nullptr;
}

int run(const Program& program, zandle_machine* m, int argc, char** argv) {
  if (zandle_set_arguments(m, argc, argv) != ZANDLE_OK) return reportFailure("OutOfMemory");
  if (argc < 2) return 0;
  const std::string_view first = argv[1];
  const Mode* mode = findMode(program, first);
  zandle_status status;
  if (mode != nullptr) {
    Memory memory;
    Buffer text(memory);
    if (!unpack(mode->text, text)) return reportFailure("OutOfMemory");
    if (!mode->run) return print(program, text.view(), mode->newline);
    status = zandle_run(m, text.data(), text.size(), mode->name.data(), mode->name.size());
  } else {
    Memory memory;
    Buffer script(memory);
    if (auto e = readWholeFile(first, script)) {
      reportFailure(sysErrorName(*e));
      traceUnreadable(first, traceMode());
      return 1;
    }
    status = zandle_run(m, script.data(), script.size(), first.data(), first.size());
  }
  if (status == ZANDLE_FAILED) reportFailure(zandle_error_name(m));
  // The process ends either way, so a failed write of the message changes nothing.
  if (status == ZANDLE_HALTED) (void)fdSink(program.text_fd).write(haltMessage(zandle_halt_reason(m)));
  const bool stopped = status == ZANDLE_FAILED || (status == ZANDLE_HALTED && zandle_exit_status(m) != 0);
  if (stopped) {
    // An exit was asked for by the script: only ZANDLE_TRACE=1 shows where.
    const Trace how = traceMode();
    const bool exited = status == ZANDLE_HALTED && zandle_halt_reason(m) == ZANDLE_HALT_EXIT;
    if (exited ? how.asked : how.on()) trace(m, status, how);
  }
  return zandle_exit_status(m);
}

}  // namespace

std::string_view systemWriteFailure(int err) { return sysErrorName(classifyErrno(err)); }

std::string_view writeFailed(int err) { return err == EFBIG ? "FileTooBig" : "WriteFailed"; }

int runCommandLine(const Program& program, int argc, char** argv) {
  makeWriteSignalsHarmless();
  // The programs give scripts everything, standard input included, and nest calls as deep
  // as the interpreter can.
  zandle_options options;
  zandle_options_init(&options);
  options.escapes = "all";
  options.call_depth_max = UINT32_MAX;
  zandle_machine* m = nullptr;
  if (program.create(&options, &m) != ZANDLE_OK) return reportFailure("OutOfMemory");
  const int status = run(program, m, argc, argv);
  zandle_free(m);
  return status;
}

}  // namespace zandle::cli
