// The whole road of a start with real processes: zorserver serves a small release folder on
// 127.0.0.1, the headless launcher in a client folder fetches what is missing or older and
// starts the stand-in main program with "/NetMode"; without a server it gives up after a few
// passes and starts nothing. Every process a test starts, it stops.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "pe_version_writer.h"
#include "platform/folder_sharing.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/zor_registry.h"
#include "server/release_command.h"
#include "support/file_contents.h"
#include "support/free_port.h"
#include "support/server_process.h"
#include "support/temp_folder.h"
#include "support/wait_for.h"
#include "update/release_manifest.h"

namespace zor {
namespace {
namespace fs = std::filesystem;

using testing::FreePort;
using testing::ReadAll;
using testing::WaitFor;
using testing::WriteAll;

class UpdateE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"reg", "run", "release", "client", "cache"})
      fs::create_directories(Root + dir);
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
  void TearDown() override { StopServer(); }

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

  // `extra`: more options, shell words.
  void StartServer(const std::string& extra = "") {
    StopServer();
    Server = std::make_unique<testing::ServerProcess>(
        ZOR_BIN_DIR "/zorserver",
        "--release '" + Root + "release' --port " + std::to_string(Port) +
            " --bind 127.0.0.1 --cache '" + Root + "cache' " + extra,
        Root);
    ASSERT_TRUE(Server->WaitListening()) << Server->Err();
  }
  void StopServer() { Server.reset(); }
  // What the server wrote to its log (standard error).
  std::string ServerLog() const { return ReadAll(Root + "err.txt"); }

  // Runs the launcher to its end, expecting exit code `expected`; what it wrote to standard
  // error.
  std::string RunClient(int expected = 0) {
    const std::string command =
        "cd '" + Root + "client' && ./Client 2>'" + Root + "client.err' </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected)
        << "status " << status << ": " << ReadAll(Root + "client.err");
    return ReadAll(Root + "client.err");
  }
  std::string Client(const std::string& name) const { return Root + "client/" + name; }
  std::string Release(const std::string& name) const { return Root + "release/" + name; }

  testing::TempFolder Folder{"zor-update-e2e"};
  const std::string Root = Folder.Path();
  int Port = 0;
  std::unique_ptr<testing::ServerProcess> Server;
};

TEST_F(UpdateE2E, AnEmptyClientFolderIsBroughtUpToDateAndTheMainProgramStarted) {
  StartServer();
  const std::string err = RunClient();
  const std::string downloading = "[download] Downloading files, please wait...\n";
  EXPECT_EQ(err.substr(0, err.find(downloading) + downloading.size()),
            "[release] The release is not verified: no \"ReleaseKey\" is set, files are installed "
            "as the server "
            "sends them.\n"
            "[start] Program is starting, please wait....\n"
            "[start] Use the ZORPath, press F1 to change setting.\n"
            "[start] Program is starting, please wait....\n"
            "[download] Downloading files, please wait...\n");
  // The last progress line: all of it.
  const std::string last = err.substr(err.rfind("[download] "));
  EXPECT_EQ(last.substr(0, last.find('(')), "[download] 100% ") << err;
  for (const char* name :
       {"IClient", "ZORCore.dll", "bpls/ZORMain.bpl", "Reports.dat", "ZORSys.ini"}) {
    EXPECT_EQ(ReadAll(Client(name)), ReadAll(Release(name))) << name;
  }
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); }));
  EXPECT_EQ(ReadAll(Client("IClient.started")).substr(20), " /NetMode\n");  // after the time stamp
}

// Each connection kind against a server that offers only that way in: the local pipe (the
// kind without any settings, and no server name), TCP, and TCP to the address the server's
// own name service gives for a name, on a port of the test's choosing.
TEST_F(UpdateE2E, EveryConnectionKindBringsTheFolderUpToDate) {
  const uint16_t namePort = FreePort();
  WriteAll(Root + "names", "zorapp = 127.0.0.1\n");
  struct Case {
    const char* Name;
    uint32_t Kind;  // "ConnectType"; 3 means none stored
    const char* Server;
    std::string ServerOptions;
  } const kCases[] = {
      {"no settings: the pipe", 3, "", "--tcp off"},
      {"pipe", 0, "", "--tcp off"},
      {"TCP", 1, "127.0.0.1", "--pipe off"},
      {"name service", 2, "zorapp",
       "--pipe off --name-port " + std::to_string(namePort) + " --names '" + Root + "names'"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    StartServer(c.ServerOptions);
    {
      ScopedRegistryDir dir(Root + "reg");
      TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
      ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
      reg.DeleteValue("ConnectType");
      if (c.Kind <= 2) reg.WriteValue("ConnectType", RegValue::Dword(c.Kind));
      reg.WriteValue("NetServer", RegValue::String(c.Server));
      reg.WriteValue("ZORHostServer", RegValue::String("127.0.0.1"));
      reg.WriteValue("ZORHostPort", RegValue::Dword(namePort));
    }
    for (const auto& entry : fs::directory_iterator(Root + "client"))
      if (entry.path().filename() != "Client") fs::remove_all(entry.path());
    const std::string err = RunClient();
    for (const char* name :
         {"IClient", "ZORCore.dll", "bpls/ZORMain.bpl", "Reports.dat", "ZORSys.ini"}) {
      EXPECT_EQ(ReadAll(Client(name)), ReadAll(Release(name))) << name << "\n" << err;
    }
    EXPECT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); })) << err;
  }
}

