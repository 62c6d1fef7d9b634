#include "startup/client_info/zor_info.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/exceptions.h"
#include "settings_fixture.h"

namespace zor {
namespace {
using test::SettingsFixture;

constexpr const char* kM880Key = "\\Software\\ZOR\\DK880";
constexpr const char* kV4Key = "\\Software\\ZOR\\DK4";

TZORInfo MakeInfo(const std::string& exePath, std::vector<std::string> params = {}) {
  return TZORInfo({exePath, std::move(params)});
}

TEST(TZORInfo, EditionPicksTheKeyAndHklmFallsBackToHkcuForTheWholeRun) {
  struct Case {
    const char* Exe;
    std::vector<std::string> Params;
    bool HklmWritable;
    const char* Lookup;
    bool FellBack;
    const char* Edition;
    int Kind;
  } const kCases[] = {
      {"/opt/zor/Client", {}, true, "m880-machine", false, "M880", 1000},
      {"/opt/zor/Client", {}, false, "m880-user", true, "M880", 1000},
      {"/opt/zor/Client", {"/V4"}, true, "v4-machine", false, "V4", 1001},
      {"/opt/zor/IV4", {"/NetMode"}, false, "v4-user", true, "V4", 1001},
      {"/opt/zor/V4.exe", {}, true, "v4-machine", false, "V4", 1001},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.Exe) + (c.HklmWritable ? " writable" : " read-only"));
    SettingsFixture settings;
    for (auto [root, suffix] :
         {std::pair{RegRoot::LocalMachine, "-machine"}, std::pair{RegRoot::CurrentUser, "-user"}}) {
      settings.Write(root, kM880Key, [&](TZORRegistry& r) {
        r.WriteString("SOAPServerName", std::string("m880") + suffix);
      });
      settings.Write(root, kV4Key, [&](TZORRegistry& r) {
        r.WriteString("SOAPServerName", std::string("v4") + suffix);
      });
    }
    settings.SetHklmWritable(c.HklmWritable);
    TZORInfo info = MakeInfo(c.Exe, c.Params);
    EXPECT_EQ(info.LookupServer(), c.Lookup);
    EXPECT_EQ(info.FellBackToHKCU(), c.FellBack);
    EXPECT_EQ(info.EditionCode(), c.Edition);
    EXPECT_EQ(info.ClientKind(), c.Kind);
    EXPECT_EQ(info.ExeDir(), "/opt/zor/");

    // A thread that starts after HKLM became writable again stays with the root chosen first.
    settings.SetHklmWritable(true);
    std::string fromThread;
    std::thread([&] {
      if (TZORRegistry* reg = info.OpenSettingsKey("", false))
        fromThread = reg->ReadStringDef("SOAPServerName", "");
    }).join();
    EXPECT_EQ(fromThread, c.Lookup);
  }
}

