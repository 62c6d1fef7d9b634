#include "startup/main_exe.h"

#include <fstream>
#include <iterator>

#include "base/ascii_case.h"
#include "base/string_routines.h"
#include "startup/client_edition.h"

namespace zor {

std::string ReadIniString(std::string_view text, std::string_view section, std::string_view key) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  std::string rest(text);
  bool inSection = false;
  while (!rest.empty()) {
    const std::string line(Trim(FetchToken(rest, "\n")));
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      const size_t end = line.find(']');
      inSection = end != std::string::npos && SameTextAscii(Trim(line.substr(1, end - 1)), section);
      continue;
    }
    const size_t equals = line.find('=');
    if (inSection && equals != std::string::npos && SameTextAscii(Trim(line.substr(0, equals)), key)) {
      return std::string(Trim(line.substr(equals + 1)));
    }
  }
  return {};
}

std::string GetMainExeName(const std::string& dataFolder, std::string_view launcherFileName) {
  std::ifstream in(dataFolder + std::string(kSystemIniFile), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string name = ReadIniString(text, kSystemSection, kMainExeKey);
  if (name.empty()) name = DefaultMainExeName(launcherFileName);
  return name;
}

std::string MainExeCommandLine(const std::string& path) { return "\"" + path + "\"" + std::string(kNetModeArg); }

}  // namespace zor