// A user who cannot write the machine's settings works from HKCU, which holds nothing yet:
// the server, kind and port the administrator put under HKLM still apply (the server offers
// only that TCP port), and nothing is written under HKLM.
TEST_F(UpdateE2E, AUserWithoutWriteAccessToTheMachineSettingsUsesTheAdministratorsServer) {
  StartServer("--pipe off");
  const std::string hklmBefore = ReadAll(Root + "reg/HKLM.reg");
  fs::remove(Root + "reg/HKLM.reg.lock");
  fs::create_directory(Root + "reg/HKLM.reg.lock");  // HKLM cannot be written by anyone now
  const std::string err = RunClient();
  for (const char* name :
       {"IClient", "ZORCore.dll", "bpls/ZORMain.bpl", "Reports.dat", "ZORSys.ini"}) {
    EXPECT_EQ(ReadAll(Client(name)), ReadAll(Release(name))) << name << "\n" << err;
  }
  EXPECT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); })) << err;
  EXPECT_EQ(ReadAll(Root + "reg/HKLM.reg"), hklmBefore);
}

// A terminal server: fifty users start the launcher at the same moment, all from one
// address, against a server with its default limits. Each user has a client folder and
// run-time folder of their own; every launcher must finish with its folder exact, and no
// session may be left waiting for a client that already ended.
TEST_F(UpdateE2E, FiftyLaunchersFromOneAddressAtOnceAllFinish) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // A sanitizer's launcher is several times slower: ten of them keep the suite within its
  // time and still need more connections than one address had before (32).
  constexpr int kLaunchers = 10;
#else
  constexpr int kLaunchers = 50;
#endif
  StartServer();
  std::vector<ProcessId> launchers;
  for (int i = 0; i < kLaunchers; ++i) {
    const std::string user = Root + "user" + std::to_string(i) + "/";
    fs::create_directories(user + "client");
    fs::create_directories(user + "run");
    fs::copy_file(Client("Client"), user + "client/Client");
  }
  for (int i = 0; i < kLaunchers; ++i) {
    const std::string user = Root + "user" + std::to_string(i) + "/";
    launchers.push_back(StartProcess("/bin/sh -c \"ZOR_RUNTIME_DIR='" + user +
                                         "run' exec ./Client 2>'" + user + "err' </dev/null\"",
                                     user + "client"));
  }
  for (int i = 0; i < kLaunchers; ++i) {
    const std::string user = Root + "user" + std::to_string(i) + "/";
    SCOPED_TRACE(user);
    EXPECT_EQ(WaitForProcessExit(launchers[i]), 0);
    for (const char* name :
         {"IClient", "ZORCore.dll", "bpls/ZORMain.bpl", "Reports.dat", "ZORSys.ini"}) {
      EXPECT_EQ(ReadAll(user + "client/" + name), ReadAll(Release(name))) << name << "\n"
                                                                          << ReadAll(user + "err");
    }
    EXPECT_TRUE(WaitFor([&] { return !ReadAll(user + "client/IClient.started").empty(); }));
  }
  const std::string log = ServerLog();
  EXPECT_EQ(log.find("refused"), std::string::npos) << log;
  EXPECT_EQ(log.find("waits 120 s for its client"), std::string::npos) << log;
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
  const std::string err = RunClient(1);
  EXPECT_NE(
      err.find("[headless] the update failed 3 times: ending without starting the main program\n"),
      std::string::npos)
      << err;
  std::this_thread::sleep_for(
      std::chrono::milliseconds(100));  // a started program would have written by now
  EXPECT_FALSE(fs::exists(Client("IClient.started")));
}

// Signed releases: the release folder is signed, the launcher holds the public key. Each
// attack below first installs the genuine release, then changes what the server offers; the
// launcher shows why it refuses, installs nothing, and after its failed passes starts nothing.
class SignedReleaseE2E : public UpdateE2E {
 protected:
  void SetUp() override {
    UpdateE2E::SetUp();
    fs::create_directories(Root + "keys");
    PublicKey = Tool({"keygen", Root + "keys/secret"});
    PublicKey.pop_back();
    WriteKey(PublicKey);
  }

