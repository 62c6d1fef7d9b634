// Every limit that keeps a hostile or broken client from taking the server's memory, disk,
// threads or connection slots, in one place (the README lists them). Settings that a site
// may change start from these defaults (session_settings.h, file_service.h).
#pragma once

#include <chrono>
#include <cstdint>

#include "intercom/wire_format.h"

namespace zor {

// ---- requests before logon: only what opening a session needs ----------------------------
// Commands allowed before logon: the logons (0, 7), the logoff (1) and the integrated
// authentication (35, 36). Everything else is refused until the session has logged on.
constexpr bool IsPreLogonCommand(uint32_t command) {
  return command == cmdLogon || command == cmdLogoff || command == cmdLogonEx ||
         command == cmdSecurityToken || command == cmdSecurityDecline;
}
// A logon carries two names, an adapter text, a program path and a folder: a few hundred bytes.
inline constexpr uint32_t kPreLogonMaxPayload = 8 * 1024;   // raw block
inline constexpr uint64_t kPreLogonMaxInflated = 8 * 1024;  // variant stream after inflating
inline constexpr uint64_t kPreLogonMaxElements = 64;

// ---- requests after logon ------------------------------------------------------------------
// File data travels in raw streams after the answer, not in payloads, so requests stay small.
inline constexpr uint32_t kMaxRequestPayload = 16 * 1024 * 1024;
inline constexpr uint64_t kMaxRequestInflated = 16 * 1024 * 1024;
// Each decoded element is an object of some 50 bytes: 262144 of them stay near 13 MiB.
inline constexpr uint64_t kMaxRequestElements = 262144;

// ---- all requests in flight at once --------------------------------------------------------
// What every request being decoded or handled may take together: 16 requests at their
// largest, far more than genuine clients send at once (their requests are a few KiB).
inline constexpr uint64_t kMaxInFlightBytes = 16 * kMaxRequestInflated;
inline constexpr uint64_t kMaxInFlightElements = 16 * kMaxRequestElements;

// ---- temporary files of large payloads (1 MiB and more) ------------------------------------
// One request at a time per connection, so one connection spills at most kMaxRequestPayload.
inline constexpr uint64_t kMaxSpillPerConnection = kMaxRequestPayload;
inline constexpr uint64_t kMaxSpillTotal = 256ull * 1024 * 1024;

// ---- time ------------------------------------------------------------------------------------
// From the first byte of a request header to the last byte of its payload.
inline constexpr std::chrono::seconds kMessageDeadline{30};
// A listed balancer's connection must bring its whole PROXY header within this time.
inline constexpr std::chrono::seconds kProxyHeaderDeadline{5};
// At SIGTERM, running commands (a transfer of a large file) get this long to end.
inline constexpr int32_t kDefaultDrainSeconds = 30;
// A logged-on session with no command running is closed after this long without a request.
inline constexpr std::chrono::seconds kDefaultIdleTimeout{600};

// ---- connections ---------------------------------------------------------------------------
inline constexpr int32_t kDefaultMaxConnections = 256;
// Connections from one address that have not logged on yet: what a flood from one address
// can hold (each for at most the logon time). Logged-on clients count only against the
// total, so a terminal server or a NAT address with fifty launchers starting at once (each
// with up to four connections, logging on within milliseconds) is served.
inline constexpr int32_t kDefaultMaxPerAddress = 64;

// ---- uploads (per folder that receives them) ---------------------------------------------------
inline constexpr int64_t kDefaultUploadLimit = 64 * 1024 * 1024;            // one file
inline constexpr int64_t kDefaultUploadFolderFiles = 1000;                  // files in one folder
inline constexpr int64_t kDefaultUploadFolderBytes = 1024ll * 1024 * 1024;  // bytes in one folder

}  // namespace zor
