// A service of the application server: it owns the 256 command codes from its command base
// on, answers them through a table of command-numbered handlers, can be started and stopped
// (reported in the server log) and counts the commands it is running.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace zor {

class TZORServer;
class TServerCall;

// The record a command travels in to its handler.
struct TServiceMessage {
  uint32_t Command = 0;
  TServerCall* Call = nullptr;  // the connection, the arguments and the reply operations
  int32_t Result = -1;          // set by the handler; the default handler sets 0
};

// Construction flags of a service.
inline constexpr uint32_t kServiceMayStop = 1;  // may be stopped while the server runs
inline constexpr uint32_t kServiceOnProxy =
    2;  // runs on a proxy server too (this server is always a master)

// Raises the command-base messages when `base` is below 0x100, not below 0xB000 or not a
// multiple of 0x100.
void CheckCommandBase(uint32_t base);

class TZORService {
 public:
  using Handler = std::function<void(TServiceMessage&)>;

  // Checks the base, then joins `server` when one is given.
  TZORService(TZORServer* server, uint32_t flags, uint32_t commandBase, std::string description,
              std::string name);
  virtual ~TZORService();
  TZORService(const TZORService&) = delete;
  TZORService& operator=(const TZORService&) = delete;

  virtual const char* ClassName() const { return "TZORService"; }
  // The service name, or the class name when it has none.
  std::string Name() const;
  const std::string& Description() const { return DescriptionText; }
  uint32_t CommandBase() const { return Base; }
  bool Owns(uint32_t command) const { return command >= Base && command <= Base + 0xFF; }
  TZORServer* Server() const { return Owner; }
  bool MayStop() const { return (Flags & kServiceMayStop) != 0; }
  bool RunsOnProxy() const { return (Flags & kServiceOnProxy) != 0; }
  int32_t Busy() const { return BusyCount.load(); }
  uint32_t TimerInterval() const { return TimerMs.load(); }

  bool Enabled() const { return IsEnabled.load(); }
  // Starts or stops the service (when its server is active), with the start/stop report,
  // and stores the new value in the service's settings.
  void SetEnabled(bool enabled);

  // Runs `message.Command` through the handler table, counting the service busy meanwhile.
  void Execute(TServiceMessage& message);

  // Called by the server's timer every `TimerInterval` ms while the service runs.
  void RunTimer();

 protected:
  // Registers the handler of `command`; a derived class registering the same number wins.
  void RegisterCommand(uint32_t command, Handler handler);
  // Sets the result to 0 and answers "[0x%4x] 不是一个合法的命令！" with code 0xFFFFFFFF.
  virtual void DefaultHandler(TServiceMessage& message);
  void SetTimerInterval(uint32_t ms) { TimerMs = ms; }

  // Hooks of starting and stopping; a failing `DoStart` leaves the service stopped.
  virtual void DoStart() {}
  virtual void DoBeforeStop() {}
  virtual void DoStop() {}
  virtual void DoTimer() {}

  // Leaves the server, waiting until no other thread runs this service. A derived service
  // whose handlers or timer use its own members calls this first in its destructor: the
  // base destructor runs only after those members are gone.
  void LeaveServer();

 private:
  friend class TZORServer;
  // Called by the server when it becomes active or inactive, for an enabled service.
  bool StartReported();
  void StopReported();
  std::string ReportPrefix() const;

  TZORServer* Owner = nullptr;
  // Set by the server under its service lock: the threads running this service now, and a
  // number that tells this membership from any earlier one at the same address.
  int32_t Leases = 0;
  uint64_t JoinSerial = 0;
  std::string NameText;
  std::string DescriptionText;
  uint32_t Base = 0;
  std::atomic<bool> IsEnabled{false};
  std::atomic<uint32_t> TimerMs{0};
  std::atomic<int32_t> BusyCount{0};
  uint32_t Flags = 0;
  std::atomic<bool> TimerRunning{false};
  std::map<uint32_t, Handler> Handlers;
};

}  // namespace zor