  // Runs zorrelease in this process; its standard output.
  std::string Tool(const std::vector<std::string>& args,
                   std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) {
    std::ostringstream out, err;
    EXPECT_EQ(RunReleaseCommand(args, out, err, now), 0) << err.str();
    return out.str();
  }
  void Sign(const std::string& folder = "release", const std::string& key = "keys/secret",
            std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) {
    Tool({"sign", "--key", Root + key, "--release", Root + folder}, now);
  }
  void WriteKey(const std::string& key) {
    ScopedRegistryDir dir(Root + "reg");
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
    reg.WriteValue("ReleaseKey", RegValue::String(key));
  }

  // Every file of the client folder with its content, but the resume records.
  std::map<std::string, std::string> ClientFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Root + "client")) {
      if (!entry.is_regular_file()) continue;
      const std::string name = fs::relative(entry.path(), Root + "client").string();
      if (name != "DownLoadInfo.dat") files[name] = ReadAll(entry.path().string());
    }
    return files;
  }

  // Signs, serves and installs the genuine release; the client folder as it then is.
  void InstallGenuine() {
    Sign();
    StartServer();
    const std::string err = RunClient();
    ASSERT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); })) << err;
    ASSERT_EQ(ReadAll(Client("ZORCore.dll")), ReadAll(Release("ZORCore.dll")));
    ASSERT_TRUE(fs::exists(Client("ZORRelease.state")));
    EXPECT_NE(ServerLog().find("The release folder matches its manifest (release "),
              std::string::npos);
    StopServer();
    Installed = ClientFiles();
  }

  // Serves the changed release from a fresh pack cache, runs the launcher and checks that it
  // showed `message` and left the client folder's files as they were. Those are still the
  // installed release, so the last pass starts it with the notice that names `message`
  // (exit status 6). Nothing starts with `code` 2 (the folder is not the installed release: a
  // file was removed, or none was ever committed) or 1 (an update that failed before it, for
  // the folder).
  void ExpectRefused(const std::string& message, int code = 6) {
    StopServer();
    fs::remove_all(Root + "cache");
    fs::create_directories(Root + "cache");
    const size_t startsBefore = ReadAll(Client("IClient.started")).size();
    StartServer();
    const std::string err = RunClient(code);
    EXPECT_NE(err.find("[Error] " + message + "\n"), std::string::npos) << err;
    // The state may name the refused release's files, which were never fetched; the stand-in
    // main program's record of its starts is checked on its own.
    const auto withoutState = [](std::map<std::string, std::string> files) {
      files.erase("ZORRelease.state");
      files.erase("IClient.started");
      return files;
    };
    EXPECT_EQ(withoutState(ClientFiles()), withoutState(Installed));
    if (code == 6) {
      // Two error boxes, then the notice in the user's language, which quotes the error.
      size_t quoted = 0;
      for (size_t at = err.find(message); at != std::string::npos; at = err.find(message, at + 1))
        ++quoted;
      EXPECT_EQ(quoted, 3u) << err;
      EXPECT_EQ(err.find("[headless] the update failed"), std::string::npos) << err;
      EXPECT_TRUE(WaitFor([&] { return ReadAll(Client("IClient.started")).size() > startsBefore; }))
          << err;
      return;
    }
    EXPECT_NE(err.find("[headless] the update failed 3 times"), std::string::npos) << err;
    std::this_thread::sleep_for(
        std::chrono::milliseconds(100));  // a started program would have written by now
    EXPECT_EQ(ReadAll(Client("IClient.started")).size(), startsBefore);
  }

  // Gives `name` in the release new content but its old time, as a forger would.
  void Replace(const std::string& name, const std::string& content) {
    const auto time = fs::last_write_time(Release(name));
    WriteAll(Release(name), content);
    fs::last_write_time(Release(name), time);
  }

  std::string PublicKey;
  std::map<std::string, std::string> Installed;
};

