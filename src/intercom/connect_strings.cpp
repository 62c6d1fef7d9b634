#include "intercom/connect_strings.h"

#include "base/ascii_case.h"
#include "base/exceptions.h"
#include "platform/system_info.h"

namespace zor {

std::string ComposeHostString(bool viaDiscovery, std::string_view host, int32_t port) {
  std::string out = viaDiscovery ? "ZORHost=" : "Host=";
  out += host;
  if (port != 0) out += ":" + std::to_string(port);
  return out;
}

std::string ComposePipeString(std::string_view server, std::string_view pipeName, bool asServer) {
  if (pipeName.empty()) throw Exception("The pipe name is not allow empty!");
  std::string host(server);
  if (!host.empty() && SameTextAscii(host, GetComputerName())) host = ".";
  if (asServer && host != ".") throw Exception("Error server name!");
  std::string out = "\\\\" + host + "\\pipe\\" + std::string(pipeName);
  if (asServer) out += ";Server";
  return out;
}

std::string ServerPipeName(const std::vector<std::string>& arguments) {
  constexpr std::string_view kSwitch = "/PIPE:";
  for (const std::string& arg : arguments) {
    if (arg.size() >= kSwitch.size() && SameTextAscii(std::string_view(arg).substr(0, kSwitch.size()), kSwitch))
      return std::string(kServerPipeName) + arg.substr(kSwitch.size());
  }
  return std::string(kServerPipeName);
}

}  // namespace zor
