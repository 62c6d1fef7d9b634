// A server under a hostile or broken client: requests over their budget, commands before
// logon, messages that trickle, idle sessions, many connections from one address, and a
// resume that names another client's session.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/format.h"
#include "intercom/message_headers.h"
#include "intercom/variant_stream.h"
#include "intercom/zlib_streams.h"
#include "server/server_texts.h"
#include "support/live_server.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

using namespace std::chrono_literals;
using testing::LiveServer;
using testing::ServerClosed;
using testing::TLogonValues;
using testing::TTestClient;

template <typename Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

// A reply read without the client's reactions (an invalid-argument reply makes a client wait
// two seconds): its code and the text of its first element.
struct TRawReply {
  uint32_t Code = 0;
  std::string Text;
};

TRawReply ReadRawReply(TIcConnection& connection) {
  THeaderBytes bytes;
  connection.Handler()->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  const ReplyHeader header = ReplyHeader::Decode(bytes);
  TRawReply reply{header.ResultCode, {}};
  if (header.PayloadSize > 0) {
    std::vector<uint8_t> payload;
    connection.Handler()->ReadStream(payload);
    reply.Text = DecodeVariantStream(payload)[0].AsString();
  }
  return reply;
}

// Sends a request with a payload block as given (no scrambling on these servers).
void SendRaw(TIcConnection& connection, uint32_t command, const std::vector<uint8_t>& payload,
             bool compressed) {
  RequestHeader header;
  header.Command = command;
  header.PayloadSize = static_cast<uint32_t>(payload.size());
  header.Compressed = compressed ? 1 : 0;
  const THeaderBytes bytes = header.Encode();
  connection.Handler()->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  if (!payload.empty())
    connection.Handler()->WriteStream(payload.data(), static_cast<int32_t>(payload.size()));
  connection.Handler()->Flush(true);
}

// A zlib stream of `prefix` followed by `count` copies of `unit`, built piece by piece so
// that this process never holds the inflated bytes.
std::vector<uint8_t> Bomb(const std::vector<uint8_t>& prefix, const std::vector<uint8_t>& unit,
                          uint64_t count) {
  TMemorySink out;
  TDeflateSink deflater(out);
  deflater.Write(prefix.data(), prefix.size());
  std::vector<uint8_t> piece;
  for (int i = 0; i < 16384; ++i) piece.insert(piece.end(), unit.begin(), unit.end());
  const uint64_t perPiece = 16384;
  for (uint64_t done = 0; done < count; done += perPiece)
    deflater.Write(piece.data(),
                   static_cast<size_t>(std::min(perPiece, count - done) * unit.size()));
  deflater.Finish();
  return std::move(out.Bytes);
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The most memory this process may hold: the budget the server keeps to. AddressSanitizer's
// shadow memory and quarantine come on top of what the program itself allocates.
#if defined(__SANITIZE_ADDRESS__)
constexpr int64_t kPeakLimit = 256 << 20;
#else
constexpr int64_t kPeakLimit = 64 << 20;
#endif

// The most memory this process has held so far (its high-water mark), in bytes.
int64_t PeakMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  return -1;
}

TSessionSettings Plain() {
  TSessionSettings session;
  session.Scramble = false;
  return session;
}

// A connection that has read the greeting and not logged on.
struct TRawClient {
  explicit TRawClient(uint16_t port) {
    Connection.SetHandler(std::make_unique<TTCPHandler>("Host=127.0.0.1:" + std::to_string(port)));
    Connection.WaitResult(true);
  }
  TIcConnection Connection;
};

