#include "startup/client_info/client_edition.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(DetermineEdition, FileNameWinsThenSwitchesInOrder) {
  struct Case {
    const char* FileName;
    std::vector<std::string> Params;
    bool V4;
    bool NetMode;
  } const kCases[] = {
      {"Client", {}, false, false},
      {"Client", {"/NetMode"}, false, true},
      {"Client", {"/netmode"}, false, true},
      {"Client", {"/V4"}, true, false},
      {"Client", {"/NetMode", "/V4"}, true, false},   // "/V4" clears network mode
      {"Client", {"/V4", "/NetMode"}, true, false},   // and blocks it afterwards
      {"Client", {"/NetModeX", "V4"}, false, false},  // whole words only
      {"IV4.exe", {"/NetMode"}, true, false},         // the file name decides alone
      {"iv4.EXE", {}, true, false},
      {"V4.exe", {"/NetMode"}, true, false},
      {"IV4", {"/NetMode"}, true, false},
      {"V4", {}, true, false},
      {"XV4.exe", {"/NetMode"}, false, true},
      {"V4.exe.bak", {}, false, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.FileName);
    const ClientEdition edition = DetermineEdition(c.FileName, c.Params);
    EXPECT_EQ(edition.V4Edition, c.V4);
    EXPECT_EQ(edition.NetMode, c.NetMode);
  }
}

TEST(ClientNames, MainProgramAndRunMutexFollowTheLauncherFileName) {
  struct Case {
    const char* Launcher;
    const char* MainExe;
    const char* RunMutex;
  } const kCases[] = {
      {"Setup.exe", "ISetup.exe", "ISetup"},
      {"nSetup.exe", "ISetup.exe", "InSetup"},
      {"Client.exe", "IClient.exe", "IClient"},
      {"Client", "IClient", "IClient"},
      {"NClient", "IClient", "INClient"},
      {"my.client.bin", "Imy.client.bin", "Imy.client"},
      {"", "I", "I"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Launcher);
    EXPECT_EQ(DefaultMainExeName(c.Launcher), c.MainExe);
    EXPECT_EQ(RunMutexBaseName(c.Launcher), c.RunMutex);
  }
  EXPECT_EQ(NetModeMutexName("IClient", true), "NIClient");
  EXPECT_EQ(NetModeMutexName("IClient", false), "IClient");
  EXPECT_EQ(SettingsKeyPath(false), "Software\\ZOR\\DK880\\");
  EXPECT_EQ(SettingsKeyPath(true), "Software\\ZOR\\DK4\\");
}

}  // namespace
}  // namespace zor
