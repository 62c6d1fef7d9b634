// The application server object: its listeners, its services and the routing of every
// command to a built-in handler or to the service that owns the command's range. The
// connections it accepts are kept by its session table (server_sessions.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/server_listener.h"
#include "server/server_log.h"
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

class TZORServer {
 public:
  TZORServer(TServerLog& log, TSettingsStore& settings);
  virtual ~TZORServer();
  TZORServer(const TZORServer&) = delete;
  TZORServer& operator=(const TZORServer&) = delete;

  TServerLog& Log() { return LogSink; }
  TSettingsStore& Settings() { return Store; }
  // This server never links to a master, so it is never a proxy.
  bool IsProxy() const { return false; }

  // Services. Adding refuses a second service with the same base or (without case) the
  // same name; a service of another server leaves that server first.
  void AddService(TZORService* service);
  void RemoveService(TZORService* service);
  std::vector<TZORService*> Services() const;
  TZORService* FindService(std::string_view name) const;
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

  // The general dispatch: a command of 257 or more goes to the service that owns it, when
  // that service is enabled; anything else is an invalid command.
  void Dispatch(TServiceMessage& message);

 private:
  void TimerLoop();

  TServerLog& LogSink;
  TSettingsStore& Store;
  std::atomic<bool> IsActive{false};
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
