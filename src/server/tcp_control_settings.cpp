#include "server/tcp_control_settings.h"

#include <charconv>

#include "base/exceptions.h"
#include "server/dotted_address.h"

namespace zor {

TTCPSettings ReadTCPSettings(TSettingsStore& store, std::string_view serviceName,
                             uint16_t defaultPort) {
  TTCPSettings settings;
  settings.EnableTCP = store.ReadBool(serviceName, "EnableTCP", true);
  const int64_t port = store.ReadInteger(serviceName, "Port", defaultPort);
  settings.Port = port >= 1 && port <= 65535 ? static_cast<int32_t>(port) : defaultPort;
  settings.BoundIP = store.ReadString(serviceName, "BoundIP", "");
  if (!IsDottedAddress(settings.BoundIP)) settings.BoundIP.clear();
  const int64_t mode = store.ReadInteger(serviceName, "AcceptMode", 0);
  settings.AcceptMode = mode >= 0 && mode <= 2 ? static_cast<int32_t>(mode) : 0;
  if (settings.AcceptMode != 0) settings.IPList = store.ReadString(serviceName, "IPList", "");
  return settings;
}

void WriteTCPSettings(TSettingsStore& store, std::string_view serviceName,
                      const TTCPSettings& settings) {
  store.WriteBool(serviceName, "EnableTCP", settings.EnableTCP);
  store.WriteInteger(serviceName, "Port", settings.Port);
  store.WriteString(serviceName, "BoundIP", settings.BoundIP);
  store.WriteInteger(serviceName, "AcceptMode", settings.AcceptMode);
  store.WriteString(serviceName, "IPList", settings.IPList);
}

std::optional<uint16_t> FindPortSwitch(std::span<const std::string> args) {
  for (const std::string& arg : args) {
    if (arg.size() < 3 || arg[0] != '/' || (arg[1] != 'I' && arg[1] != 'i') || arg[2] != ':')
      continue;
    const std::string_view number = std::string_view(arg).substr(3);
    int value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
        value < 1 || value > 65535)
      throw Exception(arg + " does not name a port 1..65535");
    return static_cast<uint16_t>(value);
  }
  return std::nullopt;
}

void ApplyPortSwitch(TTCPSettings& settings, uint16_t port) {
  settings.EnableTCP = true;
  settings.Port = port;
  settings.AcceptMode = 0;
  settings.IPList.clear();
}

std::string ListenerString(const TTCPSettings& settings) {
  std::string text;
  auto add = [&](std::string_view name, std::string_view value) {
    if (value.empty()) return;
    if (!text.empty()) text += ';';
    text += name;
    text += '=';
    text += value;
  };
  add("BoundIP", settings.BoundIP);
  add("BoundPort", std::to_string(settings.Port));
  if (settings.AcceptMode == 1 || settings.AcceptMode == 2) {
    add("AcceptMode", settings.AcceptMode == 1 ? "Accept" : "Deny");
    add("IPList", settings.IPList);
  }
  return text;
}

}  // namespace zor
