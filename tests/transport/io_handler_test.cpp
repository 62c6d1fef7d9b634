#include "transport/io_handler.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/run_status.h"
#include "support/expect_error.h"
#include "transport/memory_pipe_handler.h"
#include "transport/write_buffer_pool.h"

namespace zor {
namespace {

using testing::Catch;
using testing::ExpectError;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 0) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + seed);
  return data;
}

// Everything waiting for `handler`, read without waiting.
std::vector<uint8_t> Drain(TIcIOHandler& handler) {
  std::vector<uint8_t> out;
  uint8_t piece[8192];
  while (handler.DataAvailable()) {
    const int32_t n = handler.Read(piece, sizeof piece, 0);
    out.insert(out.end(), piece, piece + n);
  }
  return out;
}

class IOHandlerTest : public ::testing::Test {
 protected:
  IOHandlerTest() {
    auto pipe = MakeMemoryPipe();
    A = std::move(pipe.first);
    B = std::move(pipe.second);
  }
  ~IOHandlerTest() override { SetRunStatus(kRunStatusNone); }
  void UseManualClock() {
    Scoped = std::make_unique<ScopedClock>(Manual);
    A->SimulatedTime = B->SimulatedTime = true;
  }

  ManualClock Manual;
  std::unique_ptr<ScopedClock> Scoped;
  std::unique_ptr<TMemoryPipeHandler> A;
  std::unique_ptr<TMemoryPipeHandler> B;
};

TEST_F(IOHandlerTest, WritesAreCoalescedAndFlushedAtTheFlushPoint) {
  struct Case {
    const char* name;
    std::vector<int32_t> writes;  // Write calls
    int32_t writeLimit;           // most bytes the transport takes per call (0 = all)
    std::vector<int32_t> sends;   // the transport's write calls made by the writes
    std::vector<int32_t> final;   // and by the final flush after them
  } const kCases[] = {
      {"exactly the flush point flushes at once", {63488}, 0, {63488}, {}},
      {"below the flush point waits for the final flush", {63487}, 0, {}, {63487}},
      {"small writes gather in one send", {10, 20, 30}, 0, {}, {60}},
      {"a piece that would fill the buffer is cut", {64512}, 0, {63488}, {1024}},
      {"a large write goes in flush-point pieces", {200000}, 0, {63488, 63488, 63488}, {9536}},
      {"a fill past the flush point still goes in one send", {63000, 1000}, 0, {64000}, {}},
      {"a partial flush keeps a tail below 1024 bytes",
       {63488},
       1000,
       std::vector<int32_t>(63, 1000),
       {488}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto [a, b] = MakeMemoryPipe();
    a->SetWriteLimit(c.writeLimit);
    std::vector<uint8_t> expected;
    uint8_t seed = 0;
    for (int32_t size : c.writes) {
      const auto data = Pattern(static_cast<size_t>(size), seed++);
      a->Write(data.data(), size);
      expected.insert(expected.end(), data.begin(), data.end());
    }
    EXPECT_EQ(a->WriteCalls(), c.sends);
    const int32_t sentBeforeFinal = std::accumulate(c.sends.begin(), c.sends.end(), 0);
    EXPECT_EQ(a->GetBufferFill(), static_cast<int32_t>(expected.size()) - sentBeforeFinal);
    a->Flush(true);
    auto all = c.sends;
    all.insert(all.end(), c.final.begin(), c.final.end());
    EXPECT_EQ(a->WriteCalls(), all);
    EXPECT_EQ(a->GetBufferFill(), 0);
    EXPECT_EQ(Drain(*b), expected);
    EXPECT_EQ(a->BytesWritten.load(), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(b->BytesRead.load(), static_cast<int64_t>(expected.size()));
  }
}

TEST_F(IOHandlerTest, WriteBufferOfOneByteAfterAFlushPointWriteSendsIt) {
  const auto data = Pattern(63488);
  A->Write(data.data(), 63488);
  ASSERT_EQ(A->WriteCalls(), std::vector<int32_t>{63488});
  const uint8_t one = 0x5A;
  A->WriteBuffer(&one, 1);
  EXPECT_EQ(A->WriteCalls(), (std::vector<int32_t>{63488, 1}));
}

TEST_F(IOHandlerTest, StreamBlocksRoundTrip) {
  for (int32_t size : {0, 1, 3192, 3193, 64512, 64513, 300000}) {
    SCOPED_TRACE(size);
    const auto data = Pattern(static_cast<size_t>(size), static_cast<uint8_t>(size));
    // One from memory, one through a stream that has no memory of its own.
    class OpaqueStream : public TMemoryStream {
     public:
      using TMemoryStream::TMemoryStream;
      const uint8_t* Memory() const override { return nullptr; }
    } opaque{data};
    A->WriteStream(data.data(), size);
    A->WriteStream(opaque);
    TMemoryStream first;
    std::vector<uint8_t> second{9};
    B->ReadStream(first);
    B->ReadStream(second);
    EXPECT_EQ(first.Data, data);
    ASSERT_EQ(second.size(), data.size() + 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), second.begin() + 1));
    EXPECT_EQ(B->TransferTotal.load(), 0);
    EXPECT_EQ(B->TransferDone.load(), 0);
    EXPECT_EQ(A->GetBufferFill(), 0);
  }
}

