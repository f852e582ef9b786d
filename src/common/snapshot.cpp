#include "snapshot.hpp"

#include <cstring>

namespace zandle {

namespace {

// FNV-1a, 64 bits: enough to tell a snapshot that was damaged by accident; one that was
// made up on purpose is checked field by field anyway.
std::uint64_t checksum(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037u;
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211u;
  }
  return h;
}

std::uint64_t readLittle(const char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

void writeLittle(char* p, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i, v >>= 8) p[i] = static_cast<char>(v & 0xff);
}

}  // namespace

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
  writeLittle(b, v, bytes);
  ok_ = ok_ && out_.append(std::string_view(b, static_cast<std::size_t>(bytes)));
}

bool SnapshotWriter::finish() {
  if (!ok_) return false;
  const std::string_view payload(out_.data() + snapshot_header_size, out_.size() - snapshot_header_size);
  writeLittle(out_.data() + 16, payload.size(), 8);
  writeLittle(out_.data() + 24, checksum(payload), 8);
  return true;
}

SnapshotReader::SnapshotReader(std::string_view bytes, std::uint32_t kind) {
  if (bytes.size() < snapshot_header_size || std::memcmp(bytes.data(), snapshot_magic.data(), 8) != 0) return;
  if (readLittle(bytes.data() + 8, 4) != snapshot_version || readLittle(bytes.data() + 12, 4) != kind) return;
  const std::string_view payload(bytes.data() + snapshot_header_size, bytes.size() - snapshot_header_size);
  if (readLittle(bytes.data() + 16, 8) != payload.size() || readLittle(bytes.data() + 24, 8) != checksum(payload)) {
    return;
  }
  bytes_ = payload;
  ok_ = true;
}

std::uint64_t SnapshotReader::little(int bytes) {
  if (!ok_ || bytes_.size() - at_ < static_cast<std::size_t>(bytes)) {
    ok_ = false;
    return 0;
  }
  const std::uint64_t v = readLittle(bytes_.data() + at_, bytes);
  at_ += static_cast<std::size_t>(bytes);
  return v;
}

std::string_view SnapshotReader::text() {
  const std::uint64_t n = u64();
  if (!ok_ || n > bytes_.size() - at_) {
    ok_ = false;
    return {};
  }
  const std::string_view t(bytes_.data() + at_, static_cast<std::size_t>(n));
  at_ += static_cast<std::size_t>(n);
  return t;
}

std::uint64_t SnapshotReader::count(std::size_t item_bytes) {
  const std::uint64_t n = u64();
  if (ok_ && n > (bytes_.size() - at_) / (item_bytes != 0 ? item_bytes : 1)) ok_ = false;
  return ok_ ? n : 0;
}

}  // namespace zandle
