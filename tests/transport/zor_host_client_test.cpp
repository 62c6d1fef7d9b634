#include "transport/zor_host_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "base/run_status.h"
#include "transport/zor_host_datagram.h"
#include "expect_error.h"
#include "udp_responder.h"

namespace zor {
namespace {

using testing::ExpectError;
using testing::UdpResponder;

std::vector<uint8_t> Bytes(const TZORHostReply& reply) { return {reply.begin(), reply.end()}; }

TEST(ZORHostClient, LookupAnswers) {
  const std::string badReply(kZORHostBadReplyText);
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>()> reply;
    std::string error;  // empty: found 10.20.30.40
  } const kCases[] = {
      {"found", [] { return Bytes(BuildFoundReply(0x0A141E28)); }, ""},
      {"failure carries the service's text", [] { return Bytes(BuildFailureReply(7, "Name not registered")); },
       "Name not registered"},
      {"127 bytes", [] { auto r = Bytes(BuildFoundReply(1)); r.pop_back(); return r; }, badReply},
      {"129 bytes", [] { auto r = Bytes(BuildFoundReply(1)); r.push_back(0); return r; }, badReply},
      {"1 byte", [] { return std::vector<uint8_t>{0}; }, badReply},
      {"64 KiB", [] { return std::vector<uint8_t>(60000, 0); }, badReply},
      {"wrong magic", [] { auto r = Bytes(BuildFoundReply(1)); r[4] ^= 1; return r; }, badReply},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    UdpResponder responder([&](const std::vector<uint8_t>&) { return c.reply(); });
    TZORHostClient client;
    client.Timeout = 5;
    if (c.error.empty()) {
      EXPECT_EQ(client.LookupHost("shop1"), 0x0A141E28u);
    } else {
      ExpectError<Exception>([&] { client.LookupHost("shop1"); }, "Exception", c.error);
    }
  }
}

TEST(ZORHostClient, TheRequestIsLaidOutAsTheServiceExpects) {
  UdpResponder responder([](const std::vector<uint8_t>&) { return Bytes(BuildFoundReply(0x7F000001)); });
  const std::string name31(31, 'n');
  TZORHostClient client;
  client.Timeout = 5;
  EXPECT_EQ(client.LookupHost(name31), 0x7F000001u);
  const std::vector<uint8_t> sent = responder.LastRequest();
  ASSERT_EQ(sent.size(), zorhost::kRequestSize);
  TLookupRequest request;
  ASSERT_TRUE(ParseLookupRequest(sent.data(), sent.size(), request));
  EXPECT_EQ(request.Command, zorhost::kCommandLookup);
  EXPECT_EQ(request.Name, name31);
  EXPECT_EQ(sent[zorhost::kRequestNameOffset + 31], 0);

  ExpectError<Exception>([&] { client.LookupHost(std::string(32, 'n')); }, "Exception",
                         "域名名长度超过限制的31字元！");
  EXPECT_EQ(responder.Requests.load(), 1);  // a name too long is never sent
}

TEST(ZORHostClient, SilenceAndStopBothMeanNoAnswer) {
  UdpResponder responder([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
  TZORHostClient client;
  client.Timeout = 0;  // one look only
  ExpectError<Exception>([&] { client.LookupHost("shop1"); }, "Exception", std::string(kZORHostNoAnswerText));

  // A thread told to stop now ends the 60-second wait at once.
  std::thread stopped([] {
    SetRunStatus(kRunStatusStopNow);
    TZORHostClient late;
    late.Timeout = 60;
    ExpectError<Exception>([&] { late.LookupHost("shop1"); }, "Exception", std::string(kZORHostNoAnswerText));
  });
  stopped.join();
}

void Xor(uint8_t* buffer, int32_t length, uint32_t key) {
  for (int32_t i = 0; i < length; ++i) buffer[i] ^= static_cast<uint8_t>(key >> (8 * (i % 4)));
}

TEST(ZORHostClient, InstalledCodersScrambleBothWays) {
  SetZORHostCoders(Xor, Xor);
  UdpResponder responder([](const std::vector<uint8_t>& request) {
    std::vector<uint8_t> plain = request;
    Xor(plain.data(), static_cast<int32_t>(plain.size()), kZORHostCoderKey);
    TLookupRequest parsed;
    if (!ParseLookupRequest(plain.data(), plain.size(), parsed) || parsed.Name != "coded") return std::vector<uint8_t>{};
    auto reply = Bytes(BuildFoundReply(0x01020304));
    Xor(reply.data(), static_cast<int32_t>(reply.size()), kZORHostCoderKey);
    return reply;
  });
  TZORHostClient client;
  client.Timeout = 5;
  EXPECT_EQ(client.LookupHost("coded"), 0x01020304u);
  SetZORHostCoders(nullptr, nullptr);
}

}  // namespace
}  // namespace zor
