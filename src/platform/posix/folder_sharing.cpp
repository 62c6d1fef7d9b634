#include "platform/folder_sharing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace zor {

namespace {

// What one entry allows: nothing to others, root only, or another user's writes.
FolderSharing EntrySharing(const struct stat& info) {
  const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  // A link's own mode means nothing; what it points to is looked at where it lies.
  if (S_ISLNK(info.st_mode)) return FolderSharing::Private;
  if (othersWrite) return FolderSharing::OthersMayWrite;
  if (info.st_uid == geteuid()) return FolderSharing::Private;
  if (info.st_uid == 0) return FolderSharing::RootOnly;
  return FolderSharing::OthersMayWrite;
}

FolderSharing Worse(FolderSharing a, FolderSharing b) {
  return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

}  // namespace

FolderSharing CheckFolderSharing(const std::string& path, int maxEntries) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return FolderSharing::Private;
  FolderSharing result = EntrySharing(info);
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(
      path, std::filesystem::directory_options::skip_permission_denied, error);
  int seen = 0;
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (++seen > maxEntries || result == FolderSharing::OthersMayWrite) break;
    if (lstat(it->path().c_str(), &info) != 0) continue;
    result = Worse(result, EntrySharing(info));
  }
  return result;
}

std::optional<uint32_t> SoleKeeperOfFolder(const std::string& path, int maxEntries) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  const uid_t owner = info.st_uid;
  const auto kept = [owner](const struct stat& entry) {
    if (S_ISLNK(entry.st_mode)) return entry.st_uid == owner || entry.st_uid == 0;
    return (entry.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           (entry.st_uid == owner || entry.st_uid == 0);
  };
  if (!kept(info)) return std::nullopt;
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(path, error);
  int seen = 0;
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    // A folder too large to look at whole, or one that cannot be read, is not vouched for.
    if (++seen > maxEntries) return std::nullopt;
    if (lstat(it->path().c_str(), &info) != 0 || !kept(info)) return std::nullopt;
  }
  if (error) return std::nullopt;
  return static_cast<uint32_t>(owner);
}

uint32_t EffectiveUserId() {
  return static_cast<uint32_t>(geteuid());
}

}  // namespace zor
