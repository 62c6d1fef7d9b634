// The connection that code inside a server-hosting process works through. It has no
// transport of its own: each execute borrows one of the server's pooled connections,
// forwards the command and the wait for its result to it, and gives it back when the execute
// ends, so an idle thread never keeps a pooled connection.
#pragma once

#include <memory>
#include <string_view>

#include "intercom/connection_pool.h"
#include "intercom/ic_connection.h"

namespace zor {

inline constexpr std::string_view kWrapOutsideExecuteText = "Error of executing WapConnection!";
inline constexpr std::string_view kNoHostedServerText =
    "No application server runs in this process.";

class TWrapConnection : public TIcConnection {
 public:
  TWrapConnection() = default;
  ~TWrapConnection() override;
  const char* ClassName() const override { return "TWrapConnection"; }

  // Usable while the process hosts a server.
  bool Connected() override;
  // Takes this connection's execute lock, then borrows a pooled connection and takes its lock.
  void BeginExecute() override;
  // Releases both locks and returns the borrowed connection to the pool.
  void EndExecute() override;
  // Forwarded to the borrowed connection; outside an execute they raise
  // "Error of executing WapConnection!".
  void SendCommand(uint32_t command, uint32_t contextId = 0) override;
  void SendCommandData(uint32_t command, const TVariantArray& data,
                       uint32_t contextId = 0) override;
  TVariantArray WaitResult(bool useTimeout) override;

  // The pooled connection of the running execute, nullptr outside one.
  TIcConnection* Borrowed() const { return BorrowedConnection; }

 private:
  TIcConnection& CheckBorrowed() const;
  void GiveBack() noexcept;

  std::shared_ptr<TConnectionPool> Pool;
  TIcConnection* BorrowedConnection = nullptr;
};

}  // namespace zor
