// Serves one client transport from accept to close: the greeting, the logon with the key
// change, every request (built-in commands, the resume of a session whose transport broke,
// and the services' commands through the server's dispatch), and at the end either closes
// the session or keeps it detached for its client's return.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "intercom/ic_connection.h"
#include "server/server_call.h"
#include "server/server_session.h"

namespace zor {

class TZORServer;

class TSessionRunner {
 public:
  TSessionRunner(TZORServer& server, std::unique_ptr<TIcIOHandler> handler);
  // Runs until the transport closes or the server stops; never raises.
  void Run();

 private:
  // False when the session ends for good, true when it should wait for a resume.
  bool Serve();
  // Waits for the next request: until the logon deadline before logon, for the idle time-out
  // after it. False when none began in time or the transport was cut.
  bool WaitForRequest(Clock::Steady::time_point logonDeadline);
  // What the next request may cost: little before logon, more after it.
  TRequestLimits Limits() const;
  void Finish(bool keep);
  // The client a listed balancer relays, from its PROXY header: the address, empty when the
  // header names none, nothing when the header is missing or bad (logged; not to be served).
  std::optional<std::string> ReadProxiedClient(TIcIOHandler& handler);
  void SendGreeting();
  void Logon(const TReceivedRequest& request);
  void Resume(const TVariantArray& args);
  // Runs one command; false when the transport is gone.
  bool Execute(uint32_t command, TVariantArray args);
  // Sends a final reply; false (and the result held) when the transport is gone.
  bool Deliver(const TServerResult& result);
  void SendError(uint32_t code, std::string_view message);
  TIcServerConnection& Connection() { return *Session->Connection; }

  TZORServer& Server;
  std::unique_ptr<TIcIOHandler> NewHandler;
  std::shared_ptr<TServerSession> Session;
  // The transport has logged on and so no longer counts against its address's limit.
  bool OffAddressCount = false;
};

}  // namespace zor
