#include "server/status_reporter.h"

namespace zor {

namespace {
constexpr std::string_view kTag = "Status";
}

std::string StatusLine(const TServerStatus& status) {
  return std::to_string(status.Connections) +
         (status.Connections == 1 ? " connection, " : " connections, ") +
         std::to_string(status.BytesServed) + " bytes served, " +
         std::to_string(status.FilesPacked) +
         (status.FilesPacked == 1 ? " file packed" : " files packed");
}

TStatusReporter::TStatusReporter(TServerLog& log, Source source, std::chrono::milliseconds interval)
    : Log(log), Status(std::move(source)), Interval(interval) {}

TStatusReporter::~TStatusReporter() {
  Stop();
}

void TStatusReporter::Start() {
  std::lock_guard guard(Lock);
  if (Thread.joinable()) return;
  Stopping = false;
  Thread = std::thread([this] { Loop(); });
}

void TStatusReporter::Stop() {
  {
    std::lock_guard guard(Lock);
    Stopping = true;
  }
  Wake.notify_all();
  if (Thread.joinable()) Thread.join();
}

bool TStatusReporter::Report() {
  const TServerStatus status = Status();
  const bool served = LastBytes.exchange(status.BytesServed) != status.BytesServed;
  if (status.Connections <= 0 && !served) return false;
  Log.Info(kTag, StatusLine(status));
  return true;
}

void TStatusReporter::Loop() {
  std::unique_lock guard(Lock);
  while (!Wake.wait_for(guard, Interval, [this] { return Stopping; })) {
    guard.unlock();
    Report();
    guard.lock();
  }
}

}  // namespace zor
