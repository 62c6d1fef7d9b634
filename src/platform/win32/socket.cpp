// Winsock under the thin socket API. A SOCKET is a kernel handle; its value fits the `int`
// the layers above keep (handles stay below 2^24), and INVALID_SOCKET becomes -1. Error
// numbers are Winsock's (WSAGetLastError). Winsock is started once, before the first call.
#include "platform/socket.h"

#include <winsock2.h>

#include <mswsock.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/last_error.h"

namespace zor {
namespace {

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

SOCKET S(int socket) {
  return static_cast<SOCKET>(static_cast<unsigned>(socket));
}

sockaddr_in ToSockaddr(const SocketAddress& address) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(address.Port);
  in.sin_addr.s_addr = htonl(address.Address);
  return in;
}

SocketAddress FromSockaddr(const sockaddr_in& in) {
  return SocketAddress{ntohl(in.sin_addr.s_addr), ntohs(in.sin_port)};
}

bool Fail(int& error) {
  error = ::WSAGetLastError();
  return false;
}

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

}  // namespace

SocketErrorKind ClassifySocketError(int error) {
  switch (error) {
    case 0:
      return SocketErrorKind::None;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
      return SocketErrorKind::WouldBlock;
    case WSAEINTR:
      return SocketErrorKind::Interrupted;
    case WSA_OPERATION_ABORTED:
    case WSAECANCELLED:
      return SocketErrorKind::Aborted;
    case WSAEBADF:
    case WSAENOTSOCK:
    case WSAENETDOWN:
    case WSAENETRESET:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAESHUTDOWN:
    case WSAETIMEDOUT:
    case WSAENOTCONN:
    case WSAEDISCON:
      return SocketErrorKind::ConnectionLoss;
    default:
      return SocketErrorKind::Other;
  }
}

std::string SocketErrorText(int error) {
  return SystemErrorMessage(static_cast<uint32_t>(error));
}

int SocketErrorConnectionReset() {
  return WSAECONNRESET;
}
int SocketErrorConnectionRefused() {
  return WSAECONNREFUSED;
}
int SocketErrorTimedOut() {
  return WSAETIMEDOUT;
}

int CreateSocket(SocketKind kind, int& error) {
  StartWinsock();
  // Not inherited by child processes, the counterpart of close-on-exec.
  const SOCKET s = ::WSASocketW(AF_INET, kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM,
                                kind == SocketKind::Stream ? IPPROTO_TCP : IPPROTO_UDP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = ::WSAGetLastError();
    return -1;
  }
  if (!SetNonBlocking(s)) {
    error = ::WSAGetLastError();
    ::closesocket(s);
    return -1;
  }
  if (kind == SocketKind::Datagram) {
    // A datagram that met a closed port must not fail the next receive on this socket.
    BOOL off = FALSE;
    DWORD ignored = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &ignored, nullptr, nullptr);
  }
  return static_cast<int>(s);
}

void CloseSocket(int socket) {
  if (socket >= 0) ::closesocket(S(socket));
}

