#include "platform/port_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace zor {

int ProbeLocalPort(SocketKind kind, uint32_t address, uint16_t port) {
  const int s =
      ::socket(AF_INET, (kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(address);
  if (kind == SocketKind::Stream) {
    // Connections of a server that just stopped linger on the port; the server itself binds
    // with reuse and gets past them, and a live listener still refuses this bind.
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  int error = 0;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0) error = errno;
  ::close(s);
  return error;
}

bool IsBindPrivilegeError(int error) {
  return error == EACCES || error == EPERM;
}

bool TcpListenerAt(uint32_t address, uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(address != 0 ? address : INADDR_LOOPBACK);
  // A local connect is answered at once: accepted by a listener or refused.
  const bool accepted = ::connect(s, reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
  ::close(s);
  return accepted;
}

}  // namespace zor
