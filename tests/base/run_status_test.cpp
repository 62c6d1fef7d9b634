#include "base/run_status.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/exceptions.h"

namespace zor {
namespace {

TEST(RunStatus, StopNowIsNeverOverwrittenAndEachThreadHasItsOwn) {
  std::thread([] {
    EXPECT_EQ(GetRunStatus(), kRunStatusNone);
    EXPECT_EQ(SetRunStatus(kRunStatusQuiet), kRunStatusNone);
    EXPECT_NO_THROW(CheckRunStatus());
    EXPECT_EQ(SetRunStatus(kRunStatusStopRequested), kRunStatusQuiet);
    EXPECT_THROW(CheckRunStatus(), EAbort);
    EXPECT_EQ(SetRunStatus(kRunStatusStopNow), kRunStatusStopRequested);
    EXPECT_EQ(SetRunStatus(kRunStatusWaiting), kRunStatusStopNow);
    EXPECT_EQ(GetRunStatus(), kRunStatusStopNow);
  }).join();
  EXPECT_EQ(GetRunStatus(), kRunStatusNone);
}

}  // namespace
}  // namespace zor
