#include "server/server_options.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/exceptions.h"

namespace zor {
namespace {

TEST(ServerOptions, ReadsEveryOptionInBothForms) {
  const std::vector<std::string> args = {"--release",
                                         "/srv/rel",
                                         "--port=7000",
                                         "--bind",
                                         "127.0.0.1",
                                         "--name-port",
                                         "7001",
                                         "--names=/etc/names",
                                         "--lookup-port",
                                         "7002",
                                         "--lookup-table",
                                         "/etc/lookup.json",
                                         "--health-port=7003",
                                         "--upload",
                                         "/srv/up",
                                         "--upload-limit",
                                         "1000",
                                         "--cache",
                                         "/srv/cache",
                                         "--scramble=off",
                                         "--tcp",
                                         "off",
                                         "--pipe=on",
                                         "--max-connections",
                                         "8",
                                         "--session-grace",
                                         "30",
                                         "--log-level",
                                         "DEBUG",
                                         "--log-file",
                                         "/tmp/log",
                                         "--language",
                                         "1028"};
  const TServerOptions options = ParseServerOptions(args);
  EXPECT_EQ(options.ReleaseDir, "/srv/rel");
  EXPECT_EQ(options.Port, 7000);
  EXPECT_EQ(options.BindAddress, "127.0.0.1");
  EXPECT_EQ(options.NamePort, 7001);
  EXPECT_EQ(options.NamesFile, "/etc/names");
  EXPECT_EQ(options.LookupPort, 7002);
  EXPECT_EQ(options.LookupTable, "/etc/lookup.json");
  EXPECT_EQ(options.HealthPort, 7003);
  EXPECT_EQ(options.UploadDir, "/srv/up");
  EXPECT_EQ(options.UploadLimit, 1000);
  EXPECT_EQ(options.CacheDir, "/srv/cache");
  EXPECT_EQ(options.Scramble, false);
  EXPECT_EQ(options.Tcp, false);
  EXPECT_EQ(options.Pipe, true);
  EXPECT_EQ(options.MaxConnections, 8);
  EXPECT_EQ(options.SessionGraceSeconds, 30);
  EXPECT_EQ(options.Level, LogLevel::Debug);
  EXPECT_EQ(options.LogFile, "/tmp/log");
  EXPECT_EQ(options.Language, 1028u);
  EXPECT_EQ(ParseServerOptions(std::vector<std::string>{"--language=0x804"}).Language, 2052u);
  EXPECT_FALSE(options.Help);

  const TServerOptions none = ParseServerOptions({});
  EXPECT_FALSE(none.ReleaseDir || none.Port || none.NamePort || none.Scramble || none.Level ||
               none.Tcp || none.Pipe || none.HealthPort);
  EXPECT_TRUE(ParseServerOptions(std::vector<std::string>{"--help"}).Help);
  EXPECT_EQ(ParseServerOptions(std::vector<std::string>{"/I:9000"}).Port, 9000);
  EXPECT_EQ(ParseServerOptions(std::vector<std::string>{"--port", "1", "/i:2"}).Port,
            2);  // the last one wins
}

TEST(ServerOptions, RefusesWithAMessageNamingTheOption) {
  struct Case {
    std::vector<std::string> Args;
    const char* Message;
  } const kCases[] = {
      {{"--port", "0"}, "--port: '0' is not a number from 1 to 65535"},
      {{"--port", "65536"}, "--port: '65536' is not a number from 1 to 65535"},
      {{"--port"}, "--port needs a value"},
      {{"--lookup-port", "x"}, "--lookup-port: 'x' is not a number from 1 to 65535"},
      {{"--health-port", "0"}, "--health-port: '0' is not a number from 1 to 65535"},
      {{"--release="}, "--release needs a value"},
      {{"--bind", "host"}, "--bind: 'host' is not a dotted IPv4 address"},
      {{"--scramble", "yes"}, "--scramble: 'yes' is neither on nor off"},
      {{"--pipe", "1"}, "--pipe: '1' is neither on nor off"},
      {{"--log-level", "loud"}, "--log-level: 'loud' is not error, warning, info or debug"},
      {{"--language", "zh_CN"},
       "--language: 'zh_CN' is not a language id (1033, 2052, 1028, 3076, ...)"},
      {{"--language", "70000"},
       "--language: '70000' is not a language id (1033, 2052, 1028, 3076, ...)"},
      {{"--frobnicate"}, "Unknown option '--frobnicate' (see --help)"},
      {{"release"}, "Unknown argument 'release' (see --help)"},
      {{"/I:x"}, "/I:x does not name a port 1..65535"},
  };
  for (const Case& c : kCases) {
    try {
      ParseServerOptions(c.Args);
      ADD_FAILURE() << c.Message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, c.Message);
    }
  }
}

}  // namespace
}  // namespace zor
