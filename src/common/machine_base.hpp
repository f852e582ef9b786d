// What a machine of either interpreter is besides its language: the memory everything it
// holds comes from, where its run is and how it ended, its escapes, the host's control of its
// runs, where its output goes and its input comes from, and the children its scripts
// started. Each Machine derives from it (naming itself, its errors and halts, the entries of
// its function table and of its escape table) and gives what the language decides: beginRun,
// proceed, endRun, instructions and dropRun.
#pragma once
#include <cstdint>
#include <string_view>

#include "children.hpp"
#include "escape_registry.hpp"
#include "line_reader.hpp"
#include "memory.hpp"
#include "outcome.hpp"
#include "output.hpp"
#include "run_control.hpp"
#include "run_place.hpp"
#include "run_state.hpp"
#include "sys_error.hpp"

namespace zandle {

template <class Self, class Error, class HaltReason, class FuncEntry, class Escape>
class MachineBase : Pinned {
 public:
  using Outcome = RunOutcome<Error, HaltReason>;

  // Runs a text line by line, to its end or its first failure or halt. `name` names the text
  // in reports of where a run failed (a file name, say). Variables and recorded functions
  // stay for later runs; the calls in progress, the recording state and the instruction
  // counts belong to one run. A function whose End the text never reaches is not recorded:
  // its name keeps whatever definition it had before.
  Outcome run(std::string_view text, std::string_view name = {}) {
    self().beginRun(name, text);
    self().proceed();
    return self().endRun();
  }

  // A run (or a call) pauses between two instructions when the host's control says so (a
  // slice, a deadline, an interrupt, a host escape's request); it then ends Ending::paused
  // and keeps everything it needs to go on, the rest of its text included. resume goes on
  // exactly where it stopped, and ends as run does; discard drops it (variables and
  // recorded functions stay, an unfinished recording does not).
  Outcome resume() {
    if (!paused()) return outcome();
    state_.resume(place_, control_, self().instructions());
    self().proceed();
    return self().endRun();
  }
  void discard() {
    if (paused()) self().dropRun();
  }
  bool paused() const { return state_.paused(); }
  RunControl& control() { return control_; }

  // Records a failure; always false, so that a routine can `return m.fail(...)`.
  bool fail(Error e) { return state_.fail(e); }
  bool fail(SysError e) { return fail(static_cast<Error>(e)); }  // the system's names come first
  // A failure that a host escape names itself (reported as HostError by the enum).
  bool failAs(std::string_view host_error) { return state_.failAs(Error::HostError, host_error, Error::OutOfMemory); }
  // Ends the run the way that ends the process, with that exit status. Nothing is printed:
  // the command line says what stopped it.
  bool halt(HaltReason reason, int status = 1) { return state_.halt(reason, status); }

  // A host's escape under `name`, run as fn(machine, user); null removes it. Allows or
  // withholds one escape by name. False when memory runs out.
  using HostEscape = bool (*)(Self&, void* user);
  bool registerEscape(std::string_view name, HostEscape fn, void* user) {
    return escapes_.registerHost(name, fn, user);
  }
  bool allowEscape(std::string_view name, bool allowed) { return escapes_.allow(name, allowed); }
  void* hostEscapeData(std::string_view name) const { return escapes_.hostData(name); }

  const Outcome& outcome() const { return state_.outcome(); }
  std::string_view hostError() const { return state_.hostError(); }
  const Sink& output() const { return output_; }
  LineReader& input() { return *input_; }
  Memory& memory() { return memory_; }
  Children& children() { return children_; }

 protected:
  // `find` looks a name up in the program's table of escapes.
  template <class Options>
  MachineBase(const Options& options, const Escape* (*find)(std::string_view name))
      : memory_(options.alloc, options.alloc_user, options.memory_cap != 0 ? options.memory_cap : SIZE_MAX),
        place_(memory_),
        state_(memory_),
        escapes_(memory_, options.escapes, find),
        children_(memory_),
        control_(options.control != nullptr ? *options.control : own_control_),
        output_(options.output),
        input_(options.input != nullptr ? options.input : &stdinReader()) {}
  ~MachineBase() = default;

  // A snapshot begins alike for both: the header, whether a run is paused, the names of the
  // sources, the variables (as the language keeps them) and the escapes withheld. A restore
  // reads the same; it fails only when memory runs out (bad bytes spoil the reader, which
  // the restore's end reports), and `is_paused` says whether a paused run follows the rest.
  SnapshotWriter startSnapshot(Buffer& out, std::uint32_t kind) const {
    SnapshotWriter w(out, kind);
    w.u8(paused() ? 1 : 0);
    place_.saveSources(w);
    static_cast<const Self&>(*this).saveVariables(w);
    escapes_.save(w);
    return w;
  }
  bool startRestore(SnapshotReader& r, bool& is_paused) {
    is_paused = r.u8() != 0;
    return place_.loadSources(r) && self().loadVariables(r) && escapes_.load(r);
  }

  // Declared first: everything else allocates through it.
  Memory memory_;
  RunPlace place_;  // the run in progress, and where the last one stopped
  RunState<Error, HaltReason, FuncEntry> state_;
  EscapeRegistry<Self, Escape> escapes_;
  Children children_;  // processes scripts started and have not waited for
  RunControl own_control_;
  RunControl& control_;
  Sink output_;
  LineReader* input_;

 private:
  Self& self() { return static_cast<Self&>(*this); }
};

}  // namespace zandle
