#include "server/pipe_listener.h"

#include <gtest/gtest.h>

#include "intercom/scrambling.h"
#include "platform/runtime_dir.h"
#include "support/live_server.h"
#include "support/temp_folder.h"
#include "support/wait_for.h"
#include "transport/pipe_handler.h"

namespace zor {
namespace {

// The server's pipe beside its TCP port: each client that connects gets its own session
// (the greeting), several at once, and the pipe goes with the listener once its clients
// have gone (their server ends share the listening socket).
TEST(PipeListener, ServesEveryClientOfThePipe) {
  testing::TempFolder folder("zpl");  // short: local socket names live below it
  ScopedRuntimeDir runtime(folder.Dir().string());
  testing::LiveServer live;
  live.Start();
  TServerListener* listener =
      live.Server->AddListener(std::make_unique<TPipeListener>(ServerPipeConnectString("zp")));
  ASSERT_TRUE(listener->Running());
  EXPECT_EQ(static_cast<TPipeListener*>(listener)->Path(), folder.Path() + "pipe/zp");

  std::vector<std::unique_ptr<TIcConnection>> clients;
  for (int i = 0; i < 3; ++i) {
    auto client =
        std::make_unique<TIcConnection>(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
    client->SetHandler(std::make_unique<TPipeHandler>(ComposePipeString(".", "zp", false)));
    const TVariantArray greeting = client->WaitResult(true);
    ASSERT_EQ(greeting.size(), 5u);
    EXPECT_EQ(greeting[1].AsString(), "test server");
    clients.push_back(std::move(client));
  }
  clients.clear();
  ASSERT_TRUE(testing::WaitFor([&] { return live.Server->TransportCount() == 0; }));
  live.Server->RemoveListener(listener);
  try {
    TPipeHandler late(ComposePipeString(".", "zp", false));
    ADD_FAILURE() << "the pipe is still there";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message.find(std::string(kPipeNotFoundReason)), std::string::npos) << e.Message;
  }
}

}  // namespace
}  // namespace zor
