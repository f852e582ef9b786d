// Real snapshots, changed, restored through the public interface. The input is eight bytes
// of settings and a script: the script runs on a machine of the kind bit 0 of the first byte
// picks, in slices of the size bytes 1 and 2 give, and is snapshotted after as many pauses as
// byte 3 says (or, ended, as it stands). The snapshot is then changed (bits 2 to 4 of the
// first byte: how many changes, each drawn from the seed in bytes 4 to 7: bits flipped,
// bytes and little-endian counts overwritten, bytes inserted, ranges dropped or repeated, a
// tail cut), its header made to hold again unless bit 1 says not, and restored onto a new
// machine. Unchanged, it must restore; taken, the machine must pass checkRestored.
#include <cstddef>
#include <cstdint>
#include <string>

#include "snapshot.hpp"

using namespace zandle;

namespace {

constexpr std::size_t settings = 8;

// splitmix64: small, and every seed gives a good sequence.
struct Draw {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
};

// Counts and lengths a reader may trip on: the small, the edges, and the snapshot's own size.
std::uint64_t interesting(Draw& d, std::size_t size) {
  const std::uint64_t values[] = {0, 1, 2, 7, 8, 255, 256, 0xffff, 0xffffffffu, 0x100000000u,
                                  UINT64_MAX, UINT64_MAX - 1, size, size / 2, size + 1};
  return values[d.below(std::size(values))];
}

void change(std::string& s, Draw& d) {
  // Most changes fall behind the header, where the fields are.
  const std::size_t from = s.size() > 32 && d.below(8) != 0 ? 32 : 0;
  const std::size_t at = from + d.below(s.size() - from + 1);
  switch (d.below(7)) {
    case 0:
      if (at < s.size()) s[at] = static_cast<char>(s[at] ^ (1 << d.below(8)));
      break;
    case 1:
      if (at < s.size()) s[at] = static_cast<char>(d.next());
      break;
    case 2: {
      std::uint64_t v = interesting(d, s.size());
      for (std::size_t i = at; i < at + 8 && i < s.size(); ++i, v >>= 8) s[i] = static_cast<char>(v & 0xff);
      break;
    }
    case 3:
      s.insert(at, 1 + d.below(16), static_cast<char>(d.next()));
      break;
    case 4:
      s.erase(at, 1 + d.below(16));
      break;
    case 5:
      if (at < s.size()) s.insert(at, s.substr(at, 1 + d.below(32)));
      break;
    case 6:
      s.resize(at);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < settings) return 0;
  const bool vm = (data[0] & 1) != 0;
  const bool fix = (data[0] & 2) == 0;
  const unsigned changes = (data[0] >> 2) & 7;
  const std::uint64_t slice = 1 + (data[1] | static_cast<unsigned>(data[2]) << 8);
  const unsigned pauses = data[3];
  Draw draw{static_cast<std::uint64_t>(data[4]) | static_cast<std::uint64_t>(data[5]) << 8 |
            static_cast<std::uint64_t>(data[6]) << 16 | static_cast<std::uint64_t>(data[7]) << 24};
  const char* script = reinterpret_cast<const char*>(data + settings);

  std::string bytes;
  {
    fuzz::Machine source(vm);
    zandle_machine* m = source.get();
    fuzz::expect(zandle_set_slice(m, slice) == ZANDLE_OK, "snapshot: a slice");
    zandle_status s = zandle_run(m, script, size - settings, "seed.znd", 8);
    for (unsigned i = 0; i < pauses && s == ZANDLE_PAUSED; ++i) s = zandle_resume(m);
    fuzz::expect(fuzz::ending(s), "snapshot: a run status");
    bytes = source.snapshot();
  }
  if (bytes.empty()) return 0;  // no room for it under the cap
  for (unsigned i = 0; i < changes; ++i) change(bytes, draw);
  if (fix) fuzz::fixHeader(bytes);

  fuzz::Machine target(vm);
  const zandle_status s = zandle_restore(target.get(), bytes.data(), bytes.size());
  fuzz::expect(s == ZANDLE_OK || s == ZANDLE_INVALID_SNAPSHOT || s == ZANDLE_OUT_OF_MEMORY, "snapshot: a status");
  fuzz::expect(changes != 0 || s != ZANDLE_INVALID_SNAPSHOT, "snapshot: a real snapshot was refused");
  if (s == ZANDLE_OK) fuzz::checkRestored(target, vm);
  return 0;
}
