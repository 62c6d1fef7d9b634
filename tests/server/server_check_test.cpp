#include "server/server_check.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/exceptions.h"
#include "platform/port_probe.h"
#include "support/live_server.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

// A release and a cache that are in order, and a probe that finds every port free.
struct CheckFixture {
  testing::TempFolder Folder;
  TServerCheckSubject Subject;
  CheckFixture() {
    Folder.WriteFile("release/Client.exe", "x");
    Subject.ReleaseDir = Folder.Dir() / "release";
    Subject.CacheDir = Folder.Dir() / "var/cache/zor/pack";  // made by the server below the folder
  }
  std::vector<std::string> Check(PortProbe probe = [](SocketKind, uint32_t, uint16_t) {
    return 0;
  }) {
    return CheckServerSetup(Subject, probe).Problems;
  }
};

TEST(ServerCheck, AFolderInOrderHasNoProblemAndLeavesNothingBehind) {
  CheckFixture f;
  fs::create_directories(f.Folder.Dir() / "upload");
  f.Subject.UploadDir = f.Folder.Dir() / "upload";
  fs::create_directories(f.Folder.Dir() / "log");
  f.Subject.LogFile = f.Folder.Dir() / "log/zorserver.log";
  EXPECT_EQ(f.Check(), std::vector<std::string>{});
  EXPECT_TRUE(fs::is_empty(f.Folder.Dir() / "upload"));
  EXPECT_TRUE(fs::is_empty(f.Folder.Dir() / "log"));
  EXPECT_FALSE(fs::exists(f.Folder.Dir() / "var"));
}

