// One client session of the server: who logged on, the connection it answers on, and what
// a resume needs when the client comes back over a new transport after a broken one (the
// last command received and a result that could not be delivered).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "intercom/variant.h"
#include "server/ic_server_connection.h"

namespace zor {

// What the client said about itself at logon; a resume must come from the same client.
struct TLogonInfo {
  std::string Computer;
  std::string User;
  std::string Adapter;
  int32_t OsCode = 0;
  int32_t Lcid = 0;
  int32_t TerminalSession = 0;
  std::string Program;
  std::string Folder;

  bool SameClient(const TLogonInfo& other) const {
    return Computer == other.Computer && User == other.User && Program == other.Program &&
           Folder == other.Folder;
  }
};

// A final reply that is kept until it can be sent.
struct TServerResult {
  uint32_t Code = 0;
  TVariantArray Data;
};

enum class SessionState {
  Reading,    // its transport waits for the next request
  Executing,  // a command runs
  Detached,   // its transport is gone; it waits for the client to resume it
};

class TServerSession {
 public:
  explicit TServerSession(uint32_t id, std::unique_ptr<TIcServerConnection> connection)
      : Id(id), Connection(std::move(connection)) {
    Connection->SessionId = id;
  }

  const uint32_t Id;
  std::unique_ptr<TIcServerConnection> Connection;

  // Set by the logon and the user logon; read by the commands.
  TLogonInfo Logon;
  bool LoggedOn = false;
  std::string UserName;
  std::string PeerAddress;

  // Guarded by `Lock`.
  std::mutex Lock;
  std::condition_variable Changed;
  SessionState State = SessionState::Reading;
  uint32_t LastCommand = 0;
  uint32_t LastSequence = 0;
  std::optional<TServerResult> Held;
  std::chrono::steady_clock::time_point DetachedUntil{};
  bool LoggedOff = false;
};

}  // namespace zor
