// Whether a local port could be taken right now: a trial bind, for configuration checks
// before a server starts. A TCP port counts as taken while something listens on it; a UDP
// port is tried without address reuse, so one that a running server holds counts as taken.
// A user without the right to bind ports below 1024 learns at least whether a TCP listener
// holds one.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace zor {

// 0 when `kind` can bind `address` (host byte order) and `port` now, else the system error.
int ProbeLocalPort(SocketKind kind, uint32_t address, uint16_t port);

// True for the error of a bind the caller lacks the privilege for (a port below 1024
// without CAP_NET_BIND_SERVICE).
bool IsBindPrivilegeError(int error);

// True when a TCP connection to `address` (host byte order; 0 means 127.0.0.1) and `port`
// is accepted: something listens there.
bool TcpListenerAt(uint32_t address, uint16_t port);

}  // namespace zor
