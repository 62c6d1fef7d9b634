#include "intercom/connect_strings.h"

#include "base/ascii_case.h"

namespace zor {

std::string ServerPipeName(const std::vector<std::string>& arguments) {
  constexpr std::string_view kSwitch = "/PIPE:";
  for (const std::string& arg : arguments) {
    if (arg.size() >= kSwitch.size() &&
        SameTextAscii(std::string_view(arg).substr(0, kSwitch.size()), kSwitch))
      return std::string(kServerPipeName) + arg.substr(kSwitch.size());
  }
  return std::string(kServerPipeName);
}

}  // namespace zor
