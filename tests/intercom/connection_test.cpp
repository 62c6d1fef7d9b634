// The connection core over the in-memory pipe: requests and replies on the wire, the reply
// loop (keep-alives, messages, errors, malformed replies), the execute lock, reconnect with
// resume, scrambling, compression, large payloads and the server-side result operations.
#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>

#include "base/run_status.h"
#include "intercom/execute_scope.h"
#include "intercom/result_types.h"
#include "intercom/thread_number.h"
#include "intercom/variant_stream.h"
#include "support/connection_fixture.h"
#include "test_support.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

using testing::ConnectionFixture;
using testing::ExpectError;
using testing::TTestServerConnection;

class ConnectionTest : public ConnectionFixture {
 protected:
  ConnectionTest() { Join(Client, Server); }
  // The server thread uses members of this class: it ends before they go.
  ~ConnectionTest() override { JoinServer(); }

  // Reads one raw message from the client as the server end sees it on the wire.
  std::pair<THeaderBytes, std::vector<uint8_t>> ReadRawRequest(bool withPayload) {
    THeaderBytes header;
    ServerEnd->ReadBuffer(header.data(), 32);
    std::vector<uint8_t> payload;
    if (withPayload) ServerEnd->ReadStream(payload);
    return {header, payload};
  }

  // Writes raw bytes towards the client.
  void WriteRaw(const std::vector<uint8_t>& bytes) {
    ServerEnd->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
  void WriteReplyHeader(ReplyHeader h) {
    const THeaderBytes b = h.Encode();
    WriteRaw(std::vector<uint8_t>(b.begin(), b.end()));
  }
  void WriteBlock(const std::vector<uint8_t>& bytes) {
    ServerEnd->WriteStream(bytes.data(), static_cast<int32_t>(bytes.size()));
  }

  TIcConnection Client;
  TTestServerConnection Server;
};

TEST_F(ConnectionTest, ExecutesACommandAndReturnsTheResult) {
  RunServer([&] {
    const TReceivedRequest r = Server.ReceiveRequest();
    EXPECT_EQ(r.Header.Command, 0x1234u);
    EXPECT_EQ(r.Header.Sequence, 1u);
    EXPECT_EQ(r.Header.Options, 0);
    EXPECT_EQ(r.Header.ContextId, 0u);
    EXPECT_EQ(r.Header.Compressed, 0);
    EXPECT_EQ(r.Args, (TVariantArray{TVariant(7), TVariant::Wide("名字")}));
    Server.SendResultData({TVariant(true), TVariant("ok"), TVariant(3), TVariant(4)});
  });
  static constexpr uint16_t kTypes[] = {kVarBoolean, kVarString, kVarInteger, kVarInteger};
  const TVariantArray result =
      Client.ExecuteQueryData(0x1234, kTypes, {TVariant(7), TVariant::Wide("名字")});
  JoinServer();
  EXPECT_EQ(result, (TVariantArray{TVariant(true), TVariant("ok"), TVariant(3), TVariant(4)}));
  EXPECT_EQ(Client.LastCommand.load(), 0x1234u);
  EXPECT_EQ(Client.RequestCount.load(), 1u);
  EXPECT_EQ(Client.ExecutingThread(), 0u);
  EXPECT_EQ(Server.ReceivedCount.load(), 1u);
}

TEST_F(ConnectionTest, RequestHeadersOnTheWire) {
  struct Case {
    uint32_t Command;
    TVariantArray Args;
    uint32_t Sequence;  // expected
    bool Payload;
  } const kCases[] = {
      {0x1000, {}, 1, false},              // no arguments: size 0 and no block at all
      {cmdLogon, {TVariant(1)}, 0, true},  // unsequenced commands carry 0
      {0x1001, {TVariant(1)}, 2, true},
      {cmdResume, {}, 0, false},
      {cmdNoPayloadVariant, {}, 0, false},
      {cmdLogonEx, {}, 0, false},
      {0x1002, {}, 3, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Command);
    if (c.Args.empty())
      Client.SendCommand(c.Command);
    else
      Client.SendCommandData(c.Command, c.Args);
    const auto [bytes, payload] = ReadRawRequest(c.Payload);
    const RequestHeader h = RequestHeader::Decode(bytes);
    EXPECT_EQ(h.Magic, kRequestMagic);
    EXPECT_EQ(h.Command, c.Command);
    EXPECT_EQ(h.Sequence, c.Sequence);
    EXPECT_EQ(h.PayloadSize, payload.size());
    if (c.Payload) {
      EXPECT_EQ(payload, EncodeVariantStream(c.Args));
    }
    EXPECT_FALSE(ServerEnd->DataAvailable());
  }
  EXPECT_EQ(Client.LastCommand.load(), 0x1002u);  // command 3 does not count as the last one
}

TEST_F(ConnectionTest, AMessageLeavesInOneWrite) {
  Client.SendCommandData(0x1000, {TVariant("abc")});
  EXPECT_EQ(ClientEnd->WriteCalls().size(), 1u);
}

TEST_F(ConnectionTest, RefusesToSendWhenNotConnected) {
  TIcConnection lonely;
  ExpectError<Exception>([&] { lonely.SendCommand(1); }, "并没有与服务器联线！");
  ClientEnd->Close();
  ExpectError<Exception>([&] { Client.ExecuteCommand(1); }, "并没有与服务器联线！");
}

TEST_F(ConnectionTest, ScramblingRoutinesComeInPairs) {
  ExpectError<Exception>([] { TIcConnection c(DefaultEncrypt, 1, nullptr); },
                         "Assign the Encrypt function, bu Decrypt function is NULL!");
  ExpectError<Exception>([] { TIcConnection c(nullptr, 1, DefaultDecrypt); },
                         "Assign the Decrypt function, bu Encrypt function is NULL!");
}

TEST_F(ConnectionTest, KeepAlivesRestartTheTimeOutAndMessagesAreQueued) {
  ClientEnd->DefaultTimeout = 5;
  ClientEnd->SimulatedTime = true;
  // Every 4 simulated seconds of waiting the server sends a keep-alive; after five of them
  // (20 s, four times the time-out) the message and the final reply follow.
  auto last = Clock.Now();
  int keepAlives = 0;
  ClientEnd->OnIdle = [&](TIcIOHandler&) {
    if (MillisecondsSince(last) < 4000) return;
    last = Clock.Now();
    if (++keepAlives <= 5) {
      Server.SendKeepAlive();
    } else if (keepAlives == 6) {
      Server.SendMessage({TVariant("note")});
      Server.SendResultData({TVariant(42)});
    }
  };
  const auto start = Clock.Now();
  Client.SendCommand(0x1000);
  const TVariantArray result = Client.WaitResult(true);
  EXPECT_EQ(result, TVariantArray{TVariant(42)});
  EXPECT_GE(ElapsedMs(start), 24000);
  ASSERT_EQ(Client.MessageCount(), 1u);
  EXPECT_EQ(Client.TakeMessages()[0], TVariantArray{TVariant("note")});
}

TEST_F(ConnectionTest, AFloodOfMessagesKeepsOnlyTheNewestAndCountsTheRest) {
  const int sent = static_cast<int>(kMaxQueuedMessages) + 10;
  for (int i = 0; i < sent; ++i) Server.SendMessage({TVariant(i)});
  Server.SendResultData({TVariant(1)});
  Client.SendCommand(0x1000);
  EXPECT_EQ(Client.WaitResult(true), TVariantArray{TVariant(1)});
  EXPECT_EQ(Client.DroppedMessages(), 10u);
  const std::vector<TVariantArray> kept = Client.TakeMessages();
  ASSERT_EQ(kept.size(), kMaxQueuedMessages);
  EXPECT_EQ(kept.front(), TVariantArray{TVariant(10)});
  EXPECT_EQ(kept.back(), TVariantArray{TVariant(sent - 1)});
  EXPECT_EQ(Client.MessageCount(), 0u);
}

TEST_F(ConnectionTest, ASilentServerTimesOutAndTheLinkStaysOpen) {
  ClientEnd->DefaultTimeout = 5;
  ClientEnd->SimulatedTime = true;
  const auto start = Clock.Now();
  auto e = ExpectError<EConnectIOError>([&] { Client.ExecuteCommand(0x1000); }, "I/O timeout!");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode, -1);
  EXPECT_GE(ElapsedMs(start), 5000);
  EXPECT_LT(ElapsedMs(start), 6000);
  EXPECT_TRUE(Client.Connected());
  EXPECT_EQ(Client.ExecutingThread(), 0u);
}

