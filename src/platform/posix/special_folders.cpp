#include "platform/special_folders.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/posix/user_account.h"

namespace zor {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  // The XDG conventions ignore relative paths.
  return value != nullptr && *value == '/' ? std::string(value) : fallback;
}

std::string HomeFolderOfUser() {
  const std::optional<UserAccount> account = CurrentUserAccount();
  return account && account->Home.starts_with('/') ? account->Home : "/";
}

std::string StripTrailingDelimiters(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string GetHomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') return StripTrailingDelimiters(home);
  return StripTrailingDelimiters(HomeFolderOfUser());
}

std::string GetConfigFolder() {
  return StripTrailingDelimiters(EnvOr("XDG_CONFIG_HOME", GetHomeFolder() + "/.config"));
}

std::string GetCacheFolder() {
  return StripTrailingDelimiters(EnvOr("XDG_CACHE_HOME", GetHomeFolder() + "/.cache"));
}

std::optional<std::string> GetCacheFolderOfEnvironment() {
  std::string home = EnvOr("HOME", "");
  if (!home.empty()) home = StripTrailingDelimiters(home);
  const std::string cache =
      EnvOr("XDG_CACHE_HOME", home.empty() ? "" : (home == "/" ? "" : home) + "/.cache");
  if (cache.empty()) return std::nullopt;
  return StripTrailingDelimiters(cache);
}

std::string GetDesktopFolder() {
  const std::string home = GetHomeFolder();
  const std::string config = GetConfigFolder();
  std::ifstream in(config + "/user-dirs.dirs");
  if (in) {
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (auto desktop = DesktopFolderFromUserDirs(content, home)) return *desktop;
  }
  return home + "/Desktop";
}

std::vector<std::string> GetSystemApplicationsFolders() {
  const char* value = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = value != nullptr && *value ? value : "/usr/local/share:/usr/share";
  std::vector<std::string> folders;
  while (!dirs.empty()) {
    const size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty() && dir.front() == '/')
      folders.push_back(StripTrailingDelimiters(std::string(dir)) + "/applications");
    dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
  }
  return folders;
}

std::string GetApplicationsFolder() {
  const std::string home = GetHomeFolder();
  return StripTrailingDelimiters(EnvOr("XDG_DATA_HOME", home + "/.local/share")) + "/applications";
}

}  // namespace zor
