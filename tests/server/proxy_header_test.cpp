// The PROXY header of a listed balancer: both forms parsed and read byte-exact, the address
// forms a balancer may use, and a live server that counts and names the real clients.
#include "server/proxy_header.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "support/live_server.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

using testing::LiveServer;
using testing::TTestClient;

constexpr std::string_view kMalformed = "The PROXY header is malformed: ";

// Form 2: signature, version/command, family/protocol, length, then `body`.
std::string V2(uint8_t versionCommand, uint8_t familyProtocol, const std::string& body) {
  std::string bytes(reinterpret_cast<const char*>(kProxyV2Signature), sizeof kProxyV2Signature);
  bytes += static_cast<char>(versionCommand);
  bytes += static_cast<char>(familyProtocol);
  bytes += static_cast<char>(body.size() >> 8);
  bytes += static_cast<char>(body.size() & 0xFF);
  return bytes + body;
}

std::string Inet(std::array<uint8_t, 4> source) {
  std::string body(source.begin(), source.end());
  body += std::string("\x0A\x00\x00\x01", 4) + std::string("\xC8\x22\x03\x00", 4);
  return body;
}

std::string Inet6(std::array<uint8_t, 16> source) {
  std::string body(source.begin(), source.end());
  body += std::string(16, '\0') + std::string("\xC8\x22\x03\x00", 4);
  return body;
}

// Reads from `wire` as a socket would, failing when asked for bytes that never came.
struct TWire {
  std::string Bytes;
  size_t Pos = 0;
  TProxyHeader Read() {
    return ReadProxyHeader([this](uint8_t* buffer, size_t count) {
      if (Bytes.size() - Pos < count) throw Exception("the connection ended");
      Bytes.copy(reinterpret_cast<char*>(buffer), count, Pos);
      Pos += count;
    });
  }
};

TEST(ProxyHeader, BothFormsNameTheClientAndAreReadToTheirLastByteOnly) {
  struct Case {
    const char* Label;
    std::string Wire;
    int Version;
    const char* Source;  // "": no address; nullptr: refused with `Error`
    const char* Error = "";
  } const kCases[] = {
      {"v1 TCP4", "PROXY TCP4 10.1.2.3 10.0.0.1 51234 768\r\n", 1, "10.1.2.3"},
      {"v1 TCP6", "PROXY TCP6 2001:DB8:0:0::1 2001:db8::2 51234 768\r\n", 1, "2001:db8::1"},
      {"v1 TCP6, mapped IPv4", "PROXY TCP6 ::ffff:10.1.2.3 ::1 1 2\r\n", 1, "10.1.2.3"},
      {"v1 UNKNOWN", "PROXY UNKNOWN\r\n", 1, ""},
      {"v1 UNKNOWN with addresses", "PROXY UNKNOWN ffff::1 ffff::2 1 2\r\n", 1, ""},
      {"v2 TCP over IPv4", V2(0x21, 0x11, Inet({192, 168, 7, 9})), 2, "192.168.7.9"},
      {"v2 TCP over IPv6",
       V2(0x21, 0x21, Inet6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xab, 0xcd})), 2,
       "fe80::abcd"},
      {"v2 with extensions after the addresses",
       V2(0x21, 0x11,
          Inet({10, 9, 8, 7}) + std::string("\x04\x00\x04"
                                            "abcd",
                                            7)),
       2, "10.9.8.7"},
      {"v2 the balancer's own check", V2(0x20, 0x00, ""), 2, ""},
      {"v2 a client over a unix socket", V2(0x21, 0x31, std::string(216, 'x')), 2, ""},
      {"v1 bad address", "PROXY TCP4 10.1.2.300 10.0.0.1 1 2\r\n", 0, nullptr, "a bad address"},
      {"v1 IPv6 as TCP4", "PROXY TCP4 2001:db8::1 10.0.0.1 1 2\r\n", 0, nullptr, "a bad address"},
      {"v1 bad port", "PROXY TCP4 10.1.2.3 10.0.0.1 65536 2\r\n", 0, nullptr, "a bad port"},
      {"v1 port with a leading zero", "PROXY TCP4 10.1.2.3 10.0.0.1 0768 2\r\n", 0, nullptr,
       "a bad port"},
      {"v1 missing port", "PROXY TCP4 10.1.2.3 10.0.0.1 1\r\n", 0, nullptr,
       "it needs two addresses and two ports"},
      {"v1 two blanks", "PROXY TCP4  10.1.2.3 10.0.0.1 1 2\r\n", 0, nullptr,
       "it needs two addresses and two ports"},
      {"v1 other protocol", "PROXY UDP4 10.1.2.3 10.0.0.1 1 2\r\n", 0, nullptr, "unknown protocol"},
      {"v1 bare LF", "PROXY UNKNOWN\n", 0, nullptr, "the line does not end in CRLF"},
      {"v1 endless line", "PROXY TCP4 " + std::string(200, '1'), 0, nullptr,
       "the line is too long"},
      {"not a header", "GET / HTTP/1.0\r\n\r\n", 0, nullptr,
       "a connection from a listed balancer must start with one"},
      {"v2 bad signature", V2(0x21, 0x11, Inet({1, 2, 3, 4})).replace(8, 1, "X"), 0, nullptr,
       "a bad signature"},
      {"v2 version 3", V2(0x31, 0x11, Inet({1, 2, 3, 4})), 0, nullptr, "an unknown version"},
      {"v2 command 2", V2(0x22, 0x11, Inet({1, 2, 3, 4})), 0, nullptr, "an unknown command"},
      {"v2 addresses cut short", V2(0x21, 0x11, "\x01\x02\x03\x04"), 0, nullptr,
       "the addresses are cut short"},
      {"v2 IPv6 cut short", V2(0x21, 0x21, std::string(20, '\0')), 0, nullptr,
       "the addresses are cut short"},
  };
  const std::string kClientBytes = "\x01\x02 the client's own bytes";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    TWire wire{c.Wire + kClientBytes};
    if (!c.Source) {
      try {
        wire.Read();
        ADD_FAILURE() << "accepted";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message, std::string(kMalformed) + c.Error);
      }
      continue;
    }
    const TProxyHeader header = wire.Read();
    EXPECT_EQ(header.Version, c.Version);
    EXPECT_EQ(header.SourceAddress, c.Source);
    EXPECT_EQ(wire.Bytes.substr(wire.Pos), kClientBytes);
    // Cut anywhere before its end, the header is never taken for whole.
    for (size_t cut = 0; cut < c.Wire.size(); ++cut) {
      TWire cutWire{c.Wire.substr(0, cut)};
      EXPECT_THROW(cutWire.Read(), Exception) << cut;
    }
  }
}

