// The embedding interface against Lua 5.4's C API, in one run: making a machine, running a
// one-line program and freeing it; and a million calls of a host function from a script
// loop, without arguments and with one argument in and one result out, on both machines.
// Prints medians of repeated measurements and the ratios to Lua's figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "zandle/zandle.h"

namespace {

template <class Body>
double medianSeconds(int runs, Body body) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

volatile long sink;

void fail(const char* what) {
  std::fprintf(stderr, "api_bench: %s\n", what);
  std::exit(1);
}

long host_calls = 0;

int countEscape(zandle_machine*, void*) {
  ++host_calls;
  return 0;
}

int countLua(lua_State*) {
  ++host_calls;
  return 0;
}

// One argument in, one result out: the argument, as it came.
int echoEscape(zandle_machine* m, void*) {
  ++host_calls;
  const bool vm = zandle_machine_kind(m) == ZANDLE_VM;
  const char* text;
  std::size_t len;
  if (zandle_escape_arg(m, vm ? 1 : 0, &text, &len) != ZANDLE_OK) return 1;
  return vm ? zandle_set_text(m, "r", 1, text, len) : zandle_escape_result(m, 0, text, len);
}

int echoLua(lua_State* L) {
  ++host_calls;
  lua_pushinteger(L, luaL_checkinteger(L, 1));
  return 1;
}

const char* const escape_loop =
    "New i '0'\n"
    "Func loop\n"
    "Escape host.count\n"
    "New i \"i + 1\"\n"
    "If loop \"i < 1000000\"\n"
    "End\n"
    "Call loop\n";

const char* const echo_loop =
    "New i '0'\n"
    "New __Escape_host.echo_ARG0 'i'\n"
    "Func loop\n"
    "Escape host.echo\n"
    "New i \"i + 1\"\n"
    "If loop \"i < 1000000\"\n"
    "End\n"
    "Call loop\n";

// vm has no loop but recursion, which its budgets (raised here) and its depth of calls
// bound: a function of 1,000 Escape lines called 1,000 times.
std::string vmCalls(const char* line) {
  std::string text = "New i '1'\nNew ARG1 'i'\nFunc f\n";
  for (int i = 0; i < 1000; ++i) text += line;
  text += "End\n";
  for (int i = 0; i < 1000; ++i) text += "Call f\n";
  return text;
}

const char* const lua_loop = "for i = 1, 1000000 do count() end\n";
const char* const lua_echo_loop = "for i = 1, 1000000 do x = echo(i) end\n";
const char* const lua_global_loop = "i = 0\nwhile i < 1000000 do count() i = i + 1 end\n";

}  // namespace

