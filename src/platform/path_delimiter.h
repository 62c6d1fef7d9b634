// Paths as text: the one folder separator of this platform and the helpers that put it at
// the end of a folder or take the folder part of a path. Folders that the program keeps
// "with a trailing backslash" carry a trailing '/' here.
#pragma once

#include <string>
#include <string_view>

namespace zor {

inline constexpr char kPathDelimiter = '/';

// `path` with one `kPathDelimiter` at the end (an empty path stays empty).
std::string IncludeTrailingPathDelimiter(std::string_view path);
// The folder part of `path` up to and with its last `kPathDelimiter`; empty when there is none.
std::string FolderWithDelimiter(std::string_view path);

}  // namespace zor
