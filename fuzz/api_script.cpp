// Arbitrary bytes run through the public interface: the first byte picks the kind of
// machine, the rest is the script. Host escapes are registered: one that echoes its argument,
// one that fails by name, and one that is withheld and must never be called. Every call of a
// host escape must come with the machine that registered it, during a run of it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "api_host.hpp"
#include "harness.hpp"
#include "zandle/zandle.h"

using namespace zandle;

namespace {

struct Host {
  zandle_machine* machine = nullptr;
  bool running = false;
  std::size_t input_pos = 0;
};

void expectOwnMachine(zandle_machine* m, void* user) {
  const auto* host = static_cast<const Host*>(user);
  fuzz::expect(host != nullptr && m == host->machine, "api: a host escape called with another machine");
  fuzz::expect(host->running, "api: a host escape called outside a run");
}

int echo(zandle_machine* m, void* user) {
  expectOwnMachine(m, user);
  return fuzz::echoArgument(m);
}

int refuse(zandle_machine* m, void* user) {
  expectOwnMachine(m, user);
  return zandle_escape_fail(m, "Refused", 7);
}

int secret(zandle_machine*, void*) { fuzz::violated("api: a withheld host escape was called"); }

long readFixed(void* user, char* buffer, std::size_t capacity) {
  auto* host = static_cast<Host*>(user);
  const std::string_view text = fuzz::fixed_input;
  const std::size_t n = std::min(capacity, text.size() - host->input_pos);
  std::memcpy(buffer, text.data() + host->input_pos, n);
  host->input_pos += n;
  return static_cast<long>(n);
}

int discard(void*, const char*, std::size_t) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool vm = (data[0] & 1) != 0;
  Host host;
  zandle_options o;
  zandle_options_init(&o);
  o.output = discard;
  o.input = readFixed;
  o.input_user = &host;
  o.instruction_cap = fuzz::instruction_cap;
  o.memory_cap = fuzz::memory_cap;
  o.escapes = "console";
  if (zandle_new(vm ? ZANDLE_VM : ZANDLE_ZNDVM, &o, &host.machine) != ZANDLE_OK) {
    fuzz::violated("api: no machine");
  }
  zandle_machine* m = host.machine;
  const char* echo_name = vm ? "HostEcho" : "host.echo";
  const char* refuse_name = vm ? "HostRefuse" : "host.refuse";
  const char* secret_name = vm ? "HostSecret" : "host.secret";
  fuzz::expect(zandle_register_escape(m, echo_name, std::strlen(echo_name), echo, &host) == ZANDLE_OK &&
                   zandle_register_escape(m, refuse_name, std::strlen(refuse_name), refuse, &host) == ZANDLE_OK &&
                   zandle_register_escape(m, secret_name, std::strlen(secret_name), secret, &host) == ZANDLE_OK &&
                   zandle_allow_escape(m, secret_name, std::strlen(secret_name), 0) == ZANDLE_OK,
               "api: registering the host escapes");
  const char* args[] = {"host", "fuzz.znd", "one"};
  fuzz::expect(zandle_set_arguments(m, 3, args) == ZANDLE_OK, "api: arguments");
  host.running = true;
  const zandle_status status = zandle_run(m, reinterpret_cast<const char*>(data + 1), size - 1, "fuzz.znd", 8);
  host.running = false;
  fuzz::expect(status == ZANDLE_OK || status == ZANDLE_FAILED || status == ZANDLE_HALTED, "api: a run status");
  fuzz::expect((status == ZANDLE_FAILED) == (zandle_error_name(m)[0] != '\0'), "api: an error name without a failure");
  fuzz::expect(zandle_memory_peak(m) <= fuzz::memory_cap, "api: the memory cap was passed");
  // Where it stopped must be readable, every call in progress too: the sanitizers check each
  // byte the views reach.
  const zandle_place at = fuzz::readPlace(m);
  fuzz::expect(status == ZANDLE_OK ? at.line == 0 : at.line <= size, "api: a place beyond the script");
  // The machine runs on after whatever the script did.
  fuzz::expect(zandle_run(m, "New after 'x'\n", 14, nullptr, 0) == ZANDLE_OK ||
                   std::strcmp(zandle_error_name(m), "OutOfMemory") == 0,
               "api: the machine does not run again");
  zandle_free(m);
  return 0;
}
