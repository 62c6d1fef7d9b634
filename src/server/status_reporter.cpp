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
  if (Worker.Running()) return;
  // The first report is due one interval after the start, not after the thread begins.
  const auto first = GetClock().Now() + Interval;
  Worker.Start([this, first](std::stop_token stop) { Loop(stop, first); });
}

void TStatusReporter::Stop() {
  std::lock_guard guard(Lock);
  Worker.Stop();
}

bool TStatusReporter::Report() {
  const TServerStatus status = Status();
  const bool served = LastBytes.exchange(status.BytesServed) != status.BytesServed;
  if (status.Connections <= 0 && !served) return false;
  Log.Info(kTag, StatusLine(status));
  return true;
}

void TStatusReporter::Loop(const std::stop_token& stop, Clock::Steady::time_point due) {
  while (!Worker.PauseUntil(stop, due)) {
    Report();
    due = GetClock().Now() + Interval;
  }
}

}  // namespace zor
