#include "server/tcp_control_settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/exceptions.h"
#include "server/master_settings.h"

namespace zor {
namespace {

constexpr const char* kService = "TCP Control Service";

TEST(TCPSettings, ReadWithTheirFallBacks) {
  struct Value {
    const char* Name;
    std::variant<int64_t, std::string> Data;
  };
  struct Case {
    const char* What;
    std::vector<Value> Values;
    TTCPSettings Expected;
  } const kCases[] = {
      {"nothing stored", {}, {true, 768, "", 0, ""}},
      {"all given",
       {{"EnableTCP", int64_t{0}},
        {"Port", int64_t{5000}},
        {"BoundIP", std::string("127.0.0.1")},
        {"AcceptMode", int64_t{2}},
        {"IPList", std::string("10.1.*")}},
       {false, 5000, "127.0.0.1", 2, "10.1.*"}},
      {"port above 65535", {{"Port", int64_t{70000}}}, {true, 768, "", 0, ""}},
      {"port 0", {{"Port", int64_t{0}}}, {true, 768, "", 0, ""}},
      {"port 65535", {{"Port", int64_t{65535}}}, {true, 65535, "", 0, ""}},
      {"invalid bound address", {{"BoundIP", std::string("300.1.1.1")}}, {true, 768, "", 0, ""}},
      {"bound host name", {{"BoundIP", std::string("localhost")}}, {true, 768, "", 0, ""}},
      {"mode 3",
       {{"AcceptMode", int64_t{3}}, {"IPList", std::string("10.*")}},
       {true, 768, "", 0, ""}},
      {"list without mode", {{"IPList", std::string("10.*")}}, {true, 768, "", 0, ""}},
      {"accept list",
       {{"AcceptMode", int64_t{1}}, {"IPList", std::string("192.168")}},
       {true, 768, "", 1, "192.168"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    TMemorySettings store;
    for (const Value& v : c.Values) {
      if (std::holds_alternative<int64_t>(v.Data))
        store.WriteInteger(kService, v.Name, std::get<int64_t>(v.Data));
      else
        store.WriteString(kService, v.Name, std::get<std::string>(v.Data));
    }
    EXPECT_EQ(ReadTCPSettings(store, kService, kDefaultServerPort), c.Expected);
  }
}

TEST(TCPSettings, PortSwitchWinsOverTheSettings) {
  TMemorySettings store;
  store.WriteInteger(kService, "EnableTCP", 0);
  store.WriteInteger(kService, "Port", 5000);
  store.WriteInteger(kService, "AcceptMode", 1);
  store.WriteString(kService, "IPList", "10.*");
  TTCPSettings settings = ReadTCPSettings(store, kService, kDefaultServerPort);
  const std::vector<std::string> args = {"--release", "x", "/I:6001"};
  const auto port = FindPortSwitch(args);
  ASSERT_TRUE(port.has_value());
  ApplyPortSwitch(settings, *port);
  EXPECT_EQ(settings, (TTCPSettings{true, 6001, "", 0, ""}));
  EXPECT_EQ(ListenerString(settings), "BoundPort=6001");

  EXPECT_FALSE(FindPortSwitch(std::vector<std::string>{"/X:1"}).has_value());
  for (const char* bad : {"/I:", "/I:0", "/I:65536", "/I:12a"}) {
    try {
      FindPortSwitch(std::vector<std::string>{bad});
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, std::string(bad) + " does not name a port 1..65535");
    }
  }
}

TEST(TCPSettings, ListenerStringLeavesOutTheEmptyParts) {
  struct Case {
    TTCPSettings Settings;
    const char* Expected;
  } const kCases[] = {
      {{true, 768, "", 0, "10.*"}, "BoundPort=768"},
      {{true, 768, "127.0.0.1", 0, ""}, "BoundIP=127.0.0.1;BoundPort=768"},
      {{true, 900, "", 1, "192.168.*,10.1"},
       "BoundPort=900;AcceptMode=Accept;IPList=192.168.*,10.1"},
      {{true, 900, "10.0.0.1", 2, "10.1.*"},
       "BoundIP=10.0.0.1;BoundPort=900;AcceptMode=Deny;IPList=10.1.*"},
      {{true, 900, "", 2, ""}, "BoundPort=900;AcceptMode=Deny"},
  };
  for (const Case& c : kCases) EXPECT_EQ(ListenerString(c.Settings), c.Expected);
}

TEST(TCPSettings, DottedAddresses) {
  for (const char* good : {"0.0.0.0", "127.0.0.1", "255.255.255.255"})
    EXPECT_TRUE(IsDottedAddress(good)) << good;
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4 ",
                          "-1.2.3.4", "0001.2.3.4"})
    EXPECT_FALSE(IsDottedAddress(bad)) << bad;
}

TEST(MasterSettings, TypesAboveThreeOrWithoutServerAreMaster) {
  struct Case {
    int64_t Type;
    const char* Server;
    int64_t Port;
    TMasterSettings Expected;
  } const kCases[] = {
      {0, "m", 99, {0, "m", 0}},  {1, "m", 99, {1, "m", 0}}, {2, "m", 99, {2, "m", 99}},
      {3, "m", 0, {3, "m", 768}}, {4, "m", 99, {0, "m", 0}}, {2, "", 99, {0, "", 0}},
  };
  for (const Case& c : kCases) {
    TMemorySettings store;
    store.WriteInteger("", "MasterType", c.Type);
    store.WriteString("", "MasterServer", c.Server);
    store.WriteInteger("", "MasterPort", c.Port);
    const TMasterSettings read = ReadMasterSettings(store, 768);
    EXPECT_EQ(read.MasterType, c.Expected.MasterType) << c.Type;
    EXPECT_EQ(read.MasterServer, c.Expected.MasterServer);
    EXPECT_EQ(read.MasterPort, c.Expected.MasterPort) << c.Type;
  }
}

}  // namespace
}  // namespace zor
