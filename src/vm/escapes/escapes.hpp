// The routines behind the escape table, grouped by file: console, strings, misc, files,
// processes. Each reads its inputs through ARG1/ARG2 and throws Failure on error.
#pragma once
#include <string>
#include <string_view>

#include "machine.hpp"

namespace zandle::vm::escapes {

// The argument convention: ARG1 (or ARG2) names the variable that holds the input. Null
// when either the ARG variable or the variable it names does not exist.
const std::string* argument(Machine& m, std::string_view arg_var);

// Console.
void print(Machine& m);
void printLn(Machine& m);
void input(Machine& m);
// Strings.
void strLen(Machine& m);
void strSplitNumL(Machine& m);
void strSplitNumR(Machine& m);
// Random numbers and time.
void random(Machine& m);
void time(Machine& m);
// Files and directories.
void fread(Machine& m);
void fwrite(Machine& m);
void fbwrite(Machine& m);
void listDir(Machine& m);
void gcwd(Machine& m);
void chcwd(Machine& m);
// Processes.
void spawnProc(Machine& m);
void waitPid(Machine& m);
void exit(Machine& m);

}  // namespace zandle::vm::escapes
