// SPDX-License-Identifier: MIT
// Copyright (c) The Zandle authors
// Zandle for C++ hosts: a thin layer over the C interface (zandle.h) that owns the machine
// and takes std::string_view. It needs C++17 and neither exceptions nor run-time type
// information; every call returns a Status, as the C interface does. What zandle.h says of
// views and threads holds here too.
//
//     zandle::Zndvm m;
//     if (zandle::Zndvm::create(m) != ZANDLE_OK) return 1;
//     m.run("New x '1'\n");
#ifndef ZANDLE_HPP
#define ZANDLE_HPP

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zandle.h"

namespace zandle {

using Status = zandle_status;
using Halt = zandle_halt;
using Options = zandle_options;

// A line of a script: where a run stopped, or where a function was called from.
struct Place {
  std::string_view source;
  std::uint32_t line = 0;
  std::string_view text;
};

struct ActiveCall {
  std::string_view function;
  Place called_from;
};

// What the machine looks like from inside a host escape.
class EscapeContext {
 public:
  explicit EscapeContext(zandle_machine* m) : m_(m) {}
  // Argument `index` by the machine's convention (vm: 1 or 2; zndvm: 0, 1, ...), as text
  // valid until the escape returns.
  Status arg(unsigned index, std::string_view& text) const {
    const char* p = nullptr;
    std::size_t n = 0;
    const Status s = zandle_escape_arg(m_, index, &p, &n);
    if (s == ZANDLE_OK) text = std::string_view(p, n);
    return s;
  }
  // Result `index` of a zndvm escape, stored as text.
  Status result(unsigned index, std::string_view text) const {
    return zandle_escape_result(m_, index, text.data(), text.size());
  }
  Status setText(std::string_view name, std::string_view text) const {
    return zandle_set_text(m_, name.data(), name.size(), text.data(), text.size());
  }
  Status getText(std::string_view name, std::string_view& text) const {
    const char* p = nullptr;
    std::size_t n = 0;
    const Status s = zandle_get_text(m_, name.data(), name.size(), &p, &n);
    if (s == ZANDLE_OK) text = std::string_view(p, n);
    return s;
  }
  // Ends the escape with a failure the run reports as "error: <name>": return its value.
  int fail(std::string_view error_name) const { return zandle_escape_fail(m_, error_name.data(), error_name.size()); }
  // Ends the escape with its results standing and the run paused just after it: return its
  // value, and resume the machine when the answer is ready.
  int pause() const { return zandle_escape_pause(m_); }
  zandle_machine* handle() const { return m_; }

 private:
  zandle_machine* m_;
};

class Machine {
 public:
  Machine() = default;
  Machine(Machine&& other) noexcept : m_(other.m_) { other.m_ = nullptr; }
  Machine& operator=(Machine&& other) noexcept {
    if (this != &other) {
      zandle_free(m_);
      m_ = other.m_;
      other.m_ = nullptr;
    }
    return *this;
  }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;
  // A machine is not destroyed from inside one of its own escapes (zandle_free is then
  // ZANDLE_BUSY): the handle would be lost. Move it out and destroy it after the run.
  ~Machine() { zandle_free(m_); }

  explicit operator bool() const { return m_ != nullptr; }
  zandle_machine* handle() const { return m_; }

  // Runs a script text; `name` names it in error places.
  Status run(std::string_view text, std::string_view name = {}) {
    return zandle_run(m_, text.data(), text.size(), name.data(), name.size());
  }
  // Runs a function an earlier run recorded.
  Status call(std::string_view function) { return zandle_call(m_, function.data(), function.size()); }
  Status setArguments(int argc, const char* const* argv) { return zandle_set_arguments(m_, argc, argv); }

  // How the last run ended.
  std::string_view errorName() const { return zandle_error_name(m_); }
  Halt haltReason() const { return zandle_halt_reason(m_); }
  int exitStatus() const { return zandle_exit_status(m_); }
  Place where() const {
    zandle_place p{};
    zandle_where(m_, &p);
    return toPlace(p);
  }
  std::size_t activeCallCount() const { return zandle_active_call_count(m_); }
  ActiveCall activeCall(std::size_t index) const {
    const char* f = nullptr;
    std::size_t n = 0;
    zandle_place p{};
    if (zandle_active_call(m_, index, &f, &n, &p) != ZANDLE_OK) return {};
    return {std::string_view(f, n), toPlace(p)};
  }

  Status setText(std::string_view name, std::string_view text) {
    return zandle_set_text(m_, name.data(), name.size(), text.data(), text.size());
  }
  Status getText(std::string_view name, std::string_view& text) {
    const char* p = nullptr;
    std::size_t n = 0;
    const Status s = zandle_get_text(m_, name.data(), name.size(), &p, &n);
    if (s == ZANDLE_OK) text = std::string_view(p, n);
    return s;
  }

