// The file routines of the launcher's self-replacement: a copy that keeps the source's
// last-write time and never leaves a half-written destination, and a directory creation
// that makes every missing parent.
#pragma once

#include <string>
#include <string_view>

namespace zor {

inline constexpr size_t kCopyBlockSize = 8192;
inline constexpr std::string_view kReadSourceError = "读取来源档案 %s 时发生错误!";
inline constexpr std::string_view kWriteDestinationError = "写入目的档案 %s 时发生错误!";
inline constexpr std::string_view kCreatePathError = "无法创建 %s 路径!";

// Copies `source` over `destination`. A missing destination gets its folder created; an
// existing one is made writable first and must not be busy (a file that cannot be opened for
// writing in place, such as the program file of a running process, is busy). The bytes go
// to a temporary file beside the destination, which gets the source's permissions and
// last-write time, is synced and then renamed over the destination (an atomic, durable
// replacement of the file-system layer), so the destination is always either the old file
// or the whole new one, also after a power cut. On a failure before the rename no temporary
// stays. Raises `EWin32ErrorEx` with the read message (source) or the write message
// (destination) and the system error.
void CopyFileKeepTime(const std::string& source, const std::string& destination);

// Creates `path` and every missing parent, from the top down. A level that cannot be created
// raises `EWin32ErrorEx` with the path message filled with that level.
void ForceDirectory(const std::string& path);

}  // namespace zor
