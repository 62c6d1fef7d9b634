#include "startup/launch/main_exe.h"

#include <fstream>
#include <iterator>

#include "base/string_routines.h"
#include "startup/client_info/client_edition.h"
#include "update/ini_file.h"

namespace zor {

std::string GetMainExeName(const std::string& dataFolder, std::string_view launcherFileName) {
  std::ifstream in(dataFolder + std::string(kSystemIniFile), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
