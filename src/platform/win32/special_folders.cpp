// The user's special folders from the shell (SHGetKnownFolderPath): the profile, the roaming
// and local application data, the desktop and the start menu's program folders.
#include "platform/special_folders.h"

#include <shlobj.h>
#include <windows.h>

#include "platform/win32/environment.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string result;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr)
    result = win32::NarrowPath(path);
  ::CoTaskMemFree(path);
  while (result.size() > 3 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

std::string GetHomeFolder() {
  const std::string profile = KnownFolder(FOLDERID_Profile);
  if (!profile.empty()) return profile;
  return win32::EnvironmentValue("USERPROFILE").value_or("C:/");
}

std::string GetConfigFolder() {
  return KnownFolder(FOLDERID_RoamingAppData);
}

std::string GetCacheFolder() {
  return KnownFolder(FOLDERID_LocalAppData);
}

std::optional<std::string> GetCacheFolderOfEnvironment() {
  // %LOCALAPPDATA%, which Windows sets for every profile (a service's too); none when it is
  // missing or not a full path ("X:/..." or a "//server/share/..." name).
  std::string folder = win32::EnvironmentValue("LOCALAPPDATA").value_or("");
  for (char& c : folder)
    if (c == '\\') c = '/';
  const bool drive = folder.size() > 2 &&
                     ((folder[0] | 0x20) >= 'a' && (folder[0] | 0x20) <= 'z') && folder[1] == ':' &&
                     folder[2] == '/';
  const bool absolute = drive || (folder.size() > 2 && folder.starts_with("//"));
  if (!absolute) return std::nullopt;
  while (folder.size() > 3 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string GetDesktopFolder() {
  return KnownFolder(FOLDERID_Desktop);
}

std::string GetApplicationsFolder() {
  return KnownFolder(FOLDERID_Programs);
}

std::vector<std::string> GetSystemApplicationsFolders() {
  std::string common = KnownFolder(FOLDERID_CommonPrograms);
  if (common.empty()) return {};
  return {common};
}

}  // namespace zor
