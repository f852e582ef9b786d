// zandle-check: reads vm and zndvm scripts without running them and reports what is certain
// to fail when it runs, or runs but is almost surely a mistake, as FILE:LINE:COLUMN:
// message, the form compilers use and editors jump to. It cuts lines with the interpreters'
// own tokenizers and reads their keyword, operator and escape tables, so it reads a line
// exactly as the program will. Every check is described in man/zandle-check.1; a finding
// certain to fail says which failure ("the run stops with ..."), and no valid program gets
// one.
//
//     zandle-check [--vm | --zndvm] FILE...
//
// A script run by a host may use what the host provides; a comment line
//     # zandle-check: host NAME...
// names the variables, functions and escapes that come from the host, and zndvm escapes
// outside the library's own std. names are taken for a host's.
// Exit status: 0 when nothing was found, 1 when something was, 2 when a file could not be
// read or the command line was wrong.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/memory.hpp"
#include "common/vec.hpp"
#include "vm/escapes/table.hpp"
#include "vm/keywords.hpp"
#include "vm/limits.hpp"
#include "vm/tokenizer.hpp"
#include "zndvm/compiler.hpp"
#include "zndvm/escapes/table.hpp"
#include "zndvm/keywords.hpp"
#include "zndvm/ops.hpp"
#include "zndvm/value.hpp"

namespace {

namespace vm = zandle::vm;
namespace zn = zandle::zndvm;

enum class Dialect { vm, zndvm };

// Both languages have the same seven keywords, numbered alike in their tables, so the checks
// they share speak of vm's Keyword; a zndvm Opcode converts by value.
using Keyword = vm::Keyword;
static_assert([] {
  if (std::size(zn::keyword_entries) != std::size(vm::keyword_entries)) return false;
  for (std::size_t i = 0; i < std::size(zn::keyword_entries); ++i) {
    const auto& z = zn::keyword_entries[i];
    const auto& v = vm::keyword_entries[i];
    if (z.name != v.name || static_cast<int>(z.op) != static_cast<int>(v.keyword)) return false;
  }
  return true;
}());

struct Finding {
  std::size_t line;
  std::size_t column;
  std::string message;
};

class Report {
 public:
  void add(std::size_t line, std::size_t column, std::string message) {
    findings_.push_back({line, column, std::move(message)});
  }
  // Prints the findings in the order of the file; returns how many there were.
  std::size_t print(const std::string& file) {
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
      return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    for (const Finding& f : findings_) {
      std::printf("%s:%zu:%zu: %s\n", file.c_str(), f.line, f.column, f.message.c_str());
    }
    return findings_.size();
  }