TEST_F(IOHandlerTest, StreamBlockLengthsFromThePeerAreChecked) {
  struct Case {
    const char* name;
    std::vector<uint8_t> wire;
    size_t appended;
    const char* error;  // nullptr: no error
  } const kCases[] = {
      {"zero length is an empty block", {0, 0, 0, 0}, 0, nullptr},
      {"negative length is an empty block", {0xFF, 0xFF, 0xFF, 0xFF}, 0, nullptr},
      {"most negative length", {0, 0, 0, 0x80}, 0, nullptr},
      {"length above the limit", {1, 0, 0, 0x40}, 0, "Error stream format!"},
      {"largest length", {0xFF, 0xFF, 0xFF, 0x7F}, 0, "Error stream format!"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto [a, b] = MakeMemoryPipe();
    a->WriteBuffer(c.wire.data(), static_cast<int32_t>(c.wire.size()));
    std::vector<uint8_t> out;
    if (c.error == nullptr) {
      b->ReadStream(out);
    } else {
      ExpectError<Exception>([&] { b->ReadStream(out); }, "Exception", c.error);
    }
    EXPECT_EQ(out.size(), c.appended);
  }
}

TEST_F(IOHandlerTest, ALengthWordInFragmentsIsStillALength) {
  A->SetWriteLimit(1);
  const uint8_t wire[] = {3, 0, 0, 0, 'a', 'b', 'c'};
  A->WriteBuffer(wire, sizeof wire);
  std::vector<uint8_t> out;
  B->ReadStream(out);
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST_F(IOHandlerTest, APeerClosingMidBlockBreaksTheRead) {
  UseManualClock();
  const uint8_t wire[] = {100, 0, 0, 0, 1, 2, 3};
  A->WriteBuffer(wire, sizeof wire);
  A->Close();
  std::vector<uint8_t> out;
  auto e = Catch<EConnectBroken>([&] { B->ReadStream(out); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Message, kReadFailedText);
  EXPECT_EQ(e->ErrorCode, 0);
  EXPECT_EQ(e->Handler, B.get());
  EXPECT_EQ(B->GetState(), kStateDisconnected);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(IOHandlerTest, SixZeroReadsInARowMeanTheLinkIsDead) {
  UseManualClock();
  const uint8_t byte = 7;
  A->WriteBuffer(&byte, 1);
  uint8_t in = 0;
  B->SetZeroReads(5);  // five are tolerated
  EXPECT_EQ(B->Read(&in, 1), 1);
  EXPECT_EQ(in, 7);
  B->SetZeroReads(6);
  auto e = Catch<EConnectBroken>([&] { B->Read(&in, 1); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Message, kReadFailedText);
  EXPECT_EQ(e->ErrorCode, 0);
  EXPECT_EQ(B->GetState(), kStateDisconnected);
  EXPECT_EQ(B->GetActivity(), kActivityClosed);
}

TEST_F(IOHandlerTest, AReadPastItsTimeOutClosesTheHandler) {
  UseManualClock();
  int idleCalls = 0;
  B->OnIdle = [&](TIcIOHandler&) { ++idleCalls; };
  uint8_t in;
  auto e = Catch<EConnectBroken>([&] { B->Read(&in, 1, 2); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Message, "I/O timeout!");
  EXPECT_EQ(e->ErrorCode, -1);
  EXPECT_EQ(idleCalls, 20);  // one per 100-ms step
  EXPECT_EQ(B->GetState(), kStateDisconnected);
  EXPECT_EQ(B->GetHandle(), 0);
}

TEST_F(IOHandlerTest, TimeOutResolution) {
  EXPECT_EQ(A->ResolveTimeoutMs(kTimeoutDefault), -1);  // the base default is none
  EXPECT_EQ(A->ResolveTimeoutMs(kTimeoutNone), -1);
  EXPECT_EQ(A->ResolveTimeoutMs(0), 0);
  A->DefaultTimeout = 60;
  EXPECT_EQ(A->ResolveTimeoutMs(kTimeoutDefault), 60000);
  EXPECT_EQ(A->ResolveTimeoutMs(3), 3000);
}

TEST_F(IOHandlerTest, WithoutATimeOutAReadWaitsWhileIdleRuns) {
  UseManualClock();
  int idleCalls = 0;
  B->OnIdle = [&](TIcIOHandler&) {
    if (++idleCalls == 1000) {  // 100 s of waiting
      const uint8_t byte = 42;
      A->WriteBuffer(&byte, 1);
    }
  };
  uint8_t in = 0;
  EXPECT_EQ(B->Read(&in, 1, kTimeoutNone), 1);
  EXPECT_EQ(in, 42);
  EXPECT_EQ(idleCalls, 1000);
  EXPECT_EQ(GetRunStatus(), kRunStatusNone);  // restored after the wait
}

TEST_F(IOHandlerTest, AStopRequestCancelsAWaitAfterTenSeconds) {
  UseManualClock();
  int idleCalls = 0;
  B->OnIdle = [&](TIcIOHandler&) {
    if (++idleCalls == 1) SetRunStatus(kRunStatusStopRequested);
  };
  uint8_t in;
  auto e = Catch<EConnectBroken>([&] { B->Read(&in, 1, kTimeoutNone); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Message, "The connection I/O is canceled by thread!");
  EXPECT_EQ(e->ErrorCode, -1);
  EXPECT_EQ(idleCalls, 101);                           // the wait lasted just over 10 s
  EXPECT_EQ(GetRunStatus(), kRunStatusStopRequested);  // the request outlives the wait
}

TEST_F(IOHandlerTest, ClosingFromIdleCancelsTheWait) {
  B->OnIdle = [&](TIcIOHandler& h) { h.Close(); };
  uint8_t in;
  ExpectError<EConnectBroken>([&] { B->Read(&in, 1, kTimeoutNone); }, "EConnectBroken",
                              "The connection I/O is canceled by thread!");
}

TEST_F(IOHandlerTest, ASecondReaderOrWriterIsRefused) {
  B->OnIdle = [&](TIcIOHandler& h) {
    uint8_t in;
    ExpectError<EIOBlocking>([&] { h.Read(&in, 1, 0); }, "EIOBlocking",
                             "The handler is now reading!");
    std::vector<uint8_t> out;
    ExpectError<EIOBlocking>([&] { h.ReadStream(out); }, "EIOBlocking",
                             "The handler is now reading!");
    const uint8_t byte = 1;
    A->WriteBuffer(&byte, 1);  // lets the outer read finish
  };
  uint8_t in;
  EXPECT_EQ(B->Read(&in, 1, 5), 1);

  A->SetWritesHeld(true);
  A->OnIdle = [&](TIcIOHandler& h) {
    const uint8_t byte = 2;
    ExpectError<EIOBlocking>([&] { h.Write(&byte, 1); }, "EIOBlocking",
                             "The handler is now writing!");
    ExpectError<EIOBlocking>([&] { h.Flush(true); }, "EIOBlocking", "The handler is now writing!");
    A->SetWritesHeld(false);
  };
  const uint8_t byte = 3;
  A->WriteBuffer(&byte, 1);
  EXPECT_FALSE(A->HasPendingIO());
  EXPECT_EQ(Drain(*B), std::vector<uint8_t>{3});
}

TEST_F(IOHandlerTest, OneReaderAndOneWriterWorkAtOnce) {
  const auto data = Pattern(1 << 20);
  std::thread writer([&] {
    for (int i = 0; i < 4; ++i) A->WriteStream(data.data(), static_cast<int32_t>(data.size()));
  });
  for (int i = 0; i < 4; ++i) {
    std::vector<uint8_t> out;
    B->ReadStream(out);
    EXPECT_EQ(out, data);
  }
  writer.join();
}

class StateProbe : public TMemoryPipeHandler {
 public:
  using TMemoryPipeHandler::SetState;
  using TMemoryPipeHandler::TMemoryPipeHandler;
};

TEST(IOHandlerState, CheckStateTellsWhatIsWrong) {
  struct Case {
    uint8_t state;
    bool mustBeConnected;
    const char* error;  // nullptr: allowed
  } const kCases[] = {
      {kStateInactive, true, "The handler is not actived!"},
      {kStateInactive, false, nullptr},
      {kStateWaiting, true, "Thie handler is waiting for connecting!"},
      {kStateWaiting, false, "Thie handler is waiting for connecting!"},
      {kStateConnected, true, nullptr},
      {kStateConnected, false, "The handler is connected!"},
      {kStateDisconnected, true, "The handler is disconnected!"},
      {kStateDisconnected, false, "The handler is disconnected!"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << int(c.state) << " " << c.mustBeConnected);
    StateProbe probe(std::make_shared<TMemoryPipeShared>(), 0);
    probe.SetState(c.state);
    if (c.error == nullptr) {
      EXPECT_NO_THROW(probe.CheckState(c.mustBeConnected));
    } else {
      ExpectError<Exception>([&] { probe.CheckState(c.mustBeConnected); }, "Exception", c.error);
    }
  }
}

TEST(IOHandlerState, StateAndActivityEventsFireOnRealChangesOnly) {
  std::vector<int> activities;  // outlives the probe, whose close still reports
  int connects = 0;
  StateProbe probe(std::make_shared<TMemoryPipeShared>(), 0);
  probe.OnActivity = [&](TIcIOHandler& h) { activities.push_back(h.GetActivity()); };
  probe.OnConnect = [&](TIcIOHandler&) { ++connects; };
  probe.SetState(kStateConnected);  // already connected: nothing
  probe.SetState(kStateDisconnected);
  probe.SetState(kStateConnected);
  probe.SetState(kStateConnected);
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(activities, (std::vector<int>{kActivityClosed, kActivityIdle}));
  EXPECT_NE(probe.ConnectTime.load(), std::chrono::system_clock::time_point{});
}

TEST_F(IOHandlerTest, AFailingActivityHandlerIsShownAndTheWriteGoesOn) {
  std::vector<std::string> shown;
  SetIOHandlerMessageSink([&](const std::string& text) { shown.push_back(text); });
  A->OnActivity = [](TIcIOHandler& h) {
    if (h.GetActivity() == kActivityWriting) throw Exception("activity view failed");
  };
  const uint8_t byte = 9;
  A->WriteBuffer(&byte, 1);
  SetIOHandlerMessageSink(nullptr);
  EXPECT_EQ(shown, std::vector<std::string>{"activity view failed"});
  EXPECT_EQ(Drain(*B), std::vector<uint8_t>{9});
}

TEST_F(IOHandlerTest, TransportErrorsKeepTheirClassCodeAndHandler) {
  A->InjectWriteError({"WinSock Error. Code: 104. reset", 104, true});
  const uint8_t byte = 1;
  auto e = Catch<EConnectBroken>([&] { A->WriteBuffer(&byte, 1); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->ErrorCode, 104);
  EXPECT_EQ(e->Handler, A.get());
  EXPECT_EQ(A->GetState(), kStateDisconnected);
  EXPECT_EQ(A->GetActivity(), kActivityClosed);
  EXPECT_FALSE(A->HasPendingIO());
  A->Close();  // still closable
  EXPECT_EQ(A->GetHandle(), 0);

  B->InjectReadError({"disk says no", 5, false});
  uint8_t in;
  auto io = Catch<EConnectIOError>([&] { B->Read(&in, 1); });
  ASSERT_NE(io, nullptr);
  EXPECT_STREQ(io->ClassName(), "EConnectIOError");
  EXPECT_EQ(B->GetState(), kStateConnected);
}

TEST_F(IOHandlerTest, TimeoutErrorClosesOnlyWhenAsked) {
  auto open = Catch<EConnectIOError>([&] { A->TimeoutError(false); });
  ASSERT_NE(open, nullptr);
  EXPECT_STREQ(open->ClassName(), "EConnectIOError");
  EXPECT_EQ(open->Message, "I/O timeout!");
  EXPECT_EQ(open->ErrorCode, -1);
  EXPECT_TRUE(A->IsConnected());
  auto closed = Catch<EConnectBroken>([&] { A->TimeoutError(true); });
  ASSERT_NE(closed, nullptr);
  EXPECT_FALSE(A->IsConnected());
  EXPECT_EQ(A->GetHandle(), 0);
}

TEST_F(IOHandlerTest, AFlushThatMovesNothingForAMinuteFails) {
  UseManualClock();
  A->SetWritesHeld(true);
  const uint8_t byte = 1;
  // A pending write waits 30 s per attempt and then times out the handler.
  ExpectError<EConnectBroken>([&] { A->WriteBuffer(&byte, 1); }, "EConnectBroken", "I/O timeout!");
}

TEST_F(IOHandlerTest, AFlushThatFailsClosesTheHandlerAndSendsNothingLater) {
  // An error of the "other" kind (no buffer space) leaves the link itself open; what was not
  // sent cannot follow in step, so the handler closes and the rest is dropped.
  const auto data = Pattern(kFlushPoint + 100);
  A->InjectWriteError({"WinSock Error. Code: 105. No buffer space", 105, false});
  auto e =
      Catch<EConnectIOError>([&] { A->Write(data.data(), static_cast<int32_t>(data.size())); });
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->ClassName(), "EConnectIOError");
  EXPECT_EQ(e->ErrorCode, 105);
  EXPECT_EQ(A->GetState(), kStateDisconnected);
  EXPECT_EQ(A->GetBufferFill(), 0);
  // The next message is refused whole instead of going out behind the rest of this one.
  ExpectError<Exception>([&] { A->Write(data.data(), 10); }, "Exception",
                         "The handler is disconnected!");
  EXPECT_TRUE(Drain(*B).empty());
}

TEST_F(IOHandlerTest, AReadDeadlineEndsAMessageThatTrickles) {
  UseManualClock();
  struct Case {
    const char* Name;
    std::chrono::seconds DeadlineIn;
    size_t Sent;  // bytes of the 32 waiting for the reader
  } const kCases[] = {
      {"never completes", std::chrono::seconds(30), 1},
      {"already late with data waiting", std::chrono::seconds(0), 32},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    auto pipe = MakeMemoryPipe();
    pipe.first->SimulatedTime = pipe.second->SimulatedTime = true;
    const auto data = Pattern(c.Sent);
    pipe.second->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    const auto start = Manual.Now();
    pipe.first->SetReadDeadline(start + c.DeadlineIn);
    uint8_t header[32];
    ExpectError<EConnectBroken>(
        [&] { pipe.first->ReadBuffer(header, sizeof header, kTimeoutNone); }, "EConnectBroken",
        "I/O timeout!");
    // Closing the handler takes a few (simulated) milliseconds of its own.
    EXPECT_GE(Manual.Now() - start, c.DeadlineIn);
    EXPECT_LT(Manual.Now() - start, c.DeadlineIn + std::chrono::seconds(1));
    EXPECT_FALSE(pipe.first->IsConnected());
  }
}

TEST_F(IOHandlerTest, PurgeDiscardsWhatIsWaiting) {
  const auto data = Pattern(20000);
  A->WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  B->Purge();
  EXPECT_FALSE(B->DataAvailable());
  const uint8_t byte = 4;
  A->WriteBuffer(&byte, 1);
  EXPECT_EQ(Drain(*B), std::vector<uint8_t>{4});
}

TEST_F(IOHandlerTest, ClosingReturnsTheWriteBuffer) {
  const int32_t before = WriteBufferPool().Outstanding();
  const uint8_t byte = 1;
  A->Write(&byte, 1);
  EXPECT_EQ(WriteBufferPool().Outstanding(), before + 1);
  A->Close();
  EXPECT_EQ(WriteBufferPool().Outstanding(), before);
  ExpectError<Exception>([&] { A->Write(&byte, 1); }, "Exception", "The handler is disconnected!");
  EXPECT_EQ(A->GetDescription(), "<TMemoryPipeHandler> memory");
}

}  // namespace
}  // namespace zor
