// Every client language against every server language, with real processes: a release that
// holds files with simplified, traditional and ASCII names and a ZORSys.ini in Chinese, served
// by one zorserver per server language (--language), updated by the headless launcher of each
// client language (ZOR_LCID) into an empty folder whose own name is Chinese. A pair either
// brings the folder up to date byte for byte and starts the main program, or, only when the
// two ends run different Chinese scripts and neither can convert, is refused with the
// protocol's message. The server's logon line shows the client's folder as it arrived: in the
// server's script for the pairs that convert. A name that is not text fails the pass.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "base/utf.h"
#include "platform/registry_store.h"
#include "platform/script_tables.h"
#include "platform/zor_registry.h"
#include "support/file_contents.h"
#include "support/free_port.h"
#include "support/server_process.h"
#include "support/temp_folder.h"
#include "support/wait_for.h"

namespace zor {
namespace {
namespace fs = std::filesystem;

using testing::ReadAll;
using testing::WaitFor;
using testing::WriteAll;

constexpr uint32_t kLanguages[] = {1033, 2052, 1028, 3076};
constexpr std::string_view kMismatch =
    "连接的服务器与本机的语系不同，而服务器或本机并不具备简繁转换的功能，无法建立连线。";
// The release, by name as the client folder must hold it.
const char* const kReleaseNames[] = {"IClient",  "ZORSys.ini",  "报表.dat",
                                     "報表.dat", "Reports.dat", "bpls/客户资料.bpl"};

bool Traditional(uint32_t lcid) {
  return lcid == 1028 || lcid == 3076;
}

class LanguageE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"reg", "run", "release/bpls"}) fs::create_directories(Root + dir);
    fs::copy_file(std::string(ZOR_BIN_DIR) + "/IClient", Root + "release/IClient");
    WriteAll(Root + "release/ZORSys.ini",
             "[System]\r\nMainExe=IClient\r\n; 岳川系列 客户端设定\r\nTitle=報表系統\r\n");
    WriteAll(Root + "release/报表.dat", std::string(30000, 's'));
    WriteAll(Root + "release/報表.dat", std::string(20000, 't'));
    WriteAll(Root + "release/Reports.dat", std::string(10000, 'r'));
    WriteAll(Root + "release/bpls/客户资料.bpl", std::string(5000, 'b'));
    setenv("ZOR_REGISTRY_DIR", (Root + "reg").c_str(), 1);
    setenv("ZOR_RUNTIME_DIR", (Root + "run").c_str(), 1);
    setenv("ZOR_UI", "headless", 1);
  }

  // Starts zorserver in `language`; `tables` false runs it without conversion tables.
  std::unique_ptr<testing::ServerProcess> StartServer(uint32_t language, bool tables,
                                                      uint16_t port) {
    const std::string folder = Root + "server-" + std::to_string(language) + "/";
    fs::create_directories(folder);
    auto server = std::make_unique<testing::ServerProcess>(
        ZOR_BIN_DIR "/zorserver",
        "--language " + std::to_string(language) + " --release '" + Root + "release' --port " +
            std::to_string(port) + " --bind 127.0.0.1 --cache '" + folder + "cache'",
        folder, tables ? "" : "ZOR_SCRIPT_TABLES=");
    EXPECT_TRUE(server->WaitListening()) << server->Err();
    return server;
  }

  void WriteSettings(uint16_t port) {
    ScopedRegistryDir dir(Root + "reg");
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
    reg.WriteValue("ConnectType", RegValue::Dword(1));
    reg.WriteValue("NetServer", RegValue::String("127.0.0.1"));
    reg.WriteValue("TCPPort", RegValue::Dword(port));
    reg.WriteValue("ShowNextTime", RegValue::Dword(1));
  }

  // A new client folder for `language`, named in its script; the launcher is copied in.
  std::string NewClientFolder(uint32_t client, uint32_t server, bool tables) {
    const std::string folder = Root + (Traditional(client) ? "客戶端" : "客户端") + "-" +
                               std::to_string(client) + "-" + std::to_string(server) +
                               (tables ? "" : "-plain") + "/";
    fs::create_directories(folder);
    fs::copy_file(std::string(ZOR_BIN_DIR) + "/Client", folder + "Client");
    return folder;
  }

  // Runs the launcher of `language` in `folder` to its end; what it wrote to standard error.
  std::string RunClient(const std::string& folder, uint32_t language, bool tables) {
    const std::string command = "cd '" + folder + "' && ZOR_LCID=" + std::to_string(language) +
                                (tables ? "" : " ZOR_SCRIPT_TABLES=") + " ./Client 2>'" + folder +
                                "../client.err' </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status)) << status;
    return ReadAll(folder + "../client.err");
  }

  // The release's files that the client folder holds byte for byte, and files it holds that
  // the release has not (besides the launcher's own).
  void ExpectUpToDate(const std::string& folder) {
    for (const char* name : kReleaseNames)
      EXPECT_EQ(ReadAll(folder + name), ReadAll(Root + "release/" + name)) << folder << name;
    std::set<std::string> extra;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().lexically_relative(folder).string();
      bool known = name == "Client" || name == "IClient.started" || name == "DownLoadInfo.dat";
      for (const char* release : kReleaseNames) known = known || name == release;
      if (!known) extra.insert(name);
    }
    EXPECT_EQ(extra, std::set<std::string>{}) << folder;
  }

  testing::TempFolder Folder{"zor-language-e2e"};
  const std::string Root = Folder.Path();
};

