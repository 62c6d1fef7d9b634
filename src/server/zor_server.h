// The application server object: its listeners, its services and the routing of every
// command to a built-in handler or to the service that owns the command's range. The
// connections it accepts are kept by its session table (server_sessions.h).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "intercom/request_budget.h"
#include "server/server_counters.h"
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
  // True only the first time: a settings store this process may not write (the service's
  // user and /etc/zor) is noted once per run, not at every service it would have stored.
  bool FirstFailedSettingsWrite() { return !SettingsWriteFailed.exchange(true); }
  const TSessionSettings& SessionSettings() const { return SessionConfig; }
  // The server's language: its setting, else the process's locale.
  uint32_t Language() const;
  TSessionTable& Sessions() { return SessionList; }
  // This server never links to a master, so it is never a proxy.
  bool IsProxy() const { return false; }

  // Services. Adding refuses a second service with the same base or (without case) the
  // same name; a service of another server leaves that server first. Removing waits until
  // no request or timer of another thread still runs the service, so the caller may free
  // it as soon as this returns; the thread that runs it may remove it too.
  void AddService(TZORService* service);
  void RemoveService(TZORService* service);
  std::vector<TZORService*> Services() const;
  // The service whose range holds `command` (257 and above only), or nullptr.
  TZORService* ServiceFor(uint32_t command) const;

  // A service kept in use: while a lease lives, `RemoveService` of its service waits.
  class TServiceLease {
   public:
    TServiceLease() = default;
    TServiceLease(TServiceLease&& other) noexcept;
    TServiceLease& operator=(TServiceLease&& other) noexcept;
    ~TServiceLease();
    TZORService* operator->() const { return Service; }
    TZORService* Get() const { return Service; }
    explicit operator bool() const { return Service != nullptr; }
    void Release();

   private:
    friend class TZORServer;
    // Counts a use of `service`; the caller holds the server's service lock.
    TServiceLease(TZORServer* server, TZORService* service);
    TZORServer* Server = nullptr;
    TZORService* Service = nullptr;
  };
  // Leases the service that owns `command` (empty when none does).
  TServiceLease LeaseServiceFor(uint32_t command);
  // Leases every service of the server, in the order they joined.
  std::vector<TServiceLease> LeaseServices();

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

  // A stop that cuts no command: takes no new connections, closes each session as soon as
  // it waits for its next request (its client goes on elsewhere), lets running commands
  // finish, then deactivates. Commands still running after `limit` end as at a plain stop.
  // True when every command ended within the limit.
  bool Drain(std::chrono::milliseconds limit);
  bool Draining() const { return IsDraining.load(); }

  // Serves a connected client transport on a thread of its own (listeners call this).
  void AcceptTransport(std::unique_ptr<TIcIOHandler> handler);
  // True from the start of `Deactivate`: running commands end early, no new ones start.
  bool Stopping() const { return IsStopping.load(); }
  // Counts a transport from `address` against the connection limit and against the limit
  // per address, which counts only transports that have not logged on; nothing is counted
  // when either is reached. `TransportLoggedOn` takes a transport off its address's count;
  // `LeaveTransport` takes it off the rest (`loggedOn`: whether it was taken off already).
  enum class Admission { Admitted, ServerFull, AddressFull };
  Admission EnterTransport(const std::string& address);
  void TransportLoggedOn(const std::string& address);
  void LeaveTransport(const std::string& address, bool loggedOn);
  int32_t TransportCount() const { return Transports.load(); }
  // The temporary-file spill of large requests, shared by every session.
  TSpillBudget& Spill() { return SpillBytes; }
  TInFlightBudget& InFlight() { return InFlightRequests; }
  // The refusals, for the metrics.
  TServerCounters& Counters() { return CounterSet; }
  // When the server's timer loop last went round (it does at least once a second while the
  // server is active): a loop that stopped going round means a server that hangs.
  Clock::Steady::time_point LastTimerTick() const {
    return Clock::Steady::time_point(Clock::Steady::duration(TimerTick.load()));
  }

  // The general dispatch: a command of 257 or more goes to the service that owns it, when
  // that service is enabled; anything else is an invalid command.
  void Dispatch(TServiceMessage& message);

 private:
  void TimerLoop();
  void ReapRunners(bool all);
  void CloseSessions();
  // Closes the transports of sessions that wait for a request; true when commands still run.
  bool CloseWaitingSessions(bool closeRunning);

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
  std::atomic<bool> IsDraining{false};
  std::atomic<bool> SettingsWriteFailed{false};
  std::atomic<int32_t> Transports{0};
  std::mutex AddressesLock;
  std::map<std::string, int32_t> PerAddress;
  TSpillBudget SpillBytes{kMaxSpillTotal};
  TInFlightBudget InFlightRequests{kMaxInFlightBytes, kMaxInFlightElements};
  TServerCounters CounterSet;
  std::atomic<Clock::Steady::rep> TimerTick{0};
  std::mutex RunnersLock;
  std::list<TRunnerThread> Runners;
  // Guards the service list and every service's lease count (`TZORService::Leases`).
  mutable std::mutex ServicesLock;
  std::condition_variable ServiceReleased;
  std::vector<TZORService*> ServiceList;
  uint64_t ServiceSerial = 0;
  mutable std::mutex ListenersLock;
  std::vector<std::unique_ptr<TServerListener>> ListenerList;

  std::mutex TimerLock;
  std::condition_variable TimerWake;
  bool TimerStop = false;
  std::thread TimerThread;
};

}  // namespace zor