TEST(ServerHardening, BombsAreAnsweredWithAnErrorWithinTheMemoryBudget) {
  LiveServer live(Plain());
  live.Start();
  constexpr uint64_t kElements = 16 * 1024 * 1024;  // 64 MiB of empty elements, ~65 KB packed
  const std::vector<uint8_t> stream = Le32(kStreamMagicShort);
  const std::vector<uint8_t> emptyElement = {0x73, 0xD4, 0, 0};
  struct Case {
    const char* Name;
    std::vector<uint8_t> Payload;
  } const kCases[] = {
      {"empty elements", Bomb(Concat({stream, Le32(kElements - 1)}), emptyElement, kElements)},
      {"one long string",
       Bomb(Concat({stream, Le32(0), {0x73, 0xD4, 0x00, 0x01}, Le32(64 << 20)}), {0}, 64 << 20)},
      {"a variant array in a variant",
       Bomb(Concat({stream, Le32(0), {0x73, 0xD4, 0x0C, 0x20, 1, 0}, Le32(kElements), Le32(0)}),
            emptyElement, kElements)},
  };
  TTestClient client(live.Port, {}, false);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_LT(c.Payload.size(), 200'000u);
    SendRaw(client.Connection, 0x1234, c.Payload, true);
    const TRawReply reply = ReadRawReply(client.Connection);
    EXPECT_EQ(reply.Code, kErrInvalidArgument);
    EXPECT_EQ(reply.Text, kRequestTooLargeText);
    // Answered in step: the session goes on.
    EXPECT_EQ(client.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  }
  EXPECT_LT(PeakMemory(), kPeakLimit);

  // Before logon a payload of that size is refused unread, and the connection ends. (Only the
  // header is sent: bytes the server leaves unread would reset the link under its reply.)
  TRawClient early(live.Port);
  RequestHeader logon;
  logon.PayloadSize = static_cast<uint32_t>(kCases[0].Payload.size());
  logon.Compressed = 1;
  const THeaderBytes header = logon.Encode();
  early.Connection.Handler()->WriteBuffer(header.data(), static_cast<int32_t>(header.size()));
  const TRawReply reply = ReadRawReply(early.Connection);
  EXPECT_EQ(reply.Code, kErrInvalidArgument);
  EXPECT_EQ(reply.Text, kRequestTooLargeText);
  EXPECT_TRUE(Eventually([&] { return ServerClosed(early.Connection); }));
  EXPECT_LT(PeakMemory(), kPeakLimit);
}

TEST(ServerHardening, BeforeLogonOnlyTheSessionOpeningIsServed) {
  LiveServer live(Plain());
  live.Start();
  TRawClient early(live.Port);
  for (uint32_t command : {0x1234u, 16u, 41u, cmdFileList, cmdUploadFile}) {
    SCOPED_TRACE(command);
    SendRaw(early.Connection, command, {}, false);
    const TRawReply reply = ReadRawReply(early.Connection);
    EXPECT_EQ(reply.Code, kCodeExecuteError);
    EXPECT_EQ(reply.Text, Format(kTextLogonFirst, {command}));
  }
  // The connection may still log on, and then everything is served.
  TVariantArray logon = {TVariant::Wide("PC"), TVariant::Wide("me"),
                         TVariant(""),         TVariant(-1),
                         TVariant(2052),       TVariant(0),
                         TVariant(1),          TVariant("Client"),
                         TVariant("/opt/"),    TVariant()};
  early.Connection.SendCommandData(0, logon);
  early.Connection.WaitResultDiscard(true);
  early.Connection.SendCommand(0x1234);
  EXPECT_EQ(early.Connection.WaitResult(true)[0].Text(), "0x1234 served by Gate");
}

TEST(ServerHardening, AMessageThatTricklesIsCutAtItsDeadline) {
  ManualClock manual;
  ScopedClock scoped(manual);
  TSessionSettings session = Plain();
  session.IdleTimeout = 0s;  // only the message deadline can end this session
  LiveServer live(session);
  live.Start();
  TTestClient client(live.Port, {}, false);
  RequestHeader header;
  header.Command = 16;
  const THeaderBytes bytes = header.Encode();
  // One byte every 10 s: each well within a read's own time-out (60 s), the whole header never.
  size_t sent = 0;
  while (sent < bytes.size() - 1 && !ServerClosed(client.Connection)) {
    client.Connection.Handler()->WriteBuffer(&bytes[sent++], 1);
    std::this_thread::sleep_for(20ms);  // lets the server take the byte before time moves on
    manual.Advance(10s);
  }
  EXPECT_TRUE(Eventually([&] { return ServerClosed(client.Connection); }));
  EXPECT_GE(sent, 3u);
  EXPECT_LT(sent, bytes.size() - 1);
  EXPECT_TRUE(Eventually([&] { return live.Server->TransportCount() == 0; }));
}

TEST(ServerHardening, AnIdleSessionIsClosedForGood) {
  ManualClock manual;
  ScopedClock scoped(manual);
  TSessionSettings session = Plain();
  session.IdleTimeout = 60s;
  LiveServer live(session);
  live.Start();
  TTestClient client(live.Port, {}, false);
  manual.Advance(59s);
  EXPECT_EQ(client.Execute(16)[0].AsInteger(), 0);  // a request in time restarts the wait
  EXPECT_TRUE(Eventually([&] {
    manual.Advance(61s);
    return ServerClosed(client.Connection);
  }));
  // Not kept for a resume: an idle client has not lost its link.
  EXPECT_TRUE(Eventually([&] { return live.Server->Sessions().Size() == 0; }));
}

// The limit per address holds connections that have not logged on: a flood from one
// address is turned away while the clients that logged on from it stay unlimited (up to the
// server's total), and a connection that logs on frees its place at once.
TEST(ServerHardening, OneAddressGetsOnlyItsShareOfTheConnectionsNotLoggedOn) {
  TSessionSettings session;
  session.MaxPerAddress = 2;
  LiveServer live(session);
  live.Start();
  TTestClient loggedOn1(live.Port), loggedOn2(live.Port), loggedOn3(live.Port);
  auto first = std::make_unique<TTestClient>(live.Port, TLogonValues{}, true, false);
  TTestClient second(live.Port, {}, true, false);
  try {
    TTestClient third(live.Port, {}, true, false);
    ADD_FAILURE() << "a third connection not logged on from 127.0.0.1 was served";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, kCodeExecuteError);
    EXPECT_EQ(e.Message, "来自 127.0.0.1 的连线数已达上限(2)，请稍后再试！");
  }
  first->Logon();  // logged on: no longer counted against the address
  TTestClient again(live.Port, {}, true, false);
  first.reset();
  again.Logon();
  EXPECT_EQ(again.Execute(16)[0].AsInteger(), 0);
  EXPECT_EQ(loggedOn3.Execute(16)[0].AsInteger(), 0);
}

