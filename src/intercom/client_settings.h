// The connection settings of the client, read from its settings key ("ConnectType",
// "NetServer", "RemoteServer", "TCPPort", "Scramble"), and the facts about the client that
// connecting needs (network mode, command-line arguments, client kind). The higher layers
// that own the client information point these elsewhere; the defaults are the launcher's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zor {

inline constexpr int32_t kConnectPipe = 0;
inline constexpr int32_t kConnectTcp = 1;
inline constexpr int32_t kConnectTcpDiscovery = 2;
inline constexpr int32_t kDefaultTcpPort = 768;
inline constexpr int32_t kClientKindWithFlag = 1005;

struct TConnectSettings {
  int32_t ConnectType = kConnectPipe;  // 3 and above read as 0
  std::string NetServer;
  std::string RemoteServer;
  int32_t TCPPort = kDefaultTcpPort;
  bool Scramble = true;  // DWORD "Scramble" = 0 switches scrambling off
  // DWORD "DeltaFetch" = 0: changed files are fetched whole, never as a delta against the
  // old copy (for a link fast enough that the delta's work does not pay).
  bool DeltaFetch = true;

  // The server name of the mode: in NetMode "RemoteServer" first, else "NetServer" first.
  std::string ServerName(bool netMode) const;
};

struct TClientConnectEnvironment {
  bool NetMode = true;  // the launcher always runs in network mode
  std::string KeyPath = "Software\\ZOR\\DK880\\";
  std::vector<std::string> Arguments;
  int32_t ClientKind = 1000;
  uint8_t ClientFlag = 0;
};

// The settings key, read through `TZORRegistry` (HKLM, or HKCU when HKLM cannot be written);
// the defaults when the key cannot be opened.
TConnectSettings ReadConnectSettingsFromRegistry(const std::string& keyPath);

// The reader in force (the registry reader unless replaced) and the environment.
TConnectSettings ReadConnectSettings();
void SetConnectSettingsReader(std::function<TConnectSettings()> reader);
TClientConnectEnvironment GetClientConnectEnvironment();
void SetClientConnectEnvironment(TClientConnectEnvironment environment);

}  // namespace zor
