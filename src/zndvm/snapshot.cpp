// A machine as bytes and back: its variables with their types (every name, with a value or
// not, so that a restored machine has them in the same order and its own snapshot the same
// bytes), its functions and the lines recorded for them, the escapes withheld by name, and a paused run (what is left of its text,
// its call stack, its counts and a recording in progress). Records are not saved as they are
// in memory: their lines are, and restoring prepares them again, which gives the same records
// (preparing depends on nothing but the line). Restoring reads the bytes as untrusted: it
// checks every field, and the shape of the code the driver relies on (each body closed by its
// End, each function starting after its Func, each frame inside its function's body).
#include "common/snapshot.hpp"

#include "common/intern.hpp"
#include "common/vec.hpp"
#include "compiler.hpp"
#include "escapes/table.hpp"
#include "limits.hpp"
#include "machine.hpp"

namespace zandle::zndvm {

namespace {

constexpr std::uint32_t zndvm_kind = 2;  // ZANDLE_ZNDVM
constexpr std::uint64_t no_index = UINT64_MAX;

}  // namespace

// Every name, with its type and value, or without a value.
void Machine::saveVariables(SnapshotWriter& w) const {
  w.u64(vars_.slotCount());
  for (SlotId id = 0; id < vars_.slotCount(); ++id) {
    const Value* v = vars_.get(id);
    w.text(vars_.name(id));
    w.u8(static_cast<std::uint8_t>(v != nullptr ? v->type : Type::failure));
    if (v == nullptr) continue;
    if (v->type == Type::str) {
      w.text(v->text());
    } else {
      w.u64(v->as.word);  // the 64 bits of a word, a sword or a float alike
    }
  }
}

bool Machine::loadVariables(SnapshotReader& r) {
  const std::uint64_t n = r.count(9);
  if (!vars_.reserve(n)) return false;
  for (std::uint64_t i = 0; i < n && r.ok(); ++i) {
    const std::string_view name = r.text();
    const std::uint8_t type = r.u8();
    Value v = Value::failure(Error::UnknownVariable);
    switch (type) {
      case static_cast<std::uint8_t>(Type::failure): break;  // a name without a value
      case static_cast<std::uint8_t>(Type::word): v = Value::ofWord(r.u64()); break;
      case static_cast<std::uint8_t>(Type::sword): v = Value::ofSword(static_cast<std::int64_t>(r.u64())); break;
      case static_cast<std::uint8_t>(Type::float_): {
        const std::uint64_t bits = r.u64();
        v = Value::ofWord(bits);
        v.type = Type::float_;
        break;
      }
      case static_cast<std::uint8_t>(Type::str): {
        const std::string_view text = r.text();
        if (text.size() > str_max) r.spoil();
        v = Value::ofStr(text);
        break;
      }
      default: r.spoil();
    }
    if (!r.ok()) break;
    const std::size_t before = vars_.slotCount();
    SlotId id;
    if (!vars_.intern(name, id) || (!v.failed() && !vars_.set(id, v))) return false;
    if (vars_.slotCount() != before + 1) r.spoil();  // each name once
  }
  return true;
}

bool Machine::snapshot(Buffer& out) const {
  SnapshotWriter w = startSnapshot(out, zndvm_kind);
  w.u64(funcs_.count());
  for (FuncId id = 0; id < funcs_.count(); ++id) {
    w.text(funcs_.name(id));
    w.u8(funcs_[id].defined ? 1 : 0);
    w.u64(funcs_[id].start);
    w.u32(funcs_[id].source);
  }
  w.u64(code_.size());
  for (const Instruction& ins : code_) {
    w.u32(ins.line);
    w.text(ins.lineText());
  }
  if (paused()) {
    // A line waiting to be recorded is saved as not yet read: restoring reads it again.
    place_.saveRun(w, record_pending_);
    w.u64(instructions());
    const auto r = state_.recorded();
    w.u8(state_.recording ? 1 : 0);
    w.u64(recording_depth_);
    w.u64(r.func == no_func ? no_index : r.func);
    w.u8(r.replaced.defined ? 1 : 0);
    w.u64(r.replaced.start);
    w.u32(r.replaced.source);
    w.u64(r.code_before);
    w.u64(stack_.size());
    for (const Frame& f : stack_) {
      w.u64(f.func == no_func ? no_index : f.func);
      w.u64(f.pc);
    }
  }
  return w.finish();
}

// The record of a line of recorded code, prepared as when it was recorded.
Restored Machine::restoreLine(std::string_view text, std::uint32_t number, Instruction& ins) {
  std::string_view line;
  if (!persistent_.copy(text, line)) return Restored::out_of_memory;
  if (Error e = tokenize(line, tokens_); e != Error::ok) {
    return e == Error::OutOfMemory ? Restored::out_of_memory : Restored::invalid;
  }
  if (tokens_.empty()) return Restored::invalid;
  line_.reset();
  ParsedLine parsed;
  if (Error e = compileLine(tokens_, line_, vars_, parsed); e != Error::ok) {
    return e == Error::OutOfMemory ? Restored::out_of_memory : Restored::invalid;
  }
  ins = Instruction{};
  ins.text = line.data();
  ins.text_size = static_cast<std::uint32_t>(line.size() < UINT32_MAX ? line.size() : UINT32_MAX);
  ins.line = number;
  return prepare(parsed, persistent_, true, ins) ? Restored::ok : Restored::out_of_memory;
}

Restored Machine::restore(std::string_view bytes) {
  SnapshotReader r(bytes, zndvm_kind);
  bool is_paused;
  if (!startRestore(r, is_paused)) return Restored::out_of_memory;
  const std::uint64_t functions = r.count(22);
  if (!funcs_.reserve(functions)) return Restored::out_of_memory;
  for (std::uint64_t i = 0; i < functions && r.ok(); ++i) {
    const std::string_view name = r.text();
    FuncEntry e;
    e.defined = r.u8() != 0;
    e.start = r.u64();
    e.source = r.u32();
    if (!r.ok()) break;
    FuncId id;
    if (!funcs_.intern(name, id)) return Restored::out_of_memory;
    if (id != i) r.spoil();
    funcs_[id] = e;
  }
  // The code, block by block: each top-level Func with the records up to its End. Only a
  // recording in progress may leave the last block open.
  std::uint64_t depth = 0, last_block = 0;
  const std::uint64_t lines = r.count(12);
  // Recorded code repeats lines (every body's End, most bodies' Return, a call or a test
  // written in many places), and a record is made from its line alone and never changed once
  // prepared: a line seen before in this restore takes a copy of its first record, sharing
  // what that points to, instead of being tokenized, compiled and prepared again. The copies
  // are taken as prepared, before the code's fusing changed a record.
  // Each distinct text gets the next id, which is its record's index in `prepared`.
  InternTable<bool> seen(memory_);
  Vec<Instruction> prepared(memory_);
  if (!code_.reserve(lines) || !seen.reserve(lines)) return Restored::out_of_memory;
  for (std::uint64_t i = 0; i < lines && r.ok(); ++i) {
    const std::uint32_t number = r.u32();
    const std::string_view text = r.text();
    if (!r.ok()) break;
    NameId line_id;
    if (!seen.intern(text, line_id)) return Restored::out_of_memory;
    Instruction ins;
    if (line_id < prepared.size()) {
      ins = prepared[line_id];
      ins.line = number;
    } else {
      const Restored made = restoreLine(text, number, ins);
      if (made != Restored::ok) return made;
      if (!prepared.push(ins)) return Restored::out_of_memory;
    }
    if (depth == 0) {
      if (ins.op != Opcode::Func) return Restored::invalid;
      last_block = i;
    }
    if (ins.op == Opcode::Func) ++depth;
    if (ins.op == Opcode::End) --depth;
    if (!append(ins)) return Restored::out_of_memory;
  }
  bool is_recording = false;
  if (is_paused) {
    if (const Restored run = place_.loadRun(r); run != Restored::ok) return run;
    const std::uint64_t executed = r.u64();
    is_recording = r.u8() != 0;
    recording_depth_ = r.u64();
    decltype(state_)::Recorded rec;
    const std::uint64_t recorded = r.u64();
    rec.func = recorded == no_index ? no_func : static_cast<FuncId>(recorded);
    if (recorded != no_index && recorded >= functions) r.spoil();
    rec.replaced.defined = r.u8() != 0;
    rec.replaced.start = r.u64();
    rec.replaced.source = r.u32();
    rec.code_before = r.u64();
    if (!r.ok()) return Restored::invalid;
    executed_ = executed;
    state_.restore(rec, is_recording);
    const std::uint64_t frames = r.count(16);
    if (frames > limits::call_depth_max + 1 || (is_recording && frames != 0)) return Restored::invalid;
    for (std::uint64_t i = 0; i < frames && r.ok(); ++i) {
      const std::uint64_t func = r.u64();
      const std::uint64_t pc = r.u64();
      if (func != no_index && func >= functions) r.spoil();
      if (!stack_.push(Frame{pc, func == no_index ? no_func : static_cast<FuncId>(func)})) {
        return Restored::out_of_memory;
      }
    }
  }
  if (!r.done() || !checkRestored(depth, last_block, is_recording)) return Restored::invalid;
  // A paused run says where it stands, as it did on the machine that paused it.
  if (is_paused) place_.stop();
  return Restored::ok;
}

// Whether the code and the run put back are ones the driver can run: the blocks closed (but
// a recording's), every function starting right after a Func of the code and ending inside
// it, every frame inside its function's body and the bottom one the top-level line's.
bool Machine::checkRestored(std::uint64_t depth, std::uint64_t last_block, bool is_recording) {
  if (is_recording ? depth != recording_depth_ + 1 : depth != 0) return false;
  const std::uint64_t closed = is_recording ? last_block : code_.size();
  if (is_recording && state_.recorded().code_before != last_block) return false;
  // The End of the body that starts at `start`, or 0 when there is none there.
  auto bodyEnd = [&](std::uint64_t start) -> std::uint64_t {
    if (start == 0 || start > code_.size() || code_[start - 1].op != Opcode::Func) return 0;
    std::uint64_t end;
    return findFuncEnd(start - 1, end) ? end : 0;
  };
  for (FuncId id = 0; id < funcs_.count(); ++id) {
    const FuncEntry& e = funcs_[id];
    if (!e.defined) continue;
    if (e.source >= place_.sourceCount()) return false;
    if (is_recording && id == state_.recorded().func) {
      if (e.start != last_block + 1) return false;
      continue;
    }
    const std::uint64_t end = bodyEnd(e.start);
    if (end == 0 || end >= closed) return false;
  }
  if (is_recording) {
    const FuncEntry& replaced = state_.recorded().replaced;
    if (state_.recorded().func == no_func || !funcs_[state_.recorded().func].defined) return false;
    if (replaced.defined && (bodyEnd(replaced.start) == 0 || bodyEnd(replaced.start) >= closed ||
                             replaced.source >= place_.sourceCount())) {
      return false;
    }
  }
  if (stack_.empty()) return true;
  // The top-level line's frame: at its End (an escape paused after it ran), or at its
  // record, below the calls it made.
  if (stack_[0].func != no_func || stack_[0].pc != (stack_.size() == 1 ? 1u : 0u)) return false;
  for (std::size_t k = 1; k < stack_.size(); ++k) {
    const Frame& f = stack_[k];
    if (f.func == no_func || !funcs_[f.func].defined) return false;
    const std::uint64_t end = bodyEnd(funcs_[f.func].start);
    const bool innermost = k + 1 == stack_.size();
    if (f.pc < funcs_[f.func].start || f.pc > end || (!innermost && f.pc == end)) return false;
  }
  line_code_[0] = Instruction{};
  line_code_[0].form = Form::call;
  return true;
}

}  // namespace zandle::zndvm
