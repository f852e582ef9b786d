#include "compiler.hpp"

#include <cstring>

#include "errors.hpp"

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

constexpr std::string_view addr_mode_kind[] = {
    marker_literal, marker_true_literal, marker_forced_eval, marker_pointer, marker_bare};

Opcode opcodeOf(std::string_view keyword) {
  if (keyword.size() >= 2 && keyword.size() <= 6) {
    for (const Keyword& k : opcode_kind) {
      if (k.text == keyword) return k.op;
    }
  }
  fail(Error::UnknownInstruction);
}

AddrMode modeOf(std::string_view marker) {
  if (marker.size() >= 1 && marker.size() <= 5) {
    for (std::size_t i = 0; i < std::size(addr_mode_kind); ++i) {
      if (addr_mode_kind[i] == marker) return static_cast<AddrMode>(i);
    }
  }
  fail(Error::UnknownAddressingMode);
}

Operand compileOperand(std::string_view text, std::string_view marker, Arena& arena,
                       Variables& vars) {
  Operand operand;
  operand.mode = modeOf(marker);
  operand.text = arena.copy(text);
  if (operand.mode == AddrMode::literal) {
    operand.expr = compileExpression(arena, operand.text, vars);
  }
  return operand;
}

}  // namespace

void tokenize(std::string_view line, std::vector<std::string_view>& tokens) {
  tokens.clear();
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    char c = *p;
    if (isSpace(c)) {
      ++p;
      continue;
    }
    if (c == '#' || c == '/') return;
    if (c == '"' || c == '\'' || c == '<' || c == '{') {
      char close = c == '<' ? '>' : c == '{' ? '}' : c;
      const char* start = p + 1;
      auto* found = start < end
                        ? static_cast<const char*>(std::memchr(start, close, static_cast<std::size_t>(end - start)))
                        : nullptr;
      if (found == nullptr) fail(Error::UnterminatedString);
      tokens.emplace_back(start, static_cast<std::size_t>(found - start));
      tokens.push_back(c == '"'    ? marker_literal
                       : c == '\'' ? marker_true_literal
                       : c == '{'  ? marker_forced_eval
                                   : marker_pointer);
      p = found + 1;
      continue;
    }
    const char* start = p;
    while (p < end && !isSpace(*p)) ++p;
    tokens.emplace_back(start, static_cast<std::size_t>(p - start));
    tokens.push_back(marker_bare);
  }
}

Instruction compileInstruction(const std::vector<std::string_view>& tokens, Arena& arena,
                               Variables& vars) {
  Instruction ins;
  ins.op = opcodeOf(tokens[0]);
  if (tokens.size() >= 4) ins.dest = compileOperand(tokens[2], tokens[3], arena, vars);
  if (tokens.size() >= 6) {
    ins.data = compileOperand(tokens[4], tokens[5], arena, vars);
    ins.has_data = true;
  }
  return ins;
}

}  // namespace zandle::zndvm
