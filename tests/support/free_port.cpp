#include "support/free_port.h"

#include "platform/socket.h"

namespace zor::testing {

uint16_t FreePort() {
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  SocketAddress address{0x7F000001, 0};
  BindSocket(s, address, error);
  SocketLocalAddress(s, address, error);
  CloseSocket(s);
  return address.Port;
}

}  // namespace zor::testing
