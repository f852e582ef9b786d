// A machine as bytes and back: its variables (every name, with a value or not, so that a
// restored machine has them in the same order and its own snapshot the same bytes), its
// functions and the lines recorded for them, the escapes withheld by name, and a paused run (what is left of its text, the calls in
// progress, the budgets' counts and a recording in progress). Restoring reads the bytes as
// untrusted and checks every field; the run itself checks a call's position against the code
// (running off its end counts as End), so the code needs no shape beyond its lines.
#include "common/snapshot.hpp"

#include "machine.hpp"
#include "tokenizer.hpp"

namespace zandle::vm {

namespace {

constexpr std::uint32_t vm_kind = 1;  // ZANDLE_VM
constexpr std::uint64_t no_index = UINT64_MAX;
constexpr int budgets = static_cast<int>(HaltReason::return_) + 1;

}  // namespace

// Every name, with its value or without one.
void Machine::saveVariables(SnapshotWriter& w) const {
  w.u64(data_.size());
  for (NameId id = 0; id < data_.size(); ++id) {
    std::string_view value;
    const bool defined = data_.valueOf(id, value);
    w.text(data_.name(id));
    w.u8(defined ? 1 : 0);
    if (defined) w.text(value);
  }
}

bool Machine::loadVariables(SnapshotReader& r) {
  const std::uint64_t n = r.count(9);
  if (!data_.reserve(n)) return false;
  for (std::uint64_t i = 0; i < n && r.ok(); ++i) {
    const std::string_view name = r.text();
    const bool defined = r.u8() != 0;
    const std::string_view value = defined ? r.text() : std::string_view();
    if (!r.ok()) break;
    const std::size_t before = data_.size();
    if (!(defined ? data_.store(name, value) : data_.declare(name))) return false;
    if (data_.size() != before + 1) r.spoil();  // each name once
  }
  return true;
}

bool Machine::snapshot(Buffer& out) const {
  SnapshotWriter w = startSnapshot(out, vm_kind);
  w.u64(code_table_.count());
  for (NameId id = 0; id < code_table_.count(); ++id) {
    w.text(code_table_.name(id));
    w.u64(code_table_[id].start);
    w.u32(code_table_[id].source);
  }
  w.u64(code_.size());
  for (const Line& line : code_) {
    w.u32(line.number);
    w.text(line.text);
  }
  if (paused()) {
    place_.saveRun(w, false);
    for (const std::uint64_t c : counted_) w.u64(c);
    const auto r = state_.recorded();
    w.u8(state_.recording ? 1 : 0);
    w.u64(r.func == no_name ? no_index : r.func);
    w.u64(r.replaced.start);
    w.u32(r.replaced.source);
    w.u64(r.code_before);
    w.u64(calls_.size());
    for (const Call& c : calls_) {
      w.u64(c.func);
      w.u64(c.pos);
    }
  }
  return w.finish();
}

Restored Machine::restore(std::string_view bytes) {
  SnapshotReader r(bytes, vm_kind);
  bool is_paused;
  if (!startRestore(r, is_paused)) return Restored::out_of_memory;
  const std::uint64_t functions = r.count(20);
  if (!code_table_.reserve(functions)) return Restored::out_of_memory;
  for (std::uint64_t i = 0; i < functions && r.ok(); ++i) {
    const std::string_view name = r.text();
    const std::uint64_t start = r.u64();
    const std::uint32_t source = r.u32();
    if (!r.ok()) break;
    NameId id;
    if (!code_table_.intern(name, id)) return Restored::out_of_memory;
    if (id != i) r.spoil();
    code_table_[id] = {static_cast<std::size_t>(start), source};
  }
  const std::uint64_t lines = r.count(12);
  if (!code_.reserve(lines)) return Restored::out_of_memory;
  for (std::uint64_t i = 0; i < lines && r.ok(); ++i) {
    const std::uint32_t number = r.u32();
    const std::string_view text = r.text();
    if (!r.ok()) break;
    if (Error e = tokenize(text, line_tokens_); e != Error::ok) {
      return e == Error::OutOfMemory ? Restored::out_of_memory : Restored::invalid;
    }
    if (line_tokens_.empty()) return Restored::invalid;
    if (!record({{line_tokens_.data(), line_tokens_.size()}, text, number})) return Restored::out_of_memory;
  }
  for (NameId id = 0; id < code_table_.count(); ++id) {
    const FuncEntry& e = code_table_[id];
    if (e.start != 0 && (e.start > code_.size() + 1 || e.source >= place_.sourceCount())) r.spoil();
  }
  if (is_paused && r.ok()) {
    if (const Restored run = place_.loadRun(r); run != Restored::ok) return run;
    for (std::uint64_t& c : counted_) c = r.u64();
    const bool is_recording = r.u8() != 0;
    decltype(state_)::Recorded rec;
    const std::uint64_t recorded = r.u64();
    rec.func = recorded == no_index ? no_name : static_cast<NameId>(recorded);
    rec.replaced.start = static_cast<std::size_t>(r.u64());
    rec.replaced.source = r.u32();
    rec.code_before = static_cast<std::size_t>(r.u64());
    if (!r.ok() || (recorded != no_index && recorded >= functions) || rec.code_before > code_.size() ||
        (rec.replaced.start != 0 && rec.replaced.source >= place_.sourceCount())) {
      return Restored::invalid;
    }
    state_.restore(rec, is_recording);
    const std::uint64_t calls = r.count(16);
    for (std::uint64_t i = 0; i < calls && r.ok(); ++i) {
      const std::uint64_t func = r.u64();
      const std::uint64_t pos = r.u64();
      if (func >= functions || pos > code_.size() || code_table_[static_cast<NameId>(func)].start == 0) r.spoil();
      if (!calls_.push({static_cast<NameId>(func), static_cast<std::size_t>(pos)})) return Restored::out_of_memory;
    }
  }
  static_assert(sizeof counted_ / sizeof counted_[0] == budgets);
  if (!r.done()) return Restored::invalid;
  // A paused run says where it stands, as it did on the machine that paused it.
  if (is_paused) place_.stop();
  return Restored::ok;
}

}  // namespace zandle::vm
