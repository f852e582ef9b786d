// The C interface's entry points: the checks every call makes (null handles and pointers,
// a machine that is running), then the operations of the machine's kind.
#include <cstddef>
#include <cstring>
#include <string_view>

#include "handle.hpp"

namespace zandle::api {

// A host built against an older header has an older layout of the options, which is all
// fields up to the first added since. Any other size would be read past its end, or in
// halves.
constexpr std::size_t layout_0_4 = offsetof(zandle_options, call_depth_max);

bool released(std::size_t size) { return size == sizeof(zandle_options) || size == layout_0_4; }

bool readOptions(const zandle_options* given, zandle_options& o, Preset& preset) {
  zandle_options_init(&o);
  if (given != nullptr) {
    if (!released(given->struct_size)) return false;
    std::memcpy(&o, given, given->struct_size);
    o.struct_size = sizeof o;
  }
  const std::string_view name = o.escapes != nullptr ? std::string_view(o.escapes) : "sandbox";
  if (name == "sandbox") {
    preset = Preset::sandbox;
  } else if (name == "console") {
    preset = Preset::console;
  } else if (name == "all") {
    preset = Preset::all;
  } else if (name == "pure") {
    preset = Preset::pure;
  } else {
    return false;
  }
  return true;
}

}  // namespace zandle::api

namespace {

// A pointer and a length: a null pointer is a text only when it is empty. Inline, for the
// calls an escape makes in a loop.
[[gnu::always_inline]] inline bool view(const char* p, std::size_t n, std::string_view& out) {
  if (p == nullptr && n != 0) return false;
  out = p == nullptr ? std::string_view() : std::string_view(p, n);
  return true;
}

// A name a script can write on a line: not empty, no space or control character.
bool writableName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7f) return false;
  }
  return true;
}

void setPlace(const zandle::LineRef& from, zandle_place* to) {
  to->source = from.source.data();
  to->source_len = from.source.size();
  to->line = from.line;
  to->text = from.text.data();
  to->text_len = from.text.size();
}

// Runs fn with the machine marked as running, so that an escape cannot re-enter it.
template <class Fn>
zandle_status whileRunning(zandle_machine* m, Fn fn) {
  m->running = true;
  const zandle_status s = fn();
  m->running = false;
  return s;
}

}  // namespace

