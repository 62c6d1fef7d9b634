#include "server/status_reporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/clock.h"

namespace zor {
namespace {

TEST(StatusReporter, WritesWhileClientsAreConnectedOrFilesWereServed) {
  TServerLog log;
  log.SetUseStdErr(false);
  std::vector<std::string> lines;
  log.AddSink([&](LogLevel, std::string_view tag, std::string_view text) {
    lines.push_back(std::string(tag) + ": " + std::string(text));
  });
  TServerStatus now;
  TStatusReporter reporter(log, [&] { return now; });

  struct Step {
    TServerStatus status;
    bool writes;
  } const kSteps[] = {
      {{0, 0, 0}, false},        // idle server: quiet
      {{2, 0, 3}, true},         // clients connected
      {{2, 0, 3}, true},         // still connected, nothing new served: still reported
      {{0, 1048576, 3}, true},   // served since the last look, everyone gone already
      {{0, 1048576, 3}, false},  // nothing since
      {{1, 1048576, 1}, true},
  };
  for (const Step& step : kSteps) {
    now = step.status;
    EXPECT_EQ(reporter.Report(), step.writes);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Status: 2 connections, 0 bytes served, 3 files packed",
                       "Status: 2 connections, 0 bytes served, 3 files packed",
                       "Status: 0 connections, 1048576 bytes served, 3 files packed",
                       "Status: 1 connection, 1048576 bytes served, 1 file packed",
                   }));
}

TEST(StatusReporter, StopsItsThreadWithoutWaitingForTheInterval) {
  TServerLog log;
  log.SetUseStdErr(false);
  TStatusReporter reporter(
      log, [] { return TServerStatus{}; }, std::chrono::hours(1));
  reporter.Start();
  reporter.Stop();  // returns at once: the test would otherwise hang for an hour
  reporter.Stop();
}

TEST(StatusReporter, ItsIntervalRunsOnTheProcessClock) {
  ManualClock clock;
  ScopedClock scoped(clock);
  TServerLog log;
  log.SetUseStdErr(false);
  std::atomic<int> lines{0};
  log.AddSink([&](LogLevel, std::string_view, std::string_view) { ++lines; });
  TStatusReporter reporter(
      log,
      [] {
        return TServerStatus{1, 0, 0};
      },
      std::chrono::minutes(5));
  reporter.Start();
  const auto waitForLines = [&](int count) {
    for (int i = 0; i < 500 && lines < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return lines.load();
  };
  clock.Advance(std::chrono::minutes(4));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(lines, 0);  // not yet: one minute to go
  clock.Advance(std::chrono::minutes(1));
  EXPECT_EQ(waitForLines(1), 1);
  clock.Advance(std::chrono::minutes(5));
  EXPECT_EQ(waitForLines(2), 2);
  reporter.Stop();
}

}  // namespace
}  // namespace zor
