// std.fs: the working directory, directory listings, and whole files read, replaced and
// appended to. Names are checked before the system sees them (NameTooLong, BadPathName for a
// zero byte); every descriptor is opened close-on-exec and closed before the escape returns,
// whatever the outcome. A file is never left half written: a replacement is written beside
// it (or unnamed, where the system allows) and renamed over it, and an append that fails is
// cut back to where it started.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "common/decimal.hpp"
#include "common/files.hpp"
#include "library.hpp"
#include "zndvm/machine.hpp"

namespace zandle::zndvm::escapes {

namespace {

bool pathArgument(Machine& m, unsigned index, PathBuffer& path) {
  char buf[value_text_capacity];
  std::string_view name;
  if (!textArgument(m, index, buf, name)) return false;
  if (auto err = toPathBuffer(name, path)) return m.fail(*err);
  return true;
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Closes a descriptor that was written to: some file systems report a failed write only
// here. An interruption is no failure, the descriptor is closed either way.
int closeWritten(int fd) { return ::close(fd) != 0 && errno != EINTR ? errno : 0; }

Error writeFailure(int err) { return fromSys(classifyErrno(err)); }

// Writes `data` into a file that is not a regular one (a device, a pipe): there is nothing
// to replace, so it goes straight in.
bool writeInPlace(Machine& m, const char* path, std::string_view data, int flags) {
  const int fd = openRetrying(path, O_WRONLY | flags, 0666);
  if (fd < 0) return m.fail(classifyErrno(errno));
  int err = writeAll(fd, data);
  const int closed = closeWritten(fd);
  if (err == 0) err = closed;
  return err == 0 || m.fail(writeFailure(err));
}

// A fresh name beside `target`: its directory part, then ".zndvm-" and 16 hex digits.
struct TempName {
  char bytes[path_max + 32];
};

std::size_t directoryLength(const char* target) {
  const char* slash = std::strrchr(target, '/');
  return slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
}

void makeTempName(const char* target, TempName& out) {
  const std::size_t dir_len = directoryLength(target);
  std::memcpy(out.bytes, target, dir_len);
  std::memcpy(out.bytes + dir_len, ".zndvm-", 7);
  std::uint64_t r;
  ::arc4random_buf(&r, sizeof r);
  char* p = out.bytes + dir_len + 7;
  for (int i = 0; i < 16; ++i, r >>= 4) *p++ = "0123456789abcdef"[r & 15];
  *p = '\0';
}

// Gives the new file what the replaced one had: its owner and group where the system lets
// this user give them (the group alone when only that is allowed), then its permissions
// (after the owner, since a change of owner may clear the set-id bits). Then the data,
// flushed to the disk. 0 or the errno value of the failure.
int fill(int fd, const struct stat* old, std::string_view data) {
  if (old != nullptr) {
    if (::fchown(fd, old->st_uid, old->st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old->st_gid);
    (void)::fchmod(fd, old->st_mode & 07777);
  }
  int err = writeAll(fd, data);
  if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EINTR) err = errno;
  return err;
}

// A new file with no name in the directory of `target`, where the system offers such files
// (-1 where it does not); the mode goes through the file-creation mask as for any new file.
int openUnnamed(const char* target) {
#ifdef O_TMPFILE
  TempName dir;
  const std::size_t len = directoryLength(target);
  if (len == 0) {
    std::memcpy(dir.bytes, ".", 2);
  } else {
    std::memcpy(dir.bytes, target, len);
    dir.bytes[len] = '\0';
  }
  return openRetrying(dir.bytes, O_WRONLY | O_TMPFILE, 0666);
#else
  (void)target;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// Names an unnamed file. False with errno set when it cannot (EEXIST: the name is taken).
bool linkUnnamed(int fd, const char* name) {
  char self[32] = "/proc/self/fd/";
  char digits[24];
  const std::string_view n = formatU64(static_cast<std::uint64_t>(fd), digits);
  std::memcpy(self + 14, n.data(), n.size());
  self[14 + n.size()] = '\0';
  return ::linkat(AT_FDCWD, self, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
}

// Replaces the regular file `target` (or creates it) with `data`, atomically: whatever
// happens the name holds either the old content or the new. Where the system offers unnamed
// files the data goes into one, which gets a name only once it is complete (the target's own
// name when there is no file to replace, else a fresh name renamed over it), so a run killed
// while writing leaves nothing behind. Elsewhere a named file beside the target is written and
// renamed over it.
bool replaceFile(Machine& m, const char* target, const struct stat* old, std::string_view data) {
  TempName temp;
  int fd = openUnnamed(target);
  if (fd >= 0) {
    int err = fill(fd, old, data);
    bool named = false;
    const char* name = target;
    if (err == 0 && old == nullptr) named = linkUnnamed(fd, target);
    for (int attempt = 0; err == 0 && !named && attempt < 16; ++attempt) {
      if (attempt > 0 && errno != EEXIST) break;
      makeTempName(target, temp);
      name = temp.bytes;
      named = linkUnnamed(fd, temp.bytes);
    }
    if (named) {
      err = closeWritten(fd);
      if (err == 0 && name != target && ::rename(name, target) != 0) err = errno;
      if (err != 0 && name != target) ::unlink(name);
      return err == 0 || m.fail(writeFailure(err));
    }
    closeQuietly(fd);
    if (err != 0) return m.fail(writeFailure(err));
    // Unnamed files that cannot be named (no /proc, say): written again the other way.
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return m.fail(classifyErrno(errno));
  }
  fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    makeTempName(target, temp);
    fd = openRetrying(temp.bytes, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno != EEXIST) return m.fail(classifyErrno(errno));
  }
  if (fd < 0) return m.fail(Error::Unexpected);
  int err = fill(fd, old, data);
  const int closed = closeWritten(fd);
  if (err == 0) err = closed;
  if (err == 0 && ::rename(temp.bytes, target) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.bytes);
    return m.fail(writeFailure(err));
  }
  return true;
}

// Heap sort of names given by their offsets in `base`: n log n for any directory, in a
// fraction of the code of std::sort.
void sortNames(std::size_t* a, std::size_t n, const char* base) {
  const auto less = [base](std::size_t x, std::size_t y) { return std::strcmp(base + x, base + y) < 0; };
  const auto sift = [&](std::size_t root, std::size_t end) {
    for (std::size_t child; (child = 2 * root + 1) < end; root = child) {
      if (child + 1 < end && less(a[child], a[child + 1])) ++child;
      if (!less(a[root], a[child])) return;
      std::swap(a[root], a[child]);
    }
  };
  for (std::size_t i = n / 2; i-- > 0;) sift(i, n);
  for (std::size_t end = n; end-- > 1;) {
    std::swap(a[0], a[end]);
    sift(0, end);
  }
}

}  // namespace

// Any working directory the system can have: up to PATH_MAX bytes with the zero, longer than
// the names a script may pass (which reach a path of any length a step at a time).
bool dirGet(Machine& m) {
  char dir[PATH_MAX];
  if (const auto e = currentDirectory(dir, sizeof dir)) return m.fail(*e);
  return storeText(m, 0, dir);
}

bool dirChange(Machine& m) {
  PathBuffer path;
  if (!pathArgument(m, 0, path)) return false;
  if (::chdir(path.bytes) != 0) {
    // A failing device under the directory is the file system's fault.
    return m.fail(errno == EIO ? Error::FileSystem : fromSys(classifyErrno(errno)));
  }
  return true;
}

// The entries' names in byte order, one a line, without "." and "..": the same listing on
// every system, and one that std.io.print shows as one name a line.
bool dirList(Machine& m) {
  PathBuffer path;
  if (!pathArgument(m, 0, path)) return false;
  Buffer names(m.memory());
  Vec<std::size_t> starts(m.memory());
  if (auto err = listDirectory(path.bytes, names, starts)) return m.fail(*err);
  const char* base = names.data();
  sortNames(starts.data(), starts.size(), base);
  Buffer listing(m.memory());
  if (!listing.reserve(names.size())) return m.fail(Error::OutOfMemory);
  for (std::size_t i = 0; i < starts.size(); ++i) {
    if (i > 0) (void)listing.push('\n');
    (void)listing.append(std::string_view(base + starts[i]));
  }
  return storeText(m, 0, listing.view());
}

bool fileRead(Machine& m) {
  char buf[value_text_capacity];
  std::string_view name;
  if (!textArgument(m, 0, buf, name)) return false;
  Buffer content(m.memory());
  if (auto err = readWholeFile(name, content)) return m.fail(*err);
  return storeText(m, 0, content.view());
}

// Replaces the file's content. A symbolic link is followed, and the file it leads to is
// replaced; a directory is IsDir; a device or a pipe is written in place, there being no
// content to keep. A file that may not be written is AccessDenied, as for a write in place,
// and so is a file in a directory where no new file may be made.
bool fileWrite(Machine& m) {
  char buf[value_text_capacity];
  std::string_view data;
  PathBuffer path;
  if (!textArgument(m, 0, buf, data) || !pathArgument(m, 1, path)) return false;
  if (path.bytes[0] == '\0') return m.fail(Error::FileNotFound);
  const char* target = path.bytes;
  char resolved[PATH_MAX];
  struct stat st {};
  if (::lstat(target, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (::realpath(target, resolved) == nullptr) return m.fail(classifyErrno(errno));
    if (std::strlen(resolved) > path_max) return m.fail(Error::NameTooLong);
    target = resolved;
  }
  if (::stat(target, &st) != 0) {
    if (errno != ENOENT) return m.fail(classifyErrno(errno));
    return replaceFile(m, target, nullptr, data);
  }
  if (S_ISDIR(st.st_mode)) return m.fail(Error::IsDir);
  if (!S_ISREG(st.st_mode)) return writeInPlace(m, target, data, O_TRUNC);
  // The permission check of a write in place, without touching the content.
  const int probe = openRetrying(target, O_WRONLY);
  if (probe < 0) return m.fail(classifyErrno(errno));
  closeQuietly(probe);
  return replaceFile(m, target, &st, data);
}

// Appends to the file, creating it when it does not exist. When the write fails part way
// (a full disk, the file-size limit) the file is cut back to its old length, and a file the
// append created is removed again: a failed append leaves things as they were.
bool fileAppend(Machine& m) {
  char buf[value_text_capacity];
  std::string_view data;
  PathBuffer path;
  if (!textArgument(m, 0, buf, data) || !pathArgument(m, 1, path)) return false;
  bool created = false;
  int fd = openRetrying(path.bytes, O_WRONLY | O_APPEND);
  if (fd < 0 && errno == ENOENT) {
    fd = openRetrying(path.bytes, O_WRONLY | O_APPEND | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
    // Made by someone else in between: appended to like any existing file.
    if (fd < 0 && errno == EEXIST) fd = openRetrying(path.bytes, O_WRONLY | O_APPEND);
  }
  if (fd < 0) return m.fail(classifyErrno(errno));
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  int err = writeAll(fd, data);
  if (err != 0 && regular && !created) (void)::ftruncate(fd, st.st_size);
  const int closed = closeWritten(fd);
  if (err == 0) err = closed;
  if (err != 0 && created) ::unlink(path.bytes);
  return err == 0 || m.fail(writeFailure(err));
}

}  // namespace zandle::zndvm::escapes