TEST_F(SignedReleaseE2E, TheSignedReleaseInstallsAndAFileChangedOnDiskIsFetchedAgain) {
  InstallGenuine();
  EXPECT_EQ(Installed.count("ZORRelease.manifest"), 0u);
  EXPECT_EQ(fs::status(Client("ZORRelease.state")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // Same size, same time, other bytes: only the hash tells.
  const auto time = fs::last_write_time(Client("Reports.dat"));
  WriteAll(Client("Reports.dat"), std::string(70000, 'x'));
  fs::last_write_time(Client("Reports.dat"), time);
  StartServer();
  const std::string err = RunClient();
  EXPECT_NE(err.find("[download] 100% ("), std::string::npos) << err;
  EXPECT_EQ(ReadAll(Client("Reports.dat")), ReadAll(Release("Reports.dat")));
}

// A client installed from a signed release by the package: after "/UnInstall" only the
// user's own files are left, and the package's menu entry no longer shows for this user.
TEST_F(SignedReleaseE2E, UninstallLeavesOnlyTheUsersOwnFiles) {
  WriteAll(Release("Libs/Extra/Engine.so"), std::string(5000, 'e'));  // not on the fixed list
  InstallGenuine();
  fs::remove(Client("IClient.started"));  // the stand-in main program's record of its start
  WriteAll(Client("My Notes.txt"), "the user's own");
  WriteAll(Client("docs/Report.xlsx"), "also the user's");
  WriteAll(Client("ZORCore.dll_tmp"), "a partial download");
  WriteAll(Client(".package-version"), "1.0.0\n");
  WriteAll(Root + "sys/applications/zor-client.desktop", "[Desktop Entry]\nName=ZOR Client\n");
  const std::string env = "ZOR_CONFIRM=yes HOME='" + Root + "home' XDG_DATA_HOME='" + Root +
                          "home/share' XDG_DATA_DIRS='" + Root + "sys'";
  const int status = std::system(("cd '" + Root + "client' && " + env + " ./Client /UnInstall 2>'" +
                                  Root + "uninstall.err' </dev/null")
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(Root + "uninstall.err");
  EXPECT_EQ(ClientFiles(),
            (std::map<std::string, std::string>{{"My Notes.txt", "the user's own"},
                                                {"docs/Report.xlsx", "also the user's"}}));
  EXPECT_NE(ReadAll(Root + "home/share/applications/zor-client.desktop").find("Hidden=true\n"),
            std::string::npos);
  EXPECT_EQ(ReadAll(Root + "sys/applications/zor-client.desktop"),
            "[Desktop Entry]\nName=ZOR Client\n");
}

TEST_F(SignedReleaseE2E, AFileOutsideTheManifestIsRefused) {
  InstallGenuine();
  WriteAll(Release("Evil.dll"), "not signed");
  ExpectRefused(
      "The server offers Evil.dll, which is not part of the signed release; nothing was updated.");
  // The server warned its publisher at start.
  EXPECT_NE(ServerLog().find("sign it again (zorrelease sign): Evil.dll: not in the manifest"),
            std::string::npos);
}

TEST_F(SignedReleaseE2E, AFileWithAnotherHashIsRefused) {
  InstallGenuine();
  fs::remove(Client("Reports.dat"));
  Installed.erase("Reports.dat");
  Replace("Reports.dat", std::string(70000, 'e'));
  ExpectRefused(
      "The file Reports.dat from the server does not match the signed release; it was not "
      "installed.",
      2);
}

TEST_F(SignedReleaseE2E, AnOlderManifestIsRefused) {
  Sign();
  fs::copy_file(Release("ZORRelease.manifest"), Root + "old.manifest");
  InstallGenuine();  // release 2
  fs::copy_file(Root + "old.manifest", Release("ZORRelease.manifest"),
                fs::copy_options::overwrite_existing);
  ExpectRefused(
      "The server offers release 1, older than release 2 installed before; nothing was updated.");
}

TEST_F(SignedReleaseE2E, AnExpiredManifestIsRefused) {
  InstallGenuine();
  const auto longAgo = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  Tool(
      {"sign", "--key", Root + "keys/secret", "--release", Root + "release", "--expires-days", "1"},
      longAgo);
  ExpectRefused(
      "The release manifest on the server expired on 2023-11-15 22:13 (UTC); nothing was updated.");
}

TEST_F(SignedReleaseE2E, TheManifestOfAnotherReleaseIsRefused) {
  InstallGenuine();
  // Another release by the same publisher, with a higher counter and another ZORCore.dll;
  // its manifest is served with this release's files.
  const std::string genuine = ReadAll(Release("ZORCore.dll"));
  const auto time = fs::last_write_time(Release("ZORCore.dll"));
  WriteAll(Release("ZORCore.dll"), BuildPeWithVersion(5, 0, 6, 19));
  Sign();
  Sign();
  WriteAll(Release("ZORCore.dll"), genuine);
  fs::last_write_time(Release("ZORCore.dll"), time);
  ExpectRefused(
      "The server lists ZORCore.dll other than the signed release does; nothing was updated.");
}

TEST_F(SignedReleaseE2E, AFileLongerThanItsManifestSizeIsRefused) {
  InstallGenuine();
  fs::remove(Client("Reports.dat"));
  Installed.erase("Reports.dat");
  // Data that does not compress: its packed form alone is larger than the signed file may be.
  std::mt19937 random(7);
  std::string endless(400000, '\0');
  for (char& c : endless) c = static_cast<char>(random());
  Replace("Reports.dat", endless);
  ExpectRefused(
      "The server sent more data for Reports.dat than the signed release allows; it was not "
      "installed.",
      2);
  // Data that compresses well: the packed file passes, but it announces more than the signed size.
  Replace("Reports.dat", std::string(400000, 'r'));
  ExpectRefused(
      "The server sent more data for Reports.dat than the signed release allows; it was not "
      "installed.",
      2);
}

TEST_F(SignedReleaseE2E, AManifestSignedWithAnotherKeyIsRefused) {
  InstallGenuine();
  Tool({"keygen", Root + "keys/other"});
  Sign("release", "keys/other");
  ExpectRefused(
      "The release manifest on the server is not signed with the trusted key; nothing was "
      "updated.");
}

TEST_F(SignedReleaseE2E, AMissingManifestIsRefusedWhileAKeyIsSet) {
  InstallGenuine();
  fs::remove(Release("ZORRelease.manifest"));
  ExpectRefused("The server has no signed release manifest; nothing was updated.");
}

TEST_F(SignedReleaseE2E, MessagesFollowTheUsersLanguage) {
  InstallGenuine();
  fs::remove(Release("ZORRelease.manifest"));
  setenv("ZOR_LCID", "2052", 1);
  ExpectRefused("服务器上没有已签署的版本清单，未更新任何档案。");
  setenv("ZOR_LCID", "1028", 1);
  ExpectRefused("伺服器上沒有已簽署的版本清單，未更新任何檔案。");
}

TEST_F(SignedReleaseE2E, ASelfUpdateWhoseNewLauncherDoesNotMatchIsNeverStarted) {
  // The release holds another launcher, signed; what the server then sends is a script.
  WriteAll(Release("Client"), ReadAll(Client("Client")) + "\n");
  fs::last_write_time(Release("Client"),
                      fs::last_write_time(Client("Client")) + std::chrono::hours(1));
  Sign();
  Replace("Client", "#!/bin/sh\ntouch '" + Root + "pwned'\n");
  Installed = ClientFiles();
  fs::create_directories(Root + "tmp");
  setenv("TMPDIR", (Root + "tmp").c_str(), 1);
  ExpectRefused(
      "The file Client from the server does not match the signed release; it was not installed.",
      2);
  unsetenv("TMPDIR");
  EXPECT_FALSE(fs::exists(Root + "pwned"));
  EXPECT_FALSE(fs::exists(Root + "tmp/Client"));
}

TEST_F(SignedReleaseE2E, ARotatedKeyIsTrustedFromTheManifestThatNamesIt) {
  InstallGenuine();
  const std::string next = Tool({"keygen", Root + "keys/next"});
  Tool({"sign", "--key", Root + "keys/secret", "--release", Root + "release", "--next-public",
        next.substr(0, 44)});
  StartServer();
  RunClient();
  StopServer();
  Sign("release", "keys/next");  // from now on the new key signs
  WriteAll(Release("Extra.dat"), "new in this release");
  Sign("release", "keys/next");
  StartServer();
  const std::string err = RunClient();
  EXPECT_EQ(ReadAll(Client("Extra.dat")), "new in this release") << err;
  StopServer();
  // The old key is no longer trusted once the new one has signed.
  Installed = ClientFiles();
  Sign();
  ExpectRefused(
      "The release manifest on the server is not signed with the trusted key; nothing was "
      "updated.");
}

// What a hostile server or a man in the middle can still try once the genuine release is
// installed: leave a signed file out of the list, call a signed configuration file missing,
// or name a main program the release does not hold.
TEST_F(SignedReleaseE2E, ASignedFileTheListLeavesOutIsRefused) {
  InstallGenuine();
  // A new main program is signed, then hidden from the list: the old one must not run.
  WriteAll(Release("IClient"), ReadAll(Release("IClient")) + "\n");
  Sign();
  fs::remove(Release("IClient"));
  ExpectRefused(
      "The server's file list leaves out IClient, which is part of the signed release; nothing "
      "was updated.");
}

TEST_F(SignedReleaseE2E, ASignedConfigurationFileTheServerCallsMissingIsKept) {
  InstallGenuine();
  fs::remove(Release("ZORSys.ini"));  // the manifest still holds it
  ExpectRefused(
      "The server's file list leaves out ZORSys.ini, which is part of the signed release; "
      "nothing was updated.");
  EXPECT_EQ(ReadAll(Client("ZORSys.ini")), "[System]\r\nMainExe=IClient\r\n");
}

TEST_F(SignedReleaseE2E, AFileTheNewReleaseDropsIsRemovedFromTheClientFolder) {
  InstallGenuine();
  fs::remove(Release("Reports.dat"));
  Sign();
  StartServer();
  const std::string err = RunClient();
  ASSERT_TRUE(WaitFor([&] { return ReadAll(Client("IClient.started")).size() == 2 * 30; })) << err;
  EXPECT_FALSE(fs::exists(Client("Reports.dat")));
  EXPECT_TRUE(fs::exists(Client("ZORCore.dll")));
  EXPECT_TRUE(fs::exists(Client("Client")));
}

TEST_F(SignedReleaseE2E, AMainProgramOutsideTheSignedReleaseIsNotStarted) {
  InstallGenuine();
  // A program of someone else's lies in the folder; the signed "ZORSys.ini" cannot name it
  // unless the publisher signed it too, and a name outside the folder is refused as well.
  fs::copy_file(Release("IClient"), Client("Planted"));
  for (const std::string name : {"Planted", "../client/Planted"}) {
    SCOPED_TRACE(name);
    WriteAll(Release("ZORSys.ini"), "[System]\r\nMainExe=" + name + "\r\n");
    Sign();
    StartServer();
    const std::string err = RunClient(5);  // updated, but the main program not started
    StopServer();
    EXPECT_NE(err.find("[Error] The main program " + name +
                       " is not a file of the signed release in the client folder; it was not "
                       "started.\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(ReadAll(Client("ZORSys.ini")), ReadAll(Release("ZORSys.ini")));
  }
  std::this_thread::sleep_for(
      std::chrono::milliseconds(100));  // a started program would have written by now
  EXPECT_EQ(ReadAll(Client("IClient.started")).size(), 30u);
  EXPECT_FALSE(fs::exists(Client("Planted.started")));
}

TEST_F(SignedReleaseE2E, TheLauncherReplacesItselfWithTheSignedOneOnceAndStartsTheMainProgram) {
  // The signed launcher differs from the installed one; its date on the server is an hour
  // ahead. One start replaces the launcher once and then runs the main program.
  WriteAll(Release("Client"), ReadAll(Client("Client")) + "\n");
  Sign();
  StartServer();
  const std::string err = RunClient();
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(Client("IClient.started")).empty(); })) << err;
  ASSERT_TRUE(WaitFor([&] { return ReadAll(Client("Client")) == ReadAll(Release("Client")); }));
  // A second start finds the signed launcher in place and replaces nothing.
  const std::string again = RunClient();
  ASSERT_TRUE(WaitFor([&] { return ReadAll(Client("IClient.started")).size() == 2 * 30; }))
      << again;
  std::this_thread::sleep_for(
      std::chrono::milliseconds(100));  // a further start would have written by now
  EXPECT_EQ(ReadAll(Client("IClient.started")).size(), 2 * 30u);
}

TEST_F(SignedReleaseE2E, ANewReleaseKeyRecoversFromACompromisedKeysFarAheadCounter) {
  InstallGenuine();
  const std::string genuine = ReadAll(Release("ZORRelease.manifest"));
  // Whoever stole the key signs the same files as release 1000000000000 and serves it.
  const std::string counter = "\"Counter\": 1,";
  const size_t at = genuine.find(counter);
  ASSERT_NE(at, std::string::npos) << genuine;
  WriteAll(Release("ZORRelease.manifest"), genuine.substr(0, at) + "\"Counter\": 999999999999," +
                                               genuine.substr(at + counter.size()));
  Sign();
  StartServer();
  RunClient();
  StopServer();
  // The publisher signs the next genuine release with a new key; the administrator gives the
  // launchers that key as their "ReleaseKey", which starts the counter again.
  WriteAll(Release("ZORRelease.manifest"), genuine);
  const std::string fresh = Tool({"keygen", Root + "keys/fresh"});
  WriteAll(Release("Extra.dat"), "the next release");
  Sign("release", "keys/fresh");
  Installed = ClientFiles();
  ExpectRefused(
      "The release manifest on the server is not signed with the trusted key; nothing was "
      "updated.");
  WriteKey(fresh.substr(0, fresh.size() - 1));
  StartServer();
  const std::string err = RunClient();
  EXPECT_EQ(ReadAll(Client("Extra.dat")), "the next release") << err;
  EXPECT_NE(ReadAll(Client("ZORRelease.state")).find("\"Counter\":2,"), std::string::npos);
}

TEST_F(SignedReleaseE2E, AClientFolderOtherUsersMayWriteIsNotUpdated) {
  InstallGenuine();
  // Another user could put a trojan main program, a hash cache, a cloud library or a link at
  // the state's name there: the launcher updates nothing and starts nothing.
  for (const fs::perms open : {fs::perms::others_write, fs::perms::group_write}) {
    fs::permissions(Root + "client", open, fs::perm_options::add);
    ExpectRefused("The client folder " + Root +
                      "client may be written by other users, who could replace the programs run "
                      "from it; nothing was updated. Make the folder and its files writable by "
                      "their owner only (chmod go-w), or install the client in a folder of your "
                      "own.",
                  1);
    fs::permissions(Root + "client", open, fs::perm_options::remove);
  }
  // A file in it that others may write is the same.
  fs::permissions(Client("IClient"), fs::perms::others_write, fs::perm_options::add);
  ExpectRefused(
      "The client folder " + Root +
          "client may be written by other users, who could replace the programs run from "
          "it; nothing was updated. Make the folder and its files writable by their owner "
          "only (chmod go-w), or install the client in a folder of your own.",
      1);
}

// Other local users, for real: the test runs as root and starts every launcher, and every
// attacker, under a user id of its own (setpriv). Skipped, with the reason, elsewhere.
class OtherUserE2E : public SignedReleaseE2E {
 protected:
  static constexpr uid_t kVictim = 65533;
  static constexpr uid_t kOther = 65534;  // the attacker, or the account that keeps a copy

  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "Skipped: the tests do not run as root, so no process can act as "
                      "another user.";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "Skipped: setpriv is missing.";
    SignedReleaseE2E::SetUp();
    chmod(Root.c_str(), 0755);
    // Where any process may leave a mark (a trojan that ran, a main program's start).
    fs::create_directories(Root + "marks");
    chmod((Root + "marks").c_str(), 01777);
  }

  // A home, registry folder (the machine settings copied in, root's) and run-time folder of
  // `uid`'s own.
  std::string HomeOf(uid_t uid) {
    const std::string home = Root + "home-" + std::to_string(uid) + "/";
    if (!fs::exists(home)) {
      for (const char* dir : {"", "reg", "run"}) {
        fs::create_directories(home + dir);
        EXPECT_EQ(chown((home + dir).c_str(), uid, uid), 0);
        chmod((home + dir).c_str(), 0700);
      }
      fs::copy_file(Root + "reg/HKLM.reg", home + "reg/HKLM.reg");
    }
    return home;
  }

  // Runs `Client` of `folder` as `uid` with `extra` environment assignments (shell words),
  // expecting exit code `expected`; what it wrote to standard error.
  std::string RunAs(uid_t uid, const std::string& folder, int expected,
                    const std::string& extra = "") {
    const std::string home = HomeOf(uid);
    const std::string id = std::to_string(uid);
    const std::string command = "cd '" + folder + "' && setpriv --reuid=" + id + " --regid=" + id +
                                " --clear-groups env HOME='" + home + "' ZOR_REGISTRY_DIR='" +
                                home + "reg' ZOR_RUNTIME_DIR='" + home + "run' " + extra +
                                " ./Client 2>'" + Root + "client.err' </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == expected)
        << "status " << status << ": " << ReadAll(Root + "client.err");
    return ReadAll(Root + "client.err");
  }
  // Runs a shell command as `uid`.
  void ShellAs(uid_t uid, const std::string& script) {
    const std::string id = std::to_string(uid);
    const std::string command =
        "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups /bin/sh -c '" + script + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << script;
  }

  // Every entry below `folder` with its owner, mode and content (links as their target).
  static std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      struct stat info {};
      lstat(entry.path().c_str(), &info);
      std::string what = std::to_string(info.st_uid) + " " + std::to_string(info.st_mode) + " ";
      if (entry.is_symlink())
        what += "-> " + fs::read_symlink(entry.path()).string();
      else if (entry.is_regular_file())
        what += ReadAll(entry.path().string());
      entries[fs::relative(entry.path(), folder).string()] = what;
    }
    return entries;
  }

  std::string SharedFolderText(const std::string& folder) const {
    return "The client folder " + folder +
           " may be written by other users, who could replace the programs run from it; "
           "nothing was updated. Make the folder and its files writable by their owner only "
           "(chmod go-w), or install the client in a folder of your own.";
  }
};

