// The routines behind the escape table, grouped by file: console, strings, misc, files,
// processes. Each reads its inputs through ARG1/ARG2 and returns false after recording a
// failure in the machine.
#pragma once
#include <string_view>

#include "vm/machine.hpp"

namespace zandle::vm::escapes {

// The argument convention: ARG1 (or ARG2) names the variable that holds the input. False
// when either the ARG variable or the variable it names does not exist.
bool argument(Machine& m, std::string_view arg_var, std::string_view& value);

// Stores an escape's result under its fixed name; false (OutOfMemory recorded) when memory
// runs out.
bool storeResult(Machine& m, std::string_view name, std::string_view value);
// The same, taking over the bytes of a buffer of the machine's memory.
bool storeResult(Machine& m, std::string_view name, Buffer& value);

// Console.
bool print(Machine& m);
bool printLn(Machine& m);
bool input(Machine& m);
// Strings.
bool strLen(Machine& m);
bool strSplitNumL(Machine& m);
bool strSplitNumR(Machine& m);
// Random numbers and time.
bool random(Machine& m);
bool time(Machine& m);
// Files and directories.
bool fread(Machine& m);
bool fwrite(Machine& m);
bool fbwrite(Machine& m);
bool listDir(Machine& m);
bool gcwd(Machine& m);
bool chcwd(Machine& m);
// Processes.
bool spawnProc(Machine& m);
bool waitPid(Machine& m);
bool exit(Machine& m);

// SpawnProc's command line: cut at every space (empty pieces count), each piece replaced
// by the whole value of the variable of that name when there is one. Each argument goes
// into `bytes` followed by a zero byte, and its offset into `starts` (an argument may hold
// a zero byte of its own). False when memory runs out.
bool commandArguments(std::string_view line, const Variables& vars, Buffer& bytes,
                      Vec<std::size_t>& starts);

// The files SpawnProc tries for a command, in order: the command itself when it holds a
// "/", otherwise each directory of the search path (the default one when path_env is
// null) joined to it by "/". Each goes into `out` followed by a zero byte. False when
// memory runs out.
bool commandCandidates(std::string_view command, const char* path_env, Buffer& out);

}  // namespace zandle::vm::escapes