// With the tables on both ends every pair is served; the pairs of different scripts convert,
// and the client's folder name reaches the server in the server's script.
TEST_F(LanguageE2E, EveryClientLanguageUpdatesFromEveryServerLanguage) {
  std::string why;
  const std::unique_ptr<TScriptTables> tables = OpenScriptTables(&why);
  if (!tables) GTEST_SKIP() << "no conversion tables on this machine: " << why;
  for (const uint32_t server : kLanguages) {
    const uint16_t port = testing::FreePort();
    const auto process = StartServer(server, true, port);
    WriteSettings(port);
    for (const uint32_t client : kLanguages) {
      SCOPED_TRACE(::testing::Message() << "client " << client << ", server " << server);
      const std::string folder = NewClientFolder(client, server, true);
      const std::string err = RunClient(folder, client, true);
      ExpectUpToDate(folder);
      EXPECT_TRUE(WaitFor([&] { return !ReadAll(folder + "IClient.started").empty(); })) << err;
      const bool converts = Traditional(client) != Traditional(server);
      const std::string arrived = converts ? (Traditional(server) ? tables->ToTraditional(folder)
                                                                  : tables->ToSimplified(folder))
                                           : folder;
      if (converts) {
        EXPECT_NE(arrived, folder);  // the name shows which way it went
      }
      const std::string logon =
          " (Client in " + arrived + ", language " + std::to_string(client) +
          (converts ? ", texts converted between the Chinese scripts)\n" : ")\n");
      EXPECT_NE(process->Err().find(logon), std::string::npos) << logon << process->Err();
    }
  }
}

// Servers without tables: a launcher without tables is refused by a server of the other
// script, with the protocol's message and nothing fetched, and only there (an English server
// serves simplified launchers); a launcher with its tables is then served, converting itself.
TEST_F(LanguageE2E, WithoutTablesOnlyDifferentScriptsAreRefused) {
  std::string why;
  const std::unique_ptr<TScriptTables> tables = OpenScriptTables(&why);
  for (const uint32_t server : kLanguages) {
    const uint16_t port = testing::FreePort();
    const auto process = StartServer(server, false, port);
    WriteSettings(port);
    for (const uint32_t client : kLanguages) {
      SCOPED_TRACE(::testing::Message() << "client " << client << ", server " << server);
      const std::string folder = NewClientFolder(client, server, false);
      const std::string err = RunClient(folder, client, false);
      if (Traditional(client) == Traditional(server)) {
        EXPECT_EQ(err.find(kMismatch), std::string::npos) << err;
        ExpectUpToDate(folder);
        EXPECT_TRUE(WaitFor([&] { return !ReadAll(folder + "IClient.started").empty(); })) << err;
        continue;
      }
      EXPECT_NE(err.find("[Error] " + std::string(kMismatch) + "\n"), std::string::npos) << err;
      EXPECT_FALSE(fs::exists(folder + "IClient"));
      EXPECT_FALSE(fs::exists(folder + "IClient.started"));
      if (!tables) continue;  // the launcher would have none either
      const std::string again = RunClient(folder, client, true);
      EXPECT_EQ(again.find(kMismatch), std::string::npos) << again;
      ExpectUpToDate(folder);
      EXPECT_TRUE(WaitFor([&] { return !ReadAll(folder + "IClient.started").empty(); })) << again;
      const std::string arrived =
          Traditional(server) ? tables->ToTraditional(folder) : tables->ToSimplified(folder);
      EXPECT_NE(
          process->Err().find(" (Client in " + arrived + ", language " + std::to_string(client) +
                              ", texts converted between the Chinese scripts)\n"),
          std::string::npos)
          << arrived << process->Err();
    }
  }
}

// A release file whose name is not text (GBK bytes on the server's disk) cannot be held by
// the server's code page nor named by a launcher: the server warns at start, `--check` lists
// it, and the launcher fails the pass naming the entry in its language, starting nothing.
TEST_F(LanguageE2E, ANameTheServerCannotCarryIsReportedAndFailsThePass) {
  const std::string gbkName = "\xB1\xA8\xB1\xED.dat";  // "报表.dat" in code page 936
  WriteAll(Root + "release/" + gbkName, "gbk");
  const uint16_t port = testing::FreePort();
  const std::string warning = "The name of the release file " + gbkName +
                              " cannot be written in code page 1252 of the server's language 1033";
  {
    fs::create_directories(Root + "check");
    testing::ServerProcess check(ZOR_BIN_DIR "/zorserver",
                                 "--check --language 1033 --release '" + Root + "release' --port " +
                                     std::to_string(port) + " --bind 127.0.0.1 --cache '" + Root +
                                     "check/cache'",
                                 Root + "check");
    EXPECT_EQ(check.WaitExit(), 1);
    const std::string lines = ReadAll(Root + "check/out.txt");
    EXPECT_NE(lines.find(warning + ": "), std::string::npos) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;  // and the 3 Chinese names
  }
  const auto server = StartServer(1033, true, port);
  WriteSettings(port);
  EXPECT_NE(server->Err().find("warning [FileService] " + warning), std::string::npos)
      << server->Err();
  const std::string folder = NewClientFolder(2052, 1033, true);
  const std::string err = RunClient(folder, 2052, true);
  // The list carries the name as wide text: what is not text became U+FFFD on the way.
  const std::string listed = Utf16ToUtf8(Utf8ToUtf16(gbkName));
  EXPECT_NE(err.find("[Error] 服务器的档案清单中的 " + listed +
                     " 无法作为本机的档案名称（服务器的字符集无法表示此名称）。"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("[headless] the update failed 3 times"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(folder + "IClient.started"));
}

}  // namespace
}  // namespace zor
