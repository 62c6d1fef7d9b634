// The application server object: its listeners, its services and the routing of every
// command to a built-in handler or to the service that owns the command's range. The
// connections it accepts are kept by its session table (server_sessions.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "intercom/request_budget.h"
#include "server/server_listener.h"
#include "server/server_log.h"
#include "server/session_settings.h"
#include "server/session_table.h"
#include "server/settings_store.h"
#include "server/zor_service.h"

namespace zor {

// How a received command is handled.
enum class CommandRoute {
  Logon,    // 0 and 7: the session opening
  BuiltIn,  // handled by the server itself (1, 2, 5, 16, 35, 36, 41)
  Service,  // 257 and above: the service that owns the range, if any
  Invalid,  // answered with the invalid-command error
};
CommandRoute RouteOf(uint32_t command);

class TIcIOHandler;

class TZORServer {
 public:
  TZORServer(TServerLog& log, TSettingsStore& settings, TSessionSettings sessionSettings = {});
  virtual ~TZORServer();
  TZORServer(const TZORServer&) = delete;
  TZORServer& operator=(const TZORServer&) = delete;

  TServerLog& Log() { return LogSink; }
  TSettingsStore& Settings() { return Store; }
  const TSessionSettings& SessionSettings() const { return SessionConfig; }
  TSessionTable& Sessions() { return SessionList; }
  // This server never links to a master, so it is never a proxy.
  bool IsProxy() const { return false; }

  // Services. Adding refuses a second service with the same base or (without case) the
  // same name; a service of another server leaves that server first.
  void AddService(TZORService* service);
  void RemoveService(TZORService* service);
  std::vector<TZORService*> Services() const;
  // The service whose range holds `command` (257 and above only), or nullptr.
  TZORService* ServiceFor(uint32_t command) const;

  // Listeners: owned by the server; started at once when the server is active.
  TServerListener* AddListener(std::unique_ptr<TServerListener> listener);
  // Stops and frees `listener`.
  void RemoveListener(TServerListener* listener);
  std::vector<TServerListener*> Listeners() const;

  // Activation: starts the enabled services, their timers and the listeners; deactivation
  // stops them in reverse order.
  void Activate();
  void Deactivate();
  bool Active() const { return IsActive.load(); }
  // Raises "The server is not actived!" / "The server is actived!" when the state differs.
  void CheckActive(bool mustBeActive) const;

  // Serves a connected client transport on a thread of its own (listeners call this).
  void AcceptTransport(std::unique_ptr<TIcIOHandler> handler);
  // True from the start of `Deactivate`: running commands end early, no new ones start.
  bool Stopping() const { return IsStopping.load(); }
  // Counts a transport from `address` against the connection limit and the limit per
  // address; nothing is counted when either is reached.
  enum class Admission { Admitted, ServerFull, AddressFull };
  Admission EnterTransport(const std::string& address);
  void LeaveTransport(const std::string& address);
  int32_t TransportCount() const { return Transports.load(); }
  // The temporary-file spill of large requests, shared by every session.
  TSpillBudget& Spill() { return SpillBytes; }
  TInFlightBudget& InFlight() { return InFlightRequests; }

  // The general dispatch: a command of 257 or more goes to the service that owns it, when
  // that service is enabled; anything else is an invalid command.
  void Dispatch(TServiceMessage& message);

 private:
  void TimerLoop();
  void ReapRunners(bool all);
  void CloseSessions();

  struct TRunnerThread {
    std::thread Thread;
    std::atomic<bool> Done{false};
  };

  TServerLog& LogSink;
  TSettingsStore& Store;
  TSessionSettings SessionConfig;
  TSessionTable SessionList;
  std::atomic<bool> IsActive{false};
  std::atomic<bool> IsStopping{false};
  std::atomic<int32_t> Transports{0};
  std::mutex AddressesLock;
  std::map<std::string, int32_t> PerAddress;
  TSpillBudget SpillBytes{kMaxSpillTotal};
  TInFlightBudget InFlightRequests{kMaxInFlightBytes, kMaxInFlightElements};
  std::mutex RunnersLock;
  std::list<TRunnerThread> Runners;
  mutable std::shared_mutex ServicesLock;
  std::vector<TZORService*> ServiceList;
  mutable std::mutex ListenersLock;
  std::vector<std::unique_ptr<TServerListener>> ListenerList;

  std::mutex TimerLock;
  std::condition_variable TimerWake;
  bool TimerStop = false;
  std::thread TimerThread;
};

}  // namespace zor
