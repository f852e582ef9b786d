#include "snapshot.hpp"

#include <bit>
#include <cstring>

namespace zandle {

namespace {

// A 64-bit word stored little-endian; this file is built for size, so the helpers that run
// for every field or word of a snapshot are inlined by force, and copy whole words.
[[gnu::always_inline]] inline std::uint64_t word(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The first `bytes` (0 to 8) of a little-endian integer.
[[gnu::always_inline]] inline std::uint64_t readLittle(const char* p, int bytes) {
  if (bytes == 8) return word(p);
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

[[gnu::always_inline]] inline std::uint64_t mix(std::uint64_t lane, std::uint64_t w) {
  constexpr std::uint64_t p1 = 0x9e3779b185ebca87u, p2 = 0xc2b2ae3d27d4eb4fu;
  return std::rotl(lane + w * p2, 31) * p1;
}

// Stores v as 8 little-endian bytes; an integer of fewer bytes is the first of them.
[[gnu::always_inline]] inline void writeWord(char* p, std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

}  // namespace

// Enough to tell a snapshot that was damaged by accident; one that was made up on purpose is
// checked field by field anyway. Four lanes each take every fourth 64-bit word (read
// little-endian, so that the sum is the same on every host) through a multiply and a
// rotation: the lanes' multiplications overlap, where a byte-at-a-time hash waits on each of
// its own, and a snapshot of megabytes is summed in a small part of the time it takes to make.
std::uint64_t snapshotChecksum(std::string_view bytes) {
  std::uint64_t lane[4] = {1, 2, 3, 4};
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  for (; left >= 32; p += 32, left -= 32) {
    lane[0] = mix(lane[0], word(p));
    lane[1] = mix(lane[1], word(p + 8));
    lane[2] = mix(lane[2], word(p + 16));
    lane[3] = mix(lane[3], word(p + 24));
  }
  std::uint64_t h = std::rotl(lane[0], 1) + std::rotl(lane[1], 7) + std::rotl(lane[2], 12) + std::rotl(lane[3], 18);
  for (; left >= 8; p += 8, left -= 8) h = mix(h, word(p));
  h = mix(h, readLittle(p, static_cast<int>(left)) ^ (static_cast<std::uint64_t>(left) << 56));
  h = mix(h, bytes.size());
  h ^= h >> 33;
  h *= 0xc2b2ae3d27d4eb4fu;
  return h ^ (h >> 29);
}

// The header: magic (8), version (4), kind (4), length of what follows (8), checksum (8).
SnapshotWriter::SnapshotWriter(Buffer& out, std::uint32_t kind) : out_(out), ok_(true) {
  out_.clear();
  ok_ = out_.append(snapshot_magic);
  u32(snapshot_version);
  u32(kind);
  u64(0);
  u64(0);
}

void SnapshotWriter::little(std::uint64_t v, int bytes) {
  char b[8];
  writeWord(b, v);
  ok_ = ok_ && out_.append(std::string_view(b, static_cast<std::size_t>(bytes)));
}

bool SnapshotWriter::finish() {
  if (!ok_) return false;
  const std::string_view payload(out_.data() + snapshot_header_size, out_.size() - snapshot_header_size);
  writeWord(out_.data() + 16, payload.size());
  writeWord(out_.data() + 24, snapshotChecksum(payload));
  return true;
}

SnapshotReader::SnapshotReader(std::string_view bytes, std::uint32_t kind) {
  if (bytes.size() < snapshot_header_size || std::memcmp(bytes.data(), snapshot_magic.data(), 8) != 0) return;
  if (readLittle(bytes.data() + 8, 4) != snapshot_version || readLittle(bytes.data() + 12, 4) != kind) return;
  const std::string_view payload(bytes.data() + snapshot_header_size, bytes.size() - snapshot_header_size);
  if (readLittle(bytes.data() + 16, 8) != payload.size() || readLittle(bytes.data() + 24, 8) != snapshotChecksum(payload)) {
    return;
  }
  bytes_ = payload;
  ok_ = true;
}

std::uint64_t SnapshotReader::count(std::size_t item_bytes) {
  const std::uint64_t n = u64();
  if (ok_ && n > (bytes_.size() - at_) / (item_bytes != 0 ? item_bytes : 1)) ok_ = false;
  return ok_ ? n : 0;
}

}  // namespace zandle
