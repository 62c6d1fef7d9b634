#include "server/tcp_listener.h"

#include "base/exceptions.h"
#include "platform/socket.h"
#include "transport/socket_listen_list.h"
#include "transport/tcp_handler.h"

namespace zor {

TTCPListener::TTCPListener(std::string connectString)
    : TAcceptLoopListener(std::move(connectString), "TCP") {}

TTCPListener::~TTCPListener() {
  Stop();
}

std::unique_ptr<TSocketHandler> TTCPListener::NewWaitingEnd() const {
  return std::make_unique<TTCPHandler>(Text);
}

void TTCPListener::Start(TZORServer& server) {
  if (Running()) return;
  auto first = std::make_unique<TTCPHandler>(Text);
  // The listening socket is created here with the server's backlog; the handlers find and
  // share it by its address. The handlers' own backlog of 5 loses connections when many
  // clients connect at once (with SYN cookies the client then waits for a greeting that
  // never comes).
  const SocketAddress local = first->LocalAddress;
  if (local.Port != 0) {
    int error = 0;
    Shared = AcquireListenRecord(
        "tcp:" + FormatIPv4(local.Address) + ":" + std::to_string(local.Port),
        [&local](int& err) {
          const int s = CreateSocket(SocketKind::Stream, err);
          if (s == kNoSocket) return kNoSocket;
          if (!BindSocket(s, local, err) || !ListenSocket(s, kServerListenBacklog, err)) {
            CloseSocket(s);
            return kNoSocket;
          }
          return s;
        },
        error);
    if (!Shared) {
      throw Exception("Cannot listen on " + FormatIPv4(local.Address) + ":" +
                      std::to_string(local.Port) + ": " + SocketErrorText(error));
    }
  }
  Waiting = std::move(first);
  StartAccepting(server);
}

}  // namespace zor
