#include "table.hpp"

#include "common/name_table.hpp"

#include "escapes.hpp"

namespace zandle::vm {

namespace {

constexpr Escape table[] = {
    {"Time", escapes::time, EscapeGroup::misc},
    {"Gcwd", escapes::gcwd, EscapeGroup::files},
    {"Exit", escapes::exit, EscapeGroup::processes},
    {"Print", escapes::print, EscapeGroup::console},
    {"Input", escapes::input, EscapeGroup::console},
    {"Fread", escapes::fread, EscapeGroup::files},
    {"Chcwd", escapes::chcwd, EscapeGroup::files},
    {"Random", escapes::random, EscapeGroup::misc},
    {"Fwrite", escapes::fwrite, EscapeGroup::files},
    {"StrLen", escapes::strLen, EscapeGroup::strings},
    {"PrintLn", escapes::printLn, EscapeGroup::console},
    {"Fbwrite", escapes::fbwrite, EscapeGroup::files},
    {"ListDir", escapes::listDir, EscapeGroup::files},
    {"WaitPid", escapes::waitPid, EscapeGroup::processes},
    {"SpawnProc", escapes::spawnProc, EscapeGroup::processes},
    {"StrSplitNumL", escapes::strSplitNumL, EscapeGroup::strings},
    {"StrSplitNumR", escapes::strSplitNumR, EscapeGroup::strings},
};

constexpr NameTable names{table};

}  // namespace

std::span<const Escape> escapeTable() { return table; }

const Escape* findEscape(std::string_view name) { return names.find(name); }

}  // namespace zandle::vm
