// Fread, Fwrite, Fbwrite, ListDir, Gcwd and Chcwd: the file system. Names are checked
// before the system sees them; every descriptor is opened close-on-exec and closed before
// the escape returns, whatever the outcome, and a failed escape stores nothing.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/files.hpp"
#include "escapes.hpp"

namespace zandle::vm::escapes {

namespace {

PathBuffer pathOf(std::string_view name) {
  PathBuffer path;
  if (auto err = toPathBuffer(name, path)) fail(*err);
  return path;
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) fail(classifyErrno(errno));
  return fd;
}

// Fwrite and Fbwrite write the same bytes: the language defines no escape sequences, so
// there is nothing for Fwrite to translate.
void writeFile(Machine& m) {
  const std::string* data = argument(m, "ARG1");
  if (data == nullptr) return;
  const std::string* name = argument(m, "ARG2");
  if (name == nullptr) return;
  PathBuffer path = pathOf(*name);
  int fd = openRetrying(path.bytes, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (auto err = writeAll(fd, *data)) {
    closeQuietly(fd);
    fail(*err);
  }
  // Some file systems report a failed write only here; the data would be lost silently.
  // EINTR is not a failure: the descriptor is closed either way.
  if (::close(fd) != 0 && errno != EINTR) fail(classifyErrno(errno));
}

}  // namespace

void fread(Machine& m) {
  const std::string* name = argument(m, "ARG1");
  if (name == nullptr) return;
  std::string content;
  if (auto err = readWholeFile(*name, content)) fail(*err);
  storeResult(m, "fileData", std::move(content));
}

void fwrite(Machine& m) { writeFile(m); }

void fbwrite(Machine& m) { writeFile(m); }

void listDir(Machine& m) {
  const std::string* name = argument(m, "ARG1");
  if (name == nullptr) return;
  PathBuffer path = pathOf(*name);
  int fd = openRetrying(path.bytes, O_RDONLY | O_DIRECTORY);
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int err = errno;
    closeQuietly(fd);
    fail(classifyErrno(err));
  }
  struct Closer {
    DIR* dir;
    ~Closer() { ::closedir(dir); }
  } closer{dir};

  std::string listing;
  for (;;) {
    // readdir tells the end from a failure only by errno.
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) fail(classifyErrno(errno));
      break;
    }
    std::string_view entry_name(entry->d_name);
    if (entry_name == "." || entry_name == "..") continue;
    listing.append(entry_name).push_back('\n');
  }
  storeResult(m, "dirContents", std::move(listing));
}

void gcwd(Machine& m) {
  char buf[path_max + 1];
  if (::getcwd(buf, sizeof buf) == nullptr) {
    switch (errno) {
      case ERANGE:
      case ENAMETOOLONG: fail(Error::NameTooLong);
      case ENOENT: fail(Error::CurrentWorkingDirectoryUnlinked);
      default: fail(Error::Unexpected);
    }
  }
  storeResult(m, "cwd", std::string_view(buf));
}

void chcwd(Machine& m) {
  const std::string* name = argument(m, "ARG1");
  if (name == nullptr) return;
  PathBuffer path = pathOf(*name);
  if (::chdir(path.bytes) != 0) {
    // A failing device under the directory is the file system's fault, not a plain I/O
    // error of this call.
    if (errno == EIO) fail(Error::FileSystem);
    fail(classifyErrno(errno));
  }
}

}  // namespace zandle::vm::escapes
