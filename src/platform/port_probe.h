// Whether a local port could be taken right now: a trial bind, for configuration checks
// before a server starts. A TCP port counts as taken while something listens on it; a UDP
// port is tried without address reuse, so one that a running server holds counts as taken.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace zor {

// 0 when `kind` can bind `address` (host byte order) and `port` now, else the system error.
int ProbeLocalPort(SocketKind kind, uint32_t address, uint16_t port);

}  // namespace zor