// A client never waits without end: silence and endless keep-alives end the wait with the
// layer's own message and close the link, also where the caller asked for no time-out.
TEST_F(ConnectionTest, AWaitForAReplyEndsAfterTheSilenceLimitOrTooManyKeepAlives) {
  ClientEnd->SimulatedTime = true;
  Client.ReplyWait = {30, 3};
  const auto start = Clock.Now();
  Client.SendCommand(0x1000);
  ExpectError<EReplyWaitEnded>([&] { Client.WaitResult(false); }, "EReplyWaitEnded",
                               "The server sent nothing for 30 seconds; the connection was "
                               "closed.");
  EXPECT_GE(ElapsedMs(start), 30000);
  EXPECT_FALSE(Client.Connected());

  // The server keeps the wait alive every 10 s, forever.
  auto last = Clock.Now();
  for (const bool useTimeout : {false, true}) {
    Join(Client, Server);
    ClientEnd->SimulatedTime = true;
    ClientEnd->OnIdle = [&](TIcIOHandler&) {
      if (MillisecondsSince(last) < 10000) return;
      last = Clock.Now();
      Server.SendKeepAlive();
    };
    Client.SendCommand(0x1000);
    ExpectError<EReplyWaitEnded>([&] { Client.WaitResult(useTimeout); }, "EReplyWaitEnded",
                                 "The server kept the program waiting (3 keep-alives without an "
                                 "answer); the connection was closed.");
    EXPECT_FALSE(Client.Connected());
  }
}

