// The part of the C interface that both kinds of machine share, written once over a Traits
// class that says what differs: the interpreter's Machine and Options types, its presets and
// its own options, how its outcomes and escape arguments read, and the storage of the views
// it hands out (Views). vm_api.cpp and zndvm_api.cpp each instantiate it for their
// interpreter.
#pragma once
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "common/arena.hpp"
#include "common/snapshot.hpp"
#include "common/vec.hpp"
#include "handle.hpp"

namespace zandle::api {

// A host escape as the interpreter calls it.
struct HostRecord {
  zandle_escape_fn fn;
  void* user;
  zandle_machine* handle;
};

// What a machine is made of behind its handle: the interpreter, and what takes its memory
// from the interpreter's (host escapes' records, the views' storage, a snapshot's bytes). A
// restore makes a new Core and puts it in place of the old one only when it succeeded.
template <class Traits>
struct Core {
  explicit Core(const typename Traits::Options& options)
      : machine(options), records(machine.memory(), 128), views(machine.memory()), saved(machine.memory()) {}
  typename Traits::Machine machine;
  Arena records;  // one HostRecord per escape name ever registered; records never move
  typename Traits::Views views;
  Buffer saved;  // the last snapshot, until the machine runs or is restored
};

template <class Traits>
struct Bound : zandle_machine {
  typename Traits::Options options;  // what the machine was made with, for a restore's new one
  Core<Traits>* core = nullptr;
};

template <class Traits>
Bound<Traits>* bound(zandle_machine* m) {
  return static_cast<Bound<Traits>*>(m);
}
template <class Traits>
const Bound<Traits>* bound(const zandle_machine* m) {
  return static_cast<const Bound<Traits>*>(m);
}
template <class Traits>
Core<Traits>& core(const zandle_machine* m) {
  return *bound<Traits>(m)->core;
}

// What the Traits of both kinds have alike: their types, and the failures the interface
// names for them.
template <class Self, class MachineType, class OptionsType, class ViewsType, zandle_kind Kind>
struct TraitsBase {
  using Machine = MachineType;
  using Options = OptionsType;
  using Views = ViewsType;
  using Error = decltype(std::declval<const Machine&>().outcome().error);
  static constexpr zandle_kind kind = Kind;
  static constexpr Error escape_failed = Error::EscapeFailed;
  static constexpr Error out_of_memory = Error::OutOfMemory;
  static constexpr Error host_error = Error::HostError;

  static Machine& machine(zandle_machine* m) { return core<Self>(m).machine; }
  // The name a failure is reported under (each language's errorName, found by its Error).
  static std::string_view nameOf(Error e) { return errorName(e); }
  // What a halt's reason is to the interface: Self::halts, by the language's HaltReason.
  template <class HaltReason>
  static zandle_halt halt(HaltReason r) {
    return Self::halts[static_cast<std::size_t>(r)];
  }
};

inline zandle_status statusOf(Ending ending) {
  switch (ending) {
    case Ending::finished: return ZANDLE_OK;
    case Ending::failed: return ZANDLE_FAILED;
    case Ending::halted: return ZANDLE_HALTED;
    case Ending::paused: return ZANDLE_PAUSED;
  }
  return ZANDLE_FAILED;
}

template <class Traits>
struct Binding {
  using Machine = typename Traits::Machine;
  using B = Bound<Traits>;

  static bool trampoline(Machine& m, void* user) {
    auto* record = static_cast<HostRecord*>(user);
    zandle_machine* h = record->handle;
    h->pending_error[0] = '\0';
    h->in_escape = true;
    const int result = record->fn(h, record->user);
    h->in_escape = false;
    if (result == 0) return true;
    // zandle_escape_pause: the results stand, and the run pauses right after the Escape.
    if (result == ZANDLE_PAUSED) {
      h->control.pauseAfterEscape();
      return true;
    }
    if (h->pending_error[0] != '\0') return m.failAs(h->pending_error);
    // The status of a call that ran out of memory, passed on.
    if (result == ZANDLE_OUT_OF_MEMORY) return m.fail(Traits::out_of_memory);
    return m.fail(Traits::escape_failed);
  }

  // The bytes a machine holds beside its interpreter's: its Core, its handle and the reader
  // of the host's input, charged to the interpreter's memory like all the rest.
  static std::size_t ownBytes(const B* b) {
    return sizeof(Core<Traits>) + sizeof(B) + (b->input != nullptr ? sizeof(BufferedReader) : 0);
  }

  // A new Core with the machine's options and this memory cap (0: none), or null when
  // there is no room for it.
  static Core<Traits>* makeCore(B* b, std::size_t cap) {
    void* p = b->alloc(b->alloc_user, nullptr, 0, sizeof(Core<Traits>));
    if (p == nullptr) return nullptr;
    typename Traits::Options options = b->options;
    options.memory_cap = cap;
    auto* c = new (p) Core<Traits>(options);
    if (!c->machine.memory().chargeOwn(ownBytes(b))) {
      dropCore(b, c);
      return nullptr;
    }
    return c;
  }
  static void dropCore(B* b, Core<Traits>* c) {
    c->~Core<Traits>();
    b->alloc(b->alloc_user, c, sizeof(Core<Traits>), 0);
  }

