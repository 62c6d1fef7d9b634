// Who besides this user may change what lies in a folder. The launcher runs programs from its
// client folder, so a folder another user may write into (group- or world-writable, sticky or
// not, or owned by another user who is not root), or a file in it another user may write,
// would let that user choose what the launcher's user runs.
#pragma once

#include <cstdint>
#include <optional>
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

// The owner of the folder `path` when that owner and root are the only ones who may write it
// or anything below it (no entry group- or world-writable, every entry the owner's or root's;
// links are not followed); nothing otherwise. A folder a dedicated account keeps for everyone.
std::optional<uint32_t> SoleKeeperOfFolder(const std::string& path, int maxEntries = 100000);

// This process's effective user id.
uint32_t EffectiveUserId();

}  // namespace zor
