// The TCP settings of the server: how they are read from the TCP control service's
// settings (with their fall-backs), overridden by "/I:" on the command line, and turned into
// the parameter string of the TCP listener.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "server/dotted_address.h"
#include "server/settings_store.h"

namespace zor {

// The port of the TCP control service when its settings name none (the clients' default).
inline constexpr uint16_t kDefaultServerPort = 768;

struct TTCPSettings {
  bool EnableTCP = true;
  int32_t Port = kDefaultServerPort;
  std::string BoundIP;     // empty: every local address
  int32_t AcceptMode = 0;  // 0 all, 1 only the listed addresses, 2 all but the listed addresses
  std::string IPList;

  bool operator==(const TTCPSettings&) const = default;
};

// Reads "EnableTCP", "Port", "BoundIP", "AcceptMode" and "IPList" under `serviceName`.
TTCPSettings ReadTCPSettings(TSettingsStore& store, std::string_view serviceName,
                             uint16_t defaultPort);
void WriteTCPSettings(TSettingsStore& store, std::string_view serviceName,
                      const TTCPSettings& settings);

// The port of the first argument "/I:" + number (without case); nothing when there is none.
// Raises `Exception` when the number is not a port 1..65535.
std::optional<uint16_t> FindPortSwitch(std::span<const std::string> args);
// "/I:" wins over the settings: TCP on, that port, every peer accepted.
void ApplyPortSwitch(TTCPSettings& settings, uint16_t port);

// "BoundIP=..;BoundPort=..;AcceptMode=Accept|Deny;IPList=.." with the empty parts left out.
std::string ListenerString(const TTCPSettings& settings);

}  // namespace zor
