# Thin wrapper over CMake. `make run` builds a release build and runs an example;
# `make test` builds and runs the whole test suite.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

PREFIX ?= /usr/local

WEB_BUILD ?= build-web

.PHONY: all deps build run test install sanitize tsan clang libcxx size fuzz bench scaling web web-test clean

all: build

deps:
	@scripts/ensure-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZANDLE_SHARED=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@echo "== vm examples/vm/tour.znd"
	@./$(BUILD)/vm examples/vm/tour.znd
	@echo "== zndvm examples/zndvm/tour.znd"
	@./$(BUILD)/zndvm examples/zndvm/tour.znd

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Installs into PREFIX (and under DESTDIR, when set): see "Installing" in the README.
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_ARGS="-DZANDLE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)"

# The interface's tests built with ThreadSanitizer and run in one process: among them,
# several threads each running many machines of both kinds, and two machines reading the
# shared standard input (tests/unit/api_threads.cpp).
tsan: deps
	@cmake -S . -B build-tsan -DZANDLE_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target unit_api
	@TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/tests/unit_api

# Both programs and the tests compiled with clang++.
clang:
	@scripts/ensure-deps.sh clang
	@$(MAKE) --no-print-directory build BUILD=build-clang CMAKE_ARGS="-DCMAKE_CXX_COMPILER=clang++ $(CMAKE_ARGS)"

# The whole suite built with clang++ against libc++ (the C++ library of the BSDs); GoogleTest
# is built from its sources for it.
libcxx:
	@scripts/ensure-deps.sh libcxx
	@$(MAKE) --no-print-directory test BUILD=build-libcxx CMAKE_ARGS="-DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_CXX_FLAGS=-stdlib=libc++ -DZANDLE_GTEST_SOURCE=/usr/src/googletest $(CMAKE_ARGS)"

# What the release programs link and how large they are, stripped (both checked by the suite).
size: build
	@python3 tests/size/check_programs.py --strip strip --readelf readelf $(BUILD)/vm $(BUILD)/zndvm

# The libFuzzer harnesses (clang++ with the sanitizers), each run FUZZ_SECONDS over the saved
# corpus; see fuzz/run.sh.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/ensure-deps.sh fuzz
	@cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DZANDLE_FUZZ=ON -DZANDLE_TESTS=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh build-fuzz

# The benchmarks against Lua 5.4 (installed for them): the programs side by side, then the
# embedding interface against Lua's C API, then what keeping control costs (pauses, slices,
# interrupts, snapshots). `make scaling` shows how costs grow.
bench: build
	@scripts/ensure-deps.sh bench
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZANDLE_BENCH=ON -DZANDLE_TESTS=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build build-bench -j $(JOBS) --target api_bench control_bench
	@python3 bench/run.py --build $(BUILD)
	@build-bench/bench/api_bench
	@build-bench/bench/control_bench

scaling: build
	@scripts/ensure-deps.sh bench
	@python3 bench/scaling.py --build $(BUILD)

# Both machines in WebAssembly with emscripten, as the npm package ($(WEB_BUILD)/package) and
# the playground's static site ($(WEB_BUILD)/site); the modules' sizes are checked and printed.
# The texts' packer is built for this machine first, since the build runs it. Emscripten finds
# its JavaScript parser (Debian's node-acorn) only through NODE_PATH.
WEB_ENV = NODE_PATH=/usr/share/nodejs
web:
	@scripts/ensure-deps.sh web
	@cmake -S . -B $(WEB_BUILD)/native -DCMAKE_BUILD_TYPE=Release -DZANDLE_TESTS=OFF -DZANDLE_INSTALL=OFF >/dev/null
	@cmake --build $(WEB_BUILD)/native -j $(JOBS) --target zandle_pack
	@$(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release -DZANDLE_SYSTEM_ESCAPES=OFF \
		-DZANDLE_PACK_EXECUTABLE=$(CURDIR)/$(WEB_BUILD)/native/tools/pack/zandle-pack $(CMAKE_ARGS) >/dev/null
	@$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)

# The web package's tests (Node's runner), the playground in headless chromium against the
# command-line programs (screenshots in $(WEB_BUILD)/screenshots), and the end-to-end cases on
# the WebAssembly build.
web-test: build web
	@ZANDLE_WEB_BUILD=$(CURDIR)/$(WEB_BUILD) ZANDLE_VM=$(CURDIR)/$(BUILD)/vm ZANDLE_ZNDVM=$(CURDIR)/$(BUILD)/zndvm \
		node --test web/test/*.test.mjs
	@python3 web/test/cases.py $(WEB_BUILD)/package tests/cases/vm/*.cases tests/cases/zndvm/*.cases

clean:
	rm -rf build build-asan build-tsan build-clang build-libcxx build-fuzz build-bench $(WEB_BUILD)