  static void destroy(zandle_machine* m) {
    B* b = bound<Traits>(m);
    const AllocFn alloc = b->alloc;
    void* const user = b->alloc_user;
    const std::size_t size = b->size;
    BufferedReader* input = b->input;
    if (b->core != nullptr) dropCore(b, b->core);
    b->~B();
    if (input != nullptr) {
      input->~BufferedReader();
      alloc(user, input, sizeof(BufferedReader), 0);
    }
    alloc(user, b, size, 0);
  }

  static zandle_status run(zandle_machine* m, std::string_view text, std::string_view name) {
    m->pending_error[0] = '\0';
    core<Traits>(m).saved.release();
    return statusOf(core<Traits>(m).machine.run(text, name).ending);
  }

  static zandle_status call(zandle_machine* m, std::string_view function) {
    m->pending_error[0] = '\0';
    core<Traits>(m).saved.release();
    return statusOf(core<Traits>(m).machine.call(function).ending);
  }

  static zandle_status resume(zandle_machine* m) {
    m->pending_error[0] = '\0';
    core<Traits>(m).saved.release();
    return statusOf(core<Traits>(m).machine.resume().ending);
  }

  static void discard(zandle_machine* m) { core<Traits>(m).machine.discard(); }
  static bool paused(const zandle_machine* m) { return core<Traits>(m).machine.paused(); }

  static zandle_status snapshot(zandle_machine* m, std::string_view& bytes) {
    Core<Traits>& c = core<Traits>(m);
    if (!c.machine.snapshot(c.saved)) {
      c.saved.release();
      return ZANDLE_OUT_OF_MEMORY;
    }
    bytes = c.saved.view();
    return ZANDLE_OK;
  }

  // The snapshot goes onto a new machine with the same options, which takes the old one's
  // place only when every field was read: otherwise the old one is as it was. Both count
  // against the cap while the new one is made.
  static zandle_status restore(zandle_machine* m, std::string_view bytes) {
    B* b = bound<Traits>(m);
    Memory& old = b->core->machine.memory();
    std::size_t cap = 0;
    if (b->options.memory_cap != 0) {
      if (old.held() >= b->options.memory_cap) return ZANDLE_OUT_OF_MEMORY;
      cap = b->options.memory_cap - old.held();
    }
    Core<Traits>* c = makeCore(b, cap);
    if (c == nullptr) return ZANDLE_OUT_OF_MEMORY;
    const Restored r = c->machine.restore(bytes);
    if (r != Restored::ok) {
      dropCore(b, c);
      return r == Restored::invalid ? ZANDLE_INVALID_SNAPSHOT : ZANDLE_OUT_OF_MEMORY;
    }
    if (b->options.memory_cap != 0) c->machine.memory().cap = b->options.memory_cap;
    dropCore(b, b->core);
    b->core = c;
    m->pending_error[0] = '\0';
    return ZANDLE_OK;
  }

  static zandle_status setArguments(zandle_machine* m, int argc, const char* const* argv) {
    Machine& machine = core<Traits>(m).machine;
    Vec<std::string_view> args(machine.memory());
    if (!args.reserve(static_cast<std::size_t>(argc))) return ZANDLE_OUT_OF_MEMORY;
    for (int i = 0; i < argc; ++i) {
      if (argv[i] == nullptr) return ZANDLE_INVALID_ARGUMENT;
      (void)args.push(std::string_view(argv[i]));
    }
    return machine.setArguments({args.data(), args.size()}) ? ZANDLE_OK : ZANDLE_OUT_OF_MEMORY;
  }

  static const char* errorName(const zandle_machine* m) {
    const auto& o = core<Traits>(m).machine.outcome();
    if (o.ending != Ending::failed) return "";
    if (o.error == Traits::host_error) return m->pending_error;
    return Traits::nameOf(o.error).data();  // the names are zero-terminated literals
  }

  static int exitStatus(const zandle_machine* m) {
    const auto& o = core<Traits>(m).machine.outcome();
    switch (o.ending) {
      case Ending::finished: return 0;
      case Ending::failed: return 1;
      case Ending::halted: return o.status;
      case Ending::paused: return 0;  // not ended
    }
    return 1;
  }

  static zandle_halt haltReason(const zandle_machine* m) {
    const auto& o = core<Traits>(m).machine.outcome();
    return o.ending == Ending::halted ? Traits::halt(o.reason) : ZANDLE_HALT_NONE;
  }

  static LineRef where(const zandle_machine* m) { return core<Traits>(m).machine.failedAt(); }
  static std::size_t activeCallCount(const zandle_machine* m) {
    return core<Traits>(m).machine.activeCallCount();
  }
  static CallRef activeCall(const zandle_machine* m, std::size_t i) {
    return core<Traits>(m).machine.activeCall(i);
  }

