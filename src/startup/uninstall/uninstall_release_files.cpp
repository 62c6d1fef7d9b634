#include "startup/uninstall/uninstall_release_files.h"

#include "platform/contained_files.h"
#include "platform/file_system.h"
#include "startup/uninstall/uninstall_client_files.h"
#include "update/release_hash_cache.h"

namespace zor {
namespace {

constexpr std::string_view kPartialSuffix = "_tmp";
constexpr std::string_view kHiddenEntry =
    "[Desktop Entry]\nType=Application\nName=ZOR Client\nHidden=true\n";

std::string WithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

}  // namespace

std::set<std::string> LastReleaseFiles(const std::string& clientFolder) {
  const std::string folder = WithSlash(clientFolder);
  std::set<std::string> names;
  for (const std::string& path :
       TReleaseHashCache::Load(folder + std::string(kReleaseHashesFileName)).Paths()) {
    if (!path.starts_with(folder)) continue;
    const std::string relative = path.substr(folder.size());
    if (IsContainedRelativeName(relative)) names.insert(relative);
  }
  return names;
}

bool IsPartialDownloadOf(const std::string& relativeName, const std::set<std::string>& release,
                         const std::string& clientFolder) {
  if (!relativeName.ends_with(kPartialSuffix)) return false;
  const std::string target = relativeName.substr(0, relativeName.size() - kPartialSuffix.size());
  return release.contains(target) || IsClientFile(clientFolder, target);
}

bool HidePackagedMenuEntry(const std::vector<std::string>& systemFolders,
                           const std::string& userFolder) {
  FileSystem& fs = CurrentFileSystem();
  bool packaged = false;
  for (const std::string& folder : systemFolders)
    if (fs.Stat(WithSlash(folder) + kPackagedMenuEntry, FollowLinks::Yes)) packaged = true;
  if (!packaged || userFolder.empty()) return false;
  try {
    fs.CreateFolders(userFolder, 0755);
    fs.WriteFileAtomic(WithSlash(userFolder) + kPackagedMenuEntry, kHiddenEntry,
                       {.Permissions = 0644});
    return true;
  } catch (const std::exception&) {
    return false;  // like the other shortcuts: an entry that cannot be changed stays
  }
}

}  // namespace zor