extern "C" {

zandle_status zandle_options_init_sized(zandle_options* options, std::size_t size) {
  if (options == nullptr || !zandle::api::released(size)) return ZANDLE_INVALID_ARGUMENT;
  std::memset(options, 0, size);
  options->struct_size = size;
  return ZANDLE_OK;
}

// The function that hosts built against 0.4.0 call, with that layout (the name is in
// parentheses, out of the macro's reach).
void(zandle_options_init)(zandle_options* options) {
  (void)zandle_options_init_sized(options, zandle::api::layout_0_4);
}

#define ZANDLE_TEXT(x) #x
#define ZANDLE_VERSION_TEXT(major, minor, patch) ZANDLE_TEXT(major) "." ZANDLE_TEXT(minor) "." ZANDLE_TEXT(patch)
const char* zandle_version(void) {
  return ZANDLE_VERSION_TEXT(ZANDLE_VERSION_MAJOR, ZANDLE_VERSION_MINOR, ZANDLE_VERSION_PATCH);
}
#undef ZANDLE_VERSION_TEXT
#undef ZANDLE_TEXT

zandle_status zandle_free(zandle_machine* m) {
  if (m == nullptr) return ZANDLE_OK;
  if (m->running) return ZANDLE_BUSY;
  m->ops->destroy(m);
  return ZANDLE_OK;
}

zandle_kind zandle_machine_kind(const zandle_machine* m) { return m != nullptr ? m->kind : zandle_kind{}; }

zandle_status zandle_run(zandle_machine* m, const char* text, std::size_t text_len, const char* name,
                         std::size_t name_len) {
  std::string_view t, n;
  if (m == nullptr || !view(text, text_len, t) || !view(name, name_len, n)) return ZANDLE_INVALID_ARGUMENT;
  if (m->running || m->ops->paused(m)) return ZANDLE_BUSY;
  return whileRunning(m, [&] { return m->ops->run(m, t, n); });
}

zandle_status zandle_call(zandle_machine* m, const char* function, std::size_t function_len) {
  std::string_view f;
  if (m == nullptr || !view(function, function_len, f)) return ZANDLE_INVALID_ARGUMENT;
  if (m->running || m->ops->paused(m)) return ZANDLE_BUSY;
  return whileRunning(m, [&] { return m->ops->call(m, f); });
}

zandle_status zandle_set_slice(zandle_machine* m, std::uint64_t instructions) {
  if (m == nullptr) return ZANDLE_INVALID_ARGUMENT;
  m->control.setSlice(instructions);
  return ZANDLE_OK;
}

zandle_status zandle_set_deadline(zandle_machine* m, std::uint64_t nanoseconds) {
  if (m == nullptr) return ZANDLE_INVALID_ARGUMENT;
  m->control.setDeadline(nanoseconds);
  return ZANDLE_OK;
}

// From any thread or a signal handler: an atomic store and a write(2), nothing else.
void zandle_interrupt(zandle_machine* m) {
  if (m != nullptr) m->control.interrupt();
}

int zandle_escape_pause(zandle_machine* m) {
  return m != nullptr && m->in_escape ? ZANDLE_PAUSED : ZANDLE_INVALID_ARGUMENT;
}

zandle_status zandle_resume(zandle_machine* m) {
  if (m == nullptr) return ZANDLE_INVALID_ARGUMENT;
  if (m->running) return ZANDLE_BUSY;
  if (!m->ops->paused(m)) return ZANDLE_INVALID_ARGUMENT;
  return whileRunning(m, [&] { return m->ops->resume(m); });
}

zandle_status zandle_discard(zandle_machine* m) {
  if (m == nullptr) return ZANDLE_INVALID_ARGUMENT;
  if (m->running) return ZANDLE_BUSY;
  m->ops->discard(m);
  return ZANDLE_OK;
}

int zandle_paused(const zandle_machine* m) { return m != nullptr && m->ops->paused(m) ? 1 : 0; }

zandle_status zandle_snapshot(zandle_machine* m, const void** bytes, std::size_t* size) {
  if (m == nullptr || bytes == nullptr || size == nullptr) return ZANDLE_INVALID_ARGUMENT;
  if (m->running) return ZANDLE_BUSY;
  std::string_view b;
  const zandle_status s = m->ops->snapshot(m, b);
  if (s == ZANDLE_OK) {
    *bytes = b.data();
    *size = b.size();
  }
  return s;
}

zandle_status zandle_restore(zandle_machine* m, const void* bytes, std::size_t size) {
  std::string_view b;
  if (m == nullptr || !view(static_cast<const char*>(bytes), size, b)) return ZANDLE_INVALID_ARGUMENT;
  if (m->running) return ZANDLE_BUSY;
  return m->ops->restore(m, b);
}

zandle_status zandle_set_arguments(zandle_machine* m, int argc, const char* const* argv) {
  if (m == nullptr || argc < 0 || (argv == nullptr && argc != 0)) return ZANDLE_INVALID_ARGUMENT;
  if (m->running) return ZANDLE_BUSY;
  return m->ops->setArguments(m, argc, argv);
}

const char* zandle_error_name(const zandle_machine* m) { return m != nullptr ? m->ops->errorName(m) : ""; }

zandle_halt zandle_halt_reason(const zandle_machine* m) {
  return m != nullptr ? m->ops->haltReason(m) : ZANDLE_HALT_NONE;
}

int zandle_exit_status(const zandle_machine* m) { return m != nullptr ? m->ops->exitStatus(m) : 1; }

zandle_status zandle_where(const zandle_machine* m, zandle_place* place) {
  if (m == nullptr || place == nullptr) return ZANDLE_INVALID_ARGUMENT;
  setPlace(m->ops->where(m), place);
  return ZANDLE_OK;
}

std::size_t zandle_active_call_count(const zandle_machine* m) {
  return m != nullptr ? m->ops->activeCallCount(m) : 0;
}

zandle_status zandle_active_call(const zandle_machine* m, std::size_t index, const char** function,
                                 std::size_t* function_len, zandle_place* called_from) {
  if (m == nullptr || function == nullptr || function_len == nullptr || called_from == nullptr) {
    return ZANDLE_INVALID_ARGUMENT;
  }
  if (index >= m->ops->activeCallCount(m)) return ZANDLE_NOT_FOUND;
  const zandle::CallRef c = m->ops->activeCall(m, index);
  *function = c.function.data();
  *function_len = c.function.size();
  setPlace(c.called_from, called_from);
  return ZANDLE_OK;
}

zandle_status zandle_set_text(zandle_machine* m, const char* name, std::size_t name_len, const char* text,
                              std::size_t text_len) {
  std::string_view n, t;
  if (m == nullptr || !view(name, name_len, n) || n.empty() || !view(text, text_len, t)) {
    return ZANDLE_INVALID_ARGUMENT;
  }
  return m->ops->setText(m, n, t);
}

zandle_status zandle_get_text(zandle_machine* m, const char* name, std::size_t name_len, const char** text,
                              std::size_t* text_len) {
  std::string_view n, t;
  if (m == nullptr || !view(name, name_len, n) || text == nullptr || text_len == nullptr) {
    return ZANDLE_INVALID_ARGUMENT;
  }
  const zandle_status s = m->ops->getText(m, n, t);
  if (s == ZANDLE_OK) {
    *text = t.data();
    *text_len = t.size();
  }
  return s;
}

zandle_status zandle_get_type(zandle_machine* m, const char* name, std::size_t name_len, zandle_type* type) {
  std::string_view n;
  if (m == nullptr || !view(name, name_len, n) || type == nullptr) return ZANDLE_INVALID_ARGUMENT;
  return m->ops->getType(m, n, *type);
}

#define ZANDLE_NUMBER_ACCESSORS(suffix, c_type, type_tag)                                               \
  zandle_status zandle_set_##suffix(zandle_machine* m, const char* name, std::size_t name_len,           \
                                    c_type value) {                                                     \
    std::string_view n;                                                                                  \
    if (m == nullptr || !view(name, name_len, n) || n.empty()) return ZANDLE_INVALID_ARGUMENT;           \
    return m->ops->setNumber(m, n, type_tag, &value);                                                    \
  }                                                                                                      \
  zandle_status zandle_get_##suffix(zandle_machine* m, const char* name, std::size_t name_len,           \
                                    c_type* value) {                                                    \
    std::string_view n;                                                                                  \
    if (m == nullptr || !view(name, name_len, n) || value == nullptr) return ZANDLE_INVALID_ARGUMENT;    \
    return m->ops->getNumber(m, n, type_tag, value);                                                     \
  }

