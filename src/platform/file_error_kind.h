// What went wrong in a file-system call, in the terms the code above the platform acts on:
// a missing file, a name already taken, a full disk or quota, a read-only file system, a
// refused access, a folder where a file was expected, a file over a size limit. The
// platform's body (posix/file_error_kind.cpp) maps its own error numbers onto these, so no
// caller compares the operating system's numbers, some of which exist on one system only.
#pragma once

#include <cstdint>

namespace zor {

enum class FileErrorKind {
  NotFound,      // the file, or a folder on its path, does not exist
  Exists,        // a new file or folder was asked for and the name is taken
  NoSpace,       // the disk or the user's quota is full
  ReadOnly,      // the file system cannot be written
  AccessDenied,  // the permissions refuse it
  IsFolder,      // a folder where a file was expected
  TooLarge,      // a file over the limit its reader set (or the file system's)
  Other,
};

// The kind of the operating system's error number `osError`.
FileErrorKind FileErrorKindOf(uint32_t osError);
// The operating system's error number that stands for `kind`, for a failure the program
// finds itself (a file over a limit, a name that is taken, a file that ended early).
uint32_t OsErrorOf(FileErrorKind kind);

}  // namespace zor
