// errno values onto the kinds of file error the program acts on.
#include "platform/file_error_kind.h"

#include <cerrno>

namespace zor {

FileErrorKind FileErrorKindOf(uint32_t osError) {
  switch (static_cast<int>(osError)) {
    case ENOENT:
    case ENOTDIR:
      return FileErrorKind::NotFound;
    case EEXIST:
      return FileErrorKind::Exists;
    case ENOSPC:
    case EDQUOT:
      return FileErrorKind::NoSpace;
    case EROFS:
      return FileErrorKind::ReadOnly;
    case EACCES:
    case EPERM:
      return FileErrorKind::AccessDenied;
    case EISDIR:
      return FileErrorKind::IsFolder;
    case EFBIG:
      return FileErrorKind::TooLarge;
    default:
      return FileErrorKind::Other;
  }
}

uint32_t OsErrorOf(FileErrorKind kind) {
  switch (kind) {
    case FileErrorKind::NotFound:
      return ENOENT;
    case FileErrorKind::Exists:
      return EEXIST;
    case FileErrorKind::NoSpace:
      return ENOSPC;
    case FileErrorKind::ReadOnly:
      return EROFS;
    case FileErrorKind::AccessDenied:
      return EACCES;
    case FileErrorKind::IsFolder:
      return EISDIR;
    case FileErrorKind::TooLarge:
      return EFBIG;
    case FileErrorKind::Other:
      break;
  }
  return EIO;
}

}  // namespace zor