 private:
  std::vector<Finding> findings_;
};

// One line of the script: its number, the tokens as the interpreter cuts them (for zndvm,
// (text, marker) pairs), its keyword, and how many recordings are open when it is read (0: the
// line runs as it is read; more: it is recorded into a function).
struct Line {
  std::size_t number;
  std::string_view text;
  std::vector<std::string_view> tokens;
  std::optional<Keyword> keyword;
  std::size_t depth = 0;
};

// Whether a token is a marker, which stands for no bytes of the line.
bool isMarker(const Line& line, std::string_view token) {
  return token.data() < line.text.data() || token.data() > line.text.data() + line.text.size();
}

// The column where a token starts, its opening quote, brace or angle bracket included.
std::size_t columnOf(const Line& line, std::string_view token) {
  if (isMarker(line, token)) return 1;
  std::size_t column = static_cast<std::size_t>(token.data() - line.text.data()) + 1;
  for (std::size_t i = 0; i + 1 < line.tokens.size(); ++i) {
    if (line.tokens[i].data() != token.data() || line.tokens[i].size() != token.size()) continue;
    const std::string_view next = line.tokens[i + 1];
    // Markers follow quoted tokens (and, in zndvm, bare ones, whose marker is a single "/").
    if (isMarker(line, next) && next != "/" && column > 1) --column;
    break;
  }
  return column;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The closest of `names` to `word`, when it is close enough to be what was meant.
std::string suggestion(std::string_view word, const std::vector<std::string_view>& names) {
  std::string_view best;
  std::size_t best_distance = 3;
  for (std::string_view name : names) {
    const std::size_t d = lower(word) == lower(name) ? 0 : editDistance(word, name);
    if (d < best_distance) {
      best = name;
      best_distance = d;
    }
  }
  return best.empty() ? std::string() : " (did you mean '" + std::string(best) + "'?)";
}

std::string inQuotes(std::string_view s) { return "'" + std::string(s) + "'"; }

// Variables the vm escapes write, whatever a script does.
const std::set<std::string, std::less<>> vm_results = {
    "input", "fileData", "dirContents", "cwd", "len", "strLeft", "strRight", "random", "time",
    "pid", "exitCode", "killedBySig", "otherTermination"};

bool isArgumentVariable(std::string_view name) { return name.rfind("VMARG", 0) == 0; }

bool startsWith(std::string_view s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// A read of a variable by name: how (for the message), and the failure when it is missing.
struct Read {
  std::size_t line, column;
  std::string name, how;
  const char* failure;  // null: a missing variable is no failure (an escape's argument)
  bool top_level;
};

struct Checker {
  Dialect dialect = Dialect::zndvm;
  std::vector<Line> lines;
  Report report;

  // What the whole file defines and writes, gathered before the checks that need it.
  std::set<std::string, std::less<>> host;  // names the host provides
  std::set<std::string, std::less<>> functions;
  std::map<std::string, std::vector<std::size_t>, std::less<>> top_functions;  // name: lines of its Funcs
  std::set<std::string, std::less<>> nested_functions;  // defined by a Func inside a body
  std::set<std::string, std::less<>> written;
  std::map<std::string, std::vector<std::size_t>, std::less<>> top_writes;  // name: lines
  std::set<std::string, std::less<>> written_in_bodies;
  // The values vm scripts give a variable: true literals, or null for any other kind.
  std::map<std::string, std::vector<std::optional<std::string_view>>, std::less<>> vm_values;
  bool computed_destination = false;
  bool computed_function = false;
  std::vector<Read> reads;
  // The calls a function's body makes whenever it runs (before any Return), by the line of
  // its Func.
  std::map<std::size_t, std::vector<std::pair<std::string, std::size_t>>> body_calls;

  // --- the line's parts -----------------------------------------------------------------

  // zndvm: the text and marker of operand `i` (0: after the keyword), if the line has it.
  bool operand(const Line& l, std::size_t i, std::string_view& text, std::string_view& marker) const {
    const std::size_t at = dialect == Dialect::vm ? 0 : 2 + 2 * i;
    if (at + 1 >= l.tokens.size()) return false;
    text = l.tokens[at];
    marker = l.tokens[at + 1];
    return true;
  }

  static bool isNamed(std::string_view marker) {
    return marker == zn::marker_bare || marker == zn::marker_true_literal;
  }

  static bool isVmMarker(std::string_view m) {
    return m == vm::marker_double || m == vm::marker_single || m == vm::marker_braces;
  }

  // The name a Func, Call or If line gives, when it is written out rather than computed.
  std::optional<std::string_view> functionName(const Line& l) const {
    if (dialect == Dialect::vm) {
      if (l.tokens.size() < 2) return std::nullopt;
      return l.tokens[1];
    }
    std::string_view name, marker;
    if (!operand(l, 0, name, marker) || !isNamed(marker)) return std::nullopt;
    return name;
  }

  std::string keywordName(Keyword k) const {
    return std::string(dialect == Dialect::vm ? vm::keywordName(k) : zn::keywordName(static_cast<zn::Opcode>(k)));
  }

  // --- gathering --------------------------------------------------------------------------

  void classify() {
    // The keyword of each line, and the recordings open when it is read, as the interpreters
    // record: vm records everything up to the first End, zndvm nests.
    std::size_t depth = 0;
    for (Line& l : lines) {
      l.depth = depth;
      if (l.tokens.empty()) continue;
      if (dialect == Dialect::vm) {
        if (const vm::KeywordEntry* k = vm::findKeyword(l.tokens[0])) l.keyword = k->keyword;
      } else if (const zn::KeywordEntry* k = zn::keywords.find(l.tokens[0])) {
        l.keyword = static_cast<Keyword>(k->op);
      }
      if (l.keyword == Keyword::Func && (dialect == Dialect::zndvm || depth == 0)) ++depth;
      if (l.keyword == Keyword::End && depth > 0) --depth;
    }
  }

  void gather() {
    constexpr std::string_view directive = "# zandle-check: host ";
    for (const Line& l : lines) {
      if (startsWith(l.text, directive)) {
        std::string_view names = l.text.substr(directive.size());
        while (!names.empty()) {
          const std::size_t space = names.find(' ');
          if (space != 0) host.emplace(names.substr(0, space));
          if (space == std::string_view::npos) break;
          names.remove_prefix(space + 1);
        }
      }
      if (!l.keyword) continue;
      const auto& t = l.tokens;
      const bool top = l.depth == 0;
      if (*l.keyword == Keyword::Func) {
        if (const auto name = functionName(l)) {
          functions.emplace(*name);
          if (top) {
            top_functions[std::string(*name)].push_back(l.number);
          } else {
            nested_functions.emplace(*name);
          }
        } else if (dialect == Dialect::zndvm && t.size() >= 4) {
          computed_function = true;
        }
      }
      if (*l.keyword == Keyword::New) {
        std::optional<std::string_view> dest;
        if (dialect == Dialect::vm) {
          if (t.size() >= 2) dest = t[1];
          if (t.size() >= 3 && dest) {
            const bool literal = t.size() >= 4 && t[3] == vm::marker_single;
            vm_values[std::string(*dest)].push_back(literal ? std::optional(t[2]) : std::nullopt);
          }
        } else if (t.size() >= 4) {
          if (isNamed(t[3])) {
            dest = t[2];
          } else {
            computed_destination = true;
          }
        }
        if (dest) {
          written.emplace(*dest);
          if (top) {
            top_writes[std::string(*dest)].push_back(l.number);
          } else {
            written_in_bodies.emplace(*dest);
          }
        }
      }
      if (dialect == Dialect::zndvm && *l.keyword == Keyword::Escape && t.size() >= 4 && isNamed(t[3])) {
        // An escape's results, and the state the random generator keeps.
        written.emplace("__Escape_" + std::string(t[2]) + "_RET");
        written.emplace("__Escape_" + std::string(t[2]) + "_last");
      }
    }
  }

  bool isWritten(std::string_view name) const {
    if (written.count(name) != 0 || host.count(name) != 0 || isArgumentVariable(name)) return true;
    if (dialect == Dialect::vm) return vm_results.count(name) != 0;
    // __Escape_<name>_RET<n> is written by its escape.
    const std::size_t ret = name.rfind("_RET");
    if (startsWith(name, "__Escape_") && ret != std::string_view::npos) {
      return written.count(name.substr(0, ret + 4)) != 0;
    }
    return false;
  }

  // Whether a name may hold a value when line `l` runs, so that a word of an expression may
  // be a variable: anything written (before a top-level line, or anywhere for a line in a
  // body), given by the host or by an escape, or an argument.
  bool mayBeVariable(std::string_view name, const Line& l) const {
    if (computed_destination || host.count(name) != 0 || isArgumentVariable(name) ||
        startsWith(name, "__Escape_") || written_in_bodies.count(name) != 0) {
      return true;
    }
    const auto writes = top_writes.find(name);
    if (writes == top_writes.end()) return false;
    return l.depth != 0 || writes->second.front() < l.number;
  }

  // --- the checks -------------------------------------------------------------------------

  void checkLineEnds(std::string_view text) {
    std::size_t number = 1, start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++number;
        start = i + 1;
      } else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
        report.add(number, i - start + 1,
                   "a carriage return without a line feed does not end a line: what follows is "
                   "part of this line");
      }
    }
  }

