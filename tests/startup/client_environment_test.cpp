#include "startup/client_info/client_environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/exceptions.h"
#include "pe_version_writer.h"
#include "platform/named_mutex.h"
#include "platform/program_parameters.h"
#include "settings_fixture.h"
#include "startup/client_info/file_version.h"
#include "startup/client_info/zor_info.h"
#include "startup/launch/launcher_entry.h"

namespace zor {
namespace {
using test::SettingsFixture;

// The singleton for a launcher at `exePath` with `params`, freed afterwards.
class ScopedLauncherInfo {
 public:
  ScopedLauncherInfo(std::string exePath, std::vector<std::string> params)
      : Parameters(std::move(exePath), std::move(params)) {
    FreeZorInfo();
    RegisterZorInfoClass();
  }
  ~ScopedLauncherInfo() { UnregisterZorInfoClass(); }

 private:
  ScopedProgramParameters Parameters;
};

TEST(NeedComputerRestart, OnlyTheRunOnceValueCounts) {
  struct Case {
    const char* Hive;  // contents of HKLM.reg, nullptr: none
    bool Pending;
  } const kCases[] = {
      {nullptr, false},
      {"Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n\"zzQ880\"="
       "\"x\"\r\n",
       true},
      {"Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n\"ZZQ880\"="
       "dword:00000000\r\n",
       true},
      {"Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\r\n\"other\"="
       "\"x\"\r\n",
       false},
      {"this is not a registry file \x01\x02", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Hive ? c.Hive : "(none)");
    SettingsFixture settings;
    if (c.Hive) test::WriteFile(settings.Dir / "reg/HKLM.reg", c.Hive);
    EXPECT_EQ(NeedComputerRestart(), c.Pending);
  }
}

TEST(IsMainAppRunning, ProbesTheRunMutexNamedAfterTheLauncher) {
  struct Case {
    const char* Exe;
    bool NetMode;
    const char* Held;
    bool Running;
  } const kCases[] = {
      {"/opt/zor/Client", true, "NIClient", true}, {"/opt/zor/Client", true, "IClient", false},
      {"/opt/zor/Client", false, "IClient", true}, {"/opt/zor/Client.exe", true, "NIClient", true},
      {"/opt/zor/Setup", true, "NIClient", false}, {"/opt/zor/Client", true, nullptr, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.Exe) + " " + (c.Held ? c.Held : "-"));
    SettingsFixture settings;
    ScopedLauncherInfo info(c.Exe, {});
    GetZorInfo().SetNetMode(c.NetMode);
    std::optional<NamedMutex> held;
    if (c.Held) held.emplace(c.Held, true);
    EXPECT_EQ(IsMainAppRunning(), c.Running);
    EXPECT_EQ(MutexName("Global_EB880"), c.NetMode ? "NGlobal_EB880" : "Global_EB880");
  }
}

TEST(ShouldShowServerDialog, ShowNextTimeOrAgainSuppressIt) {
  struct Case {
    std::optional<RegValue> ShowNextTime;
    std::vector<std::string> Params;
    bool Show;
  } const kCases[] = {
      {std::nullopt, {}, true},
      {std::nullopt, {"/Again"}, false},
      {std::nullopt, {"/aGAIN"}, false},
      {RegValue::Dword(0), {"/Again"}, false},  // "/Again" wins even when the box is unchecked
      {RegValue::Dword(1), {}, false},
      {RegValue::Dword(0), {"/Restart"}, true},
      {RegValue::String("abc"), {}, true},  // not a number: the default
      {RegValue::String("7"), {"x"}, false},
      {std::nullopt, {"x", "/Again"}, true},  // only the first parameter counts
  };
  for (const Case& c : kCases) {
    SettingsFixture settings;
    if (c.ShowNextTime) {
      settings.Write(RegRoot::LocalMachine, "\\Software\\ZOR\\DK880",
                     [&](TZORRegistry& r) { r.WriteValue("ShowNextTime", *c.ShowNextTime); });
    }
    ScopedLauncherInfo info("/opt/zor/Client", c.Params);
    EXPECT_EQ(ShouldShowServerDialog(), c.Show);
  }
}

TEST(GetFileVersionString, LongAndShortFormsDefaultsAndErrors) {
  SettingsFixture settings;
  test::WriteFile(settings.Dir / "plain.txt", "no version here");
  test::WriteFile(settings.Dir / "v18.dll", BuildPeWithVersion(5, 0, 6, 18));
  test::WriteFile(settings.Dir / "v9.exe", BuildPeWithVersion(5, 0, 6, 9, true));
  test::WriteFile(settings.Dir / "big.exe", BuildPeWithVersion(65535, 1, 2, 345));
  test::WriteFile(settings.Dir / "none.exe", BuildPeWithoutVersion());
  std::filesystem::create_directories(settings.Dir / "folder");
  struct Case {
    std::string File;
    uint32_t Flags;
    const char* Expected;  // nullptr: raises
    std::string Message;
  } const kCases[] = {
      {settings.Dir / "v18.dll", 0, "5.0.6.18"},
      {settings.Dir / "v18.dll", kVersionShortForm, "5.0.618"},
      {settings.Dir / "v9.exe", kVersionShortForm, "5.0.609"},
      {settings.Dir / "v9.exe", kVersionStrict, "5.0.6.9"},
      {settings.Dir / "big.exe", kVersionShortForm, "65535.1.2345"},
      {settings.Dir / "none.exe", 0, "0.0.0.0"},
      {settings.Dir / "none.exe", kVersionShortForm | kVersionStrict, "0.0.0"},
      {settings.Dir / "folder", 0, nullptr,
       "无法读取 " + (settings.Dir / "folder") + " 的版本讯息! (21)Is a directory"},
      {settings.Dir / "plain.txt", 0, "0.0.0.0"},
      {settings.Dir / "plain.txt", kVersionShortForm, "0.0.0"},
      {settings.Dir / "plain.txt", kVersionStrict, "0.0.0.0"},
      {settings.Dir / "missing", 0, "0.0.0.0"},
      {settings.Dir / "missing", kVersionShortForm, "0.0.0"},
      {settings.Dir / "missing", 255, "0.0.0"},
      {settings.Dir / "missing", kVersionStrict, nullptr,
       (settings.Dir / "missing") + " (2)No such file or directory"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.File + " " + std::to_string(c.Flags));
    if (c.Expected) {
      EXPECT_EQ(GetFileVersionString(c.File, c.Flags), c.Expected);
      continue;
    }
    try {
      GetFileVersionString(c.File, c.Flags);
      ADD_FAILURE() << "no exception";
    } catch (const EWin32ErrorEx& e) {
      EXPECT_EQ(e.Message, c.Message);
    }
  }
}

TEST(GetComServerVersion, ReadsTheRegisteredServerFileAndAnythingMissingGivesZeros) {
  SettingsFixture settings;
  test::WriteFile(settings.Dir / "versioned.so", BuildPeWithVersion(2, 5, 0, 7));
  test::WriteFile(settings.Dir / "server.so", "not a program file");
  auto writeClass = [&](const std::string& key, const std::string& value) {
    settings.Write(RegRoot::ClassesRoot, key, [&](TZORRegistry& r) { r.WriteString("", value); });
  };
  writeClass("\\Empty.Server\\Clsid", "{11}");
  writeClass("\\CLSID\\{11}\\InprocServer32", "");
  writeClass("\\NoClsid.Server\\Clsid", "");
  writeClass("\\Plain.Server\\Clsid", "{22}");
  writeClass("\\CLSID\\{22}\\InprocServer32", settings.Dir / "server.so");
  writeClass("\\Gone.Server\\Clsid", "{33}");
  writeClass("\\Good.Server\\Clsid", "{44}");
  writeClass("\\CLSID\\{44}\\InprocServer32", settings.Dir / "versioned.so");
  EXPECT_EQ(GetComServerVersion("Good.Server"), "2.5.0.7");
  EXPECT_EQ(GetComServerVersion("good.server"), "2.5.0.7");
  EXPECT_TRUE(IsComServerOlder("Good.Server", "2.5.0.8"));
  EXPECT_TRUE(IsComServerOlder("Good.Server", "3"));
  EXPECT_FALSE(IsComServerOlder("Good.Server", "2.5.0.7"));
  EXPECT_FALSE(IsComServerOlder("Good.Server", "2.4.9.9"));
  for (const char* progId :
       {"Empty.Server", "NoClsid.Server", "Plain.Server", "Gone.Server", "Unknown.Server", ""}) {
    SCOPED_TRACE(progId);
    EXPECT_EQ(GetComServerVersion(progId), "0.0.0.0");
    EXPECT_TRUE(IsComServerOlder(progId, "1.0"));
    EXPECT_FALSE(IsComServerOlder(progId, "0.0.0.0"));
    EXPECT_FALSE(IsComServerOlder(progId, "x.y"));
  }
}

TEST(ForceDeleteFile, DeletesReadOnlyFilesAndIgnoresFailures) {
  SettingsFixture settings;
  const std::string file = settings.Dir / "readonly";
  test::WriteFile(file, "x");
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);
  ForceDeleteFile(file);
  EXPECT_FALSE(std::filesystem::exists(file));
  ForceDeleteFile(file);  // gone already: no failure
  std::filesystem::create_directories(settings.Dir / "full/inner");
  ForceDeleteFile(settings.Dir / "full");  // a non-empty folder is not deleted, and no failure
  EXPECT_TRUE(std::filesystem::exists(settings.Dir / "full/inner"));
  EXPECT_EQ(GetFileDosDateTime(file), -1);
}

TEST(ForceDeleteFile, RemovesALinkAndLeavesItsTargetAsItWas) {
  SettingsFixture settings;
  const std::string target = settings.Dir / "outside";
  const std::string link = settings.Dir / "link";
  test::WriteFile(target, "keep");
  std::filesystem::permissions(target, std::filesystem::perms::owner_read);
  std::filesystem::create_symlink(target, link);
  ForceDeleteFile(link);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::owner_all,
            std::filesystem::perms::owner_read);
}

}  // namespace
}  // namespace zor
