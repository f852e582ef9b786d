// zandle-check: reads vm and zndvm scripts without running them and reports what runs but
// is almost surely a mistake, as FILE:LINE:COLUMN: message, the form compilers use and
// editors jump to. It cuts lines with the interpreters' own tokenizers and knows their
// escape tables, so it reads a line exactly as the program will.
//
//     zandle-check [--vm | --zndvm] FILE...
//
// A script run by a host may use what the host provides; a comment line
//     # zandle-check: host NAME...
// names the variables and escapes that come from the host, and zndvm escapes outside the
// library's own std. names are taken for a host's.
// Exit status: 0 when nothing was found, 1 when something was, 2 when a file could not be
// read or the command line was wrong.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/memory.hpp"
#include "common/vec.hpp"
#include "vm/escapes/table.hpp"
#include "vm/limits.hpp"
#include "vm/tokenizer.hpp"
#include "zndvm/compiler.hpp"
#include "zndvm/escapes/table.hpp"

namespace {

enum class Dialect { vm, zndvm };

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

// One line of the script: its number and the tokens as the interpreter cuts them (for zndvm,
// (text, marker) pairs).
struct Line {
  std::size_t number;
  std::string_view text;
  std::vector<std::string_view> tokens;
};

// The column where a token starts, its opening quote, brace or angle bracket included.
std::size_t columnOf(const Line& line, std::string_view token) {
  if (token.data() < line.text.data() || token.data() > line.text.data() + line.text.size()) {
    return 1;  // a marker, which stands for no bytes of the line
  }
  std::size_t column = static_cast<std::size_t>(token.data() - line.text.data()) + 1;
  for (std::size_t i = 0; i + 1 < line.tokens.size(); ++i) {
    if (line.tokens[i].data() != token.data() || line.tokens[i].size() != token.size()) continue;
    const std::string_view next = line.tokens[i + 1];
    const bool marker = next.data() < line.text.data() || next.data() > line.text.data() + line.text.size();
    // Markers follow quoted tokens (and, in zndvm, bare ones, whose marker is a single "/").
    if (marker && next != "/" && column > 1) --column;
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

// The closest of `names` to `word`, when it is close enough to be what was meant.
std::string suggestion(std::string_view word, const std::vector<std::string_view>& names) {
  std::string_view best;
  std::size_t best_distance = 3;
  for (std::string_view name : names) {
    std::string lower_word(word), lower_name(name);
    for (char& c : lower_word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : lower_name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t d = lower_word == lower_name ? 0 : editDistance(word, name);
    if (d < best_distance) {
      best = name;
      best_distance = d;
    }
  }
  return best.empty() ? std::string() : " (did you mean '" + std::string(best) + "'?)";
}

const std::vector<std::string_view> keywords = {"New", "Func", "End", "If", "Call", "Return", "Escape"};

// Variables the vm escapes write, whatever a script does.
const std::set<std::string, std::less<>> vm_results = {
    "input", "fileData", "dirContents", "cwd", "len", "strLeft", "strRight", "random", "time",
    "pid", "exitCode", "killedBySig", "otherTermination"};

bool isArgumentVariable(std::string_view name) { return name.rfind("VMARG", 0) == 0; }

struct Checker {
  Dialect dialect = Dialect::zndvm;
  std::vector<Line> lines;
  Report report;

  // What the whole file defines and writes, gathered before the checks that need it.
  std::set<std::string, std::less<>> host;  // names the host provides
  std::set<std::string, std::less<>> functions;
  std::set<std::string, std::less<>> written;
  bool computed_destination = false;
  // Reads to check once everything written is known.
  struct Read {
    std::size_t line, column;
    std::string name, how;
  };
  std::vector<Read> reads;

  void gather() {
    constexpr std::string_view directive = "# zandle-check: host ";
    for (const Line& l : lines) {
      if (l.text.rfind(directive, 0) == 0) {
        std::string_view names = l.text.substr(directive.size());
        while (!names.empty()) {
          const std::size_t space = names.find(' ');
          if (space != 0) host.emplace(names.substr(0, space));
          if (space == std::string_view::npos) break;
          names.remove_prefix(space + 1);
        }
      }
      if (l.tokens.empty()) continue;
      const auto& t = l.tokens;
      if (dialect == Dialect::vm) {
        if (t[0] == "Func" && t.size() >= 2) functions.emplace(t[1]);
        if (t[0] == "New" && t.size() >= 2) written.emplace(t[1]);
      } else {
        if (t[0] == "Func" && t.size() >= 4 && isNamed(t[3])) functions.emplace(t[2]);
        if (t[0] == "New" && t.size() >= 4) {
          if (isNamed(t[3])) {
            written.emplace(t[2]);
          } else {
            computed_destination = true;
          }
        }
        if (t[0] == "Escape" && t.size() >= 4 && isNamed(t[3])) {
          // An escape's results, and the state the random generator keeps.
          written.emplace("__Escape_" + std::string(t[2]) + "_RET");
          written.emplace("__Escape_" + std::string(t[2]) + "_last");
        }
      }
    }
  }

  static bool isNamed(std::string_view marker) {
    return marker == zandle::zndvm::marker_bare || marker == zandle::zndvm::marker_true_literal;
  }

  bool isWritten(std::string_view name) const {
    if (written.count(name) != 0 || host.count(name) != 0 || isArgumentVariable(name)) return true;
    if (dialect == Dialect::vm) return vm_results.count(name) != 0;
    // __Escape_<name>_RET<n> is written by its escape.
    const std::size_t ret = name.rfind("_RET");
    if (name.rfind("__Escape_", 0) == 0 && ret != std::string_view::npos) {
      return written.count(name.substr(0, ret + 4)) != 0;
    }
    return false;
  }

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

  void checkStructure() {
    // Func and End as the interpreters record them.
    std::vector<std::size_t> open;  // lines of the Funcs being recorded
    for (const Line& l : lines) {
      if (l.tokens.empty()) continue;
      const std::string_view keyword = l.tokens[0];
      if (keyword == "Func") {
        if (dialect == Dialect::vm && !open.empty()) continue;  // vm records it as a body line
        open.push_back(l.number);
      } else if (keyword == "End") {
        if (open.empty()) {
          report.add(l.number, 1, "'End' outside a function does nothing");
        } else {
          open.pop_back();
        }
      }
    }
    for (std::size_t line : open) report.add(line, 1, "'Func' without its 'End': the rest of the file is recorded, not run");
  }

  void checkLine(const Line& l) {
    const auto& t = l.tokens;
    const std::string_view keyword = t[0];
    if (std::find(keywords.begin(), keywords.end(), keyword) == keywords.end()) {
      // A keyword that was meant, or an escape written without its keyword.
      std::string hint = suggestion(keyword, keywords);
      if (hint.empty()) {
        std::vector<std::string_view> escapes;
        for (std::string_view name : escapeNames()) escapes.push_back(name);
        hint = suggestion(keyword, escapes);
        if (!hint.empty()) hint.insert(hint.find('\'') + 1, "Escape ");
      }
      report.add(l.number, 1,
                 "'" + std::string(keyword) + "' is not a keyword: " +
                     (dialect == Dialect::vm ? "vm skips this line" : "zndvm stops with UnknownInstruction") + hint);
      return;
    }
    if (dialect == Dialect::vm) {
      checkVm(l);
    } else {
      checkZndvm(l);
    }
  }

  std::vector<std::string_view> escapeNames() const {
    std::vector<std::string_view> names;
    if (dialect == Dialect::vm) {
      for (const zandle::vm::Escape& e : zandle::vm::escapeTable()) names.push_back(e.name);
    } else {
      for (const zandle::zndvm::Escape& e : zandle::zndvm::escapeTable()) names.push_back(e.name);
    }
    return names;
  }

  void extraTokens(const Line& l, std::size_t used, const char* what) {
    if (l.tokens.size() > used) {
      report.add(l.number, columnOf(l, l.tokens[used]),
                 "'" + std::string(l.tokens[used]) + "' and what follows are ignored: " + what);
    }
  }

  void checkVm(const Line& l) {
    using namespace zandle::vm;
    const auto& t = l.tokens;
    const std::string_view k = t[0];
    auto isMarker = [](std::string_view m) { return m == marker_double || m == marker_single || m == marker_braces; };
    if (k == "New" && t.size() >= 3) {
      if (t.size() >= 4 && !isMarker(t[3])) {
        report.add(l.number, columnOf(l, t[3]),
                   "'" + std::string(t[3]) + "' after the operand: vm stores nothing for this line");
        return;
      }
      extraTokens(l, t.size() >= 4 ? 4 : 3, "New takes a name and one operand");
      if (t.size() == 3) reads.push_back({l.number, columnOf(l, t[2]), std::string(t[2]), "copied"});
      if (t.size() >= 4 && t[3] == marker_braces) reads.push_back({l.number, columnOf(l, t[2]), std::string(t[2]), "evaluated"});
      if (t[1] == "ARG1" || t[1] == "ARG2") {
        // An escape will read the variable this names.
        if (t.size() >= 4 && t[3] == marker_single) reads.push_back({l.number, columnOf(l, t[2]), std::string(t[2]), "passed to an escape"});
      }
    } else if ((k == "Escape" || k == "Func" || k == "Call") && t.size() >= 2) {
      extraTokens(l, 2, "it takes one name");
      if (k == "Escape" && findEscape(t[1]) == nullptr && host.count(t[1]) == 0) {
        report.add(l.number, columnOf(l, t[1]),
                   "'" + std::string(t[1]) + "' is no escape of vm" + suggestion(t[1], escapeNames()));
      }
      if (k == "Call") checkCalled(l, t[1]);
    } else if (k == "If" && t.size() >= 3) {
      extraTokens(l, t.size() >= 4 && isMarker(t[3]) ? 4 : 3, "If takes a name and a condition");
      checkCalled(l, t[1]);
    } else if (k == "Return" || k == "End") {
      extraTokens(l, 1, std::string(k).append(" takes no operand").c_str());
    }
  }

  void checkZndvm(const Line& l) {
    using namespace zandle::zndvm;
    const auto& t = l.tokens;
    const std::string_view k = t[0];
    const std::size_t operands = k == "New" || k == "If" ? 2 : k == "Return" || k == "End" ? 0 : 1;
    // tokens: keyword, its marker, then (text, marker) pairs.
    extraTokens(l, 2 + 2 * operands, operands == 0 ? "it takes no operand" : operands == 1 ? "it takes one operand" : "it takes two operands");
    if (t.size() >= 4) {
      if (t[3] == marker_forced_eval) reads.push_back({l.number, columnOf(l, t[2]), std::string(t[2]), "evaluated"});
      if (t[3] == marker_pointer) reads.push_back({l.number, columnOf(l, t[2]), std::string(t[2]), "pointed to"});
    }
    if (k == "New" && t.size() >= 6) {
      const std::string_view data = t[4], mode = t[5];
      if (mode == marker_bare) reads.push_back({l.number, columnOf(l, data), std::string(data), "copied"});
      if (mode == marker_forced_eval) reads.push_back({l.number, columnOf(l, data), std::string(data), "evaluated"});
      if (mode == marker_pointer) reads.push_back({l.number, columnOf(l, data), std::string(data), "pointed to"});
      // An escape argument names the variable the escape will read.
      if (mode == marker_true_literal && t[2].rfind("__Escape_", 0) == 0 && t[2].find("_ARG") != std::string_view::npos) {
        reads.push_back({l.number, columnOf(l, data), std::string(data), "passed to an escape"});
      }
    }
    if ((k == "Call" || k == "If") && t.size() >= 4 && isNamed(t[3])) checkCalled(l, t[2]);
    // Names outside std. belong to hosts, which register what they like.
    if (k == "Escape" && t.size() >= 4 && isNamed(t[3]) && findEscape(t[2]) == nullptr &&
        t[2].rfind("std.", 0) == 0 && host.count(t[2]) == 0) {
      report.add(l.number, columnOf(l, t[2]),
                 "'" + std::string(t[2]) + "' is no escape of zndvm's library" + suggestion(t[2], escapeNames()));
    }
  }

  void checkCalled(const Line& l, std::string_view name) {
    if (functions.count(name) == 0) {
      report.add(l.number, columnOf(l, name), "no function '" + std::string(name) + "' is defined anywhere in this file");
    }
  }

  void checkReads() {
    if (computed_destination) return;  // a computed name may write anything
    for (const Read& r : reads) {
      if (!isWritten(r.name)) {
        report.add(r.line, r.column, "'" + r.name + "' is " + r.how + " but never written in this file");
      }
    }
  }

  // vm's budgets, counted over the lines a run reaches without any call.
  void checkBudgets() {
    using namespace zandle::vm::limits;
    struct Budget {
      const char* name;
      std::uint64_t max;
      std::uint64_t count = 0;
      bool reported = false;
    };
    Budget all{"instruction", inst_max}, news{"New", inst_new_max}, escapes{"Escape", inst_escape_max},
        funcs{"Func and If", inst_func_max}, calls{"Call", inst_call_max}, returns{"Return", inst_return_max};
    bool recording = false;
    for (const Line& l : lines) {
      if (l.tokens.empty()) continue;
      auto count = [&](Budget& b) {
        if (++b.count == b.max + 2 && !b.reported) {
          b.reported = true;
          report.add(l.number, 1, std::string("vm's ") + b.name + " budget runs out here, before any call: the run stops with VM: FATAL: INSTRUCTION LIMIT REACHED");
        }
      };
      count(all);
      const std::string_view k = l.tokens[0];
      if (recording) {
        if (k == "End") recording = false;
        continue;
      }
      if (k == "New") count(news);
      if (k == "Escape") count(escapes);
      if (k == "Func" || k == "If") count(funcs);
      if (k == "Call") count(calls);
      if (k == "Return") count(returns);
      if (k == "Func") recording = true;
    }
  }

  void run(std::string_view text) {
    checkLineEnds(text);
    checkStructure();
    gather();
    for (const Line& l : lines) {
      if (!l.tokens.empty()) checkLine(l);
    }
    checkReads();
    if (dialect == Dialect::vm) checkBudgets();
  }
};

// Cuts the text into lines at line feeds, as both interpreters do, and tokenizes each;
// false (after reporting it) for a line the tokenizer refuses.
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
    Line l{number, line, {}};
    bool unterminated;
    if (c.dialect == Dialect::vm) {
      unterminated = zandle::vm::tokenize(line, tokens) != zandle::vm::Error::ok;
    } else {
      unterminated = zandle::zndvm::tokenize(line, tokens) != zandle::zndvm::Error::ok;
    }
    if (unterminated) {
      c.report.add(number, 1, "a quote, brace or angle bracket is not closed on this line: the run stops with UnterminatedString");
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
  if (first.rfind("#", 0) == 0) {
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

int usage() {
  std::fprintf(stderr, "usage: zandle-check [--vm | --zndvm] FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool forced = false;
  Dialect forced_dialect = Dialect::zndvm;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--vm" || arg == "--zndvm") {
      forced = true;
      forced_dialect = arg == "--vm" ? Dialect::vm : Dialect::zndvm;
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
      return usage();
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
    c.dialect = forced ? forced_dialect : guessDialect(path, text);
    tokenizeLines(c, text);
    c.run(text);
    found += c.report.print(path);
  }
  if (unreadable) return 2;
  return found == 0 ? 0 : 1;
}
