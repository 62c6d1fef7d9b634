// Who besides this user may change what lies in a folder. The launcher runs programs from its
// client folder, so a folder another user may write into (group- or world-writable, sticky or
// not, or owned by another user who is not root), or a file in it another user may write,
// would let that user choose what the launcher's user runs.
#pragma once

#include <string>

namespace zor {

enum class FolderSharing {
  Private,         // this user's, nobody else may write into it or its files
  RootOnly,        // root's, only root may write: others run it read-only
  OthersMayWrite,  // another user may change what lies there
};

// The folder `path` and everything below it (links are not followed; at most `maxEntries`
// entries are looked at, the rest is taken as private).
FolderSharing CheckFolderSharing(const std::string& path, int maxEntries = 100000);

}  // namespace zor