TEST(ProxyHeader, IPv6AddressesTakeTheirShortestFormAndBadOnesAreRefused) {
  struct Case {
    const char* Text;
    const char* Canonical;  // nullptr: not an address
  } const kCases[] = {
      {"::", "::"},
      {"::1", "::1"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},                 // the longest run
      {"1:0:0:2:0:0:3:4", "1::2:0:0:3:4"},               // the first of equal runs
      {"fe80::", "fe80::"},
      {"::ffff:192.0.2.1", "192.0.2.1"},
      {"64:ff9b::192.0.2.1", "64:ff9b::c000:201"},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1:2:3:4:5:6:7", nullptr},
      {":1::", nullptr},
      {"1:::2", nullptr},
      {"1::2::3", nullptr},
      {"12345::", nullptr},
      {"g::1", nullptr},
      {"1:2:3:4:5:6:7:", nullptr},
      {"::1.2.3", nullptr},
      {"::1.2.3.4:5", nullptr},
      {"", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Text);
    std::array<uint8_t, 16> bytes{};
    const bool parsed = ParseIPv6(c.Text, bytes);
    ASSERT_EQ(parsed, c.Canonical != nullptr);
    if (parsed) {
      EXPECT_EQ(FormatIPv6(bytes), c.Canonical);
    }
  }
}

TEST(ProxyHeader, TheListOfBalancersTakesBothAddressFormsAndNamesABadEntry) {
  EXPECT_EQ(ParseProxyList("127.0.0.1, 10.0.0.2  0:0::1,,"),
            (std::vector<std::string>{"127.0.0.1", "10.0.0.2", "::1"}));
  EXPECT_TRUE(ParseProxyList("").empty());
  try {
    ParseProxyList("127.0.0.1,balancer.example");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "'balancer.example' is not a valid balancer address");
  }
  EXPECT_TRUE(IsTrustedProxy({"127.0.0.1"}, "127.0.0.1"));
  EXPECT_FALSE(IsTrustedProxy({"127.0.0.1"}, "127.0.0.2"));
}

TEST(ProxyHeader, ALiveServerCountsAndNamesTheClientsBehindAListedBalancer) {
  std::mutex lock;
  std::vector<std::string> lines;  // outlives the server, which logs into it
  TSessionSettings session;
  session.MaxPerAddress = 1;
  session.ProxyFrom = {"127.0.0.1"};
  LiveServer live(session);
  live.Log.AddSink([&](LogLevel, std::string_view, std::string_view text) {
    std::lock_guard guard(lock);
    lines.emplace_back(text);
  });
  live.Start();
  // Two clients behind the same balancer, not logged on yet: each has its own share of the
  // connections that may still log on.
  TTestClient first(live.Port, {}, true, false, V2(0x21, 0x11, Inet({10, 0, 0, 1})));
  TTestClient second(live.Port, {}, true, false, "PROXY TCP4 10.0.0.2 127.0.0.1 40000 768\r\n");
  try {
    TTestClient again(live.Port, {}, true, false, "PROXY TCP4 10.0.0.1 127.0.0.1 40001 768\r\n");
    ADD_FAILURE() << "a second connection of 10.0.0.1 was served";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.Message, "来自 10.0.0.1 的连线数已达上限(1)，请稍后再试！");
  }
  first.Logon();
  second.Logon();
  EXPECT_EQ(first.Execute(16)[0].AsInteger(), 0);
  EXPECT_EQ(second.Execute(16)[0].AsInteger(), 0);
  // The balancer's connection without a header is closed unserved.
  EXPECT_THROW(TTestClient(live.Port, {}, true, true, "GET / HTTP/1.0\r\n\r\n"), std::exception);
  live.Stop();
  std::lock_guard guard(lock);
  const auto logged = [&](const std::string& text) {
    for (const std::string& line : lines)
      if (line.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(logged("(10.0.0.1)"));
  EXPECT_TRUE(logged("(10.0.0.2)"));
  EXPECT_TRUE(
      logged("Connection from 127.0.0.1 refused: The PROXY header is malformed: a "
             "connection from a listed balancer must start with one"));
}

}  // namespace
}  // namespace zor
