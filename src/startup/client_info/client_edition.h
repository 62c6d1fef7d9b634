// The rules that name the client installation: the edition from the launcher's file name
// and its switches, the settings key path, the main program's default name and the names
// of the mutexes derived from the launcher's file name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kSwitchV4 = "/V4";
inline constexpr std::string_view kSwitchNetMode = "/NetMode";
inline constexpr std::string_view kSettingsKeyM880 = "Software\\ZOR\\DK880\\";
inline constexpr std::string_view kSettingsKeyV4 = "Software\\ZOR\\DK4\\";
inline constexpr std::string_view kEditionCodeM880 = "M880";
inline constexpr std::string_view kEditionCodeV4 = "V4";
inline constexpr int kClientKindM880 = 1000;
inline constexpr int kClientKindV4 = 1001;

struct ClientEdition {
  bool V4Edition = false;
  bool NetMode = false;
};

// V4 when the program file is "V4.exe" or "IV4.exe" (or, as programs here have no
// extension, "V4" or "IV4"), ignoring case. Otherwise the parameters in order: "/V4" sets
// V4 and clears NetMode, "/NetMode" sets NetMode unless V4 is already set.
ClientEdition DetermineEdition(std::string_view exeFileName,
                               const std::vector<std::string>& params);

std::string_view SettingsKeyPath(bool v4Edition);

// The launcher's file name (extension kept) without a leading "N"/"n", with "I" in front:
// "Setup.exe" and "nSetup.exe" give "ISetup.exe", "Client" gives "IClient".
std::string DefaultMainExeName(std::string_view launcherFileName);

// The name of the main program's run mutex before the network-mode prefix: "I" + the
// launcher's file name without its extension.
std::string RunMutexBaseName(std::string_view launcherFileName);

// "N" + `name` in network mode, else `name`.
std::string NetModeMutexName(std::string_view name, bool netMode);

}  // namespace zor
