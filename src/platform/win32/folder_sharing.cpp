// Who besides this user may change what lies in a folder, read from the owners and access
// lists of the folder and everything below it.
#include "platform/folder_sharing.h"

#include <windows.h>

#include <filesystem>

#include "platform/win32/owner_check.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

FolderSharing EntrySharing(const std::filesystem::path& path) {
  win32::Handle handle(
      ::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  // An entry that cannot be looked at may be anybody's.
  if (!handle.Valid()) return FolderSharing::OthersMayWrite;
  return win32::IsTrustedOwnHandle(handle.Get()) ? FolderSharing::Private
                                                 : FolderSharing::OthersMayWrite;
}

}  // namespace

FolderSharing CheckFolderSharing(const std::string& path, int maxEntries) {
  const std::filesystem::path root(win32::Wide(path));
  std::error_code error;
  if (!std::filesystem::is_directory(root, error)) return FolderSharing::Private;
  FolderSharing result = EntrySharing(root);
  std::filesystem::recursive_directory_iterator it(
      root, std::filesystem::directory_options::skip_permission_denied, error);
  int seen = 0;
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (++seen > maxEntries || result == FolderSharing::OthersMayWrite) break;
    if (EntrySharing(it->path()) == FolderSharing::OthersMayWrite)
      result = FolderSharing::OthersMayWrite;
  }
  return result;
}

std::optional<uint32_t> SoleKeeperOfFolder(const std::string&, int) {
  // Windows has no user numbers; an account's keeping of a folder is to be told by its SID.
  win32::RaiseNotOnWindowsYet("Telling the sole keeper of a folder");
}

uint32_t EffectiveUserId() {
  win32::RaiseNotOnWindowsYet("A numeric user id");
}

}  // namespace zor