int main() {
  constexpr int create_batch = 20000;
  constexpr int runs = 15;

  auto perCreate = [&](auto body) { return medianSeconds(runs, [&] { for (int i = 0; i < create_batch; ++i) body(); }) / create_batch * 1e6; };

  const double zndvm_create = perCreate([] {
    zandle_machine* m;
    if (zandle_new_zndvm(nullptr, &m) != ZANDLE_OK || zandle_run(m, "New a '1'\n", 10, nullptr, 0) != ZANDLE_OK) fail("zndvm");
    zandle_free(m);
  });
  const double vm_create = perCreate([] {
    zandle_machine* m;
    if (zandle_new_vm(nullptr, &m) != ZANDLE_OK || zandle_run(m, "New a '1'\n", 10, nullptr, 0) != ZANDLE_OK) fail("vm");
    zandle_free(m);
  });
  const double zndvm_create_escape = perCreate([] {
    zandle_machine* m;
    if (zandle_new_zndvm(nullptr, &m) != ZANDLE_OK ||
        zandle_register_escape(m, "host.count", 10, countEscape, nullptr) != ZANDLE_OK ||
        zandle_run(m, "New a '1'\n", 10, nullptr, 0) != ZANDLE_OK) {
      fail("zndvm with an escape");
    }
    zandle_free(m);
  });
  const double lua_create = perCreate([] {
    lua_State* L = luaL_newstate();
    if (L == nullptr || luaL_dostring(L, "a=1") != LUA_OK) fail("lua");
    lua_close(L);
  });
  const double lua_create_libs = perCreate([] {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    if (luaL_dostring(L, "a=1") != LUA_OK) fail("lua");
    lua_close(L);
  });

  // A million host calls from a script, each loop once a round, round after round, so that a
  // slow moment of the machine hits all of them alike; median seconds of each.
  auto zndvmWith = [](const char* name, zandle_escape_fn fn) {
    zandle_machine* m;
    if (zandle_new_zndvm(nullptr, &m) != ZANDLE_OK || zandle_register_escape(m, name, std::strlen(name), fn, nullptr) != ZANDLE_OK) {
      fail("zndvm");
    }
    return m;
  };
  auto vmWith = [](const char* name, zandle_escape_fn fn) {
    zandle_options o;
    zandle_options_init(&o);
    o.vm_budget_instructions = 3000000;
    o.vm_budget_escape = 1000000;
    o.vm_budget_call = 1000;
    zandle_machine* m;
    if (zandle_new_vm(&o, &m) != ZANDLE_OK || zandle_register_escape(m, name, std::strlen(name), fn, nullptr) != ZANDLE_OK) {
      fail("vm");
    }
    return m;
  };
  struct ScriptLoop {
    zandle_machine* m;
    std::string script;
  };
  const ScriptLoop zandle_loops[] = {
      {zndvmWith("host.count", countEscape), escape_loop},
      {zndvmWith("host.echo", echoEscape), echo_loop},
      {vmWith("host.count", countEscape), vmCalls("Escape host.count\n")},
      {vmWith("host.echo", echoEscape), vmCalls("Escape host.echo\n")},
  };
  lua_State* L = luaL_newstate();
  lua_register(L, "count", countLua);
  lua_register(L, "echo", echoLua);
  const char* const lua_loops[] = {lua_loop, lua_global_loop, lua_echo_loop};
  constexpr std::size_t loops = std::size(zandle_loops) + std::size(lua_loops);
  std::vector<double> times[loops];
  for (int r = 0; r < runs; ++r) {
    for (std::size_t i = 0; i < loops; ++i) {
      host_calls = 0;
      const auto start = std::chrono::steady_clock::now();
      if (i < std::size(zandle_loops)) {
        const ScriptLoop& loop = zandle_loops[i];
        if (zandle_run(loop.m, loop.script.data(), loop.script.size(), nullptr, 0) != ZANDLE_OK) fail("script loop");
      } else if (luaL_dostring(L, lua_loops[i - std::size(zandle_loops)]) != LUA_OK) {
        fail("lua loop");
      }
      times[i].push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      if (host_calls != 1000000) fail("a loop made another number of calls");
    }
  }
  for (const ScriptLoop& loop : zandle_loops) zandle_free(loop.m);
  lua_close(L);
  auto median = [&](std::size_t i) {
    std::sort(times[i].begin(), times[i].end());
    return times[i][times[i].size() / 2];
  };
  const double zndvm_calls = median(0), zndvm_echo = median(1), vm_calls = median(2), vm_echo = median(3);
  const double lua_calls = median(4), lua_global_calls = median(5), lua_echo = median(6);

  std::printf("create + run a one-line program + free, microseconds (median of %d batches of %d):\n", runs, create_batch);
  std::printf("  zndvm                     %8.3f   ratio to Lua %.2f\n", zndvm_create, zndvm_create / lua_create);
  std::printf("  zndvm, one host escape    %8.3f   ratio to Lua %.2f\n", zndvm_create_escape, zndvm_create_escape / lua_create);
  std::printf("  vm                        %8.3f   ratio to Lua %.2f\n", vm_create, vm_create / lua_create);
  std::printf("  Lua 5.4                   %8.3f\n", lua_create);
  std::printf("  Lua 5.4 with openlibs     %8.3f\n", lua_create_libs);
  std::printf("1,000,000 calls of a host function from a script, nanoseconds a call (median of %d rounds):\n", runs);
  std::printf(" no argument:\n");
  std::printf("  zndvm (Escape in a tail-call loop)       %7.1f   ratio to Lua %.2f (goal 1)\n", zndvm_calls * 1e3, zndvm_calls / lua_calls);
  std::printf("  vm (1,000 Escape lines, called 1,000x)   %7.1f   ratio to Lua %.2f (goal 3)\n", vm_calls * 1e3, vm_calls / lua_calls);
  std::printf("  Lua 5.4 (numeric for)                    %7.1f\n", lua_calls * 1e3);
  std::printf("  Lua 5.4 (while, global counter)          %7.1f\n", lua_global_calls * 1e3);
  std::printf(" one argument in, one result out (zndvm and vm as text, Lua as an integer):\n");
  std::printf("  zndvm (escape_arg, escape_result)        %7.1f   ratio to Lua %.2f (goal 2)\n", zndvm_echo * 1e3, zndvm_echo / lua_echo);
  std::printf("  vm (escape_arg, set_text)                %7.1f   ratio to Lua %.2f\n", vm_echo * 1e3, vm_echo / lua_echo);
  std::printf("  Lua 5.4 (x = echo(i), numeric for)       %7.1f\n", lua_echo * 1e3);
  return 0;
}
