// What either interpreter keeps about the run in progress besides its place: how it ended
// (finished, failed with an error, halted), the failure a host escape named itself, and the
// function a top-level Func is recording, which is undone when the text ends before its End
// so that no later call runs into whatever is recorded next.
#pragma once
#include <cstddef>
#include <string_view>

#include "intern.hpp"
#include "memory.hpp"
#include "outcome.hpp"
#include "run_control.hpp"
#include "run_place.hpp"
#include "vec.hpp"

namespace zandle {

template <class Error, class HaltReason, class FuncEntry>
class RunState {
 public:
  using Outcome = RunOutcome<Error, HaltReason>;

  explicit RunState(Memory& memory) : host_error_(memory) {}

  // A run begins: it has not ended, and nothing is being recorded.
  void begin() {
    outcome_ = Outcome{};
    recorded_ = no_name;
    recording = false;
  }

  // What a snapshot keeps of a recording in progress, and puts back.
  struct Recorded {
    NameId func;
    FuncEntry replaced;
    std::size_t code_before;
  };
  Recorded recorded() const { return {recorded_, replaced_, code_before_}; }
  void restore(const Recorded& r, bool is_recording) {
    recorded_ = r.func;
    replaced_ = r.replaced;
    code_before_ = r.code_before;
    recording = is_recording;
    outcome_.ending = Ending::paused;
  }

  // The run ends: a recording its text left unfinished is undone, and where the run stopped
  // is kept when it did not finish. A paused run keeps what it needs to go on (the rest of
  // its text included), or fails with `out_of_memory` when there is no room for that.
  template <class Code, class Functions>
  const Outcome& end(Code& code, Functions& functions, RunPlace& place, Error out_of_memory) {
    if (paused()) {
      if (place.keep()) {
        place.stop();
        return outcome_;
      }
      fail(out_of_memory);
    }
    if (recording) undoRecording(code, functions);
    recording = false;
    if (ended()) place.stop();
    return outcome_;
  }

  // Records a failure; always false, so that a routine can `return fail(...)`.
  bool fail(Error e) {
    outcome_.ending = Ending::failed;
    outcome_.error = e;
    return false;
  }
  // A failure a host escape names itself, reported as `host_error` (the program's HostError).
  bool failAs(Error host_error, std::string_view name, Error out_of_memory) {
    host_error_.clear();
    if (!host_error_.append(name)) return fail(out_of_memory);
    return fail(host_error);
  }
  // The run pauses between two instructions, to be resumed; always false, like a failure.
  bool pause() {
    outcome_.ending = Ending::paused;
    return false;
  }
  bool paused() const { return outcome_.ending == Ending::paused; }
  // A paused run goes on: its place and its control begin again, with the instructions
  // executed so far.
  void resume(RunPlace& place, RunControl& control, std::uint64_t executed) {
    outcome_ = Outcome{};
    place.resume();
    control.begin(executed);
  }
  // A paused run is dropped: it ends as if its text had ended where it stood.
  template <class Code, class Functions>
  void discard(Code& code, Functions& functions, RunPlace& place) {
    outcome_ = Outcome{};
    end(code, functions, place, Error::ok);
  }

  // Ends the run the way that ends the process, with that exit status.
  bool halt(HaltReason reason, int status) {
    outcome_.ending = Ending::halted;
    outcome_.reason = reason;
    outcome_.status = status;
    return false;
  }

  const Outcome& outcome() const { return outcome_; }
  // Lines are being recorded into a function, not run.
  bool recording = false;

  bool ended() const { return outcome_.ending != Ending::finished; }  // or paused
  std::string_view hostError() const { return host_error_.view(); }

  // A Func starts recording `func`, whose entry was `replaced`, when the code held
  // `code_size` records.
  void recordingStarts(NameId func, const FuncEntry& replaced, std::size_t code_size) {
    recorded_ = func;
    replaced_ = replaced;
    code_before_ = code_size;
  }
  // The recording is complete: a later failure has nothing of it to undo.
  void recordingEnds() {
    recording = false;
    recorded_ = no_name;
  }
  // The run ended inside that recording: the partial body is dropped and the name keeps its
  // earlier meaning.
  template <class Code, class Functions>
  void undoRecording(Code& code, Functions& functions) {
    if (recorded_ == no_name) return;
    code.shrink(code_before_);
    functions[recorded_] = replaced_;
    recorded_ = no_name;
  }

 private:
  Outcome outcome_;
  Buffer host_error_;
  NameId recorded_ = no_name;
  FuncEntry replaced_{};
  std::size_t code_before_ = 0;
};

}  // namespace zandle
