// Faults in the middle of a reply, fed through the in-memory pipe from the waiting client's
// own idle step, so the order of bytes and faults is exact: a header that arrives one byte
// at a time is still read whole, and a read error halfway through a payload reaches the
// caller as that error, never as a hang or a result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/connection_fixture.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

using testing::ConnectionFixture;
using testing::ExpectError;
using testing::TTestServerConnection;

constexpr size_t kHeaderSize = 32;

class MidStreamFaultTest : public ConnectionFixture {
 protected:
  MidStreamFaultTest() {
    Join(Client, Server);
    ClientEnd->SimulatedTime = true;  // each idle step costs no real time
  }

  // The bytes the server sends for a reply with `values`, taken back off the pipe so the
  // test can release them to the client piece by piece.
  std::vector<uint8_t> ReplyBytes(const TVariantArray& values) {
    Server.SendResultData(values);
    std::vector<uint8_t> bytes(1 << 16);
    const int32_t n = ClientEnd->ReadData(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_GT(n, static_cast<int32_t>(kHeaderSize));
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
  }
  void Release(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    ASSERT_EQ(ServerEnd->WriteData(bytes.data() + from, static_cast<int32_t>(count)),
              static_cast<int32_t>(count));
  }

  TIcConnection Client;
  TTestServerConnection Server;
};

TEST_F(MidStreamFaultTest, AHeaderFedOneByteAtATimeIsReadWhole) {
  const TVariantArray values{TVariant("whole"), TVariant(7), TVariant(std::string(3000, 'p'))};
  const std::vector<uint8_t> reply = ReplyBytes(values);
  ASSERT_GT(reply.size(), kHeaderSize);
  size_t released = 0;
  int idleSteps = 0;
  ClientEnd->OnIdle = [&](TIcIOHandler&) {
    ++idleSteps;
    // One byte per wait through the header, then the payload in one piece.
    const size_t count = released < kHeaderSize ? 1 : reply.size() - released;
    if (count == 0) return;
    Release(reply, released, count);
    released += count;
  };
  Client.SendCommand(0x1000);
  EXPECT_EQ(Client.WaitResult(true), values);
  EXPECT_EQ(released, reply.size());
  // The client waited again after each header byte but the last: it never read ahead.
  EXPECT_GE(idleSteps, static_cast<int>(kHeaderSize));
  EXPECT_TRUE(Client.Connected());
}

TEST_F(MidStreamFaultTest, AReadErrorHalfwayThroughThePayloadSurfacesAsThatError) {
  struct Case {
    const char* Name;
    bool Broken;
    const char* ClassName;
  } const kCases[] = {
      {"io error", false, "EConnectIOError"},
      {"broken link", true, "EConnectBroken"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    Join(Client, Server);
    ClientEnd->SimulatedTime = true;
    const std::vector<uint8_t> reply = ReplyBytes({TVariant(std::string(4000, 'q'))});
    const size_t half = kHeaderSize + (reply.size() - kHeaderSize) / 2;
    Release(reply, 0, half);
    int64_t readBeforeFault = -1;
    ClientEnd->OnIdle = [&](TIcIOHandler& handler) {
      if (readBeforeFault >= 0) return;
      readBeforeFault = handler.BytesRead;
      ClientEnd->InjectReadError({"the disk went away", 5, c.Broken});
      Release(reply, half, reply.size() - half);  // the rest is there, but the read fails
    };
    Client.SendCommand(0x1000);
    auto e = ExpectError<EConnectIOError>([&] { Client.WaitResult(true); }, c.ClassName,
                                          "the disk went away");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 5);
    // The fault came after the header and the first half of the payload were read.
    EXPECT_GE(readBeforeFault, static_cast<int64_t>(half));
    EXPECT_LT(readBeforeFault, static_cast<int64_t>(reply.size()));
  }
}

}  // namespace
}  // namespace zor
