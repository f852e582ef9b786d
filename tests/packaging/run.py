#!/usr/bin/env python3
"""Consumes Zandle the three ways a project does, and runs what it built each time.

1. Installs the build into a temporary DESTDIR, then builds the embedding examples against
   the installed package with find_package(Zandle), and again with pkg-config.
2. Copies the source tree (the files git tracks, or the whole tree without build
   directories) into a parent project that takes it in with add_subdirectory, and another
   with FetchContent; each builds the examples and a C++ file of its own that needs
   exceptions, which would not compile if Zandle's flags leaked into its parent. The
   add_subdirectory build sets one of vm's budgets, and its vm must run past the default.

Usage: run.py SOURCE_DIR BUILD_DIR
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(args, **kw):
    r = subprocess.run(args, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise SystemExit(f"FAIL: {' '.join(args)}\n{r.stdout[-3000:]}\n{r.stderr[-3000:]}")
    return r


def run_examples(source, built, env=None):
    """Runs the examples built in the directory `built`."""
    run([sys.executable, os.path.join(source, "tests", "api", "run_examples.py"),
         *(os.path.join(built, name) for name in ("sandbox", "callback", "scheduler")),
         os.path.join(source, "examples", "embed")], env=env)


def cmake_build(project, build, extra=()):
    run(["cmake", "-S", project, "-B", build, "-DCMAKE_BUILD_TYPE=Release", *extra])
    run(["cmake", "--build", build, "-j2"])


CONSUMER = """cmake_minimum_required(VERSION 3.20)
project(consumer C CXX)
find_package(Zandle 0.4 REQUIRED)
add_executable(sandbox {examples}/sandbox.c)
target_link_libraries(sandbox PRIVATE Zandle::zandle)
add_executable(callback {examples}/callback.cpp)
target_link_libraries(callback PRIVATE Zandle::zandle)
set_target_properties(callback PROPERTIES CXX_STANDARD 17)
find_package(Threads REQUIRED)
add_executable(scheduler {examples}/scheduler.c)
target_link_libraries(scheduler PRIVATE Zandle::zandle Threads::Threads)
# The installed programs are imported targets too.
add_custom_target(version ALL COMMAND Zandle::zndvm version > zndvm-version.txt)
"""

PARENT = """cmake_minimum_required(VERSION 3.20)
project(parent C CXX)
set(CMAKE_CXX_STANDARD 17)
{include}
add_executable(sandbox {examples}/sandbox.c)
target_link_libraries(sandbox PRIVATE Zandle::zandle)
add_executable(callback {examples}/callback.cpp)
target_link_libraries(callback PRIVATE Zandle::zandle)
find_package(Threads REQUIRED)
add_executable(scheduler {examples}/scheduler.c)
target_link_libraries(scheduler PRIVATE Zandle::zandle Threads::Threads)
# A file of the parent's own that needs exceptions and run-time type information.
add_executable(own own.cpp)
"""

OWN = """#include <stdexcept>
#include <typeinfo>
int main() {
  try { throw std::runtime_error("parent's own exception"); }
  catch (const std::exception& e) { return typeid(e) == typeid(std::runtime_error) ? 0 : 1; }
}
"""


def copy_tree(source, target):
    """The files of the source tree, without build outputs."""
    try:
        files = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"], capture_output=True,
                               check=True).stdout.decode().split("\0")
        files = [f for f in files if f]
    except (OSError, subprocess.CalledProcessError):
        files = None
    if files:
        for f in files:
            src = os.path.join(source, f)
            if not os.path.isfile(src):
                continue  # a file deleted in the working tree
            dst = os.path.join(target, f)
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copy2(src, dst)
    else:
        shutil.copytree(source, target, ignore=shutil.ignore_patterns("build*", ".git", "fuzz/corpus-*"))


def check_escape_budget(vm, budget, work):
    """The vm runs budget + 1 Escapes and stops at the next one."""
    script = os.path.join(work, "escapes.znd")
    for count, status in ((budget + 1, 0), (budget + 2, 1)):
        with open(script, "w") as f:
            f.write("New ARG1 'none'\n" + "Escape Print\n" * count)
        r = subprocess.run([vm, script], capture_output=True, text=True)
        if r.returncode != status:
            raise SystemExit(f"FAIL: {vm} with {count} Escapes ended with {r.returncode}, not {status} "
                             f"(Escape budget {budget}): {r.stderr}")


def main():
    source, build = (os.path.abspath(p) for p in sys.argv[1:3])
    examples = os.path.join(source, "examples", "embed")
    with tempfile.TemporaryDirectory(prefix="zandle-packaging-") as work:
        # 1. The installed package.
        destdir = os.path.join(work, "destdir")
        prefix = "/opt/zandle"
        run(["cmake", "--install", build, "--prefix", prefix], env=dict(os.environ, DESTDIR=destdir))
        root = destdir + prefix
        for f in ("bin/vm", "bin/zndvm", "include/zandle/zandle.h", "include/zandle/zandle.hpp",
                  "lib/cmake/Zandle/ZandleConfig.cmake", "lib/cmake/Zandle/ZandleConfigVersion.cmake",
                  "lib/pkgconfig/zandle.pc", "share/man/man1/vm.1", "share/man/man1/zndvm.1",
                  "share/man/man1/zandle-check.1", "share/doc/zandle/LICENSE",
                  "share/vim/vimfiles/syntax/zandle.vim", "share/zandle/textmate/zandle.tmLanguage.json"):
            if not os.path.exists(os.path.join(root, f)):
                raise SystemExit(f"FAIL: the install lacks {f}")
        libdir = os.path.join(root, "lib")
        print("ok   installed into a DESTDIR")

        consumer = os.path.join(work, "consumer")
        os.makedirs(consumer)
        with open(os.path.join(consumer, "CMakeLists.txt"), "w") as f:
            f.write(CONSUMER.format(examples=examples))
        cmake_build(consumer, os.path.join(consumer, "build"), [f"-DCMAKE_PREFIX_PATH={root}"])
        cb = os.path.join(consumer, "build")
        run_examples(source, cb)
        with open(os.path.join(cb, "zndvm-version.txt")) as f:
            if not f.read().startswith("Zandle"):
                raise SystemExit("FAIL: the imported Zandle::zndvm did not print its version")
        print("ok   find_package(Zandle): the examples build and run, Zandle::zndvm runs")

        # The file finds its prefix from where it lies, DESTDIR or not.
        env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"))
        cflags = run(["pkg-config", "--cflags", "zandle"], env=env).stdout.split()
        libs = run(["pkg-config", "--libs", "zandle"], env=env).stdout.split()
        pc = os.path.join(work, "pkg-config")
        os.makedirs(pc)
        run(["cc", "-std=c99", *cflags, os.path.join(examples, "sandbox.c"), "-o", os.path.join(pc, "sandbox"), *libs])
        run(["c++", "-std=c++17", *cflags, os.path.join(examples, "callback.cpp"), "-o",
             os.path.join(pc, "callback"), *libs])
        run(["cc", "-std=c99", "-pthread", *cflags, os.path.join(examples, "scheduler.c"), "-o",
             os.path.join(pc, "scheduler"), *libs])
        # -lzandle found the shared library, which the programs load from the install.
        run_examples(source, pc, env=dict(os.environ, LD_LIBRARY_PATH=libdir))
        print("ok   pkg-config: the examples build with the C and C++ compilers alone and run")

        # 2. Subprojects.
        tree = os.path.join(work, "tree")
        copy_tree(source, tree)
        for way, include in (
                ("add_subdirectory", "add_subdirectory({tree} zandle)"),
                ("FetchContent", "include(FetchContent)\nFetchContent_Declare(zandle SOURCE_DIR {tree})\n"
                                 "FetchContent_MakeAvailable(zandle)")):
            parent = os.path.join(work, "parent-" + way)
            os.makedirs(parent)
            with open(os.path.join(parent, "CMakeLists.txt"), "w") as f:
                f.write(PARENT.format(include=include.format(tree=tree), examples=examples))
            with open(os.path.join(parent, "own.cpp"), "w") as f:
                f.write(OWN)
            pb = os.path.join(parent, "build")
            # No GoogleTest is needed: the suite is off in a subproject. Hide it to be sure.
            budget = ["-DZANDLE_VM_BUDGET_ESCAPE=150"] if way == "add_subdirectory" else []
            cmake_build(parent, pb, ["-DGTest_DIR=/nonexistent", "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON",
                                     *budget])
            run([os.path.join(pb, "own")])
            run_examples(source, pb)
            for program in ("vm", "zndvm"):
                found = [os.path.join(d, program) for d, _, names in os.walk(pb) if program in names]
                if not found:
                    raise SystemExit(f"FAIL: {way}: the program {program} was not built")
                if program == "vm":
                    check_escape_budget(found[0], 150 if budget else 100, work)
            print(f"ok   {way}: the examples and the parent's own code build and run; both programs built")
    return 0


if __name__ == "__main__":
    sys.exit(main())
