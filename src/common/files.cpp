#include "files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zandle {

std::optional<SysError> checkPathName(std::string_view name) {
  if (name.size() > path_max) return SysError::NameTooLong;
  if (name.find('\0') != std::string_view::npos) return SysError::BadPathName;
  return std::nullopt;
}

std::optional<SysError> toPathBuffer(std::string_view name, PathBuffer& out) {
  if (auto err = checkPathName(name)) return err;
  std::memcpy(out.bytes, name.data(), name.size());
  out.bytes[name.size()] = '\0';
  return std::nullopt;
}

namespace {

// Reads into buf[0..len), retrying interruptions; returns bytes read, 0 at end, -1 on error.
ssize_t readSome(int fd, char* buf, std::size_t len) {
  for (;;) {
    ssize_t n = ::read(fd, buf, len);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace

std::optional<SysError> readWholeFile(std::string_view name, Buffer& out, std::size_t limit) {
  PathBuffer path;
  if (auto err = toPathBuffer(name, path)) return err;
  int fd;
  do {
    fd = ::open(path.bytes, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return classifyErrno(errno);

  struct Closer {
    int fd;
    ~Closer() { closeQuietly(fd); }
  } closer{fd};

  struct stat st {};
  std::size_t cap = 1024;
  if (::fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return SysError::IsDir;
    if (S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) > limit)
      return SysError::StreamTooLong;
    // One byte more than the reported size, so that meeting the end needs no larger buffer.
    if (st.st_size > 0) cap = static_cast<std::size_t>(st.st_size) + 1;
  }
  if (cap > limit) cap = limit;

  out.clear();
  if (!out.resize(cap)) return SysError::OutOfMemory;
  std::size_t len = 0;
  for (;;) {
    if (len == cap) {
      if (cap >= limit) {
        // Full at the limit: one more byte means the file is too long.
        char probe;
        ssize_t n = readSome(fd, &probe, 1);
        if (n < 0) return classifyErrno(errno);
        if (n > 0) return SysError::StreamTooLong;
        break;
      }
      std::size_t grown = cap + cap / 2 + 64;
      cap = grown > limit ? limit : grown;
      if (!out.resize(cap)) return SysError::OutOfMemory;
    }
    ssize_t n = readSome(fd, out.data() + len, cap - len);
    if (n < 0) return classifyErrno(errno);
    if (n == 0) break;
    len += static_cast<std::size_t>(n);
  }
  out.shrink(len);
  return std::nullopt;
}

int writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

std::optional<SysError> currentDirectory(PathBuffer& out) { return currentDirectory(out.bytes, sizeof out.bytes); }

std::optional<SysError> currentDirectory(char* out, std::size_t size) {
  if (::getcwd(out, size) != nullptr) return std::nullopt;
  switch (errno) {
    case ERANGE:
    case ENAMETOOLONG: return SysError::NameTooLong;
    case ENOENT: return SysError::CurrentWorkingDirectoryUnlinked;
    default: return SysError::Unexpected;
  }
}

std::optional<SysError> listDirectory(const char* path, Buffer& names, Vec<std::size_t>& starts) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return classifyErrno(errno);
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    closeQuietly(fd);
    return classifyErrno(err);
  }
  struct Closer {
    DIR* dir;
    ~Closer() { ::closedir(dir); }
  } closer{dir};
  for (;;) {
    // readdir tells the end from a failure only by errno.
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) return errno != 0 ? std::optional(classifyErrno(errno)) : std::nullopt;
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (!starts.push(names.size()) || !names.append(name) || !names.push('\0')) return SysError::OutOfMemory;
  }
}

}  // namespace zandle