  // Func and End as the interpreters record them; lines after a Return in the same body;
  // Return where no function runs.
  void checkStructure() {
    struct Body {
      std::size_t func_line;
      bool has_lines = false;
      bool returned = false;  // a Return that is not the body's first line
      bool reported = false;
    };
    std::vector<Body> open;
    for (const Line& l : lines) {
      if (!l.keyword) {
        if (!l.tokens.empty() && !open.empty()) open.back().has_lines = true;
        continue;
      }
      const Keyword k = *l.keyword;
      if (l.depth == 0 && k == Keyword::Return) {
        report.add(l.number, 1, "'" + keywordName(k) + "' outside a function: the run stops with Return");
      }
      if (!open.empty() && k != Keyword::End) {
        Body& body = open.back();
        if (body.returned && !body.reported) {
          body.reported = true;
          report.add(l.number, 1, "this line comes after the " + inQuotes(keywordName(Keyword::Return)) +
                                      " of its function and never runs");
        }
        // A Return as the first line switches a function off on purpose; later it ends it
        // early, and what follows it in the body is dead.
        if (k == Keyword::Return && body.has_lines) body.returned = true;
        body.has_lines = true;
      }
      if (k == Keyword::Func) {
        if (dialect == Dialect::vm && !open.empty()) continue;  // vm records it as a body line
        open.push_back({l.number});
      } else if (k == Keyword::End) {
        if (open.empty()) {
          report.add(l.number, 1, "'" + keywordName(k) + "' outside a function does nothing");
        } else {
          open.pop_back();
        }
      }
    }
    for (const Body& b : open) {
      report.add(b.func_line, 1, inQuotes(keywordName(Keyword::Func)) + " without its " + inQuotes(keywordName(Keyword::End)) +
                                     ": the rest of the file is recorded, not run");
    }
  }

  std::vector<std::string_view> escapeNames() const {
    std::vector<std::string_view> names;
    if (dialect == Dialect::vm) {
      for (const vm::Escape& e : vm::escapeTable()) names.push_back(e.name);
    } else {
      for (const zn::Escape& e : zn::escapeTable()) names.push_back(e.name);
    }
    return names;
  }

  std::vector<std::string_view> keywordNames() const {
    std::vector<std::string_view> names;
    if (dialect == Dialect::vm) {
      for (const auto& e : vm::keywords.entries()) names.push_back(e.name);
    } else {
      for (const auto& e : zn::keywords.entries()) names.push_back(e.name);
    }
    return names;
  }

  void checkLine(const Line& l) {
    const auto& t = l.tokens;
    if (!l.keyword) {
      // A keyword that was meant, or an escape written without its keyword.
      std::string hint = suggestion(t[0], keywordNames());
      if (hint.empty()) {
        hint = suggestion(t[0], escapeNames());
        if (!hint.empty()) hint.insert(hint.find('\'') + 1, keywordName(Keyword::Escape) + " ");
      }
      report.add(l.number, 1,
                 inQuotes(t[0]) + " is not a keyword: " +
                     (dialect == Dialect::vm ? "vm skips this line" : "zndvm stops with UnknownInstruction") + hint);
      return;
    }
    if (missingOperand(l)) return;
    if (dialect == Dialect::vm) {
      checkVm(l);
    } else {
      checkZndvm(l);
    }
  }

  // Where a comment starts after the last token of the line, if one does.
  std::optional<std::size_t> commentAfterTokens(const Line& l) const {
    std::size_t end = 0;
    for (std::size_t i = 0; i < l.tokens.size(); ++i) {
      const std::string_view t = l.tokens[i];
      if (isMarker(l, t)) continue;
      end = static_cast<std::size_t>(t.data() - l.text.data()) + t.size();
      // A quoted token's closing delimiter follows it.
      if (i + 1 < l.tokens.size() && isMarker(l, l.tokens[i + 1]) && l.tokens[i + 1] != zn::marker_bare) ++end;
    }
    while (end < l.text.size() && (l.text[end] == ' ' || (l.text[end] >= '\t' && l.text[end] <= '\r'))) ++end;
    if (end < l.text.size() && (l.text[end] == '#' || (dialect == Dialect::zndvm && l.text[end] == '/'))) return end;
    return std::nullopt;
  }

