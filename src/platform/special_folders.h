// The user's special folders: home, the desktop and the applications menu folder, where
// shortcuts (".desktop" files) go. Desktop and applications follow the XDG base-directory
// and user-directory conventions. Paths come without a trailing '/'.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// $HOME, else the home folder of the password database.
std::string GetHomeFolder();
// ${XDG_CONFIG_HOME:-~/.config}: the user's settings.
std::string GetConfigFolder();
// ${XDG_CACHE_HOME:-~/.cache}: what the user's programs may rebuild.
std::string GetCacheFolder();
// The same from the environment alone: ${XDG_CACHE_HOME:-$HOME/.cache}, none when neither
// is set to an absolute path (a service started without a home, which has a folder of its
// own instead of the password database's home).
std::optional<std::string> GetCacheFolderOfEnvironment();
// XDG_DESKTOP_DIR of ${XDG_CONFIG_HOME:-~/.config}/user-dirs.dirs, else ~/Desktop.
std::string GetDesktopFolder();
// ${XDG_DATA_HOME:-~/.local/share}/applications.
std::string GetApplicationsFolder();
// The machine's menu folders, where packages put their entries: "applications" below each
// folder of ${XDG_DATA_DIRS:-/usr/local/share:/usr/share} (absolute ones only).
std::vector<std::string> GetSystemApplicationsFolders();

// The desktop folder named in the text of a user-dirs.dirs file: a line
// XDG_DESKTOP_DIR="$HOME/sub" or XDG_DESKTOP_DIR="/absolute"; none when absent or malformed.
std::optional<std::string> DesktopFolderFromUserDirs(std::string_view content,
                                                     std::string_view home);

}  // namespace zor
