// The routines behind the escape table, grouped by file: console, strings, misc, files,
// processes. Each reads its inputs through ARG1/ARG2 and throws Failure on error.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "machine.hpp"

namespace zandle::vm::escapes {

// The argument convention: ARG1 (or ARG2) names the variable that holds the input. Null
// when either the ARG variable or the variable it names does not exist.
const std::string* argument(Machine& m, std::string_view arg_var);

// Stores an escape's result under its fixed name. One out-of-line copy of the store
// keeps the program small.
void storeResult(Machine& m, std::string_view name, std::string&& value);
void storeResult(Machine& m, std::string_view name, std::string_view value);

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

// SpawnProc's command line: cut at every space (empty pieces count), each piece replaced
// by the whole value of the variable of that name when there is one.
std::vector<std::string> commandArguments(std::string_view line, const Variables& vars);

// The files SpawnProc tries for a command, in order: the command itself when it holds a
// "/", otherwise each directory of the search path (the default one when path_env is
// null) joined to it by "/".
std::vector<std::string> commandCandidates(std::string_view command, const char* path_env);

}  // namespace zandle::vm::escapes
