#include "startup/launch/main_exe.h"

#include "base/string_routines.h"
#include "platform/file_system.h"
#include "startup/client_info/client_edition.h"
#include "update/ini_file.h"

namespace zor {

std::string GetMainExeName(const std::string& dataFolder, std::string_view launcherFileName) {
  std::string text;
  try {
    text = CurrentFileSystem().ReadFile(dataFolder + std::string(kSystemIniFile)).value_or("");
  } catch (const EFileSystemError&) {
    // An unreadable settings file names no main program: the default follows.
  }
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  const std::string_view body = std::string_view(text).starts_with(kUtf8Bom)
                                    ? std::string_view(text).substr(kUtf8Bom.size())
                                    : std::string_view(text);
  std::string name(Trim(TIniFile(body).ReadString(kSystemSection, kMainExeKey)));
  if (name.empty()) name = DefaultMainExeName(launcherFileName);
  return name;
}

std::string MainExeCommandLine(const std::string& path) {
  return "\"" + path + "\"" + std::string(kNetModeArg);
}

}  // namespace zor
