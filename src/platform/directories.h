// Folder queries and creation, and the temporary folder. Folders that the program keeps
// "with a trailing backslash" carry a trailing '/' here: paths on this platform use '/'.
#pragma once

#include <string>
#include <string_view>

namespace zor {

inline constexpr char kPathDelimiter = '/';

// `path` with one `kPathDelimiter` at the end (an empty path stays empty).
std::string IncludeTrailingPathDelimiter(std::string_view path);
// The folder part of `path` up to and with its last `kPathDelimiter`; empty when there is none.
std::string FolderWithDelimiter(std::string_view path);

// The path exists and is a directory (links followed).
bool DirectoryExists(const std::string& path);
// The path exists and is not a directory.
bool FileExists(const std::string& path);

// Creates the directory and every missing parent. An empty path raises `Exception`
// "Unable to create directory"; otherwise answers whether the directory exists afterwards.
bool ForceDirectoriesEx(const std::string& path);

// The system's temporary folder ($TMPDIR, else /tmp) with a trailing '/'.
std::string GetTempDir();

}  // namespace zor
