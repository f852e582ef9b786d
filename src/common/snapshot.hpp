// The frame of a machine's snapshot, which both interpreters fill with their own state: a
// header that names the format, its version and the kind of machine, the length of what
// follows and its checksum; then fields in a fixed order, integers little-endian whatever the
// host, texts as a length and their bytes. A snapshot is read back as untrusted input: every
// read is checked against what is left, and a reader that ran past the end, or found a field
// it cannot take, makes the whole snapshot invalid.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "vec.hpp"

namespace zandle {

inline constexpr std::string_view snapshot_magic = "ZNDLSNAP";
inline constexpr std::uint32_t snapshot_version = 1;
inline constexpr std::size_t snapshot_header_size = 32;

// How restoring a snapshot went: the bytes were no snapshot a machine of this kind can take,
// or memory ran out.
enum class Restored : std::uint8_t { ok, invalid, out_of_memory };

// Writes a snapshot into a buffer of the machine's; any failure to grow it is kept and told
// at the end (finish), so that writers need not check every field.
class SnapshotWriter {
 public:
  // Begins a snapshot of a machine of `kind` (ZANDLE_VM, ZANDLE_ZNDVM).
  SnapshotWriter(Buffer& out, std::uint32_t kind);

  void u8(std::uint8_t v) { ok_ = ok_ && out_.push(static_cast<char>(v)); }
  void u32(std::uint32_t v) { little(v, 4); }
  void u64(std::uint64_t v) { little(v, 8); }
  void text(std::string_view t) {
    u64(t.size());
    ok_ = ok_ && out_.append(t);
  }

  // Fills in the header's length and checksum; false when memory ran out on the way.
  [[nodiscard]] bool finish();

 private:
  void little(std::uint64_t v, int bytes);

  Buffer& out_;
  bool ok_;
};

// The checksum a snapshot's header holds for the bytes after it (the payload).
std::uint64_t snapshotChecksum(std::string_view payload);

// Reads a snapshot's fields. Every read gives a value; once one did not fit, the reader is
// spoilt and every later read gives zero, so a caller checks ok() where it must trust what it
// read (a count before it allocates, say) and at the end.
class SnapshotReader {
 public:
  // Checks the header (format, version, kind, length, checksum) of `bytes`; ok() tells
  // whether they are a snapshot of a machine of `kind`.
  SnapshotReader(std::string_view bytes, std::uint32_t kind);

  // Fields are read by the thousand in a restore: the reads are inline, and out of line
  // only when a reader runs past the end.
  [[gnu::always_inline]] std::uint8_t u8() { return static_cast<std::uint8_t>(little<1>()); }
  [[gnu::always_inline]] std::uint32_t u32() { return static_cast<std::uint32_t>(little<4>()); }
  [[gnu::always_inline]] std::uint64_t u64() { return little<8>(); }
  [[gnu::always_inline]] std::string_view text() {
    const std::uint64_t n = u64();
    if (!ok_ || n > bytes_.size() - at_) {
      ok_ = false;
      return {};
    }
    const std::string_view t(bytes_.data() + at_, static_cast<std::size_t>(n));
    at_ += static_cast<std::size_t>(n);
    return t;
  }
  // A count of items each at least `item_bytes` long: more than what is left is a spoilt
  // reader, so that no caller allocates for a count the bytes cannot hold.
  std::uint64_t count(std::size_t item_bytes = 1);
  // A value that must be below `limit`.
  std::uint64_t below(std::uint64_t limit) {
    const std::uint64_t v = u64();
    if (v >= limit) ok_ = false;
    return v;
  }

  void spoil() { ok_ = false; }
  bool ok() const { return ok_; }
  // Every byte was read, and nothing spoilt the reader.
  bool done() const { return ok_ && at_ == bytes_.size(); }

 private:
  template <int Bytes>
  [[gnu::always_inline]] std::uint64_t little() {
    if (!ok_ || bytes_.size() - at_ < Bytes) return pastTheEnd();
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&v, bytes_.data() + at_, Bytes);
    } else {
      for (int i = Bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes_[at_ + i]);
    }
    at_ += Bytes;
    return v;
  }
  std::uint64_t pastTheEnd() {
    ok_ = false;
    return 0;
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
  bool ok_ = false;
};

}  // namespace zandle
