// The server's TCP listener: keeps one server-end TCP handler waiting on the listening
// address (shared with other handlers of that address) and hands every accepted peer to
// the server, on a thread of its own.
#pragma once

#include <string>

#include "server/accept_loop_listener.h"

namespace zor {

class TTCPListener : public TAcceptLoopListener {
 public:
  // `connectString` is the listener parameter string ("BoundPort=768;...").
  explicit TTCPListener(std::string connectString);
  ~TTCPListener() override;

  const char* ClassName() const override { return "TTCPHandler"; }
  // Opens the listening socket at once (raising when it cannot), then accepts on a thread.
  void Start(TZORServer& server) override;

 protected:
  std::unique_ptr<TSocketHandler> NewWaitingEnd() const override;
};

}  // namespace zor
