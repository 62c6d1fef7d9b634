// Facts about this machine and process that the logon sends and the start-up reads:
// computer and user names, the network adapter text, the operating-system code, the
// terminal-services session and the program's own file.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

// The logon's operating-system code for Linux. The code table knows only Windows releases,
// so Linux reports -1, the table's "unknown", rather than borrowing a Windows number.
inline constexpr int32_t kOsCodeLinux = -1;

// The host name up to its first '.', as a Windows computer name has no domain part.
std::string GetComputerName();
// The login name of the effective user (the password database, else $USER, else the uid).
std::string GetUserName();
// "<interface> XX-XX-XX-XX-XX-XX" of the first non-loopback interface with a hardware
// address; empty when there is none.
std::string GetNetworkAdapterText();
int32_t GetOSCode();
// The terminal-services session of the process: always 0, as there are no remote sessions.
uint32_t GetCurrentSessionId();
// Terminal-server mode is never on here.
bool IsRemoteSession();
// The full path of the running executable.
std::string GetExePath();

}  // namespace zor
