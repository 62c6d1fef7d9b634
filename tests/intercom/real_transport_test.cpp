// Large, scrambled, compressible payloads through a real loopback TCP link and a real local
// pipe: what travels through the in-memory pipe in the other tests must survive the kernel's
// partial reads and writes too.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "intercom/ic_connection.h"
#include "intercom/scrambling.h"
#include "platform/runtime_dir.h"
#include "platform/socket.h"
#include "support/connection_fixture.h"
#include "support/temp_folder.h"
#include "support/windows_skips.h"
#include "transport/pipe_handler.h"
#include "transport/tcp_handler.h"

namespace zor {
namespace {

using testing::TTestServerConnection;

struct HandlerPair {
  std::unique_ptr<TIcIOHandler> Client;
  std::unique_ptr<TIcIOHandler> Server;
};

HandlerPair TcpPair() {
  const uint16_t port = FreeLoopbackPort();
  auto server =
      std::make_unique<TTCPHandler>("BoundIP=127.0.0.1;BoundPort=" + std::to_string(port));
  server->Open();
  auto client = std::make_unique<TTCPHandler>("Host=127.0.0.1:" + std::to_string(port));
  EXPECT_TRUE(server->WaitForPeer(5));
  return {std::move(client), std::move(server)};
}

HandlerPair PipePair() {
  auto server = std::make_unique<TPipeHandler>("\\\\.\\pipe\\bigpayload;Server");
  server->Open();
  auto client = std::make_unique<TPipeHandler>("\\\\.\\pipe\\bigpayload");
  EXPECT_TRUE(server->WaitForClient(5));
  return {std::move(client), std::move(server)};
}

// 1.5 MiB of noise (does not compress) and 1.5 MiB of text (compresses well).
TVariantArray BigArguments() {
  std::vector<uint8_t> noise(1536 * 1024);
  for (size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  std::string text;
  while (text.size() < 1536 * 1024)
    text += "line " + std::to_string(text.size()) + " of the release list\r\n";
  return {TVariant::Bytes(noise), TVariant(text), TVariant(int32_t{7})};
}

TEST(RealTransports, LargeScrambledPayloadsTravelBothWaysOverTcpAndThePipe) {
  // A runtime folder of its own, so that pipe names of parallel runs never meet.
  const testing::TempFolder dir("zbig");  // short: local socket names live below it
  ScopedRuntimeDir runtime(dir.Dir().string());
  const TVariantArray args = BigArguments();
  struct Case {
    const char* name;
    HandlerPair (*make)();
  } const kCases[] = {{"tcp", TcpPair}, {"pipe", PipePair}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.make == PipePair && !testing::kHaveLocalPipes) {
      RecordProperty("pipe", "skipped: local pipes are not available on Windows yet");
      continue;
    }
    HandlerPair pair = c.make();
    ASSERT_TRUE(pair.Client && pair.Server);
    TIcConnection client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
    TTestServerConnection server(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
    client.SetHandler(std::move(pair.Client));
    server.SetHandler(std::move(pair.Server));
    server.ShortStreamMagic = 1;
    std::string failure;
    std::thread serverThread([&] {
      try {
        const TReceivedRequest r = server.ReceiveRequest();
        server.SendResultData(r.Args);
      } catch (const std::exception& e) {
        failure = e.what();
      }
    });
    TVariantArray echoed;
    EXPECT_NO_THROW(echoed = client.ExecuteQueryData(0x1000, {}, args));
    serverThread.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(echoed, args);
  }
}

}  // namespace
}  // namespace zor
