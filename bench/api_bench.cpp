// The embedding interface against Lua 5.4's C API, in one run: making a machine, running a
// one-line program and freeing it; and a million calls of a host function from a script
// loop. Prints medians of repeated measurements and the ratios to Lua's figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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

const char* const escape_loop =
    "New i '0'\n"
    "Func loop\n"
    "Escape host.count\n"
    "New i \"i + 1\"\n"
    "If loop \"i < 1000000\"\n"
    "End\n"
    "Call loop\n";

const char* const lua_loop = "for i = 1, 1000000 do count() end\n";
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

  zandle_machine* m;
  if (zandle_new_zndvm(nullptr, &m) != ZANDLE_OK || zandle_register_escape(m, "host.count", 10, countEscape, nullptr) != ZANDLE_OK) fail("zndvm");
  const double zndvm_calls = medianSeconds(runs, [&] {
    host_calls = 0;
    if (zandle_run(m, escape_loop, std::strlen(escape_loop), nullptr, 0) != ZANDLE_OK || host_calls != 1000000) fail("zndvm loop");
  });
  zandle_free(m);
  lua_State* L = luaL_newstate();
  lua_register(L, "count", countLua);
  const double lua_calls = medianSeconds(runs, [&] {
    host_calls = 0;
    if (luaL_dostring(L, lua_loop) != LUA_OK || host_calls != 1000000) fail("lua loop");
  });
  const double lua_global_calls = medianSeconds(runs, [&] {
    host_calls = 0;
    if (luaL_dostring(L, lua_global_loop) != LUA_OK || host_calls != 1000000) fail("lua loop");
  });
  lua_close(L);

  std::printf("create + run a one-line program + free, microseconds (median of %d batches of %d):\n", runs, create_batch);
  std::printf("  zndvm                     %8.3f   ratio to Lua %.2f\n", zndvm_create, zndvm_create / lua_create);
  std::printf("  zndvm, one host escape    %8.3f   ratio to Lua %.2f\n", zndvm_create_escape, zndvm_create_escape / lua_create);
  std::printf("  vm                        %8.3f   ratio to Lua %.2f\n", vm_create, vm_create / lua_create);
  std::printf("  Lua 5.4                   %8.3f\n", lua_create);
  std::printf("  Lua 5.4 with openlibs     %8.3f\n", lua_create_libs);
  std::printf("1,000,000 calls of a host function from a script loop, milliseconds (median of %d):\n", runs);
  std::printf("  zndvm (Escape in a tail-call loop)   %8.2f   ratio to Lua %.2f\n", zndvm_calls * 1e3, zndvm_calls / lua_calls);
  std::printf("  Lua 5.4 (numeric for)               %8.2f\n", lua_calls * 1e3);
  std::printf("  Lua 5.4 (while, global counter)     %8.2f\n", lua_global_calls * 1e3);
  return 0;
}
