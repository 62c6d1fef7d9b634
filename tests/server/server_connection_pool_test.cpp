// Code inside the server process works through `TWrapConnection`: every execute borrows a
// pooled in-process connection of the server and gives it back.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "intercom/default_connection.h"
#include "intercom/wrap_connection.h"
#include "server/server_connection_pool.h"
#include "server/server_texts.h"
#include "support/live_server.h"

namespace zor {
namespace {

using testing::LiveServer;

// Runs `body` on a thread of its own, so that its current connection does not outlive it.
template <typename Body>
auto OnFreshThread(Body body) {
  auto task = std::async(std::launch::async, [&] {
    struct TClear {
      ~TClear() { ClearCurrentConnection(); }
    } clear;
    return body();
  });
  return task.get();
}

std::string Echo(TIcConnection& connection, uint32_t command, const std::string& text) {
  return connection.ExecuteQueryData(command, {}, {TVariant(text)}).at(0).AsString();
}

TEST(ServerConnectionPool, TheDefaultConnectionOfAHostingProcessBorrowsPerExecute) {
  LiveServer live;
  live.Start();
  TScopedServerConnectionPool hosting(*live.Server);
  TServerConnectionPool& pool = hosting.Pool();

  OnFreshThread([&] {
    TIcConnection& connection = GetDefaultConnection();
    EXPECT_STREQ(connection.ClassName(), "TWrapConnection");
    EXPECT_EQ(&GetDefaultConnection(), &connection) << "the wrapper stays the thread's connection";
    EXPECT_EQ(Echo(connection, 0x1234, ""), "0x1234 served by Gate");
    EXPECT_EQ(pool.LentCount(), 0u);
    EXPECT_EQ(pool.IdleCount(), 1u);
    static constexpr uint16_t kPortTypes[] = {kVarInteger};
    EXPECT_EQ(connection.ExecuteQuery(0xAF03, kPortTypes)[0].AsInt64(), kDefaultServerPort);
    EXPECT_EQ(pool.IdleCount(), 1u) << "the second execute reuses the idle connection";
    return 0;
  });
  EXPECT_EQ(live.Server->Sessions().Size(), 1u) << "one pooled session, not one per execute";
}

TEST(ServerConnectionPool, ConcurrentExecutesEachGetAConnectionOfTheirOwn) {
  LiveServer live;
  live.Start();
  TScopedServerConnectionPool hosting(*live.Server);
  TServerConnectionPool& pool = hosting.Pool();

  live.Gate->Close();
  auto held = std::async(std::launch::async, [&] {
    return OnFreshThread([&] { return Echo(GetDefaultConnection(), 0x1201, "held"); });
  });
  live.Gate->WaitEntered(1);
  EXPECT_EQ(pool.LentCount(), 1u);

  std::vector<std::future<std::string>> others;
  for (int i = 0; i < 4; ++i)
    others.push_back(std::async(std::launch::async, [&, i] {
      return OnFreshThread([&] { return Echo(GetDefaultConnection(), 0x1234, std::to_string(i)); });
    }));
  for (auto& other : others) EXPECT_EQ(other.get(), "0x1234 served by Gate");
  live.Gate->Release();
  EXPECT_EQ(held.get(), "held");
  EXPECT_EQ(pool.LentCount(), 0u);
  EXPECT_GE(pool.IdleCount(), 2u) << "the held execute and the others used different connections";
}

TEST(ServerConnectionPool, TheWrapperRefusesUseOutsideAnExecuteAndWithoutAServer) {
  LiveServer live;
  live.Start();
  auto hosting = std::make_unique<TScopedServerConnectionPool>(*live.Server);

  TWrapConnection wrapper;
  EXPECT_TRUE(wrapper.Connected());
  for (auto call : {+[](TWrapConnection& w) { w.SendCommand(0x1234); },
                    +[](TWrapConnection& w) { w.SendCommandData(0x1234, {TVariant(1)}); },
                    +[](TWrapConnection& w) { w.WaitResult(true); }}) {
    try {
      call(wrapper);
      ADD_FAILURE() << "used outside an execute";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, kWrapOutsideExecuteText);
    }
  }

  hosting.reset();
  EXPECT_FALSE(wrapper.Connected());
  try {
    wrapper.ExecuteCommand(0x1234);
    ADD_FAILURE() << "executed without a hosted server";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, kNoHostedServerText);
  }
  EXPECT_EQ(wrapper.ExecutingThread(), 0u) << "a failed begin leaves the execute lock free";
}

TEST(ServerConnectionPool, BorrowingFromAStoppedServerOrAClosedPoolIsRefused) {
  LiveServer live;
  TServerConnectionPool pool(*live.Server);
  try {
    pool.Borrow();
    ADD_FAILURE() << "borrowed from an inactive server";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, kTextNotActive);
  }

  live.Start();
  TIcConnection& borrowed = pool.Borrow();
  pool.Close();
  EXPECT_THROW(pool.Borrow(), Exception);
  pool.Return(borrowed);
  EXPECT_EQ(pool.IdleCount(), 0u) << "a closed pool logs returned connections off";
  EXPECT_EQ(pool.LentCount(), 0u);
}

}  // namespace
}  // namespace zor