// The reply decoding has budgets like the server's request decoding: a reply that inflates
// past its bytes or decodes to more elements than allowed is refused while it is decoded.
TEST_F(ConnectionTest, AReplyOverItsBudgetIsRefusedAndTheLinkClosed) {
  Client.ReplyLimits.Decode = {4096, 64};
  struct Case {
    const char* What;
    TVariantArray Reply;
  } const kCases[] = {
      {"inflates past the bytes", {TVariant(std::string(100000, 'a'))}},
      {"too many elements", TVariantArray(100, TVariant(1))},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    Join(Client, Server);
    Server.SendResultData(c.Reply);
    Client.SendCommand(0x1000);
    ExpectError<EReplyWaitEnded>(
        [&] { Client.WaitResult(true); }, "EReplyWaitEnded",
        "The server's answer is larger than the program accepts; the connection was closed.");
    EXPECT_FALSE(Client.Connected());
  }
  // Within the budget the same kind of reply passes.
  Join(Client, Server);
  Server.SendResultData(TVariantArray(32, TVariant(1)));
  Client.SendCommand(0x1000);
  EXPECT_EQ(Client.WaitResult(true).size(), 32u);
}

// Requests in flight on many connections share one budget besides each one's own: a request
// that would pass it is refused while the others hold their shares, and passes once they end.
TEST_F(ConnectionTest, RequestsInFlightShareOneBudget) {
  TInFlightBudget shared(40000, 1000);
  TInFlightShare first(&shared);
  TInFlightShare second(&shared);
  TRequestLimits limits;
  limits.Decode.Share = &first;
  Client.SendCommandData(0x1000, {TVariant(std::string(30000, 'a'))});
  EXPECT_EQ(Server.ReadRequest(limits).Args.size(), 1u);
  EXPECT_GE(shared.BytesInUse(), 30000u);
  limits.Decode.Share = &second;
  Client.SendCommandData(0x1000, {TVariant(std::string(30000, 'b'))});
  ExpectError<ERequestOverBudget>([&] { Server.ReadRequest(limits); }, "ERequestOverBudget",
                                  "The server is busy with other large requests; try again later!");
  first.Clear();
  second.Clear();
  EXPECT_EQ(shared.BytesInUse(), 0u);
  EXPECT_EQ(shared.ElementsInUse(), 0u);
  Client.SendCommandData(0x1000, {TVariant(std::string(30000, 'c'))});
  EXPECT_EQ(Server.ReadRequest(limits).Args.at(0).AsString(), std::string(30000, 'c'));
}

