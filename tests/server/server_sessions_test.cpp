#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "intercom/message_headers.h"
#include "server/name_service_responder.h"
#include "server/server_texts.h"
#include "support/live_server.h"
#include "transport/ic_errors.h"
#include "transport/name_service_settings.h"
#include "transport/zor_host_client.h"

namespace zor {
namespace {

using testing::LiveServer;
using testing::TLogonValues;
using testing::TTestClient;

// Waits (bounded) until `done` holds; the tests wait for the server to notice a closed
// transport, which has no event of its own to wait on.
template <typename Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// Reads one reply without the client's reactions (an invalid-argument reply makes a
// client wait two seconds): the header, unscrambled with the session's key, and its payload.
ReplyHeader ReadRawReply(TIcConnection& connection) {
  THeaderBytes bytes;
  connection.Handler()->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  DefaultDecrypt(bytes.data(), bytes.size(), connection.GetKey());
  const ReplyHeader header = ReplyHeader::Decode(bytes);
  if (header.PayloadSize > 0) {
    std::vector<uint8_t> payload;
    connection.Handler()->ReadStream(payload);
  }
  return header;
}

TEST(ServerSessions, BadHeadersAreAnsweredUntilTheEleventhClosesOnlyThatConnection) {
  LiveServer live;
  live.Start();
  TTestClient bystander(live.Port);
  TTestClient garbage(live.Port);
  // A third client sends half a request and stops; it holds nothing of the others.
  TTestClient stalled(live.Port);
  const uint8_t half[16] = {1, 2, 3};
  stalled.Connection.Handler()->WriteBuffer(half, sizeof half);

  uint8_t noise[32];
  for (int i = 1; i <= 10; ++i) {
    for (int k = 0; k < 32; ++k) noise[k] = static_cast<uint8_t>(i * 37 + k * 11);
    garbage.Connection.Handler()->WriteBuffer(noise, sizeof noise);
    const ReplyHeader reply = ReadRawReply(garbage.Connection);
    EXPECT_EQ(reply.ResultCode, kErrInvalidArgument) << i;
    EXPECT_EQ(reply.Kind, kReplyFinal);
    EXPECT_EQ(bystander.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  }
  garbage.Connection.Handler()->WriteBuffer(noise, sizeof noise);
  uint8_t byte;
  EXPECT_THROW(garbage.Connection.Handler()->ReadBuffer(&byte, 1), EConnectIOError);
  EXPECT_EQ(bystander.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  TTestClient late(live.Port);
  EXPECT_EQ(late.Execute(16)[0].AsInteger(), 0);
}

TEST(ServerSessions, ClientsBeyondTheLimitAreRefusedWithAReason) {
  TSessionSettings session;
  session.MaxConnections = 2;
  LiveServer live(session);
  live.Start();
  auto first = std::make_unique<TTestClient>(live.Port);
  TTestClient second(live.Port);
  try {
    TTestClient third(live.Port);
    FAIL();
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, kCodeExecuteError);
    EXPECT_EQ(e.Message, "服务器的连线数已达上限(2)，请稍后再试！");
  }
  first.reset();
  ASSERT_TRUE(Eventually([&] { return live.Server->TransportCount() < 2; }));
  TTestClient again(live.Port);
  EXPECT_EQ(again.Execute(16)[0].AsInteger(), 0);
}

TEST(ServerSessions, AResumedSessionGetsTheResultHeldWhileItsTransportWasCut) {
  LiveServer live;
  live.Start();
  live.Gate->Close();
  TLogonValues logon;
  TTestClient a(live.Port, logon);
  a.Connection.SendCommandData(0x1201, {TVariant("kept for you")});
  live.Gate->WaitEntered(1);
  const uint32_t counter = a.Connection.Counter.load();
  a.Connection.Handler()->Close();  // the transport is cut while the command runs

  TTestClient b(live.Port, logon);
  live.Gate->Release();
  const TVariantArray resumed =
      b.Execute(41, {TVariant(static_cast<int32_t>(a.SessionId)), TVariant(0x1201),
                     TVariant(static_cast<int32_t>(counter))});
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_TRUE(resumed[0].AsBoolean());
  EXPECT_EQ(b.Connection.WaitResult(true)[0].Text(), "kept for you");
  // The new transport now serves the old session.
  EXPECT_EQ(b.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  EXPECT_EQ(live.Server->Sessions().Find(b.SessionId), nullptr);
  EXPECT_NE(live.Server->Sessions().Find(a.SessionId), nullptr);
}

TEST(ServerSessions, ResumeRefusesUnknownSessionsOtherClientsAndAnswersFalseWithoutAResult) {
  LiveServer live;
  live.Start();
  TLogonValues logon;
  auto a = std::make_unique<TTestClient>(live.Port, logon);
  const uint32_t id = a->SessionId;
  EXPECT_EQ(a->Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  const uint32_t counter = a->Connection.Counter.load();
  a->Connection.Handler()->Close();

  TLogonValues other = logon;
  other.Computer = "PC-2";
  TTestClient stranger(live.Port, other);
  struct Case {
    uint32_t Id;
    TTestClient* Client;
    const char* Message;
  } const kCases[] = {
      {12345, &stranger, "指定的连接句柄在服务器并不存在！可能是因为超时已被服务器删除。"},
      {id, &stranger, "指定的连接句柄与目前的连接句柄的客户端讯息并不符合！"},
  };
  for (const Case& c : kCases) {
    try {
      c.Client->Execute(41, {TVariant(static_cast<int32_t>(c.Id)), TVariant(0x1234), TVariant(1)});
      ADD_FAILURE() << c.Message;
    } catch (const EResultError& e) {
      EXPECT_EQ(e.ErrorCode, kErrSessionUnknown);
      EXPECT_EQ(e.Message, c.Message);
    }
  }
  // The last command was answered before the cut: nothing is pending.
  TTestClient b(live.Port, logon);
  const TVariantArray resumed = b.Execute(41, {TVariant(static_cast<int32_t>(id)), TVariant(0x1234),
                                               TVariant(static_cast<int32_t>(counter))});
  EXPECT_FALSE(resumed[0].AsBoolean());
  EXPECT_EQ(b.Execute(16)[0].AsInteger(), 0);
}

// A resume must come from the address the session had: a client elsewhere that learned the
// id and copies the logon values is refused and the session stays whole, while its own
// client, reconnecting from the same address, takes it over with its held result.
TEST(ServerSessions, AResumeFromAnotherAddressIsRefusedAndTheSameAddressTakesTheSession) {
  LiveServer live;
  live.Start();
  live.Gate->Close();
  TLogonValues logon;
  TTestClient a(live.Port, logon);
  a.Connection.SendCommandData(0x1201, {TVariant("kept for you")});
  live.Gate->WaitEntered(1);
  const uint32_t counter = a.Connection.Counter.load();
  a.Connection.Handler()->Close();
  live.Gate->Release();
  const TVariantArray resume = {TVariant(static_cast<int32_t>(a.SessionId)), TVariant(0x1201),
                                TVariant(static_cast<int32_t>(counter))};

  constexpr uint32_t kOtherLoopback = 0x7F000002;  // 127.0.0.2
  TTestClient elsewhere(live.Port, logon, testing::TFromAddress{kOtherLoopback});
  try {
    elsewhere.Execute(41, resume);
    ADD_FAILURE() << "a resume from 127.0.0.2 was accepted";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, kErrSessionUnknown);
    EXPECT_EQ(e.Message, "指定的连接句柄与目前的连接句柄的客户端讯息并不符合！");
  }
  // The refused client keeps its own session; the old one is untouched.
  EXPECT_EQ(elsewhere.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  EXPECT_NE(live.Server->Sessions().Find(elsewhere.SessionId), nullptr);

  TTestClient same(live.Port, logon);
  const TVariantArray resumed = same.Execute(41, resume);
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_TRUE(resumed[0].AsBoolean());
  EXPECT_EQ(same.Connection.WaitResult(true)[0].Text(), "kept for you");
  EXPECT_EQ(live.Server->Sessions().Find(same.SessionId), nullptr);
}

// The credential check at logon is off by default (every test above logs on without one);
// a site's check refuses a logon with its message, closes the connection and logs the
// refusal, and nothing but a logon is served before it admits the client.
TEST(ServerSessions, AnOptionalLogonCheckRefusesWithItsMessage) {
  // Declared before the server, whose session threads write them until it stops.
  std::mutex lock;
  std::vector<std::string> seen;
  std::vector<std::string> log;
  TSessionSettings session;
  session.LogonCheck = [&](const TLogonCredentials& c) -> std::optional<std::string> {
    std::lock_guard guard(lock);
    seen.push_back(c.Computer + "\\" + c.User + "@" + c.PeerAddress);
    if (c.User == "alice") return std::nullopt;
    if (c.User == "thrower") throw std::runtime_error("the check's own failure");
    return "Unknown user " + c.User;
  };
  LiveServer live(session);
  live.Log.AddSink([&](LogLevel, std::string_view, std::string_view text) {
    std::lock_guard guard(lock);
    log.emplace_back(text);
  });
  live.Start();
  TLogonValues alice;
  alice.User = "alice";
  TTestClient admitted(live.Port, alice);
  EXPECT_EQ(admitted.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  struct Case {
    const char* User;
    const char* Message;
  } const kCases[] = {
      {"eve", "Unknown user eve"},
      {"thrower", "The server refused the logon."},
  };
  for (const Case& c : kCases) {
    TLogonValues logon;
    logon.User = c.User;
    try {
      TTestClient refused(live.Port, logon);
      ADD_FAILURE() << c.User << " was admitted";
    } catch (const EResultError& e) {
      EXPECT_EQ(e.ErrorCode, kCodeExecuteError);
      EXPECT_EQ(e.Message, c.Message);
    }
  }
  live.Stop();
  std::lock_guard guard(lock);
  EXPECT_EQ(seen, (std::vector<std::string>{"PC-1\\alice@127.0.0.1", "PC-1\\eve@127.0.0.1",
                                            "PC-1\\thrower@127.0.0.1"}));
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.ends_with("logon of PC-1\\eve from 127.0.0.1 refused: Unknown user eve");
  }));
}

TEST(ServerSessions, ADetachedSessionEndsWhenItsGraceTimeIsOver) {
  TSessionSettings session;
  session.SessionGrace = std::chrono::seconds(0);
  LiveServer live(session);
  live.Start();
  TLogonValues logon;
  uint32_t id = 0;
  {
    TTestClient a(live.Port, logon);
    id = a.SessionId;
    a.Connection.Handler()->Close();
  }
  ASSERT_TRUE(Eventually([&] { return live.Server->Sessions().Find(id) == nullptr; }));
  TTestClient b(live.Port, logon);
  try {
    b.Execute(41, {TVariant(static_cast<int32_t>(id)), TVariant(0), TVariant(0)});
    FAIL();
  } catch (const EResultError& e) {
    EXPECT_EQ(e.Message, "指定的连接句柄在服务器并不存在！可能是因为超时已被服务器删除。");
  }
}

TEST(ServerSessions, StoppingLetsARunningCommandFinishAndClosesTheSessions) {
  TSessionSettings session;
  session.ShutdownWait = std::chrono::seconds(30);
  LiveServer live(session);
  live.Start();
  live.Gate->Close();
  TTestClient idle(live.Port);
  TTestClient busy(live.Port);
  busy.Connection.SendCommandData(0x1201, {TVariant("finished")});
  live.Gate->WaitEntered(1);
  std::thread stopper([&] { live.Stop(); });
  live.Gate->Release();
  EXPECT_EQ(busy.Connection.WaitResult(true)[0].Text(), "finished");
  stopper.join();
  EXPECT_EQ(live.Server->Sessions().Size(), 0u);
  EXPECT_THROW(idle.Execute(16), EIcError);
}

TEST(ServerSessions, ALongCommandSendsKeepAlivesBeforeItsResult) {
  TSessionSettings session;
  session.KeepAliveInterval = std::chrono::seconds(0);  // at every step of the packing
  LiveServer live(session);
  std::string big(3'000'000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  live.Folder.WriteFile("release/big.bin", big);
  live.Start();
  TTestClient client(live.Port);
  client.Connection.SendCommandData(
      cmdPackedFileInfo, {TVariant("big.bin"), TVariant("Libs"), TVariant(""), TVariant(0)});
  int keepAlives = 0;
  ReplyHeader reply;
  while ((reply = ReadRawReply(client.Connection)).Kind == kReplyKeepAlive) ++keepAlives;
  EXPECT_EQ(reply.Kind, kReplyFinal);
  EXPECT_EQ(reply.ResultCode, 0u);
  EXPECT_GE(keepAlives, 1);
  // The session goes on as usual after them.
  EXPECT_EQ(client.Execute(16)[0].AsInteger(), 0);
}

TEST(NameService, AnswersLookupsOverUDP) {
  TServerLog log;
  log.SetUseStdErr(false);
  TNameServiceResponder responder(log, TNameTable::Parse("shop = 10.1.2.3\n"));
  responder.Start("127.0.0.1", 0);
  TNameServiceSettings endpoint;
  endpoint.Host = "127.0.0.1";
  endpoint.Port = responder.Port();
  SetNameServiceSettings(endpoint);
  EXPECT_EQ(ResolveZORHost("SHOP"), 0x0A010203u);  // host byte order
  try {
    ResolveZORHost("nowhere");
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_NE(e.Message.find("nowhere"), std::string::npos) << e.Message;
  }
  ResetNameServiceSettings();
  responder.Stop();
  EXPECT_EQ(responder.Answered(), 2u);
}

}  // namespace
}  // namespace zor
