// "Client /UnInstall" as a real process without a person: the answer comes from
// $ZOR_CONFIRM, the progress and the messages go to standard error, and only the client's
// own files, shortcuts and installed-programs entry go.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/zor_registry.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait_for.h"

namespace zor {
namespace {
namespace fs = std::filesystem;
using testing::ReadAll;
using testing::WaitFor;
using testing::WriteAll;

constexpr const char* kEntryKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZOR Q880 System";
constexpr const char* kConfirmLine = "[ZOR Q880 System] Continue with ininstall M880\n";

class UninstallE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bin = std::string(ZOR_BIN_DIR) + "/";
    fs::create_directories(Root + "reg");
    fs::create_directories(Root + "run");
    fs::create_directories(Root + "app/Bpls");
    fs::copy_file(bin + "Client", Root + "app/Client");
    fs::copy_file(bin + "IClient", Root + "app/IClient");
    WriteAll(Root + "app/ZORSys.ini", "[System]\n");
    WriteAll(Root + "app/Bpls/Main.bpl", "library");
    WriteAll(Root + "app/Report.doc", "the user's own");
    WriteAll(Root + "outside/cloud.so", "outside");
    fs::create_symlink(Root + "outside/cloud.so", Root + "app/M880CloudClient.dll");
    WriteAll(Root + "home/Desktop/Start M880.desktop", "[Desktop Entry]\n");
    WriteAll(Root + "home/.local/share/applications/ZOR Q880 System/Start M880.desktop",
             "[Desktop Entry]\n");
    WriteAll(Root + "home/.local/share/applications/ZOR Q880 System/Uninstall M880.desktop",
             "[Desktop Entry]\n");
    ScopedRegistryDir dir(Root + "reg");
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey(kEntryKey, true));
    reg.WriteString("DisplayName", "ZOR Q880 System");
  }
  void TearDown() override {
    if (Holder != 0) {
      KillProcess(Holder);
      WaitForProcessExit(Holder);
    }
  }

  // Runs "Client /UnInstall" with the answer `confirm`; what it wrote on standard error.
  std::string Uninstall(const std::string& confirm) {
    const std::string env = "ZOR_UI=headless ZOR_LCID=1033 ZOR_CONFIRM=" + confirm +
                            " ZOR_REGISTRY_DIR='" + Root + "reg' ZOR_RUNTIME_DIR='" + Root +
                            "run' HOME='" + Root + "home' XDG_CONFIG_HOME='" + Root +
                            "home/.config' XDG_DATA_HOME='" + Root + "home/.local/share'";
    const std::string command =
        env + " '" + Root + "app/Client' /UnInstall 2>'" + Root + "err' </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return ReadAll(Root + "err");
  }

  // Every entry below the test's folder except the run-time and registry folders, links
  // as links, with contents.
  std::map<std::string, std::string> Tree() {
    std::map<std::string, std::string> entries;
    for (const char* top : {"app", "outside", "home"}) {
      for (auto it = fs::recursive_directory_iterator(Root + top);
           it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().lexically_relative(Root).string();
        if (it->is_symlink())
          entries[name] = "-> " + fs::read_symlink(it->path()).string();
        else if (it->is_directory())
          entries[name + "/"] = "";
        else
          entries[name] = ReadAll(it->path().string());
      }
    }
    return entries;
  }

  bool EntryExists() {
    ScopedRegistryDir dir(Root + "reg");
    return TZORRegistry(RegRoot::LocalMachine, KEY_READ).KeyExists(kEntryKey);
  }

  testing::TempFolder Folder{"zor-uninstall"};
  const std::string Root = Folder.Path();
  ProcessId Holder = 0;
};

TEST_F(UninstallE2E, DeclinedOrWhileTheMainProgramRunsNothingIsTouched) {
  const auto before = Tree();
  EXPECT_EQ(Uninstall("no"), kConfirmLine);
  EXPECT_EQ(Tree(), before);
  EXPECT_TRUE(EntryExists());

  // The main program holds its run mutex ("NIClient") until the test stops it.
  setenv("ZOR_RUNTIME_DIR", (Root + "run").c_str(), 1);
  setenv("ZOR_DEMO_HOLD_MS", "600000", 1);
  Holder = StartProcess("\"" + Root + "app/IClient\" /NetMode");
  unsetenv("ZOR_DEMO_HOLD_MS");
  unsetenv("ZOR_RUNTIME_DIR");
  ASSERT_TRUE(WaitFor([&] { return !ReadAll(Root + "app/IClient.started").empty(); }));
  const auto running = Tree();
  EXPECT_EQ(Uninstall("yes"),
            std::string(kConfirmLine) + "[Error] Applcation is executed duplicated.\n");
  EXPECT_EQ(Tree(), running);
  EXPECT_TRUE(EntryExists());
}

TEST_F(UninstallE2E, ConfirmedRemovesTheClientButNotTheUsersFilesNorWhatLinksPointAt) {
  EXPECT_EQ(Uninstall("yes"), std::string(kConfirmLine) +
                                  "[uninstall] Uninstalling program, please wait...\n"
                                  "[uninstall] 33% (2 of 6 files)\n"
                                  "[uninstall] 50% (3 of 6 files)\n"
                                  "[uninstall] 83% (5 of 6 files)\n"
                                  "[uninstall] 100% (6 of 6 files)\n"
                                  "[ZOR Q880 System] Finish uninstall\n"
                                  "[uninstall] 6 files looked at, 5 removed\n");
  EXPECT_EQ(Tree(), (std::map<std::string, std::string>{{"app/Bpls/", ""},
                                                        {"app/Report.doc", "the user's own"},
                                                        {"home/.local/", ""},
                                                        {"home/.local/share/", ""},
                                                        {"home/.local/share/applications/", ""},
                                                        {"home/Desktop/", ""},
                                                        {"outside/cloud.so", "outside"}}));
  EXPECT_FALSE(EntryExists());
}

}  // namespace
}  // namespace zor