  // A keyword without the operands it needs.
  bool missingOperand(const Line& l) {
    const Keyword k = *l.keyword;
    std::size_t needed;
    const char* failure;
    if (dialect == Dialect::vm) {
      if (k == Keyword::End) return false;
      needed = vm::findKeyword(l.tokens[0])->operands;
      if (l.tokens.size() >= 1 + needed) return false;
      failure = "the run stops with MissingOperand";
    } else {
      switch (static_cast<zn::Opcode>(k)) {
        case zn::Opcode::New:
        case zn::Opcode::If: needed = 2; failure = "the run stops with UnknownAddressingMode"; break;
        case zn::Opcode::Call: needed = 1; failure = "the run stops with UnknownFunction"; break;
        case zn::Opcode::Escape: needed = 1; failure = "the run stops with UnknownEscape"; break;
        case zn::Opcode::Func: needed = 1; failure = "what it records has no name and can never be called"; break;
        default: return false;
      }
      if (l.tokens.size() >= 2 + 2 * needed) return false;
      // A computed first operand is resolved first, and may fail on its own.
      std::string_view first, marker;
      if (needed == 2 && operand(l, 0, first, marker) && !isNamed(marker)) failure = "the run stops here";
    }
    const std::string what = k == Keyword::New      ? "a name and a value"
                             : k == Keyword::If     ? "a function and a condition"
                             : k == Keyword::Escape ? "the name of an escape"
                                                    : "the name of a function";
    std::string message = inQuotes(keywordName(k)) + " needs " + what + ": " + failure;
    std::size_t column = 1;
    if (const auto comment = commentAfterTokens(l)) {
      // An unquoted path or colour: the interpreter took it for a comment.
      std::size_t end = *comment;
      while (end < l.text.size() && l.text[end] != ' ' && l.text[end] != '\t') ++end;
      const std::string_view word = l.text.substr(*comment, end - *comment);
      column = *comment + 1;
      message = inQuotes(word) + " begins a comment, so " + message + " (quote it: '" + std::string(word) + "')";
    }
    report.add(l.number, column, message);
    return true;
  }

  void extraTokens(const Line& l, std::size_t used, const std::string& what) {
    if (l.tokens.size() > used) {
      report.add(l.number, columnOf(l, l.tokens[used]),
                 inQuotes(l.tokens[used]) + " and what follows are ignored: " + what);
    }
  }

  void addRead(const Line& l, std::string_view name, const std::string& how, const char* failure) {
    reads.push_back({l.number, columnOf(l, name), std::string(name), how, failure, l.depth == 0});
  }

  void checkVm(const Line& l) {
    const auto& t = l.tokens;
    const Keyword k = *l.keyword;
    if (k == Keyword::New) {
      if (t.size() >= 4 && !isVmMarker(t[3])) {
        report.add(l.number, columnOf(l, t[3]), inQuotes(t[3]) + " after the operand: vm stores nothing for this line");
        return;
      }
      extraTokens(l, t.size() >= 4 ? 4 : 3, "New takes a name and one operand");
      if (t.size() == 3) addRead(l, t[2], "copied", "UnknownVariable");
      if (t.size() >= 4 && t[3] == vm::marker_braces) addRead(l, t[2], "evaluated", "UnknownVariable");
      if (t[1] == "ARG1" || t[1] == "ARG2") {
        // An escape will read the variable this names.
        if (t.size() >= 4 && t[3] == vm::marker_single) addRead(l, t[2], "passed to an escape", nullptr);
        if (t.size() == 3) checkArgumentCopy(l);
      } else {
        checkArgumentName(l, t[1]);
      }
    } else if ((k == Keyword::Escape || k == Keyword::Func || k == Keyword::Call) && t.size() >= 2) {
      extraTokens(l, 2, "it takes one name");
      if (k == Keyword::Escape && vm::findEscape(t[1]) == nullptr && host.count(t[1]) == 0) {
        report.add(l.number, columnOf(l, t[1]), inQuotes(t[1]) + " is no escape of vm" + suggestion(t[1], escapeNames()));
      }
      if (k == Keyword::Call) checkCalled(l, t[1]);
    } else if (k == Keyword::If && t.size() >= 3) {
      extraTokens(l, t.size() >= 4 && isVmMarker(t[3]) ? 4 : 3, "If takes a name and a condition");
      checkCalled(l, t[1]);
    } else if (k == Keyword::Return || k == Keyword::End) {
      extraTokens(l, 1, keywordName(k) + " takes no operand");
    }
  }

  // `New ARG1 msg` copies msg's value into ARG1, which must hold a variable's name: when every
  // value the script gives msg is a text that names no variable, the escape finds nothing.
  void checkArgumentCopy(const Line& l) {
    const std::string_view source = l.tokens[2];
    const auto values = vm_values.find(source);
    if (values == vm_values.end() || host.count(source) != 0 || vm_results.count(source) != 0) return;
    for (const auto& value : values->second) {
      if (!value || isWritten(*value)) return;
    }
    report.add(l.number, columnOf(l, source),
               inQuotes(l.tokens[1]) + " gets the text of " + inQuotes(source) +
                   ", which names no variable, so the escape finds nothing: to pass " + inQuotes(source) +
                   " itself, write New " + std::string(l.tokens[1]) + " " + inQuotes(source));
  }

