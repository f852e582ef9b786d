// Names for failures of the operating system (memory included), shared by both interpreters
// so that a failing open, read, chdir, fork or allocation is reported under the same name
// everywhere. Each program's own error enum starts with `ok` and this list, in this order, so
// a SysError converts by value.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#define ZANDLE_SYS_ERRORS(X)                                                                       \
  X(FileNotFound)                                                                                  \
  X(AccessDenied)                                                                                  \
  X(IsDir)                                                                                         \
  X(NotDir)                                                                                        \
  X(NameTooLong)                                                                                   \
  X(BadPathName)                                                                                   \
  X(SymLinkLoop)                                                                                   \
  X(ProcessFdQuotaExceeded)                                                                        \
  X(SystemFdQuotaExceeded)                                                                         \
  X(SystemResources)                                                                               \
  X(InputOutput)                                                                                   \
  X(FileSystem)                                                                                    \
  X(FileTooBig)                                                                                    \
  X(NoSpaceLeft)                                                                                   \
  X(DiskQuota)                                                                                     \
  X(ReadOnlyFileSystem)                                                                            \
  X(FileBusy)                                                                                      \
  X(DeviceBusy)                                                                                    \
  X(NoDevice)                                                                                      \
  X(BrokenPipe)                                                                                    \
  X(StreamTooLong)                                                                                 \
  X(CurrentWorkingDirectoryUnlinked)                                                               \
  X(Unexpected)                                                                                    \
  X(OutOfMemory)

namespace zandle {

enum class SysError : std::uint8_t {
  ok,
#define ZANDLE_ENUM_ITEM(name) name,
  ZANDLE_SYS_ERRORS(ZANDLE_ENUM_ITEM)
#undef ZANDLE_ENUM_ITEM
};

// The usual classification of an errno value; values without a name of their own are
// Unexpected.
SysError classifyErrno(int err);

// The printed name.
std::string_view sysErrorName(SysError e);

// An interpreter's closed set of failures, in its own namespace: the enum Error (ok, the
// system's names in their order, then the interpreter's own, listed by OWN), the conversion
// from a SysError (by value, the order being the same), and errorName, the printed name.
#define ZANDLE_ERROR_ENUM_ITEM(name) name,
#define ZANDLE_ERROR_NAME_ITEM(name) #name,
#define ZANDLE_DEFINE_ERRORS(OWN)                                                                \
  enum class Error : std::uint8_t {                                                              \
    ok,                                                                                          \
    ZANDLE_SYS_ERRORS(ZANDLE_ERROR_ENUM_ITEM) OWN(ZANDLE_ERROR_ENUM_ITEM)                        \
  };                                                                                             \
  static_assert(static_cast<int>(Error::OutOfMemory) == static_cast<int>(SysError::OutOfMemory)); \
  inline Error fromSys(SysError e) { return static_cast<Error>(e); }                             \
  /* The printed name; "ok" for no failure. */                                                   \
  inline std::string_view errorName(Error e) {                                                   \
    static constexpr std::string_view names[] = {                                                \
        "ok", ZANDLE_SYS_ERRORS(ZANDLE_ERROR_NAME_ITEM) OWN(ZANDLE_ERROR_NAME_ITEM)};            \
    return names[static_cast<std::size_t>(e)];                                                   \
  }

// The longest file or directory name a script may pass: names go to the system in a
// 1024-byte buffer that also holds the terminating zero.
inline constexpr std::size_t path_max = 1023;

}  // namespace zandle
