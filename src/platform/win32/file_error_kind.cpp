// Windows error numbers onto the kinds of file error the program acts on.
#include "platform/file_error_kind.h"
#include "platform/win32/error_codes.h"

#include <windows.h>

namespace zor {

FileErrorKind FileErrorKindOf(uint32_t osError) {
  switch (osError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return FileErrorKind::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileErrorKind::Exists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case win32::kErrorDiskQuotaExceeded:
      return FileErrorKind::NoSpace;
    case ERROR_WRITE_PROTECT:
      return FileErrorKind::ReadOnly;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_INVALID_OWNER:
      return FileErrorKind::AccessDenied;
    case win32::kErrorDirectoryNotSupported:
      return FileErrorKind::IsFolder;
    case ERROR_FILE_TOO_LARGE:
      return FileErrorKind::TooLarge;
    default:
      return FileErrorKind::Other;
  }
}

uint32_t OsErrorOf(FileErrorKind kind) {
  switch (kind) {
    case FileErrorKind::NotFound:
      return ERROR_FILE_NOT_FOUND;
    case FileErrorKind::Exists:
      return ERROR_FILE_EXISTS;
    case FileErrorKind::NoSpace:
      return ERROR_DISK_FULL;
    case FileErrorKind::ReadOnly:
      return ERROR_WRITE_PROTECT;
    case FileErrorKind::AccessDenied:
      return ERROR_ACCESS_DENIED;
    case FileErrorKind::IsFolder:
      return win32::kErrorDirectoryNotSupported;
    case FileErrorKind::TooLarge:
      return ERROR_FILE_TOO_LARGE;
    case FileErrorKind::Other:
      break;
  }
  return ERROR_IO_DEVICE;
}

}  // namespace zor