// A client folder several users may write into (as a per-machine install in a shared folder
// might be): another user plants a same-size trojan main program with a hash cache of their
// own, a cloud library, an older release's file, or a link at the name the state is written
// through. The victim's
// launcher, another user id, refuses with its message, starts nothing, follows no link and
// leaves the folder as the attacker left it.
TEST_F(OtherUserE2E, WhatAnotherUserPlantsInASharedClientFolderIsRefusedByTheVictim) {
  Sign();
  StartServer();
  ASSERT_EQ(chown((Root + "client").c_str(), kVictim, kVictim), 0);
  ASSERT_EQ(chown(Client("Client").c_str(), kVictim, kVictim), 0);
  const std::string started = Root + "marks/started";
  RunAs(kVictim, Root + "client", 0, "ZOR_DEMO_STARTED='" + started + "'");
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(started).empty(); })) << ReadAll(Root + "client.err");
  ASSERT_TRUE(fs::exists(Client("ZORRelease.hashes")));
  const std::string precious = HomeOf(kVictim) + "precious";
  WriteAll(precious, "the victim's own file");
  ASSERT_EQ(chown(precious.c_str(), kVictim, kVictim), 0);
  fs::copy(Root + "client", Root + "genuine",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);

  const std::string trojan = "#!/bin/sh\necho ran >" + Root + "marks/trojan\n";
  const size_t size = fs::file_size(Client("IClient"));
  WriteAll(Root + "marks/trojan.src", trojan + std::string(size - trojan.size() - 1, '#') + "\n");
  fs::copy_file(Root + "client/ZORRelease.hashes", Root + "marks/hashes.src");
  fs::copy_file(std::string(ZOR_BIN_DIR) + "/M880CloudClient.dll", Root + "marks/cloud.src");
  WriteAll(Root + "marks/older.src", BuildPeWithVersion(5, 0, 5, 1));
  chmod((Root + "marks/older.src").c_str(), 0644);
  chmod((Root + "marks/trojan.src").c_str(), 0755);
  chmod((Root + "marks/hashes.src").c_str(), 0644);
  chmod((Root + "marks/cloud.src").c_str(), 0644);
  struct Case {
    const char* What;
    fs::perms Mode;      // the shared folder's mode
    std::string Attack;  // run in the folder as the other user
  } const kCases[] = {
      {"a trojan main program and a hash cache of the attacker's", fs::perms(0777),
       "cp " + Root +
           "marks/trojan.src IClient.new && mv -f IClient.new IClient && "
           "touch -r " +
           Root + "genuine/IClient IClient && cp " + Root +
           "marks/hashes.src h.new && mv -f h.new ZORRelease.hashes"},
      {"a cloud library", fs::perms(01777), "cp " + Root + "marks/cloud.src M880CloudClient.dll"},
      // The older release's files in place of the newer ones: a roll-back done by hand.
      {"an older release", fs::perms(0777),
       "cp " + Root + "marks/older.src o.new && mv -f o.new ZORCore.dll"},
      {"a link at the state's temporary name", fs::perms(01777),
       "ln -s " + precious + " ZORRelease.state.new"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    fs::remove_all(Root + "client");
    ASSERT_EQ(std::system(("cp -a '" + Root + "genuine' '" + Root + "client'").c_str()), 0);
    fs::permissions(Root + "client", c.Mode);
    ShellAs(kOther, "cd " + Root + "client && " + c.Attack);
    const auto planted = Snapshot(Root + "client");
    const size_t startsBefore = ReadAll(started).size();

    const std::string err =
        RunAs(kVictim, Root + "client", 1, "ZOR_DEMO_STARTED='" + started + "'");
    EXPECT_NE(err.find("[Error] " + SharedFolderText(Root + "client") + "\n"), std::string::npos)
        << err;
    EXPECT_EQ(Snapshot(Root + "client"), planted);
    EXPECT_EQ(ReadAll(precious), "the victim's own file");
    EXPECT_FALSE(fs::exists(Root + "marks/trojan"));
    EXPECT_EQ(ReadAll(started).size(), startsBefore);
  }
}

