#include "startup/client_info/client_edition.h"

#include "base/ascii_case.h"
#include "startup/launch/path_names.h"

namespace zor {

ClientEdition DetermineEdition(std::string_view exeFileName,
                               const std::vector<std::string>& params) {
  ClientEdition edition;
  for (std::string_view v4Name : {"V4.exe", "IV4.exe", "V4", "IV4"}) {
    if (SameTextAscii(exeFileName, v4Name)) edition.V4Edition = true;
  }
  if (edition.V4Edition) return edition;
  for (const std::string& param : params) {
    if (SameTextAscii(param, kSwitchV4)) {
      edition.V4Edition = true;
      edition.NetMode = false;
    } else if (SameTextAscii(param, kSwitchNetMode) && !edition.V4Edition) {
      edition.NetMode = true;
    }
  }
  return edition;
}

std::string_view SettingsKeyPath(bool v4Edition) {
  return v4Edition ? kSettingsKeyV4 : kSettingsKeyM880;
}

std::string DefaultMainExeName(std::string_view launcherFileName) {
  std::string_view name = launcherFileName;
  if (!name.empty() && (name.front() == 'N' || name.front() == 'n')) name.remove_prefix(1);
  return "I" + std::string(name);
}

std::string RunMutexBaseName(std::string_view launcherFileName) {
  return "I" + FileNameWithoutExt(launcherFileName);
}

std::string NetModeMutexName(std::string_view name, bool netMode) {
  return netMode ? "N" + std::string(name) : std::string(name);
}

}  // namespace zor
