#include "machine.hpp"

#include <cstring>

#include "common/decimal.hpp"
#include "escapes/table.hpp"
#include "evaluator.hpp"
#include "limits.hpp"
#include "tokenizer.hpp"

namespace zandle::vm {

Machine::Machine(const Options& options)
    : arena_(64 * 1024),
      output_(options.output != nullptr ? options.output : &stderrSink()),
      input_(options.input != nullptr ? options.input : &stdinReader()),
      instruction_cap_(options.instruction_cap),
      escapes_(options.escapes),
      capped_(options.memory_cap != 0) {
  if (capped_) budget_.cap = options.memory_cap;
}

void Machine::halt(int status, std::string_view message) {
  if (!message.empty()) output_->write(message);
  throw Halt{status, status == 0 ? Halt::Reason::exit : Halt::Reason::budget};
}

void Machine::count(Counter& c, std::uint32_t max) {
  if (c.curr > max) halt(1, "VM: FATAL: INSTRUCTION LIMIT REACHED\n");
  ++c.curr;
}

Outcome Machine::runProtected(std::string_view text) {
  return guardRun<Outcome, Failure>([&] { run(text); }, Error::OutOfMemory);
}

Instruction Machine::copyInstruction(Instruction ins) {
  auto* tokens = arena_.allocateArray<std::string_view>(ins.size());
  for (std::size_t i = 0; i < ins.size(); ++i) tokens[i] = arena_.copy(ins[i]);
  return {tokens, ins.size()};
}

void Machine::setArguments(std::span<const std::string_view> args) {
  MemoryScope scope(capped_ ? &budget_ : nullptr);
  char buf[32];
  data_.store("VMARGC", formatU64(args.size(), buf));
  std::memcpy(buf, "VMARG", 5);
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto digits = formatU64(i, buf + 5);
    data_.store(std::string_view(buf, 5 + digits.size()), args[i]);
  }
}

void Machine::run(std::string_view text) {
  MemoryScope scope(capped_ ? &budget_ : nullptr);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    tokenize(line, line_tokens_);
    if (line_tokens_.empty()) continue;
    if (interpret(line_tokens_)) fail(Error::Return);
  }
}

bool Machine::interpret(Instruction ins) {
  count(inst_, limits::inst_max);
  if (instruction_cap_ != 0 && inst_.curr > instruction_cap_) {
    halt(1, "VM: FATAL: INSTRUCTION LIMIT REACHED\n");
  }
  std::string_view keyword = ins[0];
  if (recording_) {
    code_.push_back(copyInstruction(ins));
    if (keyword == "End") recording_ = false;
    return false;
  }

  if (keyword == "New") {
    count(inst_new_, limits::inst_new_max);
    if (ins.size() < 3) fail(Error::MissingOperand);
    if (ins.size() == 3) {
      const std::string* value = data_.find(ins[2]);
      if (value == nullptr) fail(Error::UnknownVariable);
      data_.store(ins[1], std::string_view(*value));
      return false;
    }
    std::string_view marker = ins[3];
    if (marker == marker_single) {
      data_.store(ins[1], ins[2]);
    } else if (marker == marker_braces) {
      const std::string* expr = data_.find(ins[2]);
      if (expr == nullptr) fail(Error::UnknownVariable);
      data_.store(ins[1], evaluate(*expr, data_));
    } else if (marker == marker_double) {
      data_.store(ins[1], evaluate(ins[2], data_));
    }
    return false;
  }
  if (keyword == "Escape") {
    count(inst_escape_, limits::inst_escape_max);
    if (ins.size() < 2) fail(Error::MissingOperand);
    const Escape* escape = findEscape(ins[1]);
    if (escape == nullptr || (escapes_ & escapeBit(escape)) == 0) fail(Error::UnknownEscape);
    escape->run(*this);
    return false;
  }
  if (keyword == "Func") {
    count(inst_func_, limits::inst_func_max);
    if (ins.size() < 2) fail(Error::MissingOperand);
    recording_ = true;
    code_.push_back(copyInstruction(ins));
    auto it = code_table_.find(ins[1]);
    if (it != code_table_.end()) {
      it->second = code_.size();
    } else {
      code_table_.emplace(std::string(ins[1]), code_.size());
    }
    return false;
  }
  if (keyword == "Call") {
    count(inst_call_, limits::inst_call_max);
    if (ins.size() < 2) fail(Error::MissingOperand);
    callFunc(ins);
    return false;
  }
  if (keyword == "If") {
    count(inst_func_, limits::inst_func_max);
    if (ins.size() < 3) fail(Error::MissingOperand);
    if (evaluate(ins[2], data_) == truth_true) callFunc(ins);
    return false;
  }
  if (keyword == "Return") {
    count(inst_return_, limits::inst_return_max);
    return true;
  }
  // Unknown keywords, and End outside recording, do nothing.
  return false;
}

void Machine::callFunc(Instruction ins) {
  bool was_recording = recording_;
  recording_ = false;
  auto it = code_table_.find(ins[1]);
  if (it == code_table_.end()) fail(Error::UnknownFunction);
  const std::size_t start = it->second;
  // The body may append to code_ (a Func inside it starts recording), so index afresh and
  // copy each instruction's view before running it. Running off the end counts as End.
  for (std::size_t pos = start; pos < code_.size(); ++pos) {
    Instruction body_line = code_[pos];
    if (body_line[0] == "End") break;
    if (interpret(body_line)) break;
  }
  recording_ = was_recording;
}

}  // namespace zandle::vm
