#include "server/pipe_listener.h"

#include "base/exceptions.h"
#include "platform/local_socket.h"
#include "platform/socket.h"
#include "transport/pipe_handler.h"
#include "transport/socket_listen_list.h"

namespace zor {

std::string ServerPipeConnectString(const std::string& pipeName) {
  return ComposePipeString(".", pipeName, true);
}

TPipeListener::TPipeListener(std::string connectString)
    : TAcceptLoopListener(std::move(connectString), "Pipe") {}

TPipeListener::~TPipeListener() {
  Stop();
}

std::string TPipeListener::Path() const {
  return LocalPipeFolder() + "/" + ParsePipeConnectString(Text).Name;
}

std::unique_ptr<TSocketHandler> TPipeListener::NewWaitingEnd() const {
  return std::make_unique<TPipeHandler>(Text);
}

void TPipeListener::Start(TZORServer& server) {
  if (Running()) return;
  // The listening socket is made here with the server's backlog, so that many launchers
  // starting at once are queued, not turned away; the server ends share it by its name.
  const std::string path = Path();
  int error = 0;
  Shared = AcquireListenRecord(
      "pipe:" + path,
      [&path](int& err) { return CreateLocalListener(path, kServerListenBacklog, err); }, error,
      path);
  if (!Shared) throw Exception("Cannot listen on the pipe " + path + ": " + SocketErrorText(error));
  StartAccepting(server);
}

}  // namespace zor