  // A variable that looks like vm's ARG1 or ARG2 but is neither, and that nothing reads.
  void checkArgumentName(const Line& l, std::string_view name) {
    if (host.count(name) != 0) return;
    const bool similar = startsWith(upper(name), "ARG") || editDistance(name, "ARG1") <= 1 || editDistance(name, "ARG2") <= 1;
    if (!similar || name == "ARG1" || name == "ARG2") return;
    std::size_t uses = 0;
    for (const Line& other : lines) {
      for (std::size_t i = 0; i < other.tokens.size(); ++i) {
        const std::string_view t = other.tokens[i];
        if (isMarker(other, t)) continue;
        if (t == name || (t.find(name) != std::string_view::npos && i > 1)) ++uses;
      }
    }
    if (uses > 1) return;  // the line itself is one use
    report.add(l.number, columnOf(l, name),
               inQuotes(name) + " is not ARG1 or ARG2, the only variables vm's escapes read their arguments from");
  }

  // zndvm: __Escape_<name>_ARG<n> or _RET<n> with a typo (ARGO, Arg0, ARG_1, ARG): the escape
  // never reads it. Other suffixes are an escape's own state (_last) and stay alone.
  void checkEscapeVariable(const Line& l, std::string_view name) {
    if (!startsWith(name, "__Escape_") || host.count(name) != 0) return;
    std::size_t underscore = name.rfind('_');
    if (underscore < 9) return;
    // ARG_1: the number after an underscore of its own.
    const std::size_t before = name.rfind('_', underscore - 1);
    const auto digits = [](std::string_view s) {
      return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (before != std::string_view::npos && before >= 9 && digits(name.substr(underscore + 1)) &&
        (upper(name.substr(before + 1, 3)) == "ARG" || upper(name.substr(before + 1, 3)) == "RET") &&
        underscore - before == 4) {
      underscore = before;
    }
    const std::string_view suffix = name.substr(underscore + 1);
    const std::string_view base = suffix.substr(0, 3);
    if ((base == "ARG" || base == "RET") && digits(suffix.substr(3))) return;
    // What follows ARG or RET looks like a number: digits, letters taken for digits, an
    // underscore, or nothing at all.
    bool typo = (upper(base) == "ARG" || upper(base) == "RET") && suffix.size() <= 6 &&
                std::all_of(suffix.begin() + 3, suffix.end(), [](char c) {
                  return (c >= '0' && c <= '9') || c == '_' || c == 'O' || c == 'o' || c == 'l' || c == 'I';
                });
    if (!typo && !suffix.empty() && suffix.back() >= '0' && suffix.back() <= '9') {
      for (const char* valid : {"ARG", "RET"}) {
        typo = typo || editDistance(suffix.substr(0, suffix.size() - 1), valid) == 1;
      }
    }
    if (!typo) return;
    report.add(l.number, columnOf(l, name),
               inQuotes(name) + " is no argument or result variable: those end in _ARG or _RET and a "
                              "number, as in _ARG0, so the escape never reads this one");
  }

  // zndvm: a numeric operator (== != < > + - * /) given a word that can never be a number
  // (no number and no variable) fails; an expression must have the strict shape to be
  // evaluated at all.
  void checkNumericWords(const Line& l, std::string_view text) {
    std::vector<std::string_view> items;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == ' ') {
        items.push_back(text.substr(start, i - start));
        start = i + 1;
      }
    }
    if (items.size() < 3 || items.size() % 2 == 0) return;
    std::vector<zn::Op> ops;
    for (std::size_t i = 1; i < items.size(); i += 2) {
      const auto op = zn::opKind(items[i]);
      if (!op) return;  // not an expression: the text is substituted, nothing fails
      ops.push_back(*op);
    }
    for (std::size_t i = 0; i < items.size(); i += 2) {
      const std::string_view word = items[i];
      double ignored;
      if (word.empty() || zn::parseValue(word).type != zn::Type::str || zn::readFloat(word, ignored) ||
          mayBeVariable(word, l)) {
        continue;
      }
      // The operator that takes the word itself: the neighbour whose tier binds first, the
      // left one on a tie (each tier is applied left to right).
      const std::size_t k = i / 2;  // ops[k - 1] on the left, ops[k] on the right
      std::optional<zn::Op> taker;
      if (k > 0) taker = ops[k - 1];
      if (k < ops.size() && (!taker || zn::opTier(ops[k]) < zn::opTier(*taker))) taker = ops[k];
      if (!taker || zn::isStringOp(*taker)) continue;
      const bool comparison = zn::opTier(*taker) == 2;
      const auto writes = top_writes.find(word);
      const std::string what = writes == top_writes.end()
                                   ? " is no number and no variable"
                                   : " is no number, and no variable yet (line " + std::to_string(writes->second.front()) + " sets it)";
      report.add(l.number, columnOf(l, text) + 1 + static_cast<std::size_t>(word.data() - text.data()),
                 inQuotes(word) + what + ", and " + inQuotes(zn::opSpelling(*taker)) +
                     " works on numbers: the run stops with NotNumeric" +
                     (writes != top_writes.end() ? "" : comparison ? " (?= compares texts)" : " (s++ joins texts)"));
      return;
    }
  }

  void checkZndvm(const Line& l) {
    const auto& t = l.tokens;
    const Keyword k = *l.keyword;
    const std::size_t operands = k == Keyword::New || k == Keyword::If ? 2 : k == Keyword::Return || k == Keyword::End ? 0 : 1;
    // tokens: keyword, its marker, then (text, marker) pairs.
    extraTokens(l, 2 + 2 * operands,
                operands == 0 ? "it takes no operand" : operands == 1 ? "it takes one operand" : "it takes two operands");
    for (std::size_t i = 0; i < operands; ++i) {
      std::string_view text, marker;
      if (!operand(l, i, text, marker)) break;
      const bool value = i == 1;
      if (marker == zn::marker_forced_eval) addRead(l, text, "evaluated", "UnknownVariable");
      if (marker == zn::marker_pointer) addRead(l, text, "pointed to", "InvalidPointer");
      if (value && k == Keyword::New && marker == zn::marker_bare) addRead(l, text, "copied", "UnknownVariable");
      if (marker == zn::marker_literal) checkNumericWords(l, text);
    }
    if (k == Keyword::New && t.size() >= 6) {
      const std::string_view data = t[4], mode = t[5];
      // An escape argument names the variable the escape will read.
      if (mode == zn::marker_true_literal && startsWith(t[2], "__Escape_") && t[2].find("_ARG") != std::string_view::npos) {
        addRead(l, data, "passed to an escape", nullptr);
      }
      if (isNamed(t[3])) checkEscapeVariable(l, t[2]);
    }
    if ((k == Keyword::Call || k == Keyword::If) && t.size() >= 4 && isNamed(t[3])) checkCalled(l, t[2]);
    if (k == Keyword::If && t.size() >= 6 && t[5] == zn::marker_bare) {
      const std::string c(t[4]);
      report.add(l.number, columnOf(l, t[4]),
                 "the condition " + inQuotes(c) + " is bare, which If does not take (\"" + c + "\", '" + c + "', {" + c +
                     "} or <" + c + ">)" + (isNamed(t[3]) ? ": the run stops with UnknownAddressingMode" : ""));
    }
    // Names outside std. belong to hosts, which register what they like.
    if (k == Keyword::Escape && t.size() >= 4 && isNamed(t[3]) && zn::findEscape(t[2]) == nullptr &&
        startsWith(t[2], "std.") && host.count(t[2]) == 0) {
      report.add(l.number, columnOf(l, t[2]),
                 inQuotes(t[2]) + " is no escape of zndvm's library" + suggestion(t[2], escapeNames()));
    }
  }

  void checkCalled(const Line& l, std::string_view name) {
    if (functions.count(name) == 0 && host.count(name) == 0 && !computed_function) {
      report.add(l.number, columnOf(l, name), "no function '" + std::string(name) + "' is defined anywhere in this file");
    }
  }

  // The calls of each top-level function's body that run whenever it runs: Calls at the
  // body's own level, before any Return.
  void gatherBodyCalls() {
    std::optional<std::size_t> func;
    std::size_t level = 0;
    bool returned = false;
    for (const Line& l : lines) {
      if (!l.keyword) continue;
      if (l.depth == 0) {
        if (*l.keyword == Keyword::Func) {
          func = l.number;
          level = 1;
          returned = false;
        }
        continue;
      }
      if (!func || l.depth != level || returned) continue;
      // After a Return, or a Func that records the rest, the body's lines need not run.
      if (*l.keyword == Keyword::Return || *l.keyword == Keyword::Func) returned = true;
      if (*l.keyword == Keyword::Call) {
        if (const auto name = functionName(l)) body_calls[*func].emplace_back(std::string(*name), l.number);
      }
    }
  }

  // The top-level Func of `name` in force at `line`, if there is one.
  std::optional<std::size_t> definitionAt(std::string_view name, std::size_t line) const {
    const auto it = top_functions.find(name);
    if (it == top_functions.end()) return std::nullopt;
    std::optional<std::size_t> found;
    for (std::size_t at : it->second) {
      if (at < line) found = at;
    }
    return found;
  }

  // A function defined only by top-level Funcs below `line` (none nested, none from the host).
  std::optional<std::size_t> definedOnlyBelow(std::string_view name, std::size_t line) const {
    if (host.count(name) != 0 || nested_functions.count(name) != 0 || computed_function) return std::nullopt;
    const auto it = top_functions.find(name);
    if (it == top_functions.end() || it->second.front() < line) return std::nullopt;
    return it->second.front();
  }

  // Lines run in order: a top-level Call or If reaches only functions whose Func came before,
  // also through the calls their bodies make.
  void checkCallOrder() {
    for (const Line& l : lines) {
      if (l.depth != 0 || (l.keyword != Keyword::Call && l.keyword != Keyword::If)) continue;
      const auto name = functionName(l);
      if (!name) continue;
      const bool is_if = l.keyword == Keyword::If;
      if (const auto below = definedOnlyBelow(*name, l.number)) {
        report.add(l.number, columnOf(l, *name),
                   inQuotes(*name) + " is defined further down, at line " + std::to_string(*below) +
                       ", and lines run in order: " +
                       (is_if ? "if the condition holds, the If stops the run with UnknownFunction"
                              : "the run stops with UnknownFunction"));
        continue;
      }
      if (is_if) continue;
      // Through the bodies, with the definitions in force at this line.
      std::vector<std::string> pending{std::string(*name)};
      std::set<std::string> seen{std::string(*name)};
      while (!pending.empty()) {
        const std::string caller = pending.back();
        pending.pop_back();
        const auto def = definitionAt(caller, l.number);
        if (!def) continue;
        bool reported = false;
        for (const auto& [callee, at] : body_calls[*def]) {
          if (const auto below = definedOnlyBelow(callee, l.number)) {
            report.add(l.number, columnOf(l, *name),
                       inQuotes(caller) + " calls " + inQuotes(callee) + " (line " + std::to_string(at) +
                           "), which is defined further down, at line " + std::to_string(*below) +
                           ": the run stops with UnknownFunction");
            reported = true;
            break;
          }
          if (seen.insert(callee).second) pending.push_back(callee);
        }
        if (reported) break;
      }
    }
  }

  void checkReads() {
    if (computed_destination) return;  // a computed name may write anything
    for (const Read& r : reads) {
      if (!isWritten(r.name)) {
        std::string message = "'" + r.name + "' is " + r.how + " but never written in this file";
        if (r.top_level && r.failure != nullptr) message += std::string(": the run stops with ") + r.failure;
        report.add(r.line, r.column, message);
        continue;
      }
      // Read where the script runs it, before the first line that sets it.
      if (!r.top_level || r.failure == nullptr || written_in_bodies.count(r.name) != 0 ||
          host.count(r.name) != 0 || isArgumentVariable(r.name) || startsWith(r.name, "__Escape_") ||
          (dialect == Dialect::vm && vm_results.count(r.name) != 0)) {
        continue;
      }
      const auto writes = top_writes.find(r.name);
      if (writes == top_writes.end() || writes->second.front() < r.line) continue;
      report.add(r.line, r.column,
                 "'" + r.name + "' is " + r.how + " before anything sets it (line " +
                     std::to_string(writes->second.front()) + " does): the run stops with " + r.failure);
    }
  }

  // vm's budgets, counted over the lines a run reaches without any call.
  void checkBudgets() {
    namespace limits = vm::limits;
    struct Budget {
      std::string name;
      std::uint64_t max;
      std::uint64_t count = 0;
      bool reported = false;
    };
    const auto name = [this](Keyword k) { return keywordName(k); };
    Budget all{"instruction", limits::inst_max}, news{name(Keyword::New), limits::inst_new_max},
        escapes{name(Keyword::Escape), limits::inst_escape_max},
        funcs{name(Keyword::Func) + " and " + name(Keyword::If), limits::inst_func_max},
        calls{name(Keyword::Call), limits::inst_call_max}, returns{name(Keyword::Return), limits::inst_return_max};
    for (const Line& l : lines) {
      if (l.tokens.empty()) continue;
      auto count = [&](Budget& b) {
        if (++b.count == b.max + 2 && !b.reported) {
          b.reported = true;
          report.add(l.number, 1, "vm's " + b.name + " budget runs out here, before any call: the run stops with VM: FATAL: INSTRUCTION LIMIT REACHED");
        }
      };
      count(all);
      if (l.depth != 0 || !l.keyword) continue;
      switch (*l.keyword) {
        case Keyword::New: count(news); break;
        case Keyword::Escape: count(escapes); break;
        case Keyword::Func:
        case Keyword::If: count(funcs); break;
        case Keyword::Call: count(calls); break;
        case Keyword::Return: count(returns); break;
        case Keyword::End: break;
      }
    }
  }

  void run(std::string_view text) {
    classify();
    checkLineEnds(text);
    checkStructure();
    gather();
    gatherBodyCalls();
    for (const Line& l : lines) {
      if (!l.tokens.empty()) checkLine(l);
    }
    checkCallOrder();
    checkReads();
    if (dialect == Dialect::vm) checkBudgets();
  }
};