// One client copy for the whole machine: the folder the administrator names is kept by an
// account of its own, whose run (the service's, update only) brings it up to date without
// starting the main program; another user's launcher starts the main program from it without
// writing a byte there. Once anyone else may write into it, it is refused like any shared
// folder.
TEST_F(OtherUserE2E, TheMachineCopyIsKeptByItsAccountAndUsersStartFromItWithoutWriting) {
  const std::string machine = Root + "machine";
  fs::create_directories(machine);
  fs::copy_file(std::string(ZOR_BIN_DIR) + "/Client", machine + "/Client");
  for (const std::string& path : {machine, machine + "/Client"})
    ASSERT_EQ(chown(path.c_str(), kOther, kOther), 0);
  {
    ScopedRegistryDir dir(Root + "reg");
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
    reg.WriteValue("MachineClientFolder", RegValue::String(machine + "/"));
  }
  Sign();
  StartServer();
  const std::string started = Root + "marks/started";
  const std::string kept =
      RunAs(kOther, machine, 0, "ZOR_UPDATE_ONLY=1 ZOR_DEMO_STARTED='" + started + "'");
  EXPECT_EQ(ReadAll(machine + "/ZORCore.dll"), ReadAll(Release("ZORCore.dll"))) << kept;
  EXPECT_TRUE(fs::exists(machine + "/ZORRelease.state"));
  EXPECT_FALSE(fs::exists(started)) << "the update-only run started the main program";
  ASSERT_EQ(SoleKeeperOfFolder(machine), std::optional<uint32_t>(kOther));

  const auto before = Snapshot(machine);
  const std::string err = RunAs(kVictim, machine, 0, "ZOR_DEMO_STARTED='" + started + "'");
  EXPECT_NE(err.find("[machine copy] " + machine + " is the machine's client copy"),
            std::string::npos)
      << err;
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(started).empty(); })) << err;
  EXPECT_NE(ReadAll(started).find(" /NetMode\n"), std::string::npos);
  EXPECT_EQ(Snapshot(machine), before);

  fs::permissions(machine + "/Reports.dat", fs::perms::group_write, fs::perm_options::add);
  const std::string refused = RunAs(kVictim, machine, 1);
  EXPECT_NE(refused.find("[Error] " + SharedFolderText(machine) + "\n"), std::string::npos)
      << refused;
}

}  // namespace
}  // namespace zor
