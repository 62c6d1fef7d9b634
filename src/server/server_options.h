// The command line of `zorserver`. Every option is optional here: what is not given comes
// from the server's settings (see `ResolveServerConfig`) or a built-in default.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "server/server_log.h"

namespace zor {

struct TServerOptions {
  std::optional<std::string> ReleaseDir;
  std::optional<uint16_t> Port;  // --port N, or "/I:N"
  std::optional<std::string> BindAddress;
  std::optional<uint16_t> NamePort;
  std::optional<std::string> NamesFile;
  std::optional<uint16_t> LookupPort;
  std::optional<std::string> LookupTable;
  std::optional<uint16_t> HealthPort;  // --health-port N: /live, /ready, /metrics over HTTP
  std::optional<std::string> UploadDir;
  std::optional<int64_t> UploadLimit;
  std::optional<std::string> CacheDir;
  std::optional<bool> Scramble;
  std::optional<bool> Tcp;   // --tcp on|off: the TCP listener ("EnableTCP")
  std::optional<bool> Pipe;  // --pipe on|off: the local pipe listener ("EnablePipe")
  std::optional<LogLevel> Level;
  std::optional<std::string> LogFile;
  std::optional<int32_t> MaxConnections;
  std::optional<int32_t> SessionGraceSeconds;
  std::optional<int32_t> IdleTimeoutSeconds;
  std::optional<int32_t> MaxPerAddress;
  std::optional<int32_t> DrainSeconds;                // --drain-timeout S
  std::optional<std::vector<std::string>> ProxyFrom;  // --proxy-from LIST
  std::optional<uint32_t> Language;                   // --language LCID
  bool Help = false;
  bool Check = false;  // --check: check the settings, folders and ports, then exit
};

// Options are "--name VALUE" or "--name=VALUE"; "/I:N" is the port. Raises `Exception` with
// a message naming the option for an unknown option, a missing or malformed value.
TServerOptions ParseServerOptions(std::span<const std::string> args);

// The text `--help` prints.
std::string ServerUsage();

}  // namespace zor
