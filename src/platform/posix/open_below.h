// The open below a folder that both the contained-files helpers and the operating system's
// `FileSystem` use: a regular file reached without following any link and without leaving
// the folder.
#pragma once

#include <string>

namespace zor {

// The descriptor (O_RDONLY, close-on-exec, blocking) of the regular file `relativeName`
// ('/'-separated) below `folder`; -1 with errno set when the name is not contained, a part
// of it is a link or missing, or the entry is not a regular file (ENOENT; EISDIR for a
// folder).
int OpenRegularFileBelow(const std::string& folder, const std::string& relativeName);

}  // namespace zor
