#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zor {
namespace {

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
  error = errno;
  return false;
}

}  // namespace

SocketErrorKind ClassifySocketError(int error) {
  switch (error) {
    case 0:
      return SocketErrorKind::None;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
    case EALREADY:
      return SocketErrorKind::WouldBlock;
    case EINTR:
      return SocketErrorKind::Interrupted;
    case ECANCELED:
      return SocketErrorKind::Aborted;
    case EBADF:
    case ENOTSOCK:
    case ENETDOWN:
    case ENETRESET:
    case ECONNABORTED:
    case ECONNRESET:
    case ESHUTDOWN:
    case EPIPE:
    case ETIMEDOUT:
    case ENOTCONN:
      return SocketErrorKind::ConnectionLoss;
    default:
      return SocketErrorKind::Other;
  }
}

std::string SocketErrorText(int error) {
  char text[256] = {};
  return std::string(strerror_r(error, text, sizeof text));
}

int SocketErrorConnectionReset() {
  return ECONNRESET;
}
int SocketErrorConnectionRefused() {
  return ECONNREFUSED;
}
int SocketErrorTimedOut() {
  return ETIMEDOUT;
}

int CreateSocket(SocketKind kind, int& error) {
  const int type =
      (kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
  const int s = ::socket(AF_INET, type, kind == SocketKind::Stream ? IPPROTO_TCP : IPPROTO_UDP);
  if (s < 0) error = errno;
  return s;
}

void CloseSocket(int socket) {
  if (socket >= 0) ::close(socket);
}

void AbortSocket(int socket) {
  if (socket < 0) return;
  const linger hard{1, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(socket);
}

void ShutdownSocket(int socket) {
  if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

bool SetSocketKeepAlive(int socket, int& error) {
  const int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 || Fail(error);
}

bool SetSocketNoDelay(int socket, int& error) {
  const int on = 1;
  return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 || Fail(error);
}

bool BindSocket(int socket, const SocketAddress& address, int& error) {
  const int on = 1;
  ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in in = ToSockaddr(address);
  return ::bind(socket, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0 || Fail(error);
}

bool ListenSocket(int socket, int backlog, int& error) {
  return ::listen(socket, backlog) == 0 || Fail(error);
}

bool StartConnect(int socket, const SocketAddress& address, int& error) {
  const sockaddr_in in = ToSockaddr(address);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0) return true;
  if (errno == EINPROGRESS || errno == EINTR) return true;
  return Fail(error);
}

int SocketConnectResult(int socket) {
  int value = 0;
  socklen_t size = sizeof value;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &value, &size) != 0) return errno;
  return value;
}

int AcceptSocket(int listening, SocketAddress& peer, int& error) {
  sockaddr_in in{};
  socklen_t size = sizeof in;
  const int s =
      ::accept4(listening, reinterpret_cast<sockaddr*>(&in), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (s < 0) {
    error = errno;
    return -1;
  }
  peer = in.sin_family == AF_INET ? FromSockaddr(in) : SocketAddress{};
  return s;
}

bool SocketLocalAddress(int socket, SocketAddress& address, int& error) {
  sockaddr_in in{};
  socklen_t size = sizeof in;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&in), &size) != 0) return Fail(error);
  address = FromSockaddr(in);
  return true;
}

int64_t SocketReceive(int socket, void* buffer, int64_t count, int& error) {
  const ssize_t n = ::recv(socket, buffer, static_cast<size_t>(count), 0);
  if (n < 0) error = errno;
  return n;
}

int64_t SocketSend(int socket, const void* buffer, int64_t count, int& error) {
  const ssize_t n = ::send(socket, buffer, static_cast<size_t>(count), MSG_NOSIGNAL);
  if (n < 0) error = errno;
  return n;
}

int64_t SocketSendTo(int socket, const void* buffer, int64_t count, const SocketAddress& to,
                     int& error) {
  const sockaddr_in in = ToSockaddr(to);
  const ssize_t n = ::sendto(socket, buffer, static_cast<size_t>(count), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&in), sizeof in);
  if (n < 0) error = errno;
  return n;
}

int64_t SocketReceiveFrom(int socket, void* buffer, int64_t count, SocketAddress& from,
                          int& error) {
  sockaddr_in in{};
  socklen_t size = sizeof in;
  // MSG_TRUNC: the datagram's real size, so that an oversized one is recognised as such.
  const ssize_t n = ::recvfrom(socket, buffer, static_cast<size_t>(count), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&in), &size);
  if (n < 0) {
    error = errno;
  } else {
    from = FromSockaddr(in);
  }
  return n;
}

int64_t SocketBytesAvailable(int socket, int& error) {
  int count = 0;
  if (::ioctl(socket, FIONREAD, &count) != 0) {
    error = errno;
    return -1;
  }
  return count;
}

int PollSocket(int socket, int events, int milliseconds, int& error) {
  pollfd p{};
  p.fd = socket;
  if (events & kPollReadable) p.events |= POLLIN;
  if (events & kPollWritable) p.events |= POLLOUT;
  const int n = ::poll(&p, 1, milliseconds);
  if (n < 0) {
    error = errno;
    return errno == EINTR ? 0 : -1;
  }
  if (n == 0) return 0;
  int result = 0;
  if (p.revents & POLLIN) result |= kPollReadable;
  if (p.revents & POLLOUT) result |= kPollWritable;
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
