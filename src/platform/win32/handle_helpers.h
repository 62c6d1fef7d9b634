// What the Windows bodies of the file layer share about open handles: the identity of an open
// file (file_identity.cpp) and the contained open of a file below a folder
// (contained_files.cpp), which the file system hands out as positioned files.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "platform/file_identity.h"
#include "platform/win32/wide_text.h"

namespace zor::win32 {

// The identity of the open regular file `handle` (opened with FILE_READ_ATTRIBUTES or more);
// nullopt for a folder or when it cannot be queried.
std::optional<FileIdentity> IdentityOfHandle(HANDLE handle);

// The handle (GENERIC_READ, every sharing flag) of the regular file `relativeName`
// ('/'-separated) below `folder`, reached without going through a reparse point and without
// leaving the folder; an invalid handle with the Windows error in `error` otherwise:
// ERROR_INVALID_NAME for a name that is not contained, kErrorStoppedOnSymlink for a link or
// junction on the way or at the end, kErrorDirectoryNotSupported for a folder, the open's
// own error for a missing part.
Handle OpenRegularFileBelow(const std::string& folder, const std::string& relativeName,
                            DWORD& error);

}  // namespace zor::win32
