#!/bin/sh
# Makes sure what the build and the tests need is installed: cmake, a C++ compiler,
# GoogleTest, Python 3, and man and groff for the manual-page test (with the argument
# "clang": clang++ too; with "fuzz": clang++ and its libFuzzer runtime; with "libcxx":
# clang++, the libc++ C++ library and GoogleTest's sources, to build the tests against
# libc++; with "bench": Lua 5.4 and its development files, for the figures beside it; with
# "web": emscripten and the JavaScript parser it needs, Node.js and npm, chromium for the
# browser test, and the npm packages of web/'s tests).
# Vim, which the editor test uses when it is there, is left to the developer.
# Installs missing packages with apt-get when it can; otherwise stops with one line naming
# what to install.
missing=""
if [ "${1:-}" = clang ] || [ "${1:-}" = fuzz ] || [ "${1:-}" = libcxx ]; then
  command -v clang++ >/dev/null 2>&1 || missing="$missing clang"
fi
if [ "${1:-}" = libcxx ]; then
  ls /usr/lib/llvm-*/include/c++/v1/vector >/dev/null 2>&1 || missing="$missing libc++-dev"
  ls /usr/lib/llvm-*/lib/libc++abi.a >/dev/null 2>&1 || missing="$missing libc++abi-dev"
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing="$missing googletest"
fi
if [ "${1:-}" = fuzz ]; then
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 ||
    missing="$missing libclang-rt-14-dev"
fi
if [ "${1:-}" = bench ]; then
  command -v lua5.4 >/dev/null 2>&1 || missing="$missing lua5.4"
  [ -f /usr/include/lua5.4/lua.h ] || missing="$missing liblua5.4-dev"
  command -v pkg-config >/dev/null 2>&1 || missing="$missing pkg-config"
fi
if [ "${1:-}" = web ]; then
  command -v emcc >/dev/null 2>&1 || missing="$missing emscripten"
  [ -f /usr/share/nodejs/acorn/package.json ] || missing="$missing node-acorn"
  command -v node >/dev/null 2>&1 || missing="$missing nodejs"
  command -v npm >/dev/null 2>&1 || missing="$missing npm"
  command -v chromium >/dev/null 2>&1 || missing="$missing chromium"
  command -v gzip >/dev/null 2>&1 || missing="$missing gzip"
fi
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v c++ >/dev/null 2>&1 || command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v python3 >/dev/null 2>&1 || missing="$missing python3"
[ -f /usr/include/gtest/gtest.h ] || [ -f /usr/local/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
command -v make >/dev/null 2>&1 || missing="$missing make"
command -v man >/dev/null 2>&1 || missing="$missing man-db"
command -v groff >/dev/null 2>&1 || missing="$missing groff-base"
# The npm packages of web/'s tests (the browser driver, the TypeScript checker), from its
# lockfile, whenever that is newer than what is installed. No browser is downloaded: the tests
# drive Debian's chromium.
web_npm() {
  [ "${1:-}" = web ] || return 0
  web="$(dirname "$0")/../web"
  [ "$web/node_modules/.package-lock.json" -nt "$web/package-lock.json" ] && return 0
  echo "installing: the npm packages of web/" >&2
  (cd "$web" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts >/dev/null) ||
    { echo "npm ci failed in web/" >&2; exit 1; }
}

[ -z "$missing" ] && { web_npm "${1:-}"; exit 0; }

if command -v apt-get >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ]; then sudo=""; elif command -v sudo >/dev/null 2>&1; then sudo="sudo -n"; else sudo=none; fi
  if [ "$sudo" != none ]; then
    echo "installing:$missing" >&2
    if $sudo apt-get install -y -q $missing >/dev/null 2>&1 ||
       { $sudo apt-get update -q >/dev/null 2>&1 && $sudo apt-get install -y -q $missing >/dev/null 2>&1; }; then
      web_npm "${1:-}"
      exit 0
    fi
  fi
fi
echo "missing:$missing (install with: apt-get install$missing)" >&2
exit 1
