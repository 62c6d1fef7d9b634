#include "transport/tcp_connect_string.h"

#include <gtest/gtest.h>

#include "support/expect_error.h"

namespace zor {
namespace {

using testing::ExpectError;

TEST(TcpConnectString, ParsesOrRefusesEachPair) {
  struct Case {
    const char* text;
    const char* error;  // nullptr: parses
    const char* hostText;
    int mode;
    int port;  // -1: not given
    const char* boundIP;
  } const kCases[] = {
      {"Host=192.168.1.10:768", nullptr, "192.168.1.10:768", 0, -1, nullptr},
      {"  host = srv : 768 ", nullptr, "srv : 768", 0, -1, nullptr},
      {"ZORHost=shop1:768", nullptr, "ZORHost=shop1:768", 0, -1, nullptr},
      {"BoundPort=768;IPList=192.168.*;AcceptMode=Accept", nullptr, "", 1, 768, nullptr},
      {"BoundPort=768;IPList=10.1.*;AcceptMode=deny", nullptr, "", 2, 768, nullptr},
      {"BoundPort=1;IPList=10.*", nullptr, "", 1, 1, nullptr},  // a list alone accepts its peers
      {"BoundPort=1;IPList=", nullptr, "", 0, 1, nullptr},
      {"BoundPort=1;IPList=*", nullptr, "", 0, 1, nullptr},
      {"BoundIP=127.0.0.1;BoundPort=65535", nullptr, "", 0, 65535, "127.0.0.1"},
      {"BoundIP=*;BoundPort=0", nullptr, "", 0, 0, nullptr},
      {"Host=a:1;", nullptr, "a:1", 0, -1, nullptr},
      {"Host", "Invalid connectstring format!"},
      {"=1", "Invalid connectstring format!"},
      {"Host=a:1;junk", "Invalid connectstring format!"},
      {"BoundPort=65536", "65536 is not a valid port value!"},
      {"BoundPort=-1", "-1 is not a valid port value!"},
      {"BoundPort=x", "x is not a valid port value!"},
      {"BoundPort=", " is not a valid port value!"},
      {"Host=", "Invalid value of Host!"},
      {"ZORHost= ", "Invalid value of Host!"},
      {"AcceptMode=Maybe", "Error value of AcceptMode!"},
      {"Port=768", "Port is not a valid command vlaue!"},
      {"BoundIP=1.2.3.256", "'1.2.3.256' is not a valid ip!"},
      {"BoundIP=localhost", "'localhost' is not a valid ip!"},
      // Every pair is read before the address is checked.
      {"BoundIP=x;Bogus=1", "Bogus is not a valid command vlaue!"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    if (c.error != nullptr) {
      ExpectError<Exception>([&] { ParseTcpConnectString(c.text); }, "Exception", c.error);
      continue;
    }
    const TTcpConnectSettings s = ParseTcpConnectString(c.text);
    EXPECT_EQ(s.HostText, c.hostText);
    EXPECT_EQ(static_cast<int>(s.AcceptMode), c.mode);
    EXPECT_EQ(s.BoundPort ? static_cast<int>(*s.BoundPort) : -1, c.port);
    uint32_t expected = 0;
    if (c.boundIP != nullptr) {
      ASSERT_TRUE(ParseDottedAddress(c.boundIP, expected));
      EXPECT_EQ(s.BoundIP, expected);
    } else {
      EXPECT_FALSE(s.BoundIP.has_value());
    }
  }
}

TEST(TcpConnectString, HostTextGivesHostAndPort) {
  struct Case {
    const char* text;
    const char* error;
    bool discovery;
    const char* host;
    int port;
  } const kCases[] = {
      {"10.0.0.1:768", nullptr, false, "10.0.0.1", 768},
      {"Host=srv:1", nullptr, false, "srv", 1},
      {"zorhost=shop:0", nullptr, true, "shop", 0},
      {"srv", "Must specified the port to connect!"},
      {"srv:", "Must specified the port to connect!"},
      {"srv:65536", "Invalid port value '65536'!"},
      {"srv:http", "Invalid port value 'http'!"},
      {":768", "Unspecified host name or ip!"},
      {"Server=srv:1", "Error connect string 'Server=srv:1'!"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    if (c.error != nullptr) {
      ExpectError<Exception>([&] { ParseHostText(c.text); }, "Exception", c.error);
      continue;
    }
    const THostTarget t = ParseHostText(c.text);
    EXPECT_EQ(t.ViaDiscovery, c.discovery);
    EXPECT_EQ(t.Host, c.host);
    EXPECT_EQ(t.Port, c.port);
  }
}

TEST(TcpConnectString, DottedAddressesAreFourPartsOfAtMost255) {
  struct Case {
    const char* text;
    bool dotted;
    uint32_t address;
  } const kCases[] = {
      {"127.0.0.1", true, 0x7F000001},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"010.0.0.1", true, 0x0A000001},
      {"1.2.3.256", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"1..3.4", false, 0},
      {"a.b.c.d", false, 0},
      {"-1.2.3.4", false, 0},
  };
  for (const Case& c : kCases) {
    uint32_t address = 0;
    EXPECT_EQ(ParseDottedAddress(c.text, address), c.dotted) << c.text;
    if (c.dotted) {
      EXPECT_EQ(address, c.address) << c.text;
    }
  }
}

TEST(TcpConnectString, AcceptFilterPatterns) {
  struct Case {
    TAcceptMode mode;
    const char* list;
    const char* peer;
    bool accepted;
  } const kCases[] = {
      {TAcceptMode::All, "", "1.2.3.4", true},
      {TAcceptMode::All, "10.*", "1.2.3.4", true},
      {TAcceptMode::Deny, "10.1.*", "10.1.2.3", false},
      {TAcceptMode::Deny, "10.1.*", "10.2.0.1", true},
      {TAcceptMode::Accept, "192.168", "192.168.7.9", true},  // runs out of parts: a prefix
      {TAcceptMode::Accept, "192.168", "192.169.7.9", false},
      {TAcceptMode::Accept, "*.*.*.9", "192.169.7.9", true},
      {TAcceptMode::Accept, "10.0.0.1, 127.0.0.1", "127.0.0.1", true},
      {TAcceptMode::Accept, "10.0.0.1,127.0.0.2", "127.0.0.1", false},
      {TAcceptMode::Accept, "1.2.3.4.5", "1.2.3.4", true},  // the address runs out first
      {TAcceptMode::Accept, "10.*,", "127.0.0.1", false},   // a stray comma names no one
      {TAcceptMode::Deny, ",", "127.0.0.1", true},
      {TAcceptMode::Accept, "", "127.0.0.1", false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(AcceptPeerAddress(c.mode, c.list, c.peer), c.accepted)
        << static_cast<int>(c.mode) << " [" << c.list << "] " << c.peer;
  }
}

TEST(TcpConnectString, ComposeHostString) {
  EXPECT_EQ(ComposeHostString(false, "srv", 768), "Host=srv:768");
  EXPECT_EQ(ComposeHostString(true, "shop", 768), "ZORHost=shop:768");
  EXPECT_EQ(ComposeHostString(false, "srv", 0), "Host=srv");
  EXPECT_EQ(ParseHostText(ComposeHostString(true, "shop", 9)).Port, 9);
}

}  // namespace
}  // namespace zor
