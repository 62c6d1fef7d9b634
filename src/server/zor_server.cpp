#include "server/zor_server.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "base/ascii_case.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/ic_connection.h"
#include "intercom/wire_format.h"
#include "server/server_texts.h"
#include "server/session_runner.h"
#include "transport/ic_errors.h"

namespace zor {

namespace {

// Smallest timer step of the services' timers.
constexpr auto kTimerIdleWait = std::chrono::milliseconds(1000);

}  // namespace

CommandRoute RouteOf(uint32_t command) {
  switch (command) {
    case cmdLogon:
    case cmdLogonEx:
      return CommandRoute::Logon;
    case cmdLogoff:
    case cmdUserLogon:
    case cmdClientIdentity:
    case cmdQueryProxy:
    case cmdSecurityToken:
    case cmdSecurityDecline:
    case cmdResume:
      return CommandRoute::BuiltIn;
    default:
      return command >= 257 ? CommandRoute::Service : CommandRoute::Invalid;
  }
}

TZORServer::TZORServer(TServerLog& log, TSettingsStore& settings, TSessionSettings sessionSettings)
    : LogSink(log), Store(settings), SessionConfig(std::move(sessionSettings)) {}

TZORServer::~TZORServer() {
  if (Active()) Deactivate();
  std::unique_lock guard(ServicesLock);
  for (TZORService* service : ServiceList) service->Owner = nullptr;
  ServiceList.clear();
}

void TZORServer::AddService(TZORService* service) {
  if (service->Owner == this) return;
  {
    std::shared_lock guard(ServicesLock);
    const std::string name = service->Name();
    for (TZORService* other : ServiceList) {
      if (other->CommandBase() == service->CommandBase())
        throw Exception(Format(kTextSameBase, {other->Name()}));
      if (SameTextAscii(other->Name(), name)) throw Exception(Format(kTextSameName, {name}));
    }
  }
  if (service->Owner) service->Owner->RemoveService(service);
  std::unique_lock guard(ServicesLock);
  ServiceList.push_back(service);
  service->Owner = this;
}

void TZORServer::RemoveService(TZORService* service) {
  std::unique_lock guard(ServicesLock);
  auto it = std::find(ServiceList.begin(), ServiceList.end(), service);
  if (it == ServiceList.end() || service->Owner != this)
    throw Exception(std::string(kTextNotOwner));
  ServiceList.erase(it);
  service->Owner = nullptr;
}

std::vector<TZORService*> TZORServer::Services() const {
  std::shared_lock guard(ServicesLock);
  return ServiceList;
}

TZORService* TZORServer::ServiceFor(uint32_t command) const {
  if (command < 257) return nullptr;
  std::shared_lock guard(ServicesLock);
  for (TZORService* service : ServiceList)
    if (service->Owns(command)) return service;
  return nullptr;
}

TServerListener* TZORServer::AddListener(std::unique_ptr<TServerListener> listener) {
  std::lock_guard guard(ListenersLock);
  for (const auto& other : ListenerList) {
    if (std::string_view(other->ClassName()) == listener->ClassName() &&
        other->ConnectString() == listener->ConnectString())
      throw Exception(Format(kTextListenerTwice, {listener->ConnectString()}));
  }
  if (Active()) listener->Start(*this);
  ListenerList.push_back(std::move(listener));
  return ListenerList.back().get();
}

void TZORServer::RemoveListener(TServerListener* listener) {
  std::unique_ptr<TServerListener> removed;
  {
    std::lock_guard guard(ListenersLock);
    auto it = std::find_if(ListenerList.begin(), ListenerList.end(),
                           [&](const auto& item) { return item.get() == listener; });
    if (it == ListenerList.end()) return;
    removed = std::move(*it);
    ListenerList.erase(it);
  }
  removed->Stop();
}

std::vector<TServerListener*> TZORServer::Listeners() const {
  std::lock_guard guard(ListenersLock);
  std::vector<TServerListener*> list;
  for (const auto& item : ListenerList) list.push_back(item.get());
  return list;
}

void TZORServer::CheckActive(bool mustBeActive) const {
  if (mustBeActive && !Active()) throw Exception(std::string(kTextNotActive));
  if (!mustBeActive && Active()) throw Exception(std::string(kTextActive));
}

void TZORServer::Activate() {
  CheckActive(false);
  IsStopping = false;
  IsActive = true;
  for (TZORService* service : Services()) {
    if (!service->Enabled()) continue;
    if (!service->StartReported()) service->IsEnabled = false;
  }
  {
    std::lock_guard guard(TimerLock);
    TimerStop = false;
  }
  TimerThread = std::thread([this] { TimerLoop(); });
  try {
    std::lock_guard guard(ListenersLock);
    for (const auto& listener : ListenerList) listener->Start(*this);
  } catch (...) {
    Deactivate();
    throw;
  }
}

void TZORServer::Deactivate() {
  CheckActive(true);
  IsStopping = true;
  {
    std::lock_guard guard(ListenersLock);
    for (const auto& listener : ListenerList) listener->Stop();
  }
  CloseSessions();
  ReapRunners(true);
  {
    std::lock_guard guard(TimerLock);
    TimerStop = true;
  }
  TimerWake.notify_all();
  if (TimerThread.joinable()) TimerThread.join();
  std::vector<TZORService*> services = Services();
  for (auto it = services.rbegin(); it != services.rend(); ++it)
    if ((*it)->Enabled()) (*it)->StopReported();
  for (const auto& session : SessionList.All()) SessionList.Remove(session->Id);
  IsActive = false;
}

void TZORServer::CloseSessions() {
  // Sessions waiting for a request are closed at once; running commands get a while to end
  // (they see `Stopping`), then their transports are closed too.
  const auto deadline = GetClock().Now() + SessionConfig.ShutdownWait;
  for (;;) {
    bool running = false;
    for (const auto& session : SessionList.All()) {
      std::lock_guard guard(session->Lock);
      if (session->State == SessionState::Detached) continue;
      if (session->State == SessionState::Executing && GetClock().Now() < deadline) {
        running = true;
        continue;
      }
      if (TIcIOHandler* handler = session->Connection->Handler()) handler->Close();
    }
    if (!running) return;
    GetClock().SleepFor(std::chrono::milliseconds(20));
  }
}

void TZORServer::AcceptTransport(std::unique_ptr<TIcIOHandler> handler) {
  ReapRunners(false);
  if (Stopping()) return;  // the handler closes as it is freed
  std::lock_guard guard(RunnersLock);
  TRunnerThread& runner = Runners.emplace_back();
  runner.Thread = std::thread([this, &runner, handler = std::move(handler)]() mutable {
    TSessionRunner(*this, std::move(handler)).Run();
    runner.Done = true;
  });
}

void TZORServer::ReapRunners(bool all) {
  std::list<TRunnerThread> finished;
  {
    std::lock_guard guard(RunnersLock);
    for (auto it = Runners.begin(); it != Runners.end();) {
      auto next = std::next(it);
      if (all || it->Done.load()) finished.splice(finished.end(), Runners, it);
      it = next;
    }
  }
  for (TRunnerThread& runner : finished)
    if (runner.Thread.joinable()) runner.Thread.join();
}

TZORServer::Admission TZORServer::EnterTransport(const std::string& address) {
  std::lock_guard guard(AddressesLock);
  if (Transports.load() >= SessionConfig.MaxConnections) return Admission::ServerFull;
  int32_t& fromAddress = PerAddress[address];
  if (fromAddress >= SessionConfig.MaxPerAddress) {
    if (fromAddress == 0) PerAddress.erase(address);
    return Admission::AddressFull;
  }
  ++fromAddress;
  ++Transports;
  return Admission::Admitted;
}

void TZORServer::TransportLoggedOn(const std::string& address) {
  std::lock_guard guard(AddressesLock);
  if (auto it = PerAddress.find(address); it != PerAddress.end() && --it->second <= 0)
    PerAddress.erase(it);
}

void TZORServer::LeaveTransport(const std::string& address, bool loggedOn) {
  std::lock_guard guard(AddressesLock);
  if (!loggedOn)
    if (auto it = PerAddress.find(address); it != PerAddress.end() && --it->second <= 0)
      PerAddress.erase(it);
  --Transports;
}

void TZORServer::Dispatch(TServiceMessage& message) {
  TZORService* service = ServiceFor(message.Command);
  if (!service)
    throw EExecuteError(Format(kTextInvalidCommand, {message.Command}), kErrUnknownCommand);
  if (!service->Enabled()) throw Exception(Format(kTextServiceStopped, {service->Name()}));
  service->Execute(message);
}

void TZORServer::TimerLoop() {
  // Service timers run on the process clock, so tests move them forward without sleeping.
  std::map<TZORService*, Clock::Steady::time_point> due;
  std::unique_lock guard(TimerLock);
  while (!TimerStop) {
    auto next = GetClock().Now() + kTimerIdleWait;
    guard.unlock();
    const auto now = GetClock().Now();
    for (TZORService* service : Services()) {
      const uint32_t interval = service->TimerInterval();
      if (interval == 0 || !service->Enabled()) continue;
      auto [it, added] = due.try_emplace(service, now + std::chrono::milliseconds(interval));
      if (!added && it->second <= now) {
        service->RunTimer();
        it->second = GetClock().Now() + std::chrono::milliseconds(interval);
      }
      next = std::min(next, it->second);
    }
    SessionList.Sweep(GetClock().Now());
    ReapRunners(false);
    guard.lock();
    GetClock().WaitUntil(guard, TimerWake, next, [this] { return TimerStop; });
  }
}

}  // namespace zor
