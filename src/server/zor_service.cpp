#include "server/zor_service.h"

#include <chrono>
#include <thread>

#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/wire_format.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/ic_errors.h"

namespace zor {

void CheckCommandBase(uint32_t base) {
  if (base < kMinCommandBase) throw Exception(Format(kTextBaseTooSmall, {kMinCommandBase}));
  if (base >= kMaxCommandBase) throw Exception(Format(kTextBaseTooBig, {kMaxCommandBase}));
  if (base % 0x100 != 0) throw Exception(std::string(kTextBaseNotAligned));
}

TZORService::TZORService(TZORServer* server, uint32_t flags, uint32_t commandBase,
                         std::string description, std::string name)
    : NameText(std::move(name)),
      DescriptionText(std::move(description)),
      Base(commandBase),
      Flags(flags) {
  CheckCommandBase(commandBase);
  if (server) server->AddService(this);
}

TZORService::~TZORService() {
  LeaveServer();
}

void TZORService::LeaveServer() {
  if (!Owner) return;
  try {
    Owner->RemoveService(this);
  } catch (...) {
    // Not this server's any more: nothing to leave.
  }
}

std::string TZORService::Name() const {
  return NameText.empty() ? std::string(ClassName()) : NameText;
}

std::string TZORService::ReportPrefix() const {
  return "  Service - " + Name() + "[" + ClassName() + "]";
}

void TZORService::RegisterCommand(uint32_t command, Handler handler) {
  Handlers[command] = std::move(handler);
}

void TZORService::DefaultHandler(TServiceMessage& message) {
  message.Result = 0;
  throw EExecuteError(Format(kTextInvalidCommand, {message.Command}), kErrUnknownCommand);
}

void TZORService::Execute(TServiceMessage& message) {
  struct BusyGuard {
    std::atomic<int32_t>& Count;
    explicit BusyGuard(std::atomic<int32_t>& count) : Count(count) { ++Count; }
    ~BusyGuard() { --Count; }
  } busy(BusyCount);
  auto it = Handlers.find(message.Command);
  if (it == Handlers.end()) {
    DefaultHandler(message);
    return;
  }
  it->second(message);
}

void TZORService::RunTimer() {
  if (!IsEnabled.load()) return;
  TimerRunning = true;
  try {
    DoTimer();
  } catch (const std::exception& e) {
    if (Owner) Owner->Log().Error(Name(), std::string("Timer failed: ") + e.what());
  }
  TimerRunning = false;
}

bool TZORService::StartReported() {
  TServerLog& log = Owner->Log();
  try {
    DoStart();
    log.Info(kLogTagStartStop, ReportPrefix() + " started.");
    return true;
  } catch (const EAbort&) {
    log.Error(kLogTagStartStop,
              ReportPrefix() + " start failed! " + std::string(kTextStartAborted));
  } catch (const std::exception& e) {
    log.Error(kLogTagStartStop, ReportPrefix() + " start failed! " + e.what());
  } catch (...) {
    // Something that is not an exception object: no message to show.
    log.Error(kLogTagStartStop,
              ReportPrefix() + " start failed! " + std::string(kTextStartAborted));
  }
  return false;
}

void TZORService::StopReported() {
  TServerLog& log = Owner->Log();
  log.Info(kLogTagStartStop, ReportPrefix() + " before stop begin.");
  DoBeforeStop();
  log.Info(kLogTagStartStop, ReportPrefix() + " before stop end.");
  // A timer call in progress gets up to 100 ms to finish.
  for (int i = 0; i < 100 && TimerRunning.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // This server has no connections of its own per service (those serve a proxy's link to
  // its master), so there is nothing to close before the stop hook.
  log.Info(kLogTagStartStop, ReportPrefix() + " stopped begin.");
  DoStop();
  log.Info(kLogTagStartStop, ReportPrefix() + " stopped end.");
}

void TZORService::SetEnabled(bool enabled) {
  if (enabled == IsEnabled.load()) return;
  TServerLog* log = Owner ? &Owner->Log() : nullptr;
  // Tracing of the server's own steps: below info.
  if (log) log->Debug(kLogTagStartStop, kTextSetEnabledBegin);
  struct EndLine {
    TServerLog* Log;
    ~EndLine() {
      if (Log) Log->Debug(kLogTagStartStop, kTextSetEnabledEnd);
    }
  } endLine{log};
  if (!enabled && !MayStop()) throw Exception(std::string(kTextMayNotStop));
  if (Owner && Owner->Active()) {
    if (enabled) {
      if (!StartReported())
        return;  // a failed start leaves the service stopped and the settings as they were
    } else {
      StopReported();
    }
  }
  IsEnabled = enabled;
  if (!Owner) return;
  try {
    Owner->Settings().WriteBool(Name(), "Enabled", enabled);
  } catch (const std::exception& e) {
    // A settings store this process may not write does not stop the service; a service
    // user is not meant to write its settings, so that is noted once, for debugging.
    if (Owner->FirstFailedSettingsWrite())
      Owner->Log().Debug(kLogTagStartStop,
                         Name() + ": the setting Enabled cannot be stored: " + e.what());
  }
}

}  // namespace zor
