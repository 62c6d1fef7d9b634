// What the POSIX bodies of the file layer share about open descriptors: the identity of an
// open file (file_identity.cpp) and the contained open of a file below a folder
// (contained_files.cpp), which the file system hands out as positioned files.
#pragma once

#include <optional>
#include <string>

#include "platform/file_identity.h"

namespace zor {

// The identity of the open regular file `descriptor`; nullopt for another kind of file or
// when it cannot be queried.
std::optional<FileIdentity> IdentityOfDescriptor(int descriptor);

// A blocking, close-on-exec descriptor for reading the regular file `relativeName` below
// `folder`, opened as `OpenFileBelowForReading` does (never through a link, never leaving
// the folder); -1 when there is no such regular file.
int OpenRegularFileBelow(const std::string& folder, const std::string& relativeName);

}  // namespace zor
