// A small datagram socket: bound to any local port, sends one datagram to a host and
// waits a bounded time for one to come back. Not an I/O handler: no stream, no states.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/socket.h"

namespace zor {

inline constexpr int32_t kUDPDefaultTimeout = 12;  // seconds to wait for a datagram

class TUDPHandler {
 public:
  TUDPHandler();
  virtual ~TUDPHandler();
  TUDPHandler(const TUDPHandler&) = delete;
  TUDPHandler& operator=(const TUDPHandler&) = delete;

  // Resolves `host` as the TCP handler does for "Host" names (dotted or system lookup).
  int32_t SendTo(const std::string& host, uint16_t port, const void* buffer, int32_t count);
  int32_t SendTo(const SocketAddress& to, const void* buffer, int32_t count);
  // The first datagram from `peer` that `accept` takes (given the bytes and the full size),
  // within `Timeout` seconds in all: datagrams from any other address or port, and those
  // `accept` refuses, are dropped and the wait goes on. -1 as above.
  int32_t ReceiveFromPeer(const SocketAddress& peer, void* buffer, int32_t count,
                          const std::function<bool(const void* data, int32_t size)>& accept);
  bool IsOpen() const { return Socket != kNoSocket; }

  int Socket = kNoSocket;
  SocketAddress LocalAddress;
  int32_t Timeout = kUDPDefaultTimeout;

 private:
  bool WaitReadable(int64_t limitMs);
  // Applies the error rules to a failed call; returns normally when the call counts as
  // done (or the socket was closed without an error), else raises.
  void CheckError(int error);
  void CloseSocket();
};

// The dotted address or the system's first IPv4 address for `host`; raises the TCP
// handler's "cannot connect" text when there is none.
uint32_t ResolveHostAddress(const std::string& host);

}  // namespace zor
