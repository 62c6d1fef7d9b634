#include "transport/zor_host_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "base/run_status.h"
#include "support/expect_error.h"
#include "transport/zor_host_datagram.h"
#include "udp_responder.h"

namespace zor {
namespace {

using testing::ExpectError;
using testing::UdpResponder;

std::vector<uint8_t> Bytes(const TZORHostReply& reply) {
  return {reply.begin(), reply.end()};
}

// The random value of a request, which a reply must echo.
uint32_t NonceOf(const std::vector<uint8_t>& request) {
  TLookupRequest parsed;
  return ParseLookupRequest(request.data(), request.size(), parsed) ? parsed.Nonce : 0;
}

TEST(ZORHostClient, LookupAnswers) {
  const std::string badReply(kZORHostBadReplyText);
  struct Case {
    const char* name;
    std::function<std::vector<uint8_t>(uint32_t nonce)> reply;
    std::string error;  // empty: found 10.20.30.40
  } const kCases[] = {
      {"found", [](uint32_t n) { return Bytes(BuildFoundReply(0x0A141E28, n)); }, ""},
      {"failure carries the service's text",
       [](uint32_t n) { return Bytes(BuildFailureReply(7, "Name not registered", n)); },
       "Name not registered"},
      {"127 bytes",
       [](uint32_t n) {
         auto r = Bytes(BuildFoundReply(1, n));
         r.pop_back();
         return r;
       },
       badReply},
      {"129 bytes",
       [](uint32_t n) {
         auto r = Bytes(BuildFoundReply(1, n));
         r.push_back(0);
         return r;
       },
       badReply},
      {"1 byte", [](uint32_t) { return std::vector<uint8_t>{0}; }, badReply},
      {"64 KiB", [](uint32_t) { return std::vector<uint8_t>(60000, 0); }, badReply},
      {"wrong magic",
       [](uint32_t n) {
         auto r = Bytes(BuildFoundReply(1, n));
         r[4] ^= 1;
         return r;
       },
       badReply},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    UdpResponder responder(
        [&](const std::vector<uint8_t>& request) { return c.reply(NonceOf(request)); });
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
  UdpResponder responder([](const std::vector<uint8_t>& request) {
    return Bytes(BuildFoundReply(0x7F000001, NonceOf(request)));
  });
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
  ExpectError<Exception>([&] { client.LookupHost("shop1"); }, "Exception",
                         std::string(kZORHostNoAnswerText));

  // A thread told to stop now ends the 60-second wait at once.
  std::thread stopped([] {
    SetRunStatus(kRunStatusStopNow);
    TZORHostClient late;
    late.Timeout = 60;
    ExpectError<Exception>([&] { late.LookupHost("shop1"); }, "Exception",
                           std::string(kZORHostNoAnswerText));
  });
  stopped.join();
}

TEST(ZORHostClient, RepliesFromAnotherPortOrWithoutTheRequestsValueAreDropped) {
  // The service answers twice: first a forged datagram, then the real answer. The forgery
  // comes from another port of the same host, or from the service's port with a guessed
  // value; either way the client waits on and takes the real one.
  struct Case {
    const char* Name;
    bool FromOtherPort;
    bool GuessedValue;
  } const kCases[] = {{"another port, right value", true, false},
                      {"right port, guessed value", false, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    int error = 0;
    const int forger = CreateSocket(SocketKind::Datagram, error);
    ASSERT_TRUE(BindSocket(forger, SocketAddress{0x7F000001, 0}, error));
    std::atomic<int> forged{0};
    // Set once the responder runs; its thread reads it when the client's request arrives.
    std::atomic<UdpResponder*> self{nullptr};
    UdpResponder responder([&](const std::vector<uint8_t>& request) {
      const uint32_t nonce = NonceOf(request);
      const auto fake = BuildFoundReply(0x0A0A0A0A, c.GuessedValue ? nonce + 1 : nonce);
      SocketAddress client;
      client.Address = 0x7F000001;
      client.Port = self.load()->LastPeer().Port;
      if (c.FromOtherPort) {
        int e = 0;
        SocketSendTo(forger, fake.data(), static_cast<int64_t>(fake.size()), client, e);
      } else {
        self.load()->SendTo(client, Bytes(fake));
      }
      ++forged;
      return Bytes(BuildFoundReply(0x7F000001, nonce));
    });
    self = &responder;
    TZORHostClient client;
    client.Timeout = 5;
    EXPECT_EQ(client.LookupHost("shop1"), 0x7F000001u);
    EXPECT_EQ(forged.load(), 1);
    CloseSocket(forger);
  }
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
    if (!ParseLookupRequest(plain.data(), plain.size(), parsed) || parsed.Name != "coded")
      return std::vector<uint8_t>{};
    auto reply = Bytes(BuildFoundReply(0x01020304, parsed.Nonce));
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