// Whether position p of `line`, with `tokens` the tokens of what comes before it, starts a
// token: at the start, after white space, or right after a closing delimiter.
bool startsToken(std::string_view line, std::size_t p, const zandle::Vec<std::string_view>& tokens) {
  if (p == 0 || line[p - 1] == ' ' || (line[p - 1] >= '\t' && line[p - 1] <= '\r')) return true;
  const auto inLine = [&](std::string_view t) { return t.data() >= line.data() && t.data() <= line.data() + line.size(); };
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    const std::string_view t = tokens[i], next = tokens[i + 1];
    const bool quoted = inLine(t) && !inLine(next) && next != zn::marker_bare;
    if (quoted && t.data() + t.size() + 1 == line.data() + p) return true;
  }
  return false;
}

// Where the token that the tokenizer could not close begins: the first opening quote, brace
// or angle bracket that starts a token and has no closing one after it.
std::size_t unclosedColumn(Dialect dialect, std::string_view line) {
  zandle::Memory memory;
  zandle::Vec<std::string_view> tokens(memory);
  for (std::size_t p = 0; p < line.size(); ++p) {
    const char c = line[p];
    const bool opener = c == '"' || c == '\'' || c == '{' || (dialect == Dialect::zndvm && c == '<');
    if (!opener) continue;
    const char close = c == '{' ? '}' : c == '<' ? '>' : c;
    if (line.find(close, p + 1) != std::string_view::npos) continue;
    const std::string_view before = line.substr(0, p);
    const bool ok = dialect == Dialect::vm ? vm::tokenize(before, tokens) == vm::Error::ok
                                           : zn::tokenize(before, tokens) == zn::Error::ok;
    if (ok && startsToken(line, p, tokens)) return p + 1;
  }
  return 1;
}

