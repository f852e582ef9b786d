#include "table.hpp"

#include "escapes.hpp"

namespace zandle::vm {

namespace {

// Grouped by name length; lookup compares only the names of the same length.
constexpr Escape table[] = {
    {"Time", escapes::time},
    {"Gcwd", escapes::gcwd},
    {"Exit", escapes::exit},
    {"Print", escapes::print},
    {"Input", escapes::input},
    {"Fread", escapes::fread},
    {"Chcwd", escapes::chcwd},
    {"Random", escapes::random},
    {"Fwrite", escapes::fwrite},
    {"StrLen", escapes::strLen},
    {"PrintLn", escapes::printLn},
    {"Fbwrite", escapes::fbwrite},
    {"ListDir", escapes::listDir},
    {"WaitPid", escapes::waitPid},
    {"SpawnProc", escapes::spawnProc},
    {"StrSplitNumL", escapes::strSplitNumL},
    {"StrSplitNumR", escapes::strSplitNumR},
};

constexpr std::size_t shortest = 4;
constexpr std::size_t longest = 12;

}  // namespace

EscapeFn findEscape(std::string_view name) {
  if (name.size() < shortest || name.size() > longest) return nullptr;
  for (const Escape& e : table) {
    if (e.name.size() == name.size() && e.name == name) return e.run;
  }
  return nullptr;
}

}  // namespace zandle::vm
