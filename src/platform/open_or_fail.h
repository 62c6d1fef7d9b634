// Opening files through the process's `FileSystem` with the program's own failure
// messages, and reading the small files the programs keep for themselves between runs.
//
//   std::unique_ptr<PositionedFile> file = OpenOrFail(path, OpenMode::ReadOnly);
//
// Access denied raises `EOSError` with `ErrorCode` 5 and the no-read text (for ReadOnly) or
// the no-write text (any other mode); any other failure raises `EWin32ErrorEx`
// "无法开启档案 <path>! (<number>)<system text>" with the system's error number. A folder is
// not a file and fails the second way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace zor {

// The Windows error number an access-denied open reports, kept in `EOSError::ErrorCode`.
inline constexpr uint32_t kErrorAccessDenied = 5;

inline constexpr std::string_view kCannotOpenFile = "无法开启档案 %s!";
inline constexpr std::string_view kCannotOpenFileNoRead =
    "无法开启档案 %s! 因为对该档案或目录并没有读取权限。";
inline constexpr std::string_view kCannotOpenFileNoWrite =
    "无法开启档案 %s! 因为对该档案或目录并没有写入权限。";

// Opens `path` through `CurrentFileSystem()`; failures as at the top of this header.
std::unique_ptr<PositionedFile> OpenOrFail(const std::string& path, OpenMode mode,
                                           const OpenOptions& options = {});

// Every byte of `file` from `offset` to its end as its size reads now (fewer when it
// shrinks meanwhile). Callers check the size against their limit first.
std::string ReadRest(PositionedFile& file, int64_t offset = 0);

// Up to `size` bytes from `offset`, fewer only where the file ends.
size_t ReadUpTo(PositionedFile& file, int64_t offset, void* buffer, size_t size);

// The contents of `path` when it is a regular file of this user that nobody else may write
// (not reached through a link as its last part) of at most `limit` bytes; nullopt for a
// missing, foreign, unreadable or larger file.
std::optional<std::string> ReadTrustedOwnFile(const std::string& path, size_t limit);

}  // namespace zor
