// A drained server: no new clients, waiting sessions closed at once, a running command
// answered in full before the server stops, and a command that outlasts the limit ended as
// at a plain stop.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/clock.h"
#include "support/live_server.h"
#include "support/wait_for.h"

namespace zor {
namespace {

using namespace std::chrono_literals;
using testing::LiveServer;
using testing::ServerClosed;
using testing::TTestClient;
using testing::WaitFor;

TEST(ServerDrain, ARunningCommandIsAnsweredInFullWhileWaitingSessionsCloseAndNoneAreTaken) {
  LiveServer live;
  live.Start();
  live.Gate->Close();
  TTestClient busy(live.Port);
  TTestClient idle(live.Port);
  TVariantArray reply;
  std::thread command([&] { reply = busy.Execute(0x1201, {TVariant("the whole answer")}); });
  live.Gate->WaitEntered(1);
  bool drained = false;
  std::thread drain([&] { drained = live.Server->Drain(std::chrono::minutes(10)); });

  EXPECT_TRUE(WaitFor([&] { return ServerClosed(idle.Connection); }));
  EXPECT_THROW(TTestClient late(live.Port), std::exception);
  EXPECT_TRUE(live.Server->Active());
  EXPECT_TRUE(live.Server->Draining());

  live.Gate->Release();
  command.join();
  drain.join();
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].Text(), "the whole answer");
  EXPECT_TRUE(drained);
  EXPECT_FALSE(live.Server->Active());
  EXPECT_FALSE(live.Server->Draining());
}

TEST(ServerDrain, ACommandThatOutlastsTheLimitEndsAsAtAPlainStop) {
  ManualClock manual;  // the drain's wait moves this clock, not the test's time
  ScopedClock scoped(manual);
  LiveServer live;
  live.Start();
  live.Gate->Close();
  TTestClient busy(live.Port);
  std::thread command([&] {
    try {
      busy.Execute(0x1201, {TVariant("late")});
    } catch (const std::exception&) {
      // cut by the stop, or answered just before it: both are right here
    }
  });
  live.Gate->WaitEntered(1);
  // The held command may end once the plain stop has begun.
  std::thread opener([&] {
    WaitFor([&] { return live.Server->Stopping(); }, std::chrono::minutes(1));
    live.Gate->Release();
  });
  EXPECT_FALSE(live.Server->Drain(30s));
  EXPECT_FALSE(live.Server->Active());
  opener.join();
  command.join();
}

}  // namespace
}  // namespace zor