TEST(TZORInfo, SettingsReadAtCreationAreLimitedAndTyped) {
  struct Case {
    const char* Name;
    RegValue Value;
    int Capacity;
    int WaitInput;
    bool TestVersion;
    bool TerminalMode;
  } const kCases[] = {
      {"(none)", RegValue{}, 24, 3000, false, true},
      {"DownloadFileCapacity", RegValue::Dword(5), 10, 3000, false, true},
      {"DownloadFileCapacity", RegValue::Dword(500), 100, 3000, false, true},
      {"DownloadFileCapacity", RegValue::Dword(37), 37, 3000, false, true},
      {"DownloadFileCapacity", RegValue::Dword(0xFFFFFFFF), 10, 3000, false, true},  // -1
      {"DownloadFileCapacity", RegValue::String("50"), 24, 3000, false, true},       // wrong type
      {"WaitInput", RegValue::Dword(100), 24, 500, false, true},
      {"WaitInput", RegValue::Dword(4000), 24, 4000, false, true},
      {"WaitInput", RegValue::String("4000"), 24, 3000, false, true},
      {"WaitInput", RegValue::Binary({1, 2, 3}), 24, 3000, false, true},
      {"TestVersion", RegValue::String("1"), 24, 3000, true, true},
      {"TestVersion", RegValue::String("abc"), 24, 3000, false, true},
      {"TestVersion", RegValue::Dword(2), 24, 3000, true, true},
      {"TerminalMode", RegValue::String("0"), 24, 3000, false, false},
      {"TerminalMode", RegValue::Dword(0), 24, 3000, false, false},
      {"TerminalMode", RegValue::String("abc"), 24, 3000, false, true},
      {"TerminalMode", RegValue::Binary({0}), 24, 3000, false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    SettingsFixture settings;
    settings.Write(RegRoot::LocalMachine, kM880Key, [&](TZORRegistry& r) {
      if (c.Value.Type != kRegNone) r.WriteValue(c.Name, c.Value);
    });
    TZORInfo info = MakeInfo("/opt/zor/Client");
    EXPECT_EQ(info.DownloadCapacity(), c.Capacity);
    EXPECT_EQ(info.GetWaitInput(), c.WaitInput);
    EXPECT_EQ(info.TestVersion(), c.TestVersion);
    EXPECT_EQ(info.TerminalMode(), c.TerminalMode);
    EXPECT_EQ(info.LookupServer(), kDefaultLookupServer);
  }
}

TEST(TZORInfo, WithoutAnySettingsKeyTheDefaultsHoldAndNothingIsCreated) {
  SettingsFixture settings;
  TZORInfo info = MakeInfo("/opt/zor/Client");
  EXPECT_EQ(info.DownloadCapacity(), 24);
  EXPECT_EQ(info.GetWaitInput(), 3000);
  EXPECT_TRUE(info.TerminalMode());
  EXPECT_EQ(info.ProgramVersion(), "0.0.0.0");
  EXPECT_EQ(info.OpenSettingsKey("", false), nullptr);
  EXPECT_FALSE(settings.KeyExists(RegRoot::LocalMachine, kM880Key));
}

TEST(TZORInfo, DataFolderComesFromZorPathWithTheHklmFallback) {
  SettingsFixture settings;
  const std::string machineData = settings.Dir / "machine-data";
  const std::string userData = settings.Dir / "user-data";
  std::filesystem::create_directories(machineData);
  std::filesystem::create_directories(userData);
  struct Case {
    std::vector<std::string> Params;
    bool HklmWritable;
    const char* MachineValue;  // nullptr: none
    const char* UserValue;
    std::string Expected;  // "" with an error code
    int32_t ErrorCode;
    std::string Message;
  } const kCases[] = {
      {{}, true, " machine-data ", nullptr, machineData + "/", 0, ""},
      {{}, false, "machine-data", nullptr, machineData + "/", 0, ""},  // HKCU lacks it: HKLM's copy
      {{}, false, "machine-data", "user-data", userData + "/", 0, ""},
      {{}, true, nullptr, "user-data", "", 71001, "ZOR的数据路径并未设定, 请进行初始设置!"},
      {{}, false, "  ", nullptr, "", 71001, "ZOR的数据路径并未设定, 请进行初始设置!"},
      {{},
       true,
       "nowhere",
       nullptr,
       "",
       71002,
       "ZOR的数据路径设定错误, 系统无法找到以下路径: " + (settings.Dir / "nowhere")},
      {{"/NetMode"}, true, nullptr, nullptr, "/opt/zor/", 0, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Expected + c.Message);
    settings.SetHklmWritable(true);
    for (RegRoot root : {RegRoot::LocalMachine, RegRoot::CurrentUser}) {
      TZORRegistry reg(root, KEY_ALL_ACCESS);
      reg.DeleteKey(kM880Key);
      const char* value = root == RegRoot::LocalMachine ? c.MachineValue : c.UserValue;
      if (!value) continue;
      std::string text = value;
      if (text.find_first_not_of(' ') != std::string::npos) {
        const size_t start = text.find_first_not_of(' ');
        text = text.substr(0, start) + settings.Dir.Path() + text.substr(start);
      }
      settings.Write(root, kM880Key, [&](TZORRegistry& r) { r.WriteString("ZORPath", text); });
    }
    settings.SetHklmWritable(c.HklmWritable);
    TZORInfo info = MakeInfo("/opt/zor/Client", c.Params);
    try {
      EXPECT_EQ(info.GetDataFolder(), c.Expected);
      EXPECT_EQ(c.ErrorCode, 0);
    } catch (const EZORException& e) {
      EXPECT_EQ(e.ErrorCode, c.ErrorCode);
      EXPECT_EQ(e.Message, c.Message);
      EXPECT_STREQ(e.ClassName(), "EZORException");
    }
  }
}

TEST(TZORInfo, V4ReadsItsOwnZorPathAndTheFoldersHangBelowTheDataFolder) {
  SettingsFixture settings;
  std::filesystem::create_directories(settings.Dir / "v4data");
  settings.Write(RegRoot::LocalMachine, kV4Key, [&](TZORRegistry& r) {
    r.WriteString("ZORPath", settings.Dir / "elsewhere");
    r.WriteString("ZORPathV4", settings.Dir / "v4data");
  });
  TZORInfo info = MakeInfo("/opt/zor/Client", {"/V4"});
  const std::string data = settings.Dir / "v4data/";
  EXPECT_EQ(info.GetDataFolder(), data);
  EXPECT_EQ(info.GetComsFolder(), data + "Coms/");
  EXPECT_EQ(info.GetSpecialLangDllsFolder(), data + "Special/LangDlls/");
  EXPECT_FALSE(std::filesystem::exists(data + "Help"));
  EXPECT_EQ(info.GetHelpFolder(), data + "Help/");
  EXPECT_TRUE(std::filesystem::is_directory(data + "Help"));
}

TEST(TZORInfo, UseConnectionLinkIsStoredOnlyOutsideNetworkMode) {
  SettingsFixture settings;
  TZORInfo net = MakeInfo("/opt/zor/Client", {"/NetMode"});
  net.SetUseConnectionLink(true);
  EXPECT_TRUE(net.UseConnectionLink());
  EXPECT_FALSE(settings.KeyExists(RegRoot::LocalMachine, kM880Key));
  EXPECT_EQ(net.GetDataFolder(), "/opt/zor/");

  TZORInfo local = MakeInfo("/opt/zor/Client");
  local.SetUseConnectionLink(true);
  TZORRegistry reg(RegRoot::LocalMachine, KEY_READ);
  ASSERT_TRUE(reg.OpenKeyReadOnly(kM880Key));
  EXPECT_EQ(reg.ReadValue("UseConnectionLink"), RegValue::Dword(1));
  EXPECT_EQ(local.GetDataFolder(), "/opt/zor/");  // the link makes it the program's folder
  local.SetUseConnectionLink(false);
  EXPECT_EQ(reg.ReadValue("UseConnectionLink"), RegValue::Dword(0));
}

TEST(TZORInfo, EachThreadHasItsOwnRegistryObjectKeptOnItsPosition) {
  SettingsFixture settings;
  TZORInfo info = MakeInfo("/opt/zor/Client");
  TZORRegistry* main = info.OpenSettingsKey("", true);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(info.OpenSettingsKey("", false), main);
  EXPECT_EQ(info.OpenSettingsKey("\\", false), main);  // the same key
  EXPECT_EQ(info.OpenSettingsKey("Login", false), nullptr);
  ASSERT_EQ(info.OpenSettingsKey("Login", true), main);
  EXPECT_TRUE(settings.KeyExists(RegRoot::LocalMachine, "\\Software\\ZOR\\DK880\\Login"));
  TZORRegistry* other = nullptr;
  std::thread([&] { other = info.OpenSettingsKey("", false); }).join();
  EXPECT_NE(other, nullptr);
  EXPECT_NE(other, main);
}

TEST(ZorInfoSingleton, CreatedFromTheRegisteredClass) {
  SettingsFixture settings;
  FreeZorInfo();
  SetZorInfoClass(nullptr);
  EXPECT_EQ(GetZorInfo().EditionCode(), "");  // the base class
  FreeZorInfo();
  RegisterZorInfoClass();
  EXPECT_EQ(GetZorInfo().EditionCode(), "M880");
  EXPECT_EQ(&GetZorInfo(), &GetZorInfo());
  UnregisterZorInfoClass();
  EXPECT_EQ(GetZorInfoClass(), nullptr);
}

}  // namespace
}  // namespace zor
