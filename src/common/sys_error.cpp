#include "sys_error.hpp"

#include <cerrno>

namespace zandle {

SysError classifyErrno(int err) {
  switch (err) {
    case ENOENT: return SysError::FileNotFound;
    case EACCES:
    case EPERM: return SysError::AccessDenied;
    case EISDIR: return SysError::IsDir;
    case ENOTDIR: return SysError::NotDir;
    case ENAMETOOLONG: return SysError::NameTooLong;
    case ELOOP: return SysError::SymLinkLoop;
    case EMFILE: return SysError::ProcessFdQuotaExceeded;
    case ENFILE: return SysError::SystemFdQuotaExceeded;
    case ENOMEM:
    case ENOBUFS:
    case EAGAIN: return SysError::SystemResources;
    case EIO: return SysError::InputOutput;
    case EFBIG:
    case EOVERFLOW: return SysError::FileTooBig;
    case ENOSPC: return SysError::NoSpaceLeft;
    case EDQUOT: return SysError::DiskQuota;
    case EROFS: return SysError::ReadOnlyFileSystem;
    case ETXTBSY: return SysError::FileBusy;
    case EBUSY: return SysError::DeviceBusy;
    case ENODEV:
    case ENXIO: return SysError::NoDevice;
    case EPIPE: return SysError::BrokenPipe;
    default: return SysError::Unexpected;
  }
}

std::string_view sysErrorName(SysError e) {
  static constexpr std::string_view names[] = {
      "ok",
#define ZANDLE_NAME_ITEM(name) #name,
      ZANDLE_SYS_ERRORS(ZANDLE_NAME_ITEM)
#undef ZANDLE_NAME_ITEM
  };
  return names[static_cast<std::size_t>(e)];
}

}  // namespace zandle
