// Fread, Fwrite, Fbwrite, ListDir, Gcwd and Chcwd: the file system. Names are checked
// before the system sees them; every descriptor is opened close-on-exec and closed before
// the escape returns, whatever the outcome, and a failed escape stores nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/files.hpp"
#include "escapes.hpp"

namespace zandle::vm::escapes {

namespace {

bool pathOf(Machine& m, std::string_view name, PathBuffer& path) {
  if (auto err = toPathBuffer(name, path)) return m.fail(*err);
  return true;
}

// A descriptor, or -1 with the failure recorded.
int openRetrying(Machine& m, const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) m.fail(classifyErrno(errno));
  return fd;
}

// Fwrite and Fbwrite write the same bytes: the language defines no escape sequences, so
// there is nothing for Fwrite to translate.
bool writeFile(Machine& m) {
  std::string_view data, name;
  if (!argument(m, "ARG1", data) || !argument(m, "ARG2", name)) return true;
  PathBuffer path;
  if (!pathOf(m, name, path)) return false;
  const int fd = openRetrying(m, path.bytes, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return false;
  if (int err = writeAll(fd, data)) {
    closeQuietly(fd);
    return m.fail(classifyErrno(err));
  }
  // Some file systems report a failed write only here; the data would be lost silently.
  // EINTR is not a failure: the descriptor is closed either way.
  if (::close(fd) != 0 && errno != EINTR) return m.fail(classifyErrno(errno));
  return true;
}

}  // namespace

bool fread(Machine& m) {
  std::string_view name;
  if (!argument(m, "ARG1", name)) return true;
  Buffer content(m.memory());
  if (auto err = readWholeFile(name, content)) return m.fail(*err);
  return storeResult(m, "fileData", content);
}

bool fwrite(Machine& m) { return writeFile(m); }

bool fbwrite(Machine& m) { return writeFile(m); }

bool listDir(Machine& m) {
  std::string_view name;
  if (!argument(m, "ARG1", name)) return true;
  PathBuffer path;
  if (!pathOf(m, name, path)) return false;
  Buffer names(m.memory());
  Vec<std::size_t> starts(m.memory());
  if (auto err = listDirectory(path.bytes, names, starts)) return m.fail(*err);
  // In the system's order, each name followed by a line end.
  Buffer listing(m.memory());
  if (!listing.reserve(names.size())) return m.fail(Error::OutOfMemory);
  for (const std::size_t start : starts) {
    (void)listing.append(std::string_view(names.data() + start));
    (void)listing.push('\n');
  }
  return storeResult(m, "dirContents", listing);
}

bool gcwd(Machine& m) {
  PathBuffer dir;
  if (const auto e = currentDirectory(dir)) return m.fail(*e);
  return storeResult(m, "cwd", std::string_view(dir.bytes));
}

bool chcwd(Machine& m) {
  std::string_view name;
  if (!argument(m, "ARG1", name)) return true;
  PathBuffer path;
  if (!pathOf(m, name, path)) return false;
  if (::chdir(path.bytes) != 0) {
    // A failing device under the directory is the file system's fault, not a plain I/O
    // error of this call.
    if (errno == EIO) return m.fail(Error::FileSystem);
    return m.fail(classifyErrno(errno));
  }
  return true;
}

}  // namespace zandle::vm::escapes