TEST_F(ConnectionTest, ErrorRepliesBecomeResultErrorsWithTheirReactions) {
  struct Case {
    uint32_t Code;
    const char* Message;
    int64_t DelayMs;
    bool StaysConnected;
  } const kCases[] = {
      {0x74000003, "执行失败", 0, true},
      {0x74000011, "The command argument(s) is invalid!", 2000, true},
      {0xFFFFFFFF, "[0x1000] 不是一个合法的命令！", 0, true},
      {0x74000001, "与主服务器的虚拟连线已经中断！", 0, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Code);
    RunServer([&] {
      Server.ReceiveRequest();
      Server.SendErrorResult(c.Code, c.Message);
    });
    const auto start = Clock.Now();
    auto e = ExpectError<EResultError>([&] { Client.ExecuteCommand(0x1000); }, c.Message);
    JoinServer();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, c.Code);
    EXPECT_EQ(ElapsedMs(start), c.DelayMs);
    EXPECT_EQ(Client.Connected(), c.StaysConnected);
  }
}

TEST_F(ConnectionTest, AnErrorReplyIsCaughtAsAnExecuteError) {
  RunServer([&] {
    Server.ReceiveRequest();
    Server.SendErrorResult(0x74000007, "x");
  });
  EXPECT_THROW(Client.ExecuteCommand(0x1000), EExecuteError);
}

TEST_F(ConnectionTest, TheResultTypesAreChecked) {
  RunServer([&] {
    Server.ReceiveRequest();
    Server.SendResultData({TVariant("text")});
  });
  static constexpr uint16_t kTypes[] = {kVarInteger};
  ExpectError<Exception>([&] { Client.ExecuteQuery(0x1000, kTypes); }, "执行后的传回值错误！");
}

