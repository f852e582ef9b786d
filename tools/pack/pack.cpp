// Build-time tool: packs a text (see src/common/packed.hpp for the format) and writes it as
// a C++ source defining
//     extern const char SYMBOL[];  extern const std::size_t SYMBOL_size;
// in namespace zandle::embedded. Greedy matching over a hash chain: small, deterministic and
// good enough for a few kilobytes of prose and scripts.
//
//     zandle-pack IN OUT SYMBOL [--strip-final-newline]
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::size_t min_match = 4;
constexpr std::size_t max_match = 0x7f + min_match;
constexpr std::size_t window = 65535;

std::string pack(const std::string& in) {
  std::string out, literals;
  std::map<std::string, std::vector<std::size_t>> seen;  // 4-byte prefixes to their places
  auto flushLiterals = [&] {
    for (std::size_t i = 0; i < literals.size(); i += 128) {
      const std::size_t n = std::min<std::size_t>(128, literals.size() - i);
      out.push_back(static_cast<char>(n - 1));
      out.append(literals, i, n);
    }
    literals.clear();
  };
  auto remember = [&](std::size_t at) {
    if (at + min_match <= in.size()) seen[in.substr(at, min_match)].push_back(at);
  };
  for (std::size_t i = 0; i < in.size();) {
    std::size_t best = 0, best_distance = 0;
    if (i + min_match <= in.size()) {
      auto it = seen.find(in.substr(i, min_match));
      if (it != seen.end()) {
        for (auto j = it->second.rbegin(); j != it->second.rend() && i - *j <= window; ++j) {
          std::size_t n = 0;
          while (i + n < in.size() && n < max_match && in[*j + n] == in[i + n]) ++n;
          if (n > best) {
            best = n;
            best_distance = i - *j;
          }
        }
      }
    }
    if (best >= min_match) {
      flushLiterals();
      out.push_back(static_cast<char>(0x80 | (best - min_match)));
      out.push_back(static_cast<char>(best_distance & 0xff));
      out.push_back(static_cast<char>(best_distance >> 8));
      for (std::size_t k = 0; k < best; ++k) remember(i + k);
      i += best;
    } else {
      literals.push_back(in[i]);
      remember(i);
      ++i;
    }
  }
  flushLiterals();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: zandle-pack IN OUT SYMBOL [--strip-final-newline]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return 1;
  if (argc > 4 && std::string(argv[4]) == "--strip-final-newline" && !text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  const std::string packed = pack(text);
  const std::string symbol = argv[3];
  std::string source = "#include <cstddef>\nnamespace zandle::embedded {\nextern const char " + symbol +
                       "[];\nextern const std::size_t " + symbol + "_size;\nconst char " + symbol + "[] = {";
  char byte[8];
  for (std::size_t i = 0; i < packed.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%s%d,", i % 24 == 0 ? "\n" : "", static_cast<signed char>(packed[i]));
    source += byte;
  }
  source += "0};\nconst std::size_t " + symbol + "_size = " + std::to_string(packed.size()) + ";\n}\n";
  std::ofstream out(argv[2], std::ios::binary);
  out << source;
  return out ? 0 : 1;
}
