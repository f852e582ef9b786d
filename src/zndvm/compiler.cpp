#include "compiler.hpp"

#include <cstring>

#include "common/bytes.hpp"
#include "common/name_table.hpp"
#include "keywords.hpp"

namespace zandle::zndvm {

namespace {

constexpr bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

struct ModeMarker {
  std::string_view name;
  AddrMode mode;
};

constexpr ModeMarker mode_markers[] = {
    {marker_literal, AddrMode::literal},         {marker_true_literal, AddrMode::true_literal},
    {marker_forced_eval, AddrMode::forced_eval}, {marker_pointer, AddrMode::pointer},
    {marker_bare, AddrMode::bare},
};
constexpr NameTable markers{mode_markers};

Error compileOperand(std::string_view text, std::string_view marker, Arena& arena,
                     Variables& vars, Operand& operand) {
  const ModeMarker* m = markers.find(marker);
  if (m == nullptr) return Error::UnknownAddressingMode;
  operand.mode = m->mode;
  operand.text = text;
  if (operand.mode == AddrMode::literal &&
      !compileExpression(arena, operand.text, vars, operand.expr)) {
    return Error::OutOfMemory;
  }
  return Error::ok;
}

}  // namespace

Error tokenize(std::string_view line, Vec<std::string_view>& tokens) {
  tokens.clear();
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    const char c = *p;
    if (isSpace(c)) {
      ++p;
      continue;
    }
    if (c == '#' || c == '/') break;
    std::string_view token, marker = marker_bare;
    if (c == '"' || c == '\'' || c == '<' || c == '{') {
      const char close = c == '<' ? '>' : c == '{' ? '}' : c;
      const char* start = p + 1;
      auto* found = start < end
                        ? static_cast<const char*>(std::memchr(start, close, static_cast<std::size_t>(end - start)))
                        : nullptr;
      if (found == nullptr) return Error::UnterminatedString;
      token = {start, static_cast<std::size_t>(found - start)};
      marker = c == '"'    ? marker_literal
               : c == '\'' ? marker_true_literal
               : c == '{'  ? marker_forced_eval
                           : marker_pointer;
      p = found + 1;
    } else {
      const char* start = p;
      while (p < end && !isSpace(*p)) ++p;
      token = {start, static_cast<std::size_t>(p - start)};
    }
    if (!tokens.push(token) || !tokens.push(marker)) return Error::OutOfMemory;
  }
  return Error::ok;
}

Error compileLine(const Vec<std::string_view>& tokens, Arena& arena, Variables& vars,
                  ParsedLine& ins) {
  const KeywordEntry* k = keywords.find(tokens[0]);
  if (k == nullptr) return Error::UnknownInstruction;
  ins.op = k->op;
  if (tokens.size() >= 4) {
    if (Error e = compileOperand(tokens[2], tokens[3], arena, vars, ins.dest); e != Error::ok) return e;
  }
  if (tokens.size() >= 6) {
    if (Error e = compileOperand(tokens[4], tokens[5], arena, vars, ins.data); e != Error::ok) return e;
    ins.has_data = true;
  }
  return Error::ok;
}

}  // namespace zandle::zndvm