TEST(ServerHardening, ARefusedResumeLeavesTheOldClientConnected) {
  LiveServer live;
  live.Start();
  TTestClient owner(live.Port);
  TLogonValues other;
  other.Computer = "PC-2";
  TTestClient stranger(live.Port, other);
  try {
    stranger.Execute(41,
                     {TVariant(static_cast<int32_t>(owner.SessionId)), TVariant(0), TVariant(0)});
    ADD_FAILURE() << "another client resumed the session";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, kErrSessionUnknown);
    EXPECT_EQ(e.Message, kTextSessionMismatch);
  }
  EXPECT_EQ(owner.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
}

TEST(ServerHardening, TheResumeWaitEndsOnTheInjectedClock) {
  ManualClock manual;
  ScopedClock scoped(manual);
  TSessionSettings session;
  session.ResumeWait = 30s;
  // The clock jumps 31 s at a time until the answer comes, up to 501 times (about 4 h); the
  // resuming transport, not logged on, must not meet its logon deadline first (a slow run
  // may still be sending the resume when the clock has jumped an hour).
  session.LogonTimeout = std::chrono::hours(24);
  LiveServer live(session);
  live.Start();
  live.Gate->Close();
  // A failed assertion below still opens the gate, so the server can stop and the test
  // reports its failure instead of hanging.
  struct OpenAtExit {
    testing::TGateService& Gate;
    ~OpenAtExit() { Gate.Release(); }
  } openAtExit{*live.Gate};
  TTestClient owner(live.Port);
  owner.Connection.SendCommandData(0x1201, {TVariant("still mine")});
  live.Gate->WaitEntered(1);
  // Its command still runs, so the old session does not let go within the wait.
  TTestClient again(live.Port);
  again.Connection.SendCommandData(
      41, {TVariant(static_cast<int32_t>(owner.SessionId)), TVariant(0x1201),
           TVariant(static_cast<int32_t>(owner.Connection.Counter.load()))});
  ASSERT_TRUE(Eventually([&] {
    manual.Advance(31s);
    return again.Connection.Handler()->PollReadable();
  }));
  try {
    again.Connection.WaitResult(true);
    ADD_FAILURE() << "the busy session was resumed";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, kErrSessionUnknown);
    EXPECT_EQ(e.Message, kTextSessionBusy);
  }
  live.Gate->Release();
  EXPECT_EQ(owner.Connection.WaitResult(true)[0].Text(), "still mine");
}

}  // namespace
}  // namespace zor
