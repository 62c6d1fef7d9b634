// Folder queries and creation, and the temporary folder. Folders that the program keeps
// "with a trailing backslash" carry a trailing '/' here (path_delimiter.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/path_delimiter.h"

namespace zor {

// The path exists and is a directory (links followed).
bool DirectoryExists(const std::string& path);
// The path exists and is not a directory.
bool FileExists(const std::string& path);

// This process may create and remove files in the folder (its permissions allow it).
bool CanCreateFilesIn(const std::string& folder);

// Creates the directory and every missing parent. An empty path raises `Exception`
// "Unable to create directory"; otherwise answers whether the directory exists afterwards.
bool ForceDirectoriesEx(const std::string& path);

// `path` absolute, with "." and ".." and the links of its existing leading part resolved
// (the rest kept as written); `path` itself when that fails.
std::string WeaklyCanonicalPath(const std::string& path);

// The process's current folder, absolute; empty when it cannot be told.
std::string CurrentFolder();

// The system's temporary folder ($TMPDIR, else /tmp) with a trailing '/'.
std::string GetTempDir();

}  // namespace zor
