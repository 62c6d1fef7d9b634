// The server's local pipe listener: keeps one server end of the pipe waiting in the pipe
// folder (local_socket.h says who may connect) and hands every client that connects to the
// server, on a thread of its own. Beside the TCP listener it serves the launchers whose
// connection kind is the pipe.
#pragma once

#include <string>

#include "server/accept_loop_listener.h"

namespace zor {

// The server's pipe: the name the launchers ask for ("zorserverpipe6x" and the text of their
// "/PIPE:" switch, none by default).
std::string ServerPipeConnectString(const std::string& pipeName);

class TPipeListener : public TAcceptLoopListener {
 public:
  // `connectString` is a server pipe string ("\\.\pipe\NAME;Server").
  explicit TPipeListener(std::string connectString);
  ~TPipeListener() override;

  const char* ClassName() const override { return "TPipeHandler"; }
  // Listens at once (raising when the pipe folder or the name cannot be had), then accepts
  // on a thread.
  void Start(TZORServer& server) override;
  // The socket file that stands for the pipe.
  std::string Path() const;

 protected:
  std::unique_ptr<TSocketHandler> NewWaitingEnd() const override;
};

}  // namespace zor
