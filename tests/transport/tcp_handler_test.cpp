#include "transport/tcp_handler.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/clock.h"
#include "base/run_status.h"
#include "base/timer_queue.h"
#include "support/expect_error.h"
#include "support/windows_skips.h"
#include "transport/socket_listen_list.h"
#include "transport/tcp_messages.h"
#include "transport/zor_host_datagram.h"
#include "udp_responder.h"

namespace zor {
namespace {

using testing::Catch;
using testing::ExpectError;

std::string ServerString(uint16_t port, const std::string& extra = "") {
  return "BoundIP=127.0.0.1;BoundPort=" + std::to_string(port) + extra;
}

std::string ClientString(uint16_t port) {
  return "Host=127.0.0.1:" + std::to_string(port);
}

// A listening server handler and a client connected to it.
struct Link {
  explicit Link(uint16_t port = FreeLoopbackPort()) : Port(port), Server(ServerString(port)) {
    Server.Open();
    Client = std::make_unique<TTCPHandler>(ClientString(port));
    EXPECT_TRUE(Server.WaitForPeer(5));
  }
  uint16_t Port;
  TTCPHandler Server;
  std::unique_ptr<TTCPHandler> Client;
};

TEST(TcpHandler, ClientAndServerExchangeStreamBlocks) {
  Link link;
  ASSERT_TRUE(link.Client->IsConnected());
  ASSERT_TRUE(link.Server.IsConnected());
  EXPECT_EQ(link.Client->GetRemoteAddress(), "127.0.0.1");
  EXPECT_EQ(link.Client->GetDescription(), "TCP 127.0.0.1:" + std::to_string(link.Port));
  EXPECT_EQ(link.Server.PeerIP, "127.0.0.1");
  EXPECT_EQ(link.Client->DefaultTimeout, kSocketDefaultTimeout);

  std::vector<uint8_t> data(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  std::thread writer(
      [&] { link.Client->WriteStream(data.data(), static_cast<int32_t>(data.size())); });
  std::vector<uint8_t> got;
  link.Server.ReadStream(got);
  writer.join();
  EXPECT_EQ(got, data);
  EXPECT_EQ(link.Client->BytesWritten.load(), static_cast<int64_t>(data.size() + 4));
  EXPECT_EQ(link.Server.BytesRead.load(), static_cast<int64_t>(data.size() + 4));
}

TEST(TcpHandler, ConnectFailuresGiveTheirOwnMessages) {
  const uint16_t closedPort = FreeLoopbackPort();
  auto refused = Catch<EConnectIOError>([&] { TTCPHandler client(ClientString(closedPort)); });
  ASSERT_NE(refused, nullptr);
  const int code = SocketErrorConnectionRefused();
  EXPECT_STREQ(refused->ClassName(), "EConnectIOError");
  EXPECT_EQ(refused->ErrorCode, code);
  // Each names the server and port it tried.
  EXPECT_EQ(refused->Message, "无法连接至[127.0.0.1:" + std::to_string(closedPort) +
                                  "], 因为：\r\nWinSock Error. Code: " + std::to_string(code) +
                                  ". " + SocketErrorText(code));

  ExpectError<Exception>(
      [] { TTCPHandler client("Host=nohost.invalid:768"); }, "Exception",
      "无法连接至[nohost.invalid:768], 因为：\r\n" + std::string(kCannotConnectToServerText));
  // Four parts, one above 255: not an address, so looked up as a name.
  ExpectError<Exception>(
      [] { TTCPHandler client("Host=1.2.3.256:768"); }, "Exception",
      "无法连接至[1.2.3.256:768], 因为：\r\n" + std::string(kCannotConnectToServerText));
  ExpectError<Exception>([] { TTCPHandler client("Host=127.0.0.1"); }, "Exception",
                         "Must specified the port to connect!");
  ExpectError<Exception>([] { TTCPHandler client("Host=127.0.0.1:70000"); }, "Exception",
                         "Invalid port value '70000'!");
}

TEST(TcpHandler, TwoServersOnOnePortShareOneListeningSocket) {
  const uint16_t port = FreeLoopbackPort();
  const size_t before = ListenRecordCount();
  auto first = std::make_unique<TTCPHandler>(ServerString(port));
  TTCPHandler second(ServerString(port));
  first->Open();
  second.Open();
  EXPECT_EQ(ListenRecordCount(), before + 1);
  EXPECT_EQ(first->GetState(), kStateWaiting);
  first.reset();  // the other keeps listening
  EXPECT_EQ(ListenRecordCount(), before + 1);
  TTCPHandler client(ClientString(port));
  EXPECT_TRUE(second.WaitForPeer(5));
  const uint8_t hello[] = {'h', 'i'};
  client.WriteBuffer(hello, 2);
  uint8_t in[2];
  second.ReadBuffer(in, 2);
  EXPECT_EQ(in[1], 'i');
  second.Close();  // the last user closes the listening socket
  EXPECT_EQ(ListenRecordCount(), before);
}

TEST(TcpHandler, TheFilterTurnsAwayPeersAndKeepsWaiting) {
  const uint16_t port = FreeLoopbackPort();
  TTCPHandler server(ServerString(port, ";IPList=127.0.0.*;AcceptMode=Deny"));
  server.Open();
  TTCPHandler turnedAway(ClientString(port));  // the system completes the handshake
  EXPECT_FALSE(server.WaitForPeer(0));
  EXPECT_EQ(server.GetState(), kStateWaiting);
  EXPECT_EQ(server.PeerIP, "127.0.0.1");
}

TEST(TcpHandler, AServerOnAThreadWithATimerWindowAcceptsFromItsTimer) {
  CreateTimerWindow();
  const uint16_t port = FreeLoopbackPort();
  int connects = 0;
  TTCPHandler server(ServerString(port));
  server.Open([&](TIcIOHandler&) { ++connects; });
  EXPECT_EQ(server.GetState(), kStateWaiting);
  TTCPHandler client(ClientString(port));
  RunTimerQueue(std::chrono::seconds(5), [&] { return server.IsConnected(); });
  EXPECT_TRUE(server.IsConnected());
  EXPECT_EQ(connects, 1);
  server.Close();
  DestroyTimerWindow();
}

TEST(TcpHandler, ListeningNeedsAPort) {
  TTCPHandler server("BoundIP=127.0.0.1");
  ExpectError<Exception>([&] { server.Open(); }, "Exception", "Error listen port!");
  TTCPHandler waiting(ServerString(FreeLoopbackPort()));
  waiting.Open();
  ExpectError<Exception>([&] { waiting.Open(); }, "Exception",
                         "Thie handler is waiting for connecting!");
}

TEST(TcpHandler, AResetByThePeerBreaksTheLink) {
  if (testing::RunningUnderWine())
    GTEST_SKIP() << "Wine's sockets report a reset by the peer as an orderly end";
  const uint16_t port = FreeLoopbackPort();
  TTCPHandler server(ServerString(port));
  server.Open();
  int error = 0;
  const int raw = CreateSocket(SocketKind::Stream, error);
  StartConnect(raw, SocketAddress{0x7F000001, port}, error);
  ASSERT_TRUE(server.WaitForPeer(5));
  AbortSocket(raw);
  uint8_t in;
  auto e = Catch<EConnectBroken>([&] { server.Read(&in, 1, 5); });
  ASSERT_NE(e, nullptr);
  const int reset = SocketErrorConnectionReset();
  EXPECT_EQ(e->ErrorCode, reset);
  EXPECT_EQ(e->Message,
            "WinSock Error. Code: " + std::to_string(reset) + ". " + SocketErrorText(reset));
  EXPECT_EQ(e->Handler, &server);
  EXPECT_EQ(server.GetState(), kStateDisconnected);
}

TEST(TcpHandler, APeerThatClosesGivesSixZeroReads) {
  Link link;
  link.Client->Close();
  uint8_t in;
  auto e = Catch<EConnectBroken>([&] { link.Server.Read(&in, 1, 5); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Message, kReadFailedText);
  EXPECT_EQ(link.Server.GetState(), kStateDisconnected);
}

TEST(TcpHandler, ASilentPeerTimesOut) {
  Link link;
  uint8_t in;
  ExpectError<EConnectBroken>([&] { link.Client->Read(&in, 1, 1); }, "EConnectBroken",
                              "I/O timeout!");
  EXPECT_EQ(link.Client->GetHandle(), 0);
}

TEST(TcpHandler, AStopRequestEndsALongWait) {
  Link link;
  ManualClock clock;
  ScopedClock scoped(clock);
  int idle = 0;
  link.Client->OnIdle = [&](TIcIOHandler&) {
    if (++idle == 1) SetRunStatus(kRunStatusStopRequested);
    clock.Advance(std::chrono::seconds(1));
  };
  uint8_t in;
  ExpectError<EConnectBroken>([&] { link.Client->Read(&in, 1, kTimeoutNone); }, "EConnectBroken",
                              "The connection I/O is canceled by thread!");
  SetRunStatus(kRunStatusNone);
  // Stop-now ends a readiness wait without an error.
  Link quiet;
  quiet.Server.OnIdle = [](TIcIOHandler&) { SetRunStatus(kRunStatusStopNow); };
  std::thread waiter([&] { EXPECT_FALSE(quiet.Server.WaitReadable(kTimeoutNone)); });
  waiter.join();
}

TEST(TcpHandler, ConnectsToANameFoundByDiscovery) {
  const uint16_t port = FreeLoopbackPort();
  TTCPHandler server(ServerString(port));
  server.Open();
  testing::UdpResponder names([](const std::vector<uint8_t>& request) {
    TLookupRequest parsed;
    ParseLookupRequest(request.data(), request.size(), parsed);
    const auto reply = parsed.Name == "shop1" ? BuildFoundReply(0x7F000001, parsed.Nonce)
                                              : BuildFailureReply(1, "unknown name", parsed.Nonce);
    return std::vector<uint8_t>(reply.begin(), reply.end());
  });
  TTCPHandler client(ComposeHostString(true, "shop1", port));
  EXPECT_TRUE(client.IsConnected());
  EXPECT_TRUE(server.WaitForPeer(5));
  ExpectError<Exception>([&] { TTCPHandler other(ComposeHostString(true, "shop2", port)); },
                         "Exception", "unknown name");
}

}  // namespace
}  // namespace zor
