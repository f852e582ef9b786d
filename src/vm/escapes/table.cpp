#include "table.hpp"

#include "escapes.hpp"

namespace zandle::vm {

namespace {

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

// The shortest and longest names: anything outside is rejected without a search.
constexpr std::size_t shortest = [] {
  std::size_t n = SIZE_MAX;
  for (const Escape& e : table) n = e.name.size() < n ? e.name.size() : n;
  return n;
}();
constexpr std::size_t longest = [] {
  std::size_t n = 0;
  for (const Escape& e : table) n = e.name.size() > n ? e.name.size() : n;
  return n;
}();

}  // namespace

const Escape* findEscape(std::string_view name) {
  if (name.size() < shortest || name.size() > longest) return nullptr;
  for (const Escape& e : table) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

std::uint32_t escapeBit(const Escape* escape) {
  return std::uint32_t{1} << static_cast<unsigned>(escape - table);
}

std::uint32_t escapeBit(std::string_view name) {
  const Escape* e = findEscape(name);
  return e != nullptr ? escapeBit(e) : 0;
}

std::uint32_t allEscapes() { return (std::uint32_t{1} << std::size(table)) - 1; }

std::uint32_t consoleEscapes() {
  return escapeBit("Print") | escapeBit("PrintLn") | escapeBit("Input");
}

std::uint32_t sandboxEscapes() {
  return consoleEscapes() | escapeBit("StrLen") | escapeBit("StrSplitNumL") |
         escapeBit("StrSplitNumR") | escapeBit("Random") | escapeBit("Time");
}

}  // namespace zandle::vm