  static zandle_status registerEscape(zandle_machine* m, std::string_view name, zandle_escape_fn fn,
                                      void* user) {
    Core<Traits>& c = core<Traits>(m);
    // The machine keeps the record of a name once registered, to be reused.
    auto* record = static_cast<HostRecord*>(c.machine.hostEscapeData(name));
    if (record == nullptr && fn != nullptr) {
      record = c.records.template allocateArray<HostRecord>(1);
      if (record == nullptr) return ZANDLE_OUT_OF_MEMORY;
    }
    if (record != nullptr) *record = HostRecord{fn, user, m};
    const bool ok = fn != nullptr ? c.machine.registerEscape(name, trampoline, record)
                                  : c.machine.registerEscape(name, nullptr, nullptr);
    return ok ? ZANDLE_OK : ZANDLE_OUT_OF_MEMORY;
  }

  static zandle_status allowEscape(zandle_machine* m, std::string_view name, bool allowed) {
    return core<Traits>(m).machine.allowEscape(name, allowed) ? ZANDLE_OK : ZANDLE_OUT_OF_MEMORY;
  }

  static const Memory& memory(const zandle_machine* m) { return core<Traits>(m).machine.memory(); }

  static constexpr Ops ops = {
      destroy,
      run,
      call,
      setArguments,
      errorName,
      haltReason,
      exitStatus,
      where,
      activeCallCount,
      activeCall,
      Traits::setText,
      Traits::getText,
      Traits::getType,
      Traits::setNumber,
      Traits::getNumber,
      registerEscape,
      Traits::escapeArg,
      Traits::escapeResult,
      allowEscape,
      memory,
      resume,
      discard,
      paused,
      snapshot,
      restore,
  };

  // The same without snapshots, for the command-line programs, which never take one: their
  // size is bounded, and a program links only the code its table names.
  static zandle_status noSnapshot(zandle_machine*, std::string_view&) { return ZANDLE_UNSUPPORTED; }
  static zandle_status noRestore(zandle_machine*, std::string_view) { return ZANDLE_UNSUPPORTED; }
  static constexpr Ops program_ops = [] {
    Ops o = ops;
    o.snapshot = noSnapshot;
    o.restore = noRestore;
    return o;
  }();

  // Makes a machine of this kind; the object and the reader of the host's input come from
  // the host's allocation function and count against the machine's cap like all the rest.
  static zandle_status create(const zandle_options* given, zandle_machine** out, const Ops& table = ops) {
    if (out == nullptr) return ZANDLE_INVALID_ARGUMENT;
    *out = nullptr;
    zandle_options o;
    Preset preset;
    if (!readOptions(given, o, preset)) return ZANDLE_INVALID_ARGUMENT;
    const AllocFn alloc = o.alloc != nullptr ? o.alloc : systemAlloc;
    void* memory = alloc(o.alloc_user, nullptr, 0, sizeof(B));
    if (memory == nullptr) return ZANDLE_OUT_OF_MEMORY;
    BufferedReader* input = nullptr;
    if (o.input != nullptr) {
      void* r = alloc(o.alloc_user, nullptr, 0, sizeof(BufferedReader));
      if (r == nullptr) {
        alloc(o.alloc_user, memory, sizeof(B), 0);
        return ZANDLE_OUT_OF_MEMORY;
      }
      input = new (r) BufferedReader(Source{o.input, o.input_user});
    }
    typename Traits::Options options;
    if (o.output != nullptr) options.output = Sink{o.output, o.output_user};
    // Without an input function, only a preset that lets scripts reach the console reads
    // the process's standard input; the sandbox and the pure preset read nothing.
    const bool console = preset == Preset::console || preset == Preset::all;
    options.input = input != nullptr ? input : console ? nullptr : &emptyReader();
    options.instruction_cap = o.instruction_cap;
    options.memory_cap = o.memory_cap;
    options.alloc = alloc;
    options.alloc_user = o.alloc_user;
    options.escapes = Traits::presets[static_cast<int>(preset)];
    Traits::configure(o, options);
    B* b = new (memory) B();
    b->ops = &table;
    b->kind = Traits::kind;
    b->alloc = alloc;
    b->alloc_user = o.alloc_user;
    b->size = sizeof(B);
    b->input = input;
    // The control lives in the handle, so that an interrupt reaches whatever machine a
    // restore put behind it.
    options.control = &b->control;
    b->options = options;
    b->core = makeCore(b, o.memory_cap);
    if (b->core == nullptr) {
      destroy(b);
      return ZANDLE_OUT_OF_MEMORY;
    }
    *out = b;
    return ZANDLE_OK;
  }
};

}  // namespace zandle::api

// An interpreter's two constructors: the interface's (zandle_new_vm, say) and the command
// line's, without snapshots (see program.hpp). Used once, at the end of the binding's file.
#define ZANDLE_API_CONSTRUCTORS(Traits, api_new, program_new)                                         \
  extern "C" zandle_status api_new(const zandle_options* options, zandle_machine** out) {             \
    return zandle::api::Binding<zandle::api::Traits>::create(options, out);                          \
  }                                                                                                   \
  zandle_status zandle::api::program_new(const zandle_options* options, zandle_machine** out) {      \
    return Binding<Traits>::create(options, out, Binding<Traits>::program_ops);                       \
  }
