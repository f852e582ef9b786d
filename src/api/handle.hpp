// What a zandle_machine is behind the C interface: the operations of its kind, and the
// state the interface keeps beside the interpreter (whether a host escape is running, the
// pending failure of a host escape, the reader of the host's input). Each kind fills a table
// of operations in its own file, so a static link that creates only one kind takes in only
// that interpreter.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/line_reader.hpp"
#include "common/memory.hpp"
#include "common/run_control.hpp"
#include "common/outcome.hpp"
#include "zandle/zandle.h"

namespace zandle::api {

// Calls in progress at once when the host does not say: deep enough for any honest
// recursion, and 3.2 MB of zndvm's frames at most, where the command line's limit is 64 GB.
inline constexpr std::uint64_t default_call_depth = 200'000;

struct Ops {
  void (*destroy)(zandle_machine* m);
  zandle_status (*run)(zandle_machine* m, std::string_view text, std::string_view name);
  zandle_status (*call)(zandle_machine* m, std::string_view function);
  zandle_status (*setArguments)(zandle_machine* m, int argc, const char* const* argv);
  const char* (*errorName)(const zandle_machine* m);
  zandle_halt (*haltReason)(const zandle_machine* m);
  int (*exitStatus)(const zandle_machine* m);
  LineRef (*where)(const zandle_machine* m);
  std::size_t (*activeCallCount)(const zandle_machine* m);
  CallRef (*activeCall)(const zandle_machine* m, std::size_t i);
  zandle_status (*setText)(zandle_machine* m, std::string_view name, std::string_view text);
  zandle_status (*getText)(zandle_machine* m, std::string_view name, std::string_view& text);
  zandle_status (*getType)(zandle_machine* m, std::string_view name, zandle_type& type);
  zandle_status (*setNumber)(zandle_machine* m, std::string_view name, zandle_type type, const void* value);
  zandle_status (*getNumber)(zandle_machine* m, std::string_view name, zandle_type type, void* value);
  zandle_status (*registerEscape)(zandle_machine* m, std::string_view name, zandle_escape_fn fn, void* user);
  zandle_status (*escapeArg)(zandle_machine* m, unsigned index, std::string_view& text);
  zandle_status (*escapeResult)(zandle_machine* m, unsigned index, std::string_view text);
  zandle_status (*allowEscape)(zandle_machine* m, std::string_view name, bool allowed);
  const Memory& (*memory)(const zandle_machine* m);
  zandle_status (*resume)(zandle_machine* m);
  void (*discard)(zandle_machine* m);
  bool (*paused)(const zandle_machine* m);
  zandle_status (*snapshot)(zandle_machine* m, std::string_view& bytes);
  zandle_status (*restore)(zandle_machine* m, std::string_view bytes);
};

enum class Preset : std::uint8_t { sandbox, console, all, pure };  // Traits::presets' order

// The host's options in this library's layout, with the defaults of the fields an older
// layout lacks, and the preset they name; false for a struct_size of no released layout or
// an unknown preset.
bool readOptions(const zandle_options* given, zandle_options& o, Preset& preset);

}  // namespace zandle::api

struct zandle_machine {
  const zandle::api::Ops* ops;
  zandle_kind kind;
  bool running = false;    // inside run or call: escapes may not run, call or free it
  bool in_escape = false;  // inside a host escape: its arguments and results may be used
  // The host allocation function that made this object, for giving it back.
  zandle::AllocFn alloc;
  void* alloc_user;
  std::size_t size;  // bytes of this object as allocated
  // A failure a host escape named (zandle_escape_fail), zero-terminated; empty when none.
  char pending_error[64] = {};
  // The reader of the host's input function, if it gave one.
  zandle::BufferedReader* input = nullptr;
  // What pauses the machine's runs: the host's slice and deadline, and interrupts, which
  // may come from any thread or a signal handler.
  zandle::RunControl control;
};
