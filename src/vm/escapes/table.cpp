#include "table.hpp"

#include "common/name_table.hpp"

#include "escapes.hpp"

namespace zandle::vm {

namespace {

constexpr Escape table[] = {
    {"Time", escapes::time, EscapeGroup::misc},
    {"Print", escapes::print, EscapeGroup::console},
    {"Input", escapes::input, EscapeGroup::console},
    {"Random", escapes::random, EscapeGroup::misc},
    {"StrLen", escapes::strLen, EscapeGroup::strings},
    {"PrintLn", escapes::printLn, EscapeGroup::console},
    {"StrSplitNumL", escapes::strSplitNumL, EscapeGroup::strings},
    {"StrSplitNumR", escapes::strSplitNumR, EscapeGroup::strings},
// Left out of builds that must not reach files or processes (the WebAssembly one).
#ifndef ZANDLE_NO_SYSTEM_ESCAPES
    {"Gcwd", escapes::gcwd, EscapeGroup::files},
    {"Exit", escapes::exit, EscapeGroup::processes},
    {"Fread", escapes::fread, EscapeGroup::files},
    {"Chcwd", escapes::chcwd, EscapeGroup::files},
    {"Fwrite", escapes::fwrite, EscapeGroup::files},
    {"Fbwrite", escapes::fbwrite, EscapeGroup::files},
    {"ListDir", escapes::listDir, EscapeGroup::files},
    {"WaitPid", escapes::waitPid, EscapeGroup::processes},
    {"SpawnProc", escapes::spawnProc, EscapeGroup::processes},
#endif
};

constexpr NameTable names{table};

}  // namespace

std::span<const Escape> escapeTable() { return table; }

const Escape* findEscape(std::string_view name) { return names.find(name); }

}  // namespace zandle::vm
