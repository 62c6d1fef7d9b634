#include "startup/launch/launcher_version.h"

#include "startup/client_info/lang_messages.h"

namespace zor {

std::string_view LauncherVersion() {
  return ZOR_VERSION;
}

std::string LauncherVersionLine(int langIndex) {
  const std::string_view word =
      langIndex == kLangTraditional || langIndex == kLangSimplified ? "版本" : "Version";
  return std::string(word) + " " + std::string(LauncherVersion());
}

}  // namespace zor
