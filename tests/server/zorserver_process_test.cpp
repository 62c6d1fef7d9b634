#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/script_tables.h"
#include "server/file_service.h"
#include "server/registry_settings.h"
#include "support/file_contents.h"
#include "support/live_server.h"
#include "support/server_process.h"
#include "transport/http_client.h"

namespace zor {
namespace {

// Runs `zorserver` with `args` and its registry in the test's folder.
std::unique_ptr<testing::ServerProcess> StartServer(const testing::TempFolder& folder,
                                                    const std::string& args) {
  return std::make_unique<testing::ServerProcess>(
      ZOR_BIN_DIR "/zorserver", args, folder.Dir(),
      "ZOR_REGISTRY_DIR='" + (folder.Dir() / "registry").string() + "'");
}

TEST(ZorServerProgram, ListensServesAndStopsCleanlyOnSIGTERM) {
  testing::TempFolder folder;
  folder.WriteFile("release/Client.exe", "launcher");
  const std::string table = folder.WriteFile(
      "lookup.json", R"({"Enterprises":[{"EnterpriseID":"42","APPServerName":"app42"}]})");
  const uint16_t port = testing::FreePort();
  const uint16_t lookupPort = testing::FreePort();
  const auto server = StartServer(folder, "--release " + (folder.Dir() / "release").string() +
                                              " --cache " + (folder.Dir() / "cache").string() +
                                              " --bind 127.0.0.1 /I:" + std::to_string(port) +
                                              " --lookup-port " + std::to_string(lookupPort) +
                                              " --lookup-table " + table + " --log-level debug");
  const std::string line = server->WaitForFirstLine();
  ASSERT_EQ(line, "listening on 127.0.0.1:" + std::to_string(port))
      << testing::ReadAll(folder.Dir() / "err.txt");
  {
    testing::TTestClient client(port);
    const TVariantArray list = client.Execute(cmdFileList);
    EXPECT_EQ(list[0].Text().substr(0, 19), "Client.exe=0.0.0.0,");
  }
  HttpAddress lookup;
  ASSERT_TRUE(ParseHttpAddress("127.0.0.1:" + std::to_string(lookupPort), lookup));
  const HttpResponse answer =
      HttpExchange(lookup, HttpRequest{"GET", "/M880Cloud/Call?Code=1&P0=0&P1=42", {}, ""}, 5000);
  EXPECT_EQ(answer.Status, 200);
  EXPECT_NE(answer.Body.find(R"("APPServerName":"app42")"), std::string::npos) << answer.Body;
  EXPECT_EQ(server->Terminate(), 0);
  const std::string log = testing::ReadAll(folder.Dir() / "err.txt");
  EXPECT_NE(log.find("Stopping (signal 15)"), std::string::npos) << log;
  EXPECT_NE(log.find("Stopped"), std::string::npos) << log;
}

TEST(ZorServerProgram, APortInUseIsNamedWhenTheStartFails) {
  testing::TempFolder folder;
  folder.WriteFile("release/Client.exe", "launcher");
  const uint16_t port = testing::FreePort();
  const std::string args = "--release " + (folder.Dir() / "release").string() + " --cache " +
                           (folder.Dir() / "cache").string() + " --bind 127.0.0.1 --port " +
                           std::to_string(port);
  const auto first = StartServer(folder, args);
  ASSERT_EQ(first->WaitForFirstLine(), "listening on 127.0.0.1:" + std::to_string(port));
  testing::TempFolder second;
  const auto refused = StartServer(second, args);
  EXPECT_EQ(refused->WaitExit(), 1);
  const std::string err = testing::ReadAll(second.Dir() / "err.txt");
  EXPECT_NE(err.find("zorserver: The TCP listener on 127.0.0.1:" + std::to_string(port) +
                     " could not be started (see the log)\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(first->Terminate(), 0);
}

TEST(ZorServerProgram, RefusesBadOptionsAndAMissingReleaseWithAMessage) {
  struct Case {
    std::string Args;
    std::string Message;
  } const kCases[] = {
      {"--port 0 --release x", "zorserver: --port: '0' is not a number from 1 to 65535\n"},
      {"--port 7",
       "zorserver: No release folder: give --release DIR (or the setting ReleaseFolder)\n"},
      {"--release /nonexistent/zor",
       "zorserver: The release folder /nonexistent/zor does not exist\n"},
      {"--release x --lookup-port 9",
       "zorserver: The lookup service needs its table: give --lookup-table FILE\n"},
  };
  for (const Case& c : kCases) {
    testing::TempFolder folder;
    const auto server = StartServer(folder, c.Args);
    EXPECT_EQ(server->WaitExit(), 1);
    EXPECT_EQ(testing::ReadAll(folder.Dir() / "err.txt"), c.Message);
  }
  testing::TempFolder folder;
  const auto help = StartServer(folder, "--help");
  EXPECT_EQ(help->WaitExit(), 0);
  EXPECT_EQ(testing::ReadAll(folder.Dir() / "out.txt").substr(0, 26), "Usage: zorserver [options]");
}

TEST(ZorServerProgram, CheckPrintsOneLinePerProblemAndExitsWithItsVerdict) {
  testing::TempFolder folder;
  folder.WriteFile("release/Client.exe", "launcher");
  int error = 0;
  const int taken = CreateSocket(SocketKind::Stream, error);
  SocketAddress address{0x7F000001, 0};
  ASSERT_TRUE(BindSocket(taken, address, error) && ListenSocket(taken, 4, error) &&
              SocketLocalAddress(taken, address, error));
  const std::string fine = "--check --release " + (folder.Dir() / "release").string() +
                           " --cache " + (folder.Dir() / "cache").string() + " --bind 127.0.0.1";
  const auto good = StartServer(folder, fine + " --port " + std::to_string(testing::FreePort()));
  EXPECT_EQ(good->WaitExit(), 0);
  EXPECT_EQ(testing::ReadAll(folder.Dir() / "out.txt"),
            "The release, the folders and the ports are ready\n");

  const auto bad = StartServer(folder, fine + " --port " + std::to_string(address.Port) +
                                           " --release " + (folder.Dir() / "gone").string());
  EXPECT_EQ(bad->WaitExit(), 1);
  EXPECT_EQ(testing::ReadAll(folder.Dir() / "out.txt"),
            "The release folder " + (folder.Dir() / "gone").string() +
                " does not exist\nTCP port " + std::to_string(address.Port) +
                " on 127.0.0.1 for the application server cannot be taken: " +
                SocketErrorText(EADDRINUSE) + "\n");
  CloseSocket(taken);
  EXPECT_FALSE(std::filesystem::exists(folder.Dir() / "cache"));
}

// The server's language: the setting "Language", overridden by --language; the greeting
// carries it, and says whether the server converts between the Chinese scripts.
TEST(ZorServerProgram, TheLanguageComesFromTheSettingOrTheOption) {
  testing::TempFolder folder;
  folder.WriteFile("release/Client.exe", "launcher");
  {
    ScopedRegistryDir registry((folder.Dir() / "registry").string());
    TRegistrySettings settings;
    settings.WriteInteger("", "Language", 1028);
  }
  std::string why;
  const bool tables = OpenScriptTables(&why) != nullptr;
  struct Case {
    std::string Option;
    int32_t Language;
  } const kCases[] = {{"", 1028}, {" --language 2052", 2052}};
  for (const Case& c : kCases) {
    const uint16_t port = testing::FreePort();
    const auto server =
        StartServer(folder, "--release " + (folder.Dir() / "release").string() + " --cache " +
                                (folder.Dir() / "cache").string() + " --bind 127.0.0.1 --port " +
                                std::to_string(port) + c.Option);
    ASSERT_TRUE(server->WaitListening()) << testing::ReadAll(folder.Dir() / "err.txt");
    testing::TTestClient client(port);
    EXPECT_EQ(client.Greeting[3].AsInteger(), c.Language);
    EXPECT_EQ(client.Greeting[4], TVariant(tables)) << why;
    EXPECT_EQ(server->Terminate(), 0);
  }
}

TEST(ZorServerProgram, SIGHUPReopensTheLogFileAndReadsTheReleaseAgain) {
  testing::TempFolder folder;
  folder.WriteFile("release/Client.exe", "launcher");
  const std::filesystem::path logFile = folder.Dir() / "zorserver.log";
  const uint16_t port = testing::FreePort();
  const auto server =
      StartServer(folder, "--release " + (folder.Dir() / "release").string() + " --cache " +
                              (folder.Dir() / "cache").string() + " --bind 127.0.0.1 --port " +
                              std::to_string(port) + " --log-file " + logFile.string());
  ASSERT_EQ(server->WaitForFirstLine(), "listening on 127.0.0.1:" + std::to_string(port))
      << testing::ReadAll(folder.Dir() / "err.txt");
  // What logrotate does: move the file away, then ask for a new one.
  std::filesystem::rename(logFile, folder.Dir() / "zorserver.log.1");
  folder.WriteFile("release/Added.dat", "new");
  WaitForProcessExit(StartProcess("kill -HUP " + std::to_string(server->Pid())));
  std::string reopened;
  for (int i = 0; i < 500 && reopened.find("Reloaded") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    reopened = testing::ReadAll(logFile);
  }
  EXPECT_NE(reopened.find("[Server] Reloaded: 2 files in " + (folder.Dir() / "release").string()),
            std::string::npos)
      << reopened;
  EXPECT_EQ(server->Terminate(), 0);
  EXPECT_NE(testing::ReadAll(folder.Dir() / "zorserver.log.1").find("Serving"), std::string::npos);
  EXPECT_NE(testing::ReadAll(logFile).find("Stopped"), std::string::npos);
}

// A versioned release behind a link: "ln -sfn v2 current" is served only after SIGHUP; a link
// switched to a folder that does not exist keeps the folder served.
TEST(ZorServerProgram, SIGHUPFollowsASwitchedReleaseLink) {
  testing::TempFolder folder;
  folder.WriteFile("v1/Client.exe", "launcher");
  folder.WriteFile("v2/Client.exe", "launcher 2");
  folder.WriteFile("v2/Added.dat", "new");
  const std::filesystem::path current = folder.Dir() / "current";
  const auto pointTo = [&](const char* target) {
    std::filesystem::create_directory_symlink(target, folder.Dir() / "current.next");
    std::filesystem::rename(folder.Dir() / "current.next", current);
  };
  pointTo("v1");
  const std::filesystem::path logFile = folder.Dir() / "zorserver.log";
  const uint16_t port = testing::FreePort();
  const auto server =
      StartServer(folder, "--release " + current.string() + " --cache " +
                              (folder.Dir() / "cache").string() + " --bind 127.0.0.1 --port " +
                              std::to_string(port) + " --log-file " + logFile.string());
  ASSERT_EQ(server->WaitForFirstLine(), "listening on 127.0.0.1:" + std::to_string(port))
      << testing::ReadAll(folder.Dir() / "err.txt");
  const auto reloadAndRead = [&](int reloads) {
    WaitForProcessExit(StartProcess("kill -HUP " + std::to_string(server->Pid())));
    std::string log;
    for (int i = 0; i < 500; ++i) {
      log = testing::ReadAll(logFile);
      size_t count = 0;
      for (size_t at = log.find("Reloaded:"); at != std::string::npos;
           at = log.find("Reloaded:", at + 1))
        ++count;
      if (count >= static_cast<size_t>(reloads)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return log;
  };
  const std::string v2 = std::filesystem::canonical(folder.Dir() / "v2").string();

  // A reload before the switch, then the switch alone: still the first folder.
  std::string log = reloadAndRead(1);
  EXPECT_NE(log.find("[Server] Reloaded: 1 files in " + current.string()), std::string::npos)
      << log;
  pointTo("v2");
  EXPECT_EQ(log.find("The release is now"), std::string::npos) << log;

  log = reloadAndRead(2);
  EXPECT_NE(log.find("[Server] The release is now " + v2 + "\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[Server] Reloaded: 2 files in " + current.string()), std::string::npos)
      << log;

  pointTo("missing");
  log = reloadAndRead(3);
  EXPECT_NE(log.find("; still serving " + v2 + "\n"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("Reloaded: 2 files"), log.rfind("Reloaded:")) << log;
  EXPECT_EQ(server->Terminate(), 0);
}

}  // namespace
}  // namespace zor
