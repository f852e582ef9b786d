#include "shell.hpp"

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

// The trace goes to standard error in one write per line, like the report.
class TraceLine {
 public:
  explicit TraceLine(Memory& memory) : text_(memory) {}
  TraceLine& operator<<(std::string_view s) {
    ok_ = ok_ && text_.append(s);
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
  Buffer text_;
  bool ok_ = true;
};

void writePlace(TraceLine& line, const zandle_place& p) {
  line << std::string_view(p.source, p.source_len) << ":" << p.line << ": "
       << std::string_view(p.text, p.text_len);
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
void trace(zandle_machine* m, zandle_status status) {
  Memory memory;
  TraceLine line(memory);
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
    line << "  in " << std::string_view(function, function_len);
    if (from.line != 0) {
      line << ", called at ";
      writePlace(line, from);
    }
    line.end();
  }
}

bool tracing() {
  const char* value = std::getenv("ZANDLE_TRACE");
  return value != nullptr && std::strcmp(value, "1") == 0;
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

// Prints a fixed text; write failures are ignored, as the texts' modes always have.
void print(int fd, std::string_view text, bool newline) {
  char line[1024];
  if (newline && text.size() < sizeof line) {
    std::memcpy(line, text.data(), text.size());
    line[text.size()] = '\n';
    (void)fdSink(fd).write(std::string_view(line, text.size() + 1));
    return;
  }
  (void)fdSink(fd).write(text);
  if (newline) (void)fdSink(fd).write("\n");
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
    if (!mode->run) {
      print(program.text_fd, text.view(), mode->newline);
      return 0;
    }
    status = zandle_run(m, text.data(), text.size(), mode->name.data(), mode->name.size());
  } else {
    Memory memory;
    Buffer script(memory);
    if (auto e = readWholeFile(first, script)) return reportFailure(sysErrorName(*e));
    status = zandle_run(m, script.data(), script.size(), first.data(), first.size());
  }
  if (status == ZANDLE_FAILED) reportFailure(zandle_error_name(m));
  // The process ends either way, so a failed write of the message changes nothing.
  if (status == ZANDLE_HALTED) (void)fdSink(program.text_fd).write(haltMessage(zandle_halt_reason(m)));
  const bool stopped = status == ZANDLE_FAILED || (status == ZANDLE_HALTED && zandle_exit_status(m) != 0);
  if (stopped && tracing()) trace(m, status);
  return zandle_exit_status(m);
}

}  // namespace

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