TEST(ServerCheck, FolderProblemsOneLineEach) {
  struct Case {
    const char* name;
    std::function<void(CheckFixture&)> arrange;
    std::string problem;  // with {} for the temporary folder
  } const kCases[] = {
      {"missing release", [](CheckFixture& f) { f.Subject.ReleaseDir = f.Folder.Dir() / "none"; },
       "The release folder {}/none does not exist"},
      {"release is a file",
       [](CheckFixture& f) { f.Subject.ReleaseDir = f.Folder.Dir() / "release/Client.exe"; },
       "The release folder {}/release/Client.exe is not a folder"},
      {"no release given", [](CheckFixture& f) { f.Subject.ReleaseDir.clear(); },
       "No release folder: give --release DIR (or the setting ReleaseFolder)"},
      {"cache is a file",
       [](CheckFixture& f) { f.Subject.CacheDir = f.Folder.Dir() / "release/Client.exe"; },
       "The cache folder {}/release/Client.exe is not a folder"},
      {"cache below a file",
       [](CheckFixture& f) { f.Subject.CacheDir = f.Folder.Dir() / "release/Client.exe/pack"; },
       "The cache folder {}/release/Client.exe/pack does not exist and cannot be made: "
       "{}/release/Client.exe is "
       "not a folder"},
      {"log file is a folder",
       [](CheckFixture& f) { f.Subject.LogFile = f.Folder.Dir() / "release"; },
       "The log file {}/release is a folder"},
      {"log folder missing",
       [](CheckFixture& f) { f.Subject.LogFile = f.Folder.Dir() / "log/zorserver.log"; },
       "The log file {}/log/zorserver.log cannot be made: its folder does not exist"},
      {"lookup table not given", [](CheckFixture& f) { f.Subject.LookupTable = fs::path(); },
       "The lookup table is not given"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CheckFixture f;
    c.arrange(f);
    std::string expected = c.problem;
    for (size_t at; (at = expected.find("{}")) != std::string::npos;)
      expected.replace(at, 2, f.Folder.Dir().string());
    EXPECT_EQ(f.Check(), std::vector<std::string>{expected});
  }
}

TEST(ServerCheck, ABrokenTableNamesItsFileAndTheReason) {
  CheckFixture f;
  f.Subject.LookupTable = f.Folder.WriteFile("lookup.json", "{");
  const std::vector<std::string> problems = f.Check();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(
      problems[0].rfind(
          "The lookup table " + (f.Folder.Dir() / "lookup.json").string() + " cannot be used: ", 0),
      0u)
      << problems[0];
}

TEST(ServerCheck, UnreadableReleaseAndReadOnlyCache) {
  CheckFixture f;
  fs::create_directories(f.Folder.Dir() / "cache");
  fs::permissions(f.Folder.Dir() / "release", fs::perms::none);
  fs::permissions(f.Folder.Dir() / "cache", fs::perms::owner_read | fs::perms::owner_exec);
  f.Subject.CacheDir = f.Folder.Dir() / "cache";
  std::error_code ec;
  fs::directory_iterator probe(f.Folder.Dir() / "release", ec);
  const bool privileged = !ec;
  const std::vector<std::string> problems = f.Check();
  std::string refusal;
  try {
    RequireReleaseFolder(f.Folder.Dir() / "release");
  } catch (const Exception& e) {
    refusal = e.what();
  }
  fs::permissions(f.Folder.Dir() / "release", fs::perms::owner_all);
  fs::permissions(f.Folder.Dir() / "cache", fs::perms::owner_all);
  if (privileged)
    GTEST_SKIP() << "this user reads and writes folders whatever their permissions (root)";
  const std::string unreadable = "The release folder " + (f.Folder.Dir() / "release").string() +
                                 " cannot be read: Permission denied";
  EXPECT_EQ(problems, (std::vector<std::string>{
                          unreadable,
                          "The cache folder " + (f.Folder.Dir() / "cache").string() +
                              " cannot be written: Permission denied",
                      }));
  EXPECT_EQ(refusal, unreadable);
}

TEST(ServerCheck, PortsTakenAreNamedWithTheirService) {
  CheckFixture f;
  f.Subject.Ports = {{"application server", SocketKind::Stream, "127.0.0.1", 768},
                     {"name service", SocketKind::Datagram, "", 769},
                     {"lookup service", SocketKind::Stream, "300.1.1.1", 80}};
  std::vector<std::pair<uint32_t, uint16_t>> probed;
  const std::vector<std::string> problems =
      f.Check([&](SocketKind kind, uint32_t address, uint16_t port) {
        probed.emplace_back(address, port);
        return kind == SocketKind::Datagram ? EADDRINUSE : 0;
      });
  EXPECT_EQ(probed, (std::vector<std::pair<uint32_t, uint16_t>>{{0x7F000001, 768}, {0, 769}}));
  EXPECT_EQ(problems,
            (std::vector<std::string>{
                "UDP port 769 on 0.0.0.0 for the name service cannot be taken: " +
                    SocketErrorText(EADDRINUSE),
                "The address 300.1.1.1 of the lookup service is not a dotted IPv4 address",
            }));
}

// The service's user may not bind port 768 itself; only its unit grants that. A check run as
// that user must not call the port taken, unless a listener really holds it.
TEST(ServerCheck, APrivilegedPortThisUserMayNotBindIsAProblemOnlyWhenSomethingListens) {
  struct Case {
    const char* name;
    SocketKind kind;
    uint16_t port;
    int bindError;
    bool listening;
    std::vector<std::string> problems;
    std::vector<std::string> notes;
  } const kCases[] = {
      {"free TCP port",
       SocketKind::Stream,
       768,
       EACCES,
       false,
       {},
       {"TCP port 768 on 0.0.0.0 for the application server: nothing listens on it; this user may "
        "not bind ports below 1024, zorserver.service grants that (CAP_NET_BIND_SERVICE)"}},
      {"TCP port in use",
       SocketKind::Stream,
       768,
       EACCES,
       true,
       {"TCP port 768 on 0.0.0.0 for the application server is in use: something listens on it"},
       {}},
      {"UDP port",
       SocketKind::Datagram,
       768,
       EACCES,
       false,
       {},
       {"UDP port 768 on 0.0.0.0 for the application server: this user may not bind ports below "
        "1024 and cannot tell whether it is free; zorserver.service grants that "
        "(CAP_NET_BIND_SERVICE)"}},
      {"denied above 1024 is a problem",
       SocketKind::Stream,
       7680,
       EACCES,
       false,
       {"TCP port 7680 on 0.0.0.0 for the application server cannot be taken: " +
        SocketErrorText(EACCES)},
       {}},
      {"in use below 1024 is a problem",
       SocketKind::Stream,
       768,
       EADDRINUSE,
       false,
       {"TCP port 768 on 0.0.0.0 for the application server cannot be taken: " +
        SocketErrorText(EADDRINUSE)},
       {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    CheckFixture f;
    f.Subject.Ports = {{"application server", c.kind, "", c.port}};
    const TServerCheckResult result = CheckServerSetup(
        f.Subject, [&](SocketKind, uint32_t, uint16_t) { return c.bindError; },
        [&](uint32_t, uint16_t) { return c.listening; });
    EXPECT_EQ(result.Problems, c.problems);
    EXPECT_EQ(result.Notes, c.notes);
  }
}

TEST(ServerCheck, TheRealProbeSeesAListenerAndNotAClosedPort) {
  CheckFixture f;
  int error = 0;
  const int listener = CreateSocket(SocketKind::Stream, error);
  SocketAddress address{0x7F000001, 0};
  ASSERT_TRUE(BindSocket(listener, address, error) && ListenSocket(listener, 4, error) &&
              SocketLocalAddress(listener, address, error));
  f.Subject.Ports = {{"application server", SocketKind::Stream, "127.0.0.1", address.Port}};
  EXPECT_EQ(CheckServerSetup(f.Subject).Problems,
            (std::vector<std::string>{"TCP port " + std::to_string(address.Port) +
                                      " on 127.0.0.1 for the application server cannot be taken: " +
                                      SocketErrorText(EADDRINUSE)}));
  EXPECT_TRUE(TcpListenerAt(0x7F000001, address.Port));
  CloseSocket(listener);
  EXPECT_EQ(CheckServerSetup(f.Subject).Problems, std::vector<std::string>{});
  EXPECT_FALSE(TcpListenerAt(0x7F000001, address.Port));
}

}  // namespace
}  // namespace zor
