#include "intern.hpp"

#include <cstring>

#include "bytes.hpp"

namespace zandle {

namespace {

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  h ^= h >> 32;
  return h;
}

}  // namespace

// Eight bytes at a time; names are short, so the tail matters as much as the loop.
std::uint64_t hashName(std::string_view s) {
  std::uint64_t h = 0x9e3779b97f4a7c15ull ^ s.size();
  const char* p = s.data();
  std::size_t n = s.size();
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = mix(h ^ w) * 0xbf58476d1ce4e5b9ull;
    p += 8;
    n -= 8;
  }
  if (n != 0) {
    // The last 1 to 7 bytes in two loads that may overlap (or three single bytes), not a
    // copy of a variable length, which costs a call.
    std::uint64_t w;
    if (n >= 4) {
      std::uint32_t lo, hi;
      std::memcpy(&lo, p, 4);
      std::memcpy(&hi, p + n - 4, 4);
      w = lo | static_cast<std::uint64_t>(hi) << 32;
    } else {
      w = static_cast<unsigned char>(p[0]) | static_cast<unsigned>(static_cast<unsigned char>(p[n / 2])) << 8 |
          static_cast<unsigned>(static_cast<unsigned char>(p[n - 1])) << 16;
    }
    h = mix(h ^ w) * 0x94d049bb133111ebull;
  }
  return mix(h);
}

NameIndex::~NameIndex() {
  for (char* chunk : chunks_) memory().release(chunk, intern_chunk * stride_);
}

std::size_t NameIndex::probe(std::string_view name, std::uint64_t hash) const {
  const std::size_t mask = index_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const NameId id = index_[i];
    if (id == 0) return i;
    const Entry& e = entry(id - 1);
    if (e.hash == hash && sameBytes(e.name, name)) return i;
  }
}

bool NameIndex::rehash(std::size_t size) {
  Vec<NameId> index(memory());
  if (!index.resize(size)) return false;
  const std::size_t mask = size - 1;
  for (std::size_t id = 0; id < count_; ++id) {
    std::size_t i = entry(static_cast<NameId>(id)).hash & mask;
    while (index[i] != 0) i = (i + 1) & mask;
    index[i] = static_cast<NameId>(id + 1);
  }
  index_.swap(index);
  return true;
}

bool NameIndex::intern(std::string_view name, NameId& id, bool& added) {
  added = false;
  const std::uint64_t hash = hashName(name);
  if (index_.empty() && !rehash(16)) return false;
  std::size_t i = probe(name, hash);
  if (index_[i] != 0) {
    id = index_[i] - 1;
    return true;
  }
  if (count_ >= no_name - 1) return false;
  // Everything that can fail comes before the entry is made.
  if ((count_ + 1) * 2 > index_.size()) {
    if (!rehash(index_.size() * 2)) return false;
    i = probe(name, hash);
  }
  if ((count_ >> intern_chunk_bits) == chunks_.size()) {
    void* chunk = memory().allocate(intern_chunk * stride_);
    if (chunk == nullptr) return false;
    if (!chunks_.push(static_cast<char*>(chunk))) {
      memory().release(chunk, intern_chunk * stride_);
      return false;
    }
  }
  std::string_view copy;
  if (!names_.copy(name, copy)) return false;
  id = static_cast<NameId>(count_++);
  new (record(id)) Entry{copy, hash};
  index_[i] = id + 1;
  added = true;
  return true;
}

bool NameIndex::reserve(std::size_t more) {
  if (more > no_name - 1 - count_) return false;
  std::size_t size = index_.empty() ? 16 : index_.size();
  while ((count_ + more) * 2 > size) size *= 2;
  return size == index_.size() || rehash(size);
}

NameId NameIndex::find(std::string_view name) const {
  if (index_.empty()) return no_name;
  const NameId id = index_[probe(name, hashName(name))];
  return id == 0 ? no_name : id - 1;
}

}  // namespace zandle
