#include "server/zor_server.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

#include "base/ascii_case.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/ic_connection.h"
#include "intercom/wire_format.h"
#include "platform/locale.h"
#include "server/server_texts.h"
#include "server/session_runner.h"
#include "transport/ic_errors.h"

namespace zor {

namespace {

// Smallest timer step of the services' timers.
constexpr auto kTimerIdleWait = std::chrono::milliseconds(1000);

// The services this thread holds leases on, so that a service may remove itself (or
// another it holds) from inside its own handler or timer without waiting for itself.
thread_local std::vector<const TZORService*> tLeasedHere;

int32_t LeasesHeldHere(const TZORService* service) {
  return static_cast<int32_t>(std::count(tLeasedHere.begin(), tLeasedHere.end(), service));
}

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
  std::lock_guard guard(ServicesLock);
  for (TZORService* service : ServiceList) service->Owner = nullptr;
  ServiceList.clear();
}

void TZORServer::AddService(TZORService* service) {
  if (service->Owner == this) return;
  {
    std::lock_guard guard(ServicesLock);
    const std::string name = service->Name();
    for (TZORService* other : ServiceList) {
      if (other->CommandBase() == service->CommandBase())
        throw Exception(Format(kTextSameBase, {other->Name()}));
      if (SameTextAscii(other->Name(), name)) throw Exception(Format(kTextSameName, {name}));
    }
  }
  if (service->Owner) service->Owner->RemoveService(service);
  std::lock_guard guard(ServicesLock);
  ServiceList.push_back(service);
  service->Owner = this;
  service->JoinSerial = ++ServiceSerial;
}

void TZORServer::RemoveService(TZORService* service) {
  std::unique_lock guard(ServicesLock);
  auto it = std::find(ServiceList.begin(), ServiceList.end(), service);
  if (it == ServiceList.end() || service->Owner != this)
    throw Exception(std::string(kTextNotOwner));
  // Out of the list first, so no new request or timer run can take it; then wait for the
  // runs of other threads to end.
  ServiceList.erase(it);
  const int32_t mine = LeasesHeldHere(service);
  ServiceReleased.wait(guard, [&] { return service->Leases <= mine; });
  service->Owner = nullptr;
}

std::vector<TZORService*> TZORServer::Services() const {
  std::lock_guard guard(ServicesLock);
  return ServiceList;
}

TZORService* TZORServer::ServiceFor(uint32_t command) const {
  if (command < 257) return nullptr;
  std::lock_guard guard(ServicesLock);
  for (TZORService* service : ServiceList)
    if (service->Owns(command)) return service;
  return nullptr;
}

TZORServer::TServiceLease::TServiceLease(TZORServer* server, TZORService* service)
    : Server(server), Service(service) {
  ++service->Leases;
  tLeasedHere.push_back(service);
}

TZORServer::TServiceLease::TServiceLease(TServiceLease&& other) noexcept
    : Server(std::exchange(other.Server, nullptr)),
      Service(std::exchange(other.Service, nullptr)) {}

TZORServer::TServiceLease& TZORServer::TServiceLease::operator=(TServiceLease&& other) noexcept {
  if (this != &other) {
    Release();
    Server = std::exchange(other.Server, nullptr);
    Service = std::exchange(other.Service, nullptr);
  }
  return *this;
}

TZORServer::TServiceLease::~TServiceLease() {
  Release();
}

void TZORServer::TServiceLease::Release() {
  if (!Service) return;
  // Leases live on the thread that took them (they are not handed between threads).
  if (auto it = std::find(tLeasedHere.rbegin(), tLeasedHere.rend(), Service);
      it != tLeasedHere.rend())
    tLeasedHere.erase(std::next(it).base());
  {
    // Notified under the lock: a remover that wakes may free the service at once.
    std::lock_guard guard(Server->ServicesLock);
    --Service->Leases;
    Server->ServiceReleased.notify_all();
  }
  Server = nullptr;
  Service = nullptr;
}

TZORServer::TServiceLease TZORServer::LeaseServiceFor(uint32_t command) {
  if (command < 257) return {};
  std::lock_guard guard(ServicesLock);
  for (TZORService* service : ServiceList)
    if (service->Owns(command)) return TServiceLease(this, service);
  return {};
}

std::vector<TZORServer::TServiceLease> TZORServer::LeaseServices() {
  std::lock_guard guard(ServicesLock);
  std::vector<TServiceLease> leases;
  leases.reserve(ServiceList.size());
  for (TZORService* service : ServiceList) leases.push_back(TServiceLease(this, service));
  return leases;
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
  for (TServiceLease& service : LeaseServices()) {
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
  std::vector<TServiceLease> services = LeaseServices();
  for (auto it = services.rbegin(); it != services.rend(); ++it) {
    if ((*it)->Enabled()) (*it)->StopReported();
    it->Release();
  }
  for (const auto& session : SessionList.All()) SessionList.Remove(session->Id);
  IsActive = false;
}

void TZORServer::CloseSessions() {
  // Sessions waiting for a request are closed at once; running commands get a while to end
  // (they see `Stopping`), then their transports are closed too.
  const auto deadline = GetClock().Now() + SessionConfig.ShutdownWait;
  while (CloseWaitingSessions(GetClock().Now() >= deadline))
    GetClock().SleepFor(std::chrono::milliseconds(20));
}

bool TZORServer::CloseWaitingSessions(bool closeRunning) {
  bool running = false;
  for (const auto& session : SessionList.All()) {
    std::lock_guard guard(session->Lock);
    if (session->State == SessionState::Detached) continue;
    if (session->State == SessionState::Executing && !closeRunning) {
      running = true;
      continue;
    }
    if (TIcIOHandler* handler = session->Connection->Handler()) handler->Close();
  }
  return running;
}

bool TZORServer::Drain(std::chrono::milliseconds limit) {
  CheckActive(true);
  IsDraining = true;
  {
    std::lock_guard guard(ListenersLock);
    for (const auto& listener : ListenerList) listener->Stop();
  }
  // Commands are not told to stop here: a transfer runs to its end, and its session is
  // closed when it asks for the next one.
  const auto deadline = GetClock().Now() + limit;
  bool drained = false;
  for (;;) {
    if (!CloseWaitingSessions(false)) {
      drained = true;
      break;
    }
    if (GetClock().Now() >= deadline) break;
    GetClock().SleepFor(std::chrono::milliseconds(20));
  }
  Deactivate();
  IsDraining = false;
  return drained;
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
  // The lease keeps the service from leaving the server while it runs the command.
  TServiceLease service = LeaseServiceFor(message.Command);
  if (!service)
    throw EExecuteError(Format(kTextInvalidCommand, {message.Command}), kErrUnknownCommand);
  if (!service->Enabled()) throw Exception(Format(kTextServiceStopped, {service->Name()}));
  service->Execute(message);
}

void TZORServer::TimerLoop() {
  // Service timers run on the process clock, so tests move them forward without sleeping.
  // Each service is leased while its timer is looked at, so it cannot leave and be freed
  // meanwhile; due times are kept by membership, so a service that left and a new one at
  // the same address never share one.
  std::map<uint64_t, Clock::Steady::time_point> due;
  std::unique_lock guard(TimerLock);
  while (!TimerStop) {
    auto next = GetClock().Now() + kTimerIdleWait;
    guard.unlock();
    const auto now = GetClock().Now();
    TimerTick = now.time_since_epoch().count();
    std::map<uint64_t, Clock::Steady::time_point> stillDue;
    for (TServiceLease& service : LeaseServices()) {
      const uint32_t interval = service->TimerInterval();
      if (interval == 0 || !service->Enabled()) continue;
      const uint64_t serial = service->JoinSerial;
      auto [it, added] = due.try_emplace(serial, now + std::chrono::milliseconds(interval));
      if (!added && it->second <= now) {
        service->RunTimer();
        it->second = GetClock().Now() + std::chrono::milliseconds(interval);
      }
      next = std::min(next, it->second);
      stillDue.insert(*it);
      service.Release();
    }
    due.swap(stillDue);
    SessionList.Sweep(GetClock().Now());
    ReapRunners(false);
    guard.lock();
    GetClock().WaitUntil(guard, TimerWake, next, [this] { return TimerStop; });
  }
}

uint32_t TZORServer::Language() const {
  return SessionConfig.Language != 0 ? SessionConfig.Language : GetSystemDefaultLCID();
}

}  // namespace zor