// Cuts the text into lines at line feeds, as both interpreters do, and tokenizes each; a line
// the tokenizer refuses is reported and has no tokens.
void tokenizeLines(Checker& c, std::string_view text) {
  zandle::Memory memory;
  zandle::Vec<std::string_view> tokens(memory);
  std::size_t number = 0, pos = 0;
  while (pos <= text.size()) {
    const std::size_t nl = text.find('\n', pos);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    const std::string_view line = text.substr(pos, end - pos);
    ++number;
    pos = end + 1;
    Line l{number, line, {}, std::nullopt, 0};
    bool unterminated;
    if (c.dialect == Dialect::vm) {
      unterminated = vm::tokenize(line, tokens) != vm::Error::ok;
    } else {
      unterminated = zn::tokenize(line, tokens) != zn::Error::ok;
    }
    if (unterminated) {
      c.report.add(number, unclosedColumn(c.dialect, line),
                   "a quote, brace or angle bracket is not closed on this line: the run stops with UnterminatedString");
    } else {
      l.tokens.assign(tokens.begin(), tokens.end());
    }
    c.lines.push_back(std::move(l));
    if (nl == std::string_view::npos) break;
  }
}

// The dialect of a file: by its extension (.vm, .zndvm), then by a first line naming a
// program (#!...zndvm, # vm, ...), then by what the text uses.
Dialect guessDialect(const std::string& path, std::string_view text) {
  auto endsWith = [&](const char* ext) {
    const std::size_t n = std::strlen(ext);
    return path.size() >= n && path.compare(path.size() - n, n, ext) == 0;
  };
  if (endsWith(".zndvm")) return Dialect::zndvm;
  if (endsWith(".vm")) return Dialect::vm;
  const std::string_view first = text.substr(0, text.find('\n'));
  if (startsWith(first, "#")) {
    if (first.find("zndvm") != std::string_view::npos || first.find("zandle") != std::string_view::npos) return Dialect::zndvm;
    if (first.find("vm") != std::string_view::npos) return Dialect::vm;
  }
  // zndvm's own marks: pointer operands, dotted escape names, its escape variables.
  if (text.find("__Escape_") != std::string_view::npos || text.find("Escape std.") != std::string_view::npos) {
    return Dialect::zndvm;
  }
  if (text.find("ARG1") != std::string_view::npos || text.find("Escape Print") != std::string_view::npos) return Dialect::vm;
  return Dialect::zndvm;
}

