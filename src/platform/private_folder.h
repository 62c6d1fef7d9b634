// Folders that only this process's user may change: a cache that the server trusts or the
// launcher's own files must not be in a folder that another user made first or can write
// into. New files in them are made with `OpenMode::CreateNew` (file_system.h).
#pragma once

#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace zor {

// A folder that should be private is not: another owner, a link, or open to other users'
// writes. Nothing is written into it.
class EPrivateFolderError : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr std::string_view kFolderOfOtherUserText =
    "The folder %s belongs to another user (uid %d), not to this one (uid %d)";
inline constexpr std::string_view kFolderWritableByOthersText =
    "The folder %s may be changed by other users (mode %s)";
inline constexpr std::string_view kFolderNotAFolderText = "%s is not a folder";

inline constexpr std::string_view kFolderNotPrivateText =
    "The folder %s is not private to this user (owner %d, mode %s); the launcher keeps its own "
    "files only in a "
    "folder that nobody else can enter. Remove it or give it to this user with mode 0700.";

// How closed a private folder must be. The launcher's own folders hold partial downloads and
// resume records that others must not even see (`OwnerOnly`: anything else is refused); a
// server's cache only must not be changed by others (`OthersMayRead`: narrowed to 0700).
enum class TFolderPrivacy { OwnerOnly, OthersMayRead };

// Makes `path` with its missing parents (the last one with mode 0700) and checks it: a real
// folder, not a link to one, owned by the effective user, and writable by nobody else. With
// `OthersMayRead` a folder of ours that others may only read or enter is narrowed to 0700;
// with `OwnerOnly` it is refused. Raises `EPrivateFolderError` (`kFolderNotPrivateText` for
// `OwnerOnly`, the more specific texts above otherwise), or `EWin32ErrorEx` when the folder
// cannot be made or read.
void EnsurePrivateFolder(const std::string& path, TFolderPrivacy privacy);

}  // namespace zor
