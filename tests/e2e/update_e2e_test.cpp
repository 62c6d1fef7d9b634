// The whole road of a start with real processes: zorserver serves a small release folder on
// 127.0.0.1, the headless launcher in a client folder fetches what is missing or older and
// starts the stand-in main program with "/NetMode"; without a server it gives up after a few
// passes and starts nothing. Every process a test starts, it stops.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "platform/pe_version_writer.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/zor_registry.h"

namespace zor {
namespace {
namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A safety net for a broken build, not a measure of speed.
bool WaitFor(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A TCP port on 127.0.0.1 that nobody listens on right now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class UpdateE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    Root = (fs::temp_directory_path() / ("zor-update-e2e-" + std::to_string(random()))).string() + "/";
    for (const char* dir : {"reg", "run", "release", "client", "cache"}) fs::create_directories(Root + dir);
    fs::copy_file(std::string(ZOR_BIN_DIR) + "/IClient", Root + "release/IClient");
    WriteAll(Root + "release/ZORCore.dll", BuildPeWithVersion(5, 0, 6, 18));
    WriteAll(Root + "release/bpls/ZORMain.bpl", BuildPeWithVersion(5, 0, 6, 18));
    WriteAll(Root + "release/Reports.dat", std::string(70000, 'r'));
    WriteAll(Root + "release/ZORSys.ini", "[System]\r\nMainExe=IClient\r\n");
    fs::copy_file(std::string(ZOR_BIN_DIR) + "/Client", Root + "client/Client");
    setenv("ZOR_REGISTRY_DIR", (Root + "reg").c_str(), 1);
    setenv("ZOR_RUNTIME_DIR", (Root + "run").c_str(), 1);
    setenv("ZOR_UI", "headless", 1);
    setenv("ZOR_LCID", "1033", 1);
    Port = FreePort();
    WriteSettings();
  }
  void TearDown() override {
    StopServer();
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }

  void WriteSettings() {
    ScopedRegistryDir dir(Root + "reg");
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
    reg.WriteValue("ConnectType", RegValue::Dword(1));
    reg.WriteValue("NetServer", RegValue::String("127.0.0.1"));
    reg.WriteValue("TCPPort", RegValue::Dword(static_cast<uint32_t>(Port)));
    reg.WriteValue("ShowNextTime", RegValue::Dword(1));
    reg.WriteValue("WaitInput", RegValue::Dword(500));
  }

  void StartServer() {
    const std::string script = "exec '" + std::string(ZOR_BIN_DIR) + "/zorserver' --release '" + Root +
                               "release' --port " + std::to_string(Port) + " --bind 127.0.0.1 --cache '" + Root +
                               "cache' >'" + Root + "server.out' 2>'" + Root + "server.log'";
    Server = StartProcess("/bin/sh -c \"" + script + "\"");
    ASSERT_TRUE(WaitFor([&] { return ReadAll(Root + "server.out").find("listening on") != std::string::npos; }))
        << ReadAll(Root + "server.log");
  }
  void StopServer() {
    if (Server == 0) return;
    KillProcess(Server);
    WaitForProcessExit(Server);
    Server = 0;
  }

  // Runs the launcher to its end; what it wrote to standard error.
  std::string RunClient() {
    const std::string command = "cd '" + Root + "client' && ./Client 2>'" + Root + "client.err' </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return ReadAll(Root + "client.err");
  }
  std::string Client(const std::string& name) const { return Root + "client/" + name; }
  std::string Release(const std::string& name) const { return Root + "release/" + name; }

  std::string Root;
  int Port = 0;
  ProcessId Server = 0;
};

TEST_F(UpdateE2E, AnEmptyClientFolderIsBroughtUpToDateAndTheMainProgramStarted) {
  StartServer();
  const std::string err = RunClient();
  const std::string downloading = "[download] Downloading files, please wait...\n";
  EXPECT_EQ(err.substr(0, err.find(downloading) + downloading.size()),
            "[start] Program is starting, please wait....\n"
            "[start] Use the ZORPath, press F1 to change setting.\n"
            "[start] Program is starting, please wait....\n"
            "[download] Downloading files, please wait...\n");
  // The last progress line: all of it.
  const std::string last = err.substr(err.rfind("[download] "));
  EXPECT_EQ(last.substr(0, last.find('(')), "[download] 100% ") << err;
  for (const char* name : {"IClient", "ZORCore.dll", "bpls/ZORMain.bpl", "Reports.dat", "ZORSys.ini"}) {
    EXPECT_EQ(ReadAll(Client(name)), ReadAll(Release(name))) << name;
  }
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); }));
  EXPECT_EQ(ReadAll(Client("IClient.started")).substr(20), " /NetMode\n");  // after the time stamp
}

TEST_F(UpdateE2E, OnlyOlderFilesAreFetchedAgain) {
  StartServer();
  RunClient();
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); }));
  WriteAll(Client("ZORCore.dll"), BuildPeWithVersion(5, 0, 6, 17));  // older version, newer date
  const std::string err = RunClient();
  EXPECT_NE(err.find("[download] 100% ("), std::string::npos) << err;
  EXPECT_EQ(ReadAll(Client("ZORCore.dll")), ReadAll(Release("ZORCore.dll")));
  ASSERT_TRUE(WaitFor([&] { return ReadAll(Client("IClient.started")).size() == 2 * 30; }));
}

TEST_F(UpdateE2E, WithoutAServerTheRunGivesUpAfterThreePassesAndStartsNothing) {
  fs::copy_file(Release("IClient"), Client("IClient"));
  const std::string err = RunClient();
  EXPECT_NE(err.find("[headless] the update failed 3 times: ending without starting the main program\n"),
            std::string::npos)
      << err;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a started program would have written by now
  EXPECT_FALSE(fs::exists(Client("IClient.started")));
}

}  // namespace
}  // namespace zor