constexpr const char* usage_line = "usage: zandle-check [--vm | --zndvm] FILE...\n";

int usage(const char* problem = nullptr) {
  if (problem != nullptr) std::fprintf(stderr, "zandle-check: %s\n", problem);
  std::fputs(usage_line, stderr);
  return 2;
}

int help() {
  std::fputs(usage_line, stdout);
  std::fputs(
      "Reads vm and zndvm scripts without running them and reports, as FILE:LINE:COLUMN:\n"
      "message, what is certain to fail when it runs (\"the run stops with ...\") and what\n"
      "runs but is almost surely a mistake.\n"
      "\n"
      "  --vm      read every FILE as a vm script\n"
      "  --zndvm   read every FILE as a zndvm program\n"
      "  --help    print this text\n"
      "\n"
      "Without --vm or --zndvm the dialect of each file is guessed: a .vm or .zndvm name,\n"
      "then a first line that is a comment naming zndvm (or zandle) or vm, then what the\n"
      "text uses (__Escape_ variables or std. escapes: zndvm; ARG1 or Escape Print: vm);\n"
      "anything else is read as zndvm. A comment line '# zandle-check: host NAME...' names\n"
      "variables, functions and escapes a host provides.\n"
      "\n"
      "Exit status: 0 when nothing was found, 1 when something was, 2 when a file could\n"
      "not be read or the command line was wrong. See zandle-check(1).\n",
      stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Dialect> forced;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--vm" || arg == "--zndvm") {
      const Dialect d = arg == "--vm" ? Dialect::vm : Dialect::zndvm;
      if (forced && *forced != d) return usage("--vm and --zndvm cannot both be given");
      forced = d;
    } else if (arg == "--help" || arg == "-h") {
      return help();
    } else if (startsWith(arg, "-") && arg.size() > 1) {
      return usage(("unknown option " + std::string(arg)).c_str());
    } else {
      files.emplace_back(arg);
    }
  }
  if (files.empty()) return usage();
  std::size_t found = 0;
  bool unreadable = false;
  for (const std::string& path : files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "zandle-check: cannot read %s\n", path.c_str());
      unreadable = true;
      continue;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Checker c;
    c.dialect = forced ? *forced : guessDialect(path, text);
    tokenizeLines(c, text);
    c.run(text);
    found += c.report.print(path);
  }
  if (unreadable) return 2;
  return found == 0 ? 0 : 1;
}