  // A host escape calling `fn(context)`, which returns 0 or context.fail(...). The callable
  // must outlive the registration. An exception it throws does not leave the escape: the run
  // fails as HostException at the Escape's line (the exception itself is gone), and the
  // machine stays usable.
  template <class Fn>
  Status registerEscape(std::string_view name, Fn& fn) {
    return zandle_register_escape(m_, name.data(), name.size(), &callEscape<Fn>, &fn);
  }
  Status registerEscape(std::string_view name, zandle_escape_fn fn, void* user_data) {
    return zandle_register_escape(m_, name.data(), name.size(), fn, user_data);
  }
  Status removeEscape(std::string_view name) { return registerEscape(name, nullptr, nullptr); }
  Status allowEscape(std::string_view name, bool allowed) {
    return zandle_allow_escape(m_, name.data(), name.size(), allowed ? 1 : 0);
  }

  // Keeping control (see zandle.h): a run pauses after a slice of instructions, past a
  // deadline in nanoseconds (0: neither), or at an interrupt, the one call safe from any
  // thread and from a signal handler; it then returns ZANDLE_PAUSED and goes on with
  // resume, or is dropped with discard.
  Status setSlice(std::uint64_t instructions) { return zandle_set_slice(m_, instructions); }
  Status setDeadline(std::uint64_t nanoseconds) { return zandle_set_deadline(m_, nanoseconds); }
  void interrupt() const { zandle_interrupt(m_); }
  Status resume() { return zandle_resume(m_); }
  Status discard() { return zandle_discard(m_); }
  bool paused() const { return zandle_paused(m_) != 0; }

  // The machine as bytes, a view valid until the machine runs, resumes, is restored or
  // freed, or the next snapshot; and such bytes put back onto a machine of the same kind
  // (its host escapes are registered again after).
  Status snapshot(std::string_view& bytes) {
    const void* p = nullptr;
    std::size_t n = 0;
    const Status s = zandle_snapshot(m_, &p, &n);
    if (s == ZANDLE_OK) bytes = std::string_view(static_cast<const char*>(p), n);
    return s;
  }
  Status restore(std::string_view bytes) { return zandle_restore(m_, bytes.data(), bytes.size()); }

  std::size_t memoryUsed() const { return zandle_memory_used(m_); }
  std::size_t memoryPeak() const { return zandle_memory_peak(m_); }

 protected:
  explicit Machine(zandle_machine* m) : m_(m) {}
  static Place toPlace(const zandle_place& p) {
    return {std::string_view(p.source, p.source_len), p.line, std::string_view(p.text, p.text_len)};
  }
  template <class Fn>
  static int callEscape(zandle_machine* m, void* user) {
#if defined(__cpp_exceptions) || defined(__EXCEPTIONS) || defined(_CPPUNWIND)
    // The library is built without unwind tables: an exception must not cross it.
    try {
      return (*static_cast<Fn*>(user))(EscapeContext(m));
    } catch (...) {
      return zandle_escape_fail(m, "HostException", 13);
    }
#else
    return (*static_cast<Fn*>(user))(EscapeContext(m));
#endif
  }

  zandle_machine* m_ = nullptr;
};

// The release interpreter: every value is text.
class Vm : public Machine {
 public:
  static Status create(Vm& out, const Options* options = nullptr) {
    zandle_machine* m = nullptr;
    const Status s = zandle_new_vm(options, &m);
    out = Vm(m);
    return s;
  }
  Vm() = default;

 private:
  explicit Vm(zandle_machine* m) : Machine(m) {}
};

// The successor: typed values.
class Zndvm : public Machine {
 public:
  static Status create(Zndvm& out, const Options* options = nullptr) {
    zandle_machine* m = nullptr;
    const Status s = zandle_new_zndvm(options, &m);
    out = Zndvm(m);
    return s;
  }
  Zndvm() = default;

  Status type(std::string_view name, zandle_type& t) { return zandle_get_type(m_, name.data(), name.size(), &t); }
  Status setWord(std::string_view name, std::uint64_t v) { return zandle_set_word(m_, name.data(), name.size(), v); }
  Status setSword(std::string_view name, std::int64_t v) { return zandle_set_sword(m_, name.data(), name.size(), v); }
  Status setFloat(std::string_view name, double v) { return zandle_set_float(m_, name.data(), name.size(), v); }
  Status getWord(std::string_view name, std::uint64_t& v) { return zandle_get_word(m_, name.data(), name.size(), &v); }
  Status getSword(std::string_view name, std::int64_t& v) { return zandle_get_sword(m_, name.data(), name.size(), &v); }
  Status getFloat(std::string_view name, double& v) { return zandle_get_float(m_, name.data(), name.size(), &v); }

 private:
  explicit Zndvm(zandle_machine* m) : Machine(m) {}
};

}  // namespace zandle

#endif  // ZANDLE_HPP
