// How the server treats its client sessions: scrambling, the connection limit, how long a
// session waits for its client after a broken transport, and the time-outs around that.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "intercom/variant.h"
#include "server/server_limits.h"

namespace zor {

// What a logon check is shown of a client that logs on.
struct TLogonCredentials {
  std::string Computer;
  std::string User;
  std::string Program;
  std::string PeerAddress;
  // The logon's tenth value: empty from the launcher, a site's own token from a client
  // built for such a check.
  TVariant Extra;
};

// A site's check at logon: nothing admits the client, a text refuses it with that message
// and the connection is closed. Runs on the session's thread; an exception refuses as well.
using TLogonCheck = std::function<std::optional<std::string>(const TLogonCredentials&)>;

struct TSessionSettings {
  bool Scramble = true;  // the default routines and the fixed key, as the launcher uses
  int32_t MaxConnections = kDefaultMaxConnections;
  // Transports from one remote address served at once.
  int32_t MaxPerAddress = kDefaultMaxPerAddress;
  // A logged-on session waiting this long for a request is closed.
  std::chrono::seconds IdleTimeout{kDefaultIdleTimeout};
  // A request must arrive whole within this time from its first byte.
  std::chrono::seconds MessageDeadline{kMessageDeadline};
  // A detached session is kept this long for its client's resume; 0 ends it at once.
  std::chrono::seconds SessionGrace{120};
  // A new transport must log on within this time.
  std::chrono::seconds LogonTimeout{30};
  // A long command sends keep-alives this often (clients wait 60 s by default).
  std::chrono::seconds KeepAliveInterval{10};
  // A resume waits this long for the old session's command to end.
  std::chrono::seconds ResumeWait{30};
  // At shutdown, running commands get this long to finish before their transports close.
  std::chrono::seconds ShutdownWait{10};
  // The first line of the greeting's server information text.
  std::string ServerInfo = "ZOR application server";
  std::string ServerText = "zorserver";
  // The server's language (LCID): the greeting's language id, the Chinese script and the code
  // page of its strings. 0: the process's locale.
  uint32_t Language = 0;
  // Callers from 127.0.0.1 have administrator rights (to change the TCP settings).
  bool LocalAdmin = false;
  // Balancers whose connections start with a PROXY header naming the real client, which
  // then counts for the limits, the logs and the messages (exact addresses).
  std::vector<std::string> ProxyFrom;
  // The credential check at logon; unset (the default) admits every client that logs on,
  // as the launchers expect: they send no credential.
  TLogonCheck LogonCheck;
};

}  // namespace zor
