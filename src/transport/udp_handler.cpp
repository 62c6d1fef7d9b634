#include "transport/udp_handler.h"

#include <algorithm>
#include <chrono>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/run_status.h"
#include "transport/tcp_connect_string.h"
#include "transport/tcp_messages.h"

namespace zor {
namespace {
constexpr int kUdpPollStepMs = 100;
}

uint32_t ResolveHostAddress(const std::string& host) {
  uint32_t address = 0;
  if (ParseDottedAddress(host, address)) return address;
  if (!ResolveHostName(host, address)) throw Exception(std::string(kCannotConnectToServerText));
  return address;
}

TUDPHandler::TUDPHandler() {
  int error = 0;
  Socket = CreateSocket(SocketKind::Datagram, error);
  if (Socket == kNoSocket) {
    throw Exception(Format(kWinSockErrorFormat, {error, SocketErrorText(error)}));
  }
  if (!BindSocket(Socket, LocalAddress, error)) {
    CloseSocket();
    throw Exception(Format(kWinSockErrorFormat, {error, SocketErrorText(error)}));
  }
  Timeout = kUDPDefaultTimeout;
}

TUDPHandler::~TUDPHandler() {
  CloseSocket();
}

void TUDPHandler::CloseSocket() {
  zor::CloseSocket(Socket);
  Socket = kNoSocket;
}

void TUDPHandler::CheckError(int error) {
  const SocketErrorKind kind = ClassifySocketError(error);
  switch (kind) {
    case SocketErrorKind::None:
    case SocketErrorKind::WouldBlock:
    case SocketErrorKind::Interrupted:
      return;
    case SocketErrorKind::Aborted:
      throw EAbort("Operation aborted!");
    default:
      break;
  }
  if (error == SocketErrorConnectionRefused()) {  // the peer's port is unreachable
    CloseSocket();
    return;
  }
  const std::string message = Format(kWinSockErrorFormat, {error, SocketErrorText(error)});
  if (kind == SocketErrorKind::ConnectionLoss) CloseSocket();
  throw Exception(message);
}

int32_t TUDPHandler::SendTo(const std::string& host, uint16_t port, const void* buffer,
                            int32_t count) {
  return SendTo(SocketAddress{ResolveHostAddress(host), port}, buffer, count);
}

int32_t TUDPHandler::SendTo(const SocketAddress& to, const void* buffer, int32_t count) {
  if (Socket == kNoSocket) return -1;
  int error = 0;
  const int64_t n = SocketSendTo(Socket, buffer, count, to, error);
  if (n < 0) {
    CheckError(error);
    return -1;
  }
  return static_cast<int32_t>(n);
}

bool TUDPHandler::WaitReadable(int64_t limitMs) {
  const ScopedWaitingStatus waiting;
  const int64_t limit = limitMs;
  const auto start = GetClock().Now();
  for (;;) {
    if (Socket == kNoSocket || GetRunStatus() == kRunStatusStopNow) return false;
    const int64_t left = limit - MillisecondsSince(start);
    int error = 0;
    const int ready =
        PollSocket(Socket, kPollReadable,
                   static_cast<int>(std::clamp<int64_t>(left, 0, kUdpPollStepMs)), error);
    if (ready < 0) CheckError(error);
    if (ready > 0) return true;
    if (MillisecondsSince(start) >= limit) return false;
  }
}

int32_t TUDPHandler::ReceiveFromPeer(
    const SocketAddress& peer, void* buffer, int32_t count,
    const std::function<bool(const void* data, int32_t size)>& accept) {
  const int64_t limit = static_cast<int64_t>(Timeout) * 1000;
  const auto start = GetClock().Now();
  for (;;) {
    if (!WaitReadable(std::max<int64_t>(0, limit - MillisecondsSince(start)))) return -1;
    SocketAddress from;
    int error = 0;
    const int64_t n = SocketReceiveFrom(Socket, buffer, count, from, error);
    if (n < 0) {
      CheckError(error);
      if (Socket == kNoSocket) return -1;
      continue;
    }
    if (from == peer && accept(buffer, static_cast<int32_t>(n))) return static_cast<int32_t>(n);
    if (MillisecondsSince(start) >= limit) return -1;
  }
}

}  // namespace zor