ZANDLE_NUMBER_ACCESSORS(word, std::uint64_t, ZANDLE_WORD)
ZANDLE_NUMBER_ACCESSORS(sword, std::int64_t, ZANDLE_SWORD)
ZANDLE_NUMBER_ACCESSORS(float, double, ZANDLE_FLOAT)
#undef ZANDLE_NUMBER_ACCESSORS

zandle_status zandle_register_escape(zandle_machine* m, const char* name, std::size_t name_len,
                                     zandle_escape_fn fn, void* user_data) {
  std::string_view n;
  if (m == nullptr || !view(name, name_len, n) || !writableName(n)) return ZANDLE_INVALID_ARGUMENT;
  return m->ops->registerEscape(m, n, fn, user_data);
}

zandle_status zandle_escape_arg(zandle_machine* m, unsigned index, const char** text, std::size_t* text_len) {
  if (m == nullptr || text == nullptr || text_len == nullptr || !m->in_escape) return ZANDLE_INVALID_ARGUMENT;
  std::string_view t;
  const zandle_status s = m->ops->escapeArg(m, index, t);
  if (s == ZANDLE_OK) {
    *text = t.data();
    *text_len = t.size();
  }
  return s;
}

zandle_status zandle_escape_result(zandle_machine* m, unsigned index, const char* text, std::size_t text_len) {
  std::string_view t;
  if (m == nullptr || !view(text, text_len, t) || !m->in_escape) return ZANDLE_INVALID_ARGUMENT;
  return m->ops->escapeResult(m, index, t);
}

int zandle_escape_fail(zandle_machine* m, const char* error_name, std::size_t name_len) {
  // Outside an escape there is no failure to name, and the last run's name stays as it is.
  if (m == nullptr || !m->in_escape) return ZANDLE_INVALID_ARGUMENT;
  m->pending_error[0] = '\0';
  // A name the report can print as one word; anything else is EscapeFailed.
  if (error_name == nullptr || name_len == 0 || name_len >= sizeof m->pending_error) return ZANDLE_FAILED;
  for (std::size_t i = 0; i < name_len; ++i) {
    const char c = error_name[i];
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!ok) return ZANDLE_FAILED;
  }
  std::memcpy(m->pending_error, error_name, name_len);
  m->pending_error[name_len] = '\0';
  return ZANDLE_FAILED;
}

zandle_status zandle_allow_escape(zandle_machine* m, const char* name, std::size_t name_len, int allowed) {
  std::string_view n;
  if (m == nullptr || !view(name, name_len, n) || !writableName(n)) return ZANDLE_INVALID_ARGUMENT;
  return m->ops->allowEscape(m, n, allowed != 0);
}

std::size_t zandle_memory_used(const zandle_machine* m) { return m != nullptr ? m->ops->memory(m).held() : 0; }

std::size_t zandle_memory_peak(const zandle_machine* m) { return m != nullptr ? m->ops->memory(m).peak() : 0; }

}  // extern "C"
