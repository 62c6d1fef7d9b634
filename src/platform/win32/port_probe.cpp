#include "platform/port_probe.h"

#include <winsock2.h>

#include "platform/socket.h"

namespace zor {

int ProbeLocalPort(SocketKind kind, uint32_t address, uint16_t port) {
  int error = 0;
  const int s = CreateSocket(kind, error);
  if (s < 0) return error;
  if (!BindSocket(s, SocketAddress{address, port}, error)) {
    CloseSocket(s);
    return error;
  }
  CloseSocket(s);
  return 0;
}

bool IsBindPrivilegeError(int error) {
  return error == WSAEACCES;
}

bool TcpListenerAt(uint32_t address, uint16_t port) {
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  if (s < 0) return false;
  // A local connect is answered at once: accepted by a listener or refused.
  bool accepted = false;
  if (StartConnect(s, SocketAddress{address != 0 ? address : 0x7F000001, port}, error)) {
    const int events = PollSocket(s, kPollWritable, 2000, error);
    accepted = (events & kPollWritable) != 0 && SocketConnectResult(s) == 0;
  }
  CloseSocket(s);
  return accepted;
}

}  // namespace zor
