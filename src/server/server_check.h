// The checks an administrator (or a service manager) runs before the server starts: the
// release folder can be read, the folders the server writes to can be written (or made),
// the log file can be appended to, the tables load, and the ports are free. `zorserver
// --check` prints the problems one per line; the start itself refuses an unreadable release.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace zor {

struct TServerCheckPort {
  std::string Service;  // what listens there, for the message ("application server")
  SocketKind Kind = SocketKind::Stream;
  std::string Address;  // dotted IPv4; empty: every local address
  uint16_t Port = 0;
};

struct TServerCheckSubject {
  std::filesystem::path ReleaseDir;
  std::filesystem::path CacheDir;
  std::optional<std::filesystem::path> UploadDir;
  std::optional<std::filesystem::path> LogFile;
  std::optional<std::filesystem::path> LookupTable;  // checked when the lookup service runs
  std::optional<std::filesystem::path> NamesFile;    // checked when the name service runs
  std::vector<TServerCheckPort> Ports;
  // The server's language: release file names its code page cannot hold are listed. 0: not
  // checked.
  uint32_t Language = 0;
};

// 0 when the port can be taken now, else the system error (the real probe binds a socket).
using PortProbe = std::function<int(SocketKind kind, uint32_t address, uint16_t port)>;
// Whether a TCP listener holds the port (the real probe connects to it).
using ListenerProbe = std::function<bool(uint32_t address, uint16_t port)>;

// The sentences of a check: problems stop the server or make it fail; notes say what the
// check could not decide for itself.
struct TServerCheckResult {
  std::vector<std::string> Problems;
  std::vector<std::string> Notes;
};

// The problem with the release folder, or nothing when it is a folder that can be listed.
std::optional<std::string> ReleaseFolderProblem(const std::filesystem::path& dir);
// Raises `Exception` with `ReleaseFolderProblem` when there is one.
void RequireReleaseFolder(const std::filesystem::path& dir);

// Every problem found, one sentence each; none when the server can start. Nothing is
// left behind: write tests use a file that is removed again. A port below 1024 that this
// user may not bind (the service's user gets the capability from its unit only) is a
// problem only when a listener holds it; otherwise a note says the unit must grant it.
TServerCheckResult CheckServerSetup(const TServerCheckSubject& subject, const PortProbe& probe = {},
                                    const ListenerProbe& listening = {});

}  // namespace zor
