#include "machine.hpp"

#include <cstring>
#include <iterator>
#include <utility>

#include "common/bytes.hpp"
#include "common/decimal.hpp"
#include "escapes/table.hpp"
#include "evaluator.hpp"
#include "keywords.hpp"
#include "limits.hpp"
#include "tokenizer.hpp"

namespace zandle::vm {

namespace {

// The budget each keyword counts against, by Keyword (End counts against none).
constexpr HaltReason keyword_budget[] = {
    HaltReason::new_, HaltReason::escape, HaltReason::func, HaltReason::call,
    HaltReason::func,  // If shares Func's budget
    HaltReason::return_, HaltReason::none,
};
static_assert(std::size(keyword_budget) == std::size(keyword_entries));

}  // namespace

Machine::Machine(const Options& options)
    : MachineBase(options, findEscape),
      budget_max_{0,
                  options.budgets.instructions,
                  options.budgets.new_,
                  options.budgets.escape,
                  options.budgets.func,
                  options.budgets.call,
                  options.budgets.return_},
      call_depth_max_(options.call_depth_max),
      instruction_cap_(options.instruction_cap) {}

// Every line counts against a budget, so the count stays inline and the stop out of line.
[[gnu::always_inline]] inline bool Machine::count(HaltReason budget) {
  std::uint64_t& c = counted_[static_cast<int>(budget)];
  if (c > budget_max_[static_cast<int>(budget)]) [[unlikely]] return overBudget(budget);
  ++c;
  return true;
}

bool Machine::overBudget(HaltReason budget) { return halt(budget, 1); }

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

void Machine::beginRun(std::string_view name, std::string_view text) {
  state_.begin();
  place_.begin(name, text);
  control_.begin(0);
  check_at_ = 0;
  pause_after_ = false;
  for (std::uint64_t& c : counted_) c = 0;
  calls_.clear();
}

Outcome Machine::endRun() { return state_.end(code_, code_table_, place_, Error::OutOfMemory); }

// Runs what is left of the run: the calls in progress, then the lines from where the run
// stands to the end of its text. A line that pauses before it runs (a checkpoint, an escape
// that waits and gives up) runs when the run resumes; one whose escape asked for a pause
// is done.
void Machine::proceed() {
  check_at_ = 0;  // a checkpoint first: an interrupt may be waiting
  std::string_view line;
  for (;;) {
    if (!calls_.empty()) {
      if (!stepCall()) return;
      continue;
    }
    if (!place_.nextLine(line)) return;
    if (line.empty()) continue;
    if (Error e = tokenize(line, line_tokens_); e != Error::ok) {
      fail(e);
      return;
    }
    if (line_tokens_.empty()) continue;
    bool returned = false;
    if (!interpret({{line_tokens_.data(), line_tokens_.size()}, line, place_.line()}, returned)) {
      if (state_.paused()) place_.again();
      return;
    }
    if (returned) {
      fail(Error::Return);
      return;
    }
    if (pause_after_) [[unlikely]] {
      pauseAfterLine();
      return;
    }
  }
}

// Runs the next line of the innermost call, whose position then moves on (or, when the line
// called a function, once that returns). Running off the end of the code counts as End.
bool Machine::stepCall() {
  const Call& c = calls_.back();
  if (c.pos >= code_.size() || code_[c.pos].ins[0] == keywordName(Keyword::End)) return endCall();
  // The body may append to code_ (a Func inside it starts recording): the line is a copy.
  const Line body_line = code_[c.pos];
  const std::size_t depth = calls_.size();
  bool returned;
  if (!interpret(body_line, returned)) return false;  // a pause leaves the line to run again
  if (returned) return endCall();
  if (calls_.size() == depth) ++calls_.back().pos;
  if (pause_after_) [[unlikely]] return pauseAfterLine();
  return true;
}

// The innermost call returns. A recording that its body began ends with it.
bool Machine::endCall() {
  if (state_.recording) state_.recordingEnds();
  calls_.pop();
  if (!calls_.empty()) ++calls_.back().pos;
  return true;
}

Outcome Machine::call(std::string_view function) {
  beginRun();
  const std::string_view ins[] = {keywordName(Keyword::Call), function};
  if (callFunc(ins)) proceed();
  return endRun();
}

void Machine::dropRun() {
  calls_.clear();
  state_.discard(code_, code_table_, place_);
}

bool Machine::pauseAfterLine() {
  pause_after_ = false;
  control_.paused();
  return state_.pause();
}

bool Machine::pauseBefore() {
  // The Escape line runs again when the run resumes: it is not counted twice.
  --counted_[static_cast<int>(HaltReason::instructions)];
  --counted_[static_cast<int>(HaltReason::escape)];
  control_.paused();
  return state_.pause();
}

// Instructions run between two checkpoints at most: an interrupt is seen within this many.
// A line of vm costs tens to hundreds of nanoseconds (it is tokenized as it runs), so 512 of
// them stay far within the millisecond an interrupt may take, and a checkpoint every 512
// costs nothing measurable.
constexpr std::uint64_t checkpoint_every = 512;

// Before an instruction, every so many: the run halts at the host's cap (once the
// instruction is counted, so that a budget it runs out of comes first), or pauses when its
// control says so.
bool Machine::checkpoint() {
  const std::uint64_t n = counted_[static_cast<int>(HaltReason::instructions)];
  if (instruction_cap_ != 0 && n >= instruction_cap_) {
    return count(HaltReason::instructions) && halt(HaltReason::instruction_cap, 1);
  }
  if (n >= control_.pauseAt() || control_.pauseRequested()) {
    control_.paused();
    return state_.pause();
  }
  check_at_ = n + checkpoint_every < control_.pauseAt() ? n + checkpoint_every : control_.pauseAt();
  if (instruction_cap_ != 0 && instruction_cap_ < check_at_) check_at_ = instruction_cap_;
  return true;
}

// A call may stand past the last line of the code (a body that runs off its end, as one
// restored from a snapshot may): it has no line.
LineRef Machine::placeOf(std::size_t pos, NameId func) const {
  const std::string_view source = place_.sourceName(code_table_[func].source);
  if (pos >= code_.size()) return {source, 0, {}};
  return {source, code_[pos].number, code_[pos].text};
}

LineRef Machine::failedAt() const {
  return place_.stoppedIn(calls_.size(), [this](std::size_t k) { return placeOf(calls_[k].pos, calls_[k].func); });
}

CallRef Machine::activeCall(std::size_t i) const {
  return place_.call(
      calls_.size(), i, [this](std::size_t k) { return code_table_.name(calls_[k].func); },
      [this](std::size_t k) { return placeOf(calls_[k].pos, calls_[k].func); });
}

// A copy of the line in the machine's region, its tokens pointing into the copy (the
// markers are constants and stay as they are).
bool Machine::record(const Line& line) {
  std::string_view text;
  auto* tokens = arena_.allocateArray<std::string_view>(line.ins.size());
  if (tokens == nullptr || !arena_.copy(line.text, text)) return fail(Error::OutOfMemory);
  const char* from = line.text.data();
  for (std::size_t i = 0; i < line.ins.size(); ++i) {
    const std::string_view t = line.ins[i];
    const bool in_line = t.data() >= from && t.data() <= from + line.text.size();
    tokens[i] = in_line ? std::string_view(text.data() + (t.data() - from), t.size()) : t;
  }
  NameId escape = no_name;
  if (line.ins.size() >= 2 && line.ins[0] == keywordName(Keyword::Escape) && !escapes_.resolve(line.ins[1], escape)) {
    return fail(Error::OutOfMemory);
  }
  if (!code_.push({{tokens, line.ins.size()}, text, line.number, escape})) return fail(Error::OutOfMemory);
  return true;
}

bool Machine::interpret(const Line& line, bool& returned) {
  const Instruction ins = line.ins;
  returned = false;
  if (counted_[static_cast<int>(HaltReason::instructions)] >= check_at_ && !checkpoint()) [[unlikely]] {
    return false;
  }
  if (!count(HaltReason::instructions)) return false;
  if (state_.recording) {
    if (!record(line)) return false;
    if (ins[0] == keywordName(Keyword::End)) state_.recordingEnds();
    return true;
  }
  // Unknown keywords, and End outside recording, do nothing.
  const KeywordEntry* k = findKeyword(ins[0]);
  if (k == nullptr || k->keyword == Keyword::End) return true;
  if (!count(keyword_budget[static_cast<int>(k->keyword)])) return false;
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
      NameId id = line.escape;
      if (id == no_name && !escapes_.resolve(ins[1], id)) return fail(Error::OutOfMemory);
      const auto* slot = escapes_.runnable(id);
      if (slot == nullptr) return fail(Error::UnknownEscape);
      if (!escapes_.run(*slot, *this)) return false;
      // An escape may take long, or be a host's asking for a pause: the line is done first.
      if (control_.pauseRequested()) [[unlikely]] pause_after_ = true;
      return true;
    }
    case Keyword::Func: {
      NameId id;
      if (!code_table_.intern(ins[1], id)) return fail(Error::OutOfMemory);
      // Inside a body as at the top level: a run that ends before the recording does drops it.
      state_.recordingStarts(id, code_table_[id], code_.size());
      if (!record(line)) return false;
      state_.recording = true;
      const NameId source = calls_.empty() ? place_.sourceId() : code_table_[calls_.back().func].source;
      if (source == no_name) return fail(Error::OutOfMemory);
      code_table_[id] = {code_.size() + 1, source};
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
    case Keyword::End:
      break;
  }
  return true;
}

bool Machine::callFunc(Instruction ins) {
  const NameId id = code_table_.find(ins[1]);
  if (id == no_name || code_table_[id].start == 0) return fail(Error::UnknownFunction);
  if (calls_.size() >= call_depth_max_) return halt(HaltReason::call_depth, 1);
  return calls_.push({id, code_table_[id].start - 1}) || fail(Error::OutOfMemory);
}

}  // namespace zandle::vm
