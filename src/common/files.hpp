// Whole-file reading with a size limit, and the checks every file name passes before it
// reaches the system. Both interpreters read scripts this way; the vm escapes share it.
#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

#include "sys_error.hpp"
#include "vec.hpp"

namespace zandle {

// The largest file either interpreter reads whole: 512 MiB.
inline constexpr std::size_t file_size_max = std::size_t{1} << 29;

// A name the system can take: at most path_max bytes and no zero byte (a name must never
// be cut short silently). Returns the failure, or nothing when the name is usable.
std::optional<SysError> checkPathName(std::string_view name);

// Copies a checked name into a zero-terminated buffer of path_max + 1 bytes.
struct PathBuffer {
  char bytes[path_max + 1];
};
std::optional<SysError> toPathBuffer(std::string_view name, PathBuffer& out);

// Reads the whole file `name` (relative to the working directory) into `out`. Fails with
// StreamTooLong when it holds more than `limit` bytes, and with OutOfMemory when `out`
// cannot grow; the descriptor is always closed.
std::optional<SysError> readWholeFile(std::string_view name, Buffer& out,
                                      std::size_t limit = file_size_max);

// Writes all of `data` to `fd`, retrying partial and interrupted writes; 0 or the errno
// value of the failure.
int writeAll(int fd, std::string_view data);

// The working directory into `out`: NameTooLong when it is longer than path_max,
// CurrentWorkingDirectoryUnlinked when it has been removed.
std::optional<SysError> currentDirectory(PathBuffer& out);
// The same into `size` bytes at `out`, the terminating zero included.
std::optional<SysError> currentDirectory(char* out, std::size_t size);

// The names of the entries of the directory `path`, but "." and "..", in the order the
// system gives them: each goes into `names` followed by a zero byte, its offset into
// `starts`. The directory is always closed; OutOfMemory when the arrays cannot grow.
std::optional<SysError> listDirectory(const char* path, Buffer& names, Vec<std::size_t>& starts);

// Closes a descriptor, ignoring the outcome (the data is already written or abandoned).
void closeQuietly(int fd);

}  // namespace zandle
