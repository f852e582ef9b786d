#include "compiler.hpp"

#include <cstring>

#include "common/bytes.hpp"

namespace zandle::zndvm {

namespace {

constexpr bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

struct Keyword {
  std::string_view text;
  Opcode op;
};

constexpr Keyword opcode_kind[] = {
    {"New", Opcode::New},   {"Escape", Opcode::Escape}, {"Func", Opcode::Func},
    {"Call", Opcode::Call}, {"If", Opcode::If},         {"Return", Opcode::Return},
    {"End", Opcode::End},
};

struct ModeMarker {
  std::string_view marker;
  AddrMode mode;
};

constexpr ModeMarker addr_mode_kind[] = {
    {marker_literal, AddrMode::literal},         {marker_true_literal, AddrMode::true_literal},
    {marker_forced_eval, AddrMode::forced_eval}, {marker_pointer, AddrMode::pointer},
    {marker_bare, AddrMode::bare},
};

// The shortest and longest entry of a table of names: anything outside cannot match.
template <class Table, class Name>
constexpr std::size_t nameLength(const Table& table, Name name, bool longest) {
  std::size_t n = longest ? 0 : SIZE_MAX;
  for (const auto& entry : table) {
    const std::size_t len = name(entry).size();
    n = longest ? (len > n ? len : n) : (len < n ? len : n);
  }
  return n;
}

constexpr auto keyword_text = [](const Keyword& k) { return k.text; };
constexpr auto marker_text = [](const ModeMarker& m) { return m.marker; };
constexpr std::size_t keyword_min = nameLength(opcode_kind, keyword_text, false);
constexpr std::size_t keyword_max = nameLength(opcode_kind, keyword_text, true);
constexpr std::size_t marker_min = nameLength(addr_mode_kind, marker_text, false);
constexpr std::size_t marker_max = nameLength(addr_mode_kind, marker_text, true);

bool opcodeOf(std::string_view keyword, Opcode& op) {
  if (keyword.size() < keyword_min || keyword.size() > keyword_max) return false;
  for (const Keyword& k : opcode_kind) {
    if (sameBytes(k.text, keyword)) {
      op = k.op;
      return true;
    }
  }
  return false;
}

bool modeOf(std::string_view marker, AddrMode& mode) {
  if (marker.size() < marker_min || marker.size() > marker_max) return false;
  for (const ModeMarker& m : addr_mode_kind) {
    if (sameBytes(m.marker, marker)) {
      mode = m.mode;
      return true;
    }
  }
  return false;
}

Error compileOperand(std::string_view text, std::string_view marker, Arena& arena,
                     Variables& vars, Operand& operand) {
  if (!modeOf(marker, operand.mode)) return Error::UnknownAddressingMode;
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
  if (!opcodeOf(tokens[0], ins.op)) return Error::UnknownInstruction;
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
