#include "machine.hpp"

#include <cstring>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "escapes/table.hpp"
#include "evaluator.hpp"
#include "limits.hpp"
#include "tokenizer.hpp"

namespace zandle::vm {

namespace {

enum class Keyword : std::uint8_t { New, Escape, Func, Call, If, Return };

// Each keyword with the budget it counts against and the tokens it needs after itself.
struct KeywordInfo {
  std::string_view name;
  Keyword keyword;
  HaltReason budget;
  std::size_t operands;
};

constexpr KeywordInfo keywords[] = {
    {"New", Keyword::New, HaltReason::new_, 2},
    {"Escape", Keyword::Escape, HaltReason::escape, 1},
    {"Func", Keyword::Func, HaltReason::func, 1},
    {"Call", Keyword::Call, HaltReason::call, 1},
    {"If", Keyword::If, HaltReason::func, 2},  // If shares Func's budget
    {"Return", Keyword::Return, HaltReason::return_, 0},
};

constexpr std::uint32_t budget_max[] = {
    0,  // none
    limits::inst_max,        limits::inst_new_max,  limits::inst_escape_max,
    limits::inst_func_max,   limits::inst_call_max, limits::inst_return_max,
};

const KeywordInfo* findKeyword(std::string_view word) {
  for (const KeywordInfo& k : keywords) {
    if (k.name == word) return &k;
  }
  return nullptr;
}

constexpr std::string_view limit_message = "VM: FATAL: INSTRUCTION LIMIT REACHED\n";

}  // namespace

Machine::Machine(const Options& options)
    : memory_(options.alloc, options.alloc_user, options.memory_cap != 0 ? options.memory_cap : SIZE_MAX),
      data_(memory_),
      code_(memory_),
      code_table_(memory_),
      arena_(memory_, 64 * 1024),
      line_tokens_(memory_),
      scratch_(memory_),
      output_(options.output),
      input_(options.input != nullptr ? options.input : &stdinReader()),
      instruction_cap_(options.instruction_cap),
      escapes_(options.escapes) {}

bool Machine::fail(Error e) {
  outcome_.ending = Ending::failed;
  outcome_.error = e;
  return false;
}

bool Machine::halt(HaltReason reason, int status, std::string_view message) {
  (void)output_.write(message);  // the process ends either way
  outcome_.ending = Ending::halted;
  outcome_.reason = reason;
  outcome_.status = status;
  return false;
}

bool Machine::count(HaltReason budget) {
  std::uint32_t& c = counted_[static_cast<int>(budget)];
  if (c > budget_max[static_cast<int>(budget)]) return halt(budget, 1, limit_message);
  ++c;
  return true;
}

bool Machine::setArguments(std::span<const std::string_view> args) {
  char buf[32];
  if (!data_.store("VMARGC", formatU64(args.size(), buf))) return fail(Error::OutOfMemory);
  std::memcpy(buf, "VMARG", 5);
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto digits = formatU64(i, buf + 5);
    if (!data_.store(std::string_view(buf, 5 + digits.size()), args[i])) return fail(Error::OutOfMemory);
  }
  return true;
}

Outcome Machine::run(std::string_view text) {
  outcome_ = Outcome{};
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = slice(text, pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    if (Error e = tokenize(line, line_tokens_); e != Error::ok) {
      fail(e);
      break;
    }
    if (line_tokens_.empty()) continue;
    bool returned = false;
    if (!interpret({line_tokens_.data(), line_tokens_.size()}, returned)) break;
    if (returned) {
      fail(Error::Return);
      break;
    }
  }
  return outcome_;
}

// A copy of the instruction whose tokens live in the machine's region.
bool Machine::record(Instruction ins) {
  auto* tokens = arena_.allocateArray<std::string_view>(ins.size());
  if (tokens == nullptr) return fail(Error::OutOfMemory);
  for (std::size_t i = 0; i < ins.size(); ++i) {
    if (!arena_.copy(ins[i], tokens[i])) return fail(Error::OutOfMemory);
  }
  if (!code_.push({tokens, ins.size()})) return fail(Error::OutOfMemory);
  return true;
}

bool Machine::interpret(Instruction ins, bool& returned) {
  returned = false;
  if (!count(HaltReason::instructions)) return false;
  if (instruction_cap_ != 0 && counted_[static_cast<int>(HaltReason::instructions)] > instruction_cap_) {
    return halt(HaltReason::instruction_cap, 1, limit_message);
  }
  if (recording_) {
    if (!record(ins)) return false;
    if (ins[0] == "End") recording_ = false;
    return true;
  }
  // Unknown keywords, and End outside recording, do nothing.
  const KeywordInfo* k = findKeyword(ins[0]);
  if (k == nullptr) return true;
  if (!count(k->budget)) return false;
  if (ins.size() < 1 + k->operands) return fail(Error::MissingOperand);

  switch (k->keyword) {
    case Keyword::New: {
      std::string_view value;
      if (ins.size() == 3) {
        if (!data_.find(ins[2], value)) return fail(Error::UnknownVariable);
      } else if (ins[3] == marker_single) {
        value = ins[2];
      } else if (ins[3] == marker_braces || ins[3] == marker_double) {
        std::string_view expr = ins[2];
        if (ins[3] == marker_braces && !data_.find(ins[2], expr)) return fail(Error::UnknownVariable);
        if (Error e = evaluate(expr, data_, scratch_, value); e != Error::ok) return fail(e);
      } else {
        return true;  // an unquoted extra token: nothing is stored
      }
      if (!data_.store(ins[1], value)) return fail(Error::OutOfMemory);
      return true;
    }
    case Keyword::Escape: {
      const Escape* escape = findEscape(ins[1]);
      if (escape == nullptr || (escapes_ & escapeBit(escape)) == 0) return fail(Error::UnknownEscape);
      return escape->run(*this);
    }
    case Keyword::Func: {
      if (!record(ins)) return false;
      recording_ = true;
      NameId id;
      if (!code_table_.intern(ins[1], id)) return fail(Error::OutOfMemory);
      code_table_[id] = code_.size() + 1;
      return true;
    }
    case Keyword::Call:
      return callFunc(ins);
    case Keyword::If: {
      std::string_view condition;
      if (Error e = evaluate(ins[2], data_, scratch_, condition); e != Error::ok) return fail(e);
      return condition == truth_true ? callFunc(ins) : true;
    }
    case Keyword::Return:
      returned = true;
      return true;
  }
  return true;
}

bool Machine::callFunc(Instruction ins) {
  const NameId id = code_table_.find(ins[1]);
  if (id == no_name || code_table_[id] == 0) return fail(Error::UnknownFunction);
  const std::size_t start = code_table_[id] - 1;
  const bool was_recording = recording_;
  recording_ = false;
  // The body may append to code_ (a Func inside it starts recording), so index afresh for
  // each line. Running off the end counts as End.
  for (std::size_t pos = start; pos < code_.size(); ++pos) {
    const Instruction body_line = code_[pos];
    if (body_line[0] == "End") break;
    bool returned;
    if (!interpret(body_line, returned)) return false;
    if (returned) break;
  }
  recording_ = was_recording;
  return true;
}

}  // namespace zandle::vm