void AbortSocket(int socket) {
  if (socket < 0) return;
  const linger hard{1, 0};
  ::setsockopt(S(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  ::closesocket(S(socket));
}

void ShutdownSocket(int socket) {
  if (socket >= 0) ::shutdown(S(socket), SD_BOTH);
}

bool SetSocketKeepAlive(int socket, int& error) {
  const BOOL on = TRUE;
  return ::setsockopt(S(socket), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0 ||
         Fail(error);
}

bool SetSocketNoDelay(int socket, int& error) {
  const BOOL on = TRUE;
  return ::setsockopt(S(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0 ||
         Fail(error);
}

bool BindSocket(int socket, const SocketAddress& address, int& error) {
  // SO_REUSEADDR on Windows lets a second program take a port in use; the exclusive flag is
  // the safe counterpart, and a port in TIME_WAIT binds without it anyway.
  const BOOL on = TRUE;
  ::setsockopt(S(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
  const sockaddr_in in = ToSockaddr(address);
  return ::bind(S(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0 || Fail(error);
}

bool ListenSocket(int socket, int backlog, int& error) {
  return ::listen(S(socket), backlog) == 0 || Fail(error);
}

bool StartConnect(int socket, const SocketAddress& address, int& error) {
  const sockaddr_in in = ToSockaddr(address);
  if (::connect(S(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0) return true;
  const int code = ::WSAGetLastError();
  if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS || code == WSAEINTR) return true;
  error = code;
  return false;
}

int SocketConnectResult(int socket) {
  int value = 0;
  int size = sizeof value;
  if (::getsockopt(S(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &size) != 0)
    return ::WSAGetLastError();
  return value;
}

int AcceptSocket(int listening, SocketAddress& peer, int& error) {
  sockaddr_in in{};
  int size = sizeof in;
  const SOCKET s = ::accept(S(listening), reinterpret_cast<sockaddr*>(&in), &size);
  if (s == INVALID_SOCKET) {
    error = ::WSAGetLastError();
    return -1;
  }
  // An accepted socket inherits the listener's non-blocking mode; it is kept from children.
  SetNonBlocking(s);
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  peer = in.sin_family == AF_INET ? FromSockaddr(in) : SocketAddress{};
  return static_cast<int>(s);
}

bool SocketLocalAddress(int socket, SocketAddress& address, int& error) {
  sockaddr_in in{};
  int size = sizeof in;
  if (::getsockname(S(socket), reinterpret_cast<sockaddr*>(&in), &size) != 0) return Fail(error);
  address = FromSockaddr(in);
  return true;
}

int64_t SocketReceive(int socket, void* buffer, int64_t count, int& error) {
  const int n = ::recv(S(socket), static_cast<char*>(buffer),
                       static_cast<int>(std::min<int64_t>(count, INT32_MAX)), 0);
  if (n == SOCKET_ERROR) error = ::WSAGetLastError();
  return n;
}

int64_t SocketSend(int socket, const void* buffer, int64_t count, int& error) {
  const int n = ::send(S(socket), static_cast<const char*>(buffer),
                       static_cast<int>(std::min<int64_t>(count, INT32_MAX)), 0);
  if (n == SOCKET_ERROR) error = ::WSAGetLastError();
  return n;
}

int64_t SocketSendTo(int socket, const void* buffer, int64_t count, const SocketAddress& to,
                     int& error) {
  const sockaddr_in in = ToSockaddr(to);
  const int n = ::sendto(S(socket), static_cast<const char*>(buffer),
                         static_cast<int>(std::min<int64_t>(count, INT32_MAX)), 0,
                         reinterpret_cast<const sockaddr*>(&in), sizeof in);
  if (n == SOCKET_ERROR) error = ::WSAGetLastError();
  return n;
}

int64_t SocketReceiveFrom(int socket, void* buffer, int64_t count, SocketAddress& from,
                          int& error) {
  sockaddr_in in{};
  int size = sizeof in;
  const int n = ::recvfrom(S(socket), static_cast<char*>(buffer),
                           static_cast<int>(std::min<int64_t>(count, INT32_MAX)), 0,
                           reinterpret_cast<sockaddr*>(&in), &size);
  if (n == SOCKET_ERROR) {
    const int code = ::WSAGetLastError();
    if (code == WSAEMSGSIZE) {
      // A datagram larger than the buffer: Windows keeps the part that fit but not the
      // whole length, so the answer is one more than fit, which tells the caller (as the
      // truncating receive's length does on Linux) that the datagram did not fit.
      from = FromSockaddr(in);
      return count + 1;
    }
    error = code;
    return -1;
  }
  from = FromSockaddr(in);
  return n;
}

int64_t SocketBytesAvailable(int socket, int& error) {
  u_long count = 0;
  if (::ioctlsocket(S(socket), FIONREAD, &count) != 0) {
    error = ::WSAGetLastError();
    return -1;
  }
  return static_cast<int64_t>(count);
}

int PollSocket(int socket, int events, int milliseconds, int& error) {
  WSAPOLLFD p{};
  p.fd = S(socket);
  if (events & kPollReadable) p.events |= POLLRDNORM;
  if (events & kPollWritable) p.events |= POLLWRNORM;
  const int n = ::WSAPoll(&p, 1, milliseconds);
  if (n == SOCKET_ERROR) {
    error = ::WSAGetLastError();
    return error == WSAEINTR ? 0 : -1;
  }
  if (n == 0) return 0;
  int result = 0;
  if (p.revents & (POLLRDNORM | POLLRDBAND)) result |= kPollReadable;
  if (p.revents & POLLWRNORM) result |= kPollWritable;
  if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) result |= kPollFailed;
  return result;
}

uint16_t FreeLoopbackPort() {
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  if (s < 0) return 0;
  SocketAddress local;
  const bool ok =
      BindSocket(s, SocketAddress{0x7F000001, 0}, error) && SocketLocalAddress(s, local, error);
  CloseSocket(s);
  return ok ? local.Port : 0;
}

bool ResolveHostName(const std::string& name, uint32_t& address) {
  StartWinsock();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return false;
  bool found = false;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
      address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
      found = true;
      break;
    }
  }
  ::freeaddrinfo(list);
  return found;
}

std::string FormatIPv4(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace zor