TEST(ResultTypesTest, Families) {
  struct Case {
    uint16_t Expected, Actual;
    bool Match;
  } const kCases[] = {
      {kVarEmpty, kVarString, true},
      {kAnyType, kVarArray | kVarByte, true},
      {kVarInteger, kVarByte, true},
      {kVarInteger, kVarLongWord, true},
      {kVarInteger, kVarBoolean, false},
      {kVarDouble, kVarDate, true},
      {kVarSingle, kVarCurrency, true},
      {kVarDouble, kVarInteger, false},
      {kVarString, kVarOleStr, true},
      {kVarDispatch, kVarUnknown, true},
      {kVarArray | kVarInteger, kVarArray | kVarWord, true},
      {kVarArray | kVarInteger, kVarInteger, false},
      {kExactTypeFlag | kVarInteger, kVarSmallint, false},
      {kExactTypeFlag | kVarInteger, kVarInteger, true},
      {kVarBoolean, kVarBoolean, true},
      {kVarError, kVarInteger, false},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(ResultTypeMatches(c.Expected, c.Actual), c.Match) << c.Expected << " " << c.Actual;
  const TVariantArray two = {TVariant(1), TVariant(2)};
  static constexpr uint16_t kOne[] = {kVarInteger};
  EXPECT_THROW(CheckResultTypes(two, kOne), Exception);  // high index differs
  CheckResultTypes(two, {});                             // no types: no check
}

TEST_F(ConnectionTest, MalformedRepliesRaiseTheLayersErrors) {
  const std::vector<uint8_t> good = EncodeVariantStream({TVariant(1)}, {.ShortMagic = true});
  struct Case {
    const char* Name;
    std::function<void()> Send;
    const char* Message;
    bool ClosesLink;
  } const kCases[] = {
      {"unknown kind",
       [&] {
         WriteReplyHeader({0, 0, 0, 0x12345678});
       },
       "Error result data of TIcConnection.", false},
      {"payload that does not parse",
       [&] {
         const std::vector<uint8_t> bad = testing::Hex("9D 46 58 ED FF FF FF FF");
         WriteReplyHeader({0, static_cast<uint32_t>(bad.size()), 0, 0});
         WriteBlock(bad);
       },
       "Error stream format!", false},
      {"compressed payload that does not inflate",
       [&] {
         WriteReplyHeader({0, static_cast<uint32_t>(good.size()), 1, 0});
         WriteBlock(good);
       },
       "Unabel to decompress the compressed data!", false},
      {"block longer than announced",
       [&] {
         WriteReplyHeader({0, static_cast<uint32_t>(good.size() - 1), 0, 0});
         WriteBlock(good);
       },
       "Error stream format!", true},
      {"block shorter than announced",
       [&] {
         WriteReplyHeader({0, static_cast<uint32_t>(good.size() + 1), 0, 0});
         WriteBlock(good);
       },
       "Error stream format!", true},
      {"absurd announced size",
       [&] {
         WriteReplyHeader({0, 0x7FFFFFFF, 0, 0});
       },
       "Error stream format!", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    Join(Client, Server);
    c.Send();
    ExpectError<Exception>([&] { Client.ExecuteCommand(0x1000); }, c.Message);
    EXPECT_EQ(Client.Connected(), !c.ClosesLink);
    if (!c.ClosesLink) {
      EXPECT_FALSE(ClientEnd->DataAvailable());  // nothing left to confuse the next reply
    }
  }
}

TEST_F(ConnectionTest, AnAnnouncedPayloadWithAnEmptyBlockIsAnInvalidArgument) {
  WriteReplyHeader({0, 10, 0, 0});
  WriteBlock({});
  auto e = ExpectError<EInvalidCommand>([&] { Client.ExecuteCommand(0x1000); },
                                        "The command argument(s) is invalid!");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode, 0x74000011u);
}

// ---- execute lock ----

TEST_F(ConnectionTest, TheExecuteLockIsNotReentrant) {
  Client.BeginExecute();
  const auto start = Clock.Now();
  ExpectError<EExecConflictError>([&] { Client.BeginExecute(); },
                                  "Connection is executing command!");
  EXPECT_EQ(ElapsedMs(start), 0);
  Client.EndExecute();
  EXPECT_EQ(Client.ExecutingThread(), 0u);
}

TEST_F(ConnectionTest, AnExecuteScopeHoldsTheLockUntilItIsLeftAlsoByAnException) {
  const auto failedCommand = [&] {
    TExecuteScope scope(Client);
    EXPECT_EQ(Client.ExecutingThread(), CurrentThreadNumber());
    // A scope that cannot begin ends nothing: the outer scope keeps the lock.
    EXPECT_THROW(TExecuteScope inner(Client), EExecConflictError);
    EXPECT_EQ(Client.ExecutingThread(), CurrentThreadNumber());
    throw std::runtime_error("the command failed");
  };
  EXPECT_THROW(failedCommand(), std::runtime_error);
  EXPECT_EQ(Client.ExecutingThread(), 0u);
}

TEST_F(ConnectionTest, ASecondThreadGivesUpAfter1000RetriesOf10Ms) {
  std::thread holder([&] { Client.BeginExecute(); });
  holder.join();
  const uint32_t holderId = Client.ExecutingThread();
  ASSERT_NE(holderId, 0u);
  const auto start = Clock.Now();
  ExpectError<EExecConflictError>([&] { Client.BeginExecute(); },
                                  "Connection is executing command!");
  EXPECT_EQ(ElapsedMs(start), 10000);
  Client.EndExecute();  // not the holder: no change
  EXPECT_EQ(Client.ExecutingThread(), holderId);
}

TEST_F(ConnectionTest, AWaitingThreadThatIsAskedToStopEndsSilentlyFromThe501stRetry) {
  std::thread holder([&] { Client.BeginExecute(); });
  holder.join();
  const auto start = Clock.Now();
  std::thread waiter([&] {
    SetRunStatus(kRunStatusStopRequested);
    EXPECT_THROW(Client.BeginExecute(), EAbort);
    EXPECT_EQ(GetRunStatus(), kRunStatusStopRequested);
  });
  waiter.join();
  EXPECT_EQ(ElapsedMs(start), 501 * 10);
}

// ---- reconnect and resume ----

class ReconnectTest : public ConnectionTest {
 protected:
  ReconnectTest() {
    Client.SessionId = 77;
    Client.OnReconnect = [this](TIcConnection&) {
      ++Reconnects;
      // The old server end is gone with the old pipe; a fresh server takes the new one. The
      // first server's thread may still be inside closing its end: it ends before that end goes.
      JoinServer();
      Join(Client, Server);
      Client.SessionId = 99;  // the session opening of a new transport gives a new id
      RunServer(SecondServer);
    };
  }
  ~ReconnectTest() override { JoinServer(); }

  // The first server receives the command and then loses the link.
  void BreakAfterRequest() {
    RunServer([&] {
      Server.ReceiveRequest();
      Server.Handler()->Close();
    });
  }

  // The second server answers the resume request and then what `after` says.
  void ResumeWith(std::function<void(const TReceivedRequest&)> answer) {
    SecondServer = [this, answer] {
      const TReceivedRequest r = Server.ReceiveRequest();
      Resume = r;
      answer(r);
    };
  }

  int Reconnects = 0;
  std::function<void()> SecondServer;
  TReceivedRequest Resume;
};

TEST_F(ReconnectTest, TheResultStillArrivesAfterResume) {
  ResumeWith([&](const TReceivedRequest&) {
    Server.SendResultData({TVariant(true)});
    Server.SendResultData({TVariant(5)});  // the interrupted command's result
  });
  BreakAfterRequest();
  Client.Counter = 10;
  const TVariantArray result = Client.ExecuteQueryData(0x1234, {}, {TVariant(1)});
  JoinServer();
  EXPECT_EQ(result, TVariantArray{TVariant(5)});
  EXPECT_EQ(Reconnects, 1);
  EXPECT_EQ(Resume.Header.Command, cmdResume);
  EXPECT_EQ(Resume.Header.Sequence, 0u);
  EXPECT_EQ(Resume.Args, (TVariantArray{TVariant(77), TVariant(0x1234), TVariant(11)}));
  EXPECT_EQ(Client.SessionId.load(), 77u);  // the old session lives on
  EXPECT_EQ(Client.ReconnectingThread(), 0u);
  EXPECT_EQ(Client.ExecutingThread(), 0u);
}

TEST_F(ReconnectTest, ALostResultAsksTheUserToRepeat) {
  ResumeWith([&](const TReceivedRequest&) { Server.SendResultData({TVariant(false)}); });
  BreakAfterRequest();
  ExpectError<Exception>([&] { Client.ExecuteCommand(0x1234); },
                         "因为连线中断原因，虽然已经重新连线，但作业并没有完成，请重新操作。");
  JoinServer();
  EXPECT_EQ(Client.ExecutingThread(), 0u);
}

TEST_F(ReconnectTest, AnUnknownSessionLogsOnAgain) {
  int relogons = 0;
  Client.Subscribed = true;
  Client.OnRelogon = [&](TIcConnection&) { ++relogons; };
  ResumeWith([&](const TReceivedRequest&) {
    Server.SendErrorResult(kErrSessionUnknown,
                           "指定的连接句柄在服务器并不存在！可能是因为超时已被服务器删除。");
  });
  BreakAfterRequest();
  ExpectError<Exception>([&] { Client.ExecuteCommand(0x1234); },
                         "因为连线中断原因，虽然已经重新连线，但作业并没有完成，请重新操作。");
  JoinServer();
  EXPECT_EQ(relogons, 1);
  EXPECT_FALSE(Client.Subscribed.load());
  EXPECT_EQ(Client.SessionId.load(), 99u);  // the new session
}

TEST_F(ReconnectTest, AFailedRelogonDisconnectsAndRaisesItsError) {
  Client.OnRelogon = [&](TIcConnection&) { throw EResultError("用户名或密码错误", 0x74000003); };
  ResumeWith([&](const TReceivedRequest&) { Server.SendErrorResult(kErrSessionUnknown, "gone"); });
  BreakAfterRequest();
  auto e = ExpectError<EResultError>([&] { Client.ExecuteCommand(0x1234); }, "用户名或密码错误");
  JoinServer();
  EXPECT_FALSE(Client.Connected());
  EXPECT_EQ(Client.ExecutingThread(), 0u);
}

TEST_F(ReconnectTest, NoRetryBeforeLogonOrWithoutAWayToReconnect) {
  for (bool beforeLogon : {true, false}) {
    SCOPED_TRACE(beforeLogon);
    Join(Client, Server);
    if (beforeLogon)
      Client.SessionId = 0;
    else
      Client.OnReconnect = nullptr;
    BreakAfterRequest();
    EXPECT_THROW(Client.ExecuteCommand(0x1234), EConnectBroken);
    JoinServer();
    EXPECT_EQ(Reconnects, 0);
    Client.SessionId = 77;
  }
}

TEST_F(ReconnectTest, OnlyTheReconnectingThreadMayExecute) {
  std::atomic<int> stage{0};
  ResumeWith([&](const TReceivedRequest&) {
    // While the client reconnects, another thread tries to execute.
    std::thread intruder([&] {
      ExpectError<EExecConflictError>([&] { Client.BeginExecute(); },
                                      "Connection is in reconnect status!");
    });
    intruder.join();
    Server.SendResultData({TVariant(true)});
    Server.SendEmptyResult();
    stage = 1;
  });
  BreakAfterRequest();
  Client.ExecuteCommand(0x1234);
  JoinServer();
  EXPECT_EQ(stage.load(), 1);
}

// ---- scrambling, compression, size ----

TEST_F(ConnectionTest, ScrambledTrafficRoundTripsAndOnlyThe2048LeadingPayloadBytesAreScrambled) {
  TIcConnection client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  TTestServerConnection server(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Join(client, server);
  // A raw look at one scrambled request: header and first 2048 payload bytes differ from plain.
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13);
  const TVariantArray args = {TVariant::Bytes(bytes)};
  struct TNoCompression : TIcConnection {
    using TIcConnection::TIcConnection;
    bool UseCompression() override { return false; }
  } plainClient(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  {
    auto [a, b] = MakeMemoryPipe();
    TMemoryPipeHandler* far = b.get();
    plainClient.SetHandler(std::move(a));
    plainClient.SendCommandData(0x1000, args);
    THeaderBytes header;
    far->ReadBuffer(header.data(), 32);
    std::vector<uint8_t> payload;
    far->ReadStream(payload);
    const std::vector<uint8_t> plain = EncodeVariantStream(args);
    ASSERT_EQ(payload.size(), plain.size());
    EXPECT_NE(RequestHeader::Decode(header).Magic, kRequestMagic);
    DefaultDecrypt(header.data(), 32, kDefaultScrambleKey);
    EXPECT_EQ(RequestHeader::Decode(header).Magic, kRequestMagic);
    EXPECT_NE(std::vector<uint8_t>(payload.begin(), payload.begin() + 2048),
              std::vector<uint8_t>(plain.begin(), plain.begin() + 2048));
    EXPECT_EQ(std::vector<uint8_t>(payload.begin() + 2048, payload.end()),
              std::vector<uint8_t>(plain.begin() + 2048, plain.end()));
    DefaultDecrypt(payload.data(), 2048, kDefaultScrambleKey);
    EXPECT_EQ(payload, plain);
  }
  // Both ends scrambling: the exchange works in both directions, compressed or not.
  RunServer([&] {
    const TReceivedRequest r = server.ReceiveRequest();
    server.SendResultData(r.Args);
  });
  EXPECT_EQ(client.ExecuteQueryData(0x1000, {}, args), args);
  JoinServer();
}

TEST_F(ConnectionTest, CompressionStartsAt2048EstimatedBytes) {
  for (size_t size : {2047u, 2048u}) {
    const TVariantArray args = {TVariant(std::string(size - 17, 'z'))};
    Client.SendCommandData(0x1000, args);
    const auto [header, payload] = ReadRawRequest(true);
    EXPECT_EQ(RequestHeader::Decode(header).Compressed, size >= 2048 ? 1 : 0) << size;
  }
}

TEST_F(ConnectionTest, PayloadsAbove1MiBTravelBothWays) {
  std::vector<uint8_t> big(1536 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  const TVariantArray args = {TVariant::Bytes(big), TVariant("tail")};
  RunServer([&] {
    const TReceivedRequest r = Server.ReceiveRequest();
    EXPECT_EQ(r.Args, args);
    Server.SendResultData(r.Args);
  });
  EXPECT_EQ(Client.ExecuteQueryData(0x1000, {}, args), args);
  JoinServer();
}

// ---- server side ----

TEST_F(ConnectionTest, AServerForgivesTenBadHeadersAndDisconnectsOnTheEleventh) {
  for (int i = 1; i <= 11; ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> junk(32, static_cast<uint8_t>(i));
    ClientEnd->WriteBuffer(junk.data(), 32);
    auto e = ExpectError<EInvalidCommand>([&] { Server.ReceiveRequest(); },
                                          "The command flag is invalid!");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 0x74000011u);
    EXPECT_EQ(Server.Connected(), i <= 10);
  }
  EXPECT_EQ(Server.BadHeaderCount.load(), 11u);
}

TEST_F(ConnectionTest, HeldBackResults) {
  Client.SendCommand(0x1000);
  Server.ReceiveRequest();
  Server.SkipSendResult = 1;
  Server.SendResultData({TVariant(9)});
  ExpectError<Exception>([&] { Server.SendEmptyResult(); }, "Duplicat result!");
  ExpectError<Exception>([&] { Server.SendSaveResult(); },
                         "Connection is SkipSendResult. Can't SendSaveResult.");
  EXPECT_FALSE(ClientEnd->DataAvailable());
  Server.SkipSendResult = 0;
  Server.SendSaveResult();
  Server.SendSaveResult();  // nothing held any more: nothing sent
  EXPECT_EQ(Client.WaitResult(true), TVariantArray{TVariant(9)});
  EXPECT_FALSE(ClientEnd->DataAvailable());
}

TEST_F(ConnectionTest, EnsureResultSentAnswersACommandThatProducedNothing) {
  Client.SendCommand(0x1000);
  Server.ReceiveRequest();
  Server.EnsureResultSent();
  auto e = ExpectError<EResultError>([&] { Client.WaitResult(true); }, "这个指令没有传回结果！");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode, 0x9FFFFFFEu);
  // After a real result it sends nothing more.
  Client.SendCommand(0x1000);
  Server.ReceiveRequest();
  Server.SendEmptyResult();
  Server.EnsureResultSent();
  EXPECT_TRUE(Client.WaitResult(true).empty());
  EXPECT_FALSE(ClientEnd->DataAvailable());
  ExpectError<Exception>([&] { Server.SendErrorResult(0x9FFFFFFF, "x"); }, "Invalid ErrorCode");
}

TEST_F(ConnectionTest, ServerRepliesUseTheShortStreamMagic) {
  Server.SendResultData({TVariant(1)});
  THeaderBytes header;
  ClientEnd->ReadBuffer(header.data(), 32);
  std::vector<uint8_t> payload;
  ClientEnd->ReadStream(payload);
  EXPECT_EQ(testing::ToHex(payload), "9D 46 58 ED 00 00 00 00 73 D4 03 00 01 00 00 00");
}

// Requests that name files go without the charset byte, so that neither end converts the
// names between the scripts, however the connection converts its other strings.
TEST_F(ConnectionTest, VerbatimRequestsCarryNoCharsetByteAndAreNotConverted) {
  Client.ConvertCharset = 1;
  {
    TVerbatimStrings verbatim;
    Client.SendCommandData(0x1201, {TVariant(1)});
  }
  Client.SendCommandData(0x1201, {TVariant(1)});
  for (const char* magic : {"9D 46 58 ED 00 00 00 00", "9E 46 58 ED"}) {
    const std::string payload = testing::ToHex(ReadRawRequest(true).second);
    EXPECT_EQ(payload.substr(0, std::string(magic).size()), magic);
  }
}

}  // namespace
}  // namespace zor
