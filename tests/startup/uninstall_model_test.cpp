// The uninstall job against a real folder tree: a client folder with client files, user
// files and links pointing out of it, a folder outside it, desktop and applications folders
// with shortcuts, and a private registry store holding the installed-programs entry.
#include "startup/uninstall/uninstall_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "platform/zor_registry.h"
#include "startup/client_info/lang_messages.h"
#include "startup/launch/message_box.h"
#include "startup/startup_test_util.h"
#include "startup/uninstall/uninstall_client_files.h"

namespace zor {
namespace {
namespace fs = std::filesystem;

constexpr const char* kEntryKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZOR Q880 System";
constexpr const char* kOtherEntryKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other Program";
constexpr const char* kSettingsKey = "\\Software\\ZOR\\DK880";

// Every entry below `root` that is not a folder, links not followed, with what it holds
// ("-> target" for a link), keyed by relative path.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  if (!fs::exists(root)) return entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string relative = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      entries[relative] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      entries[relative + "/"] = "";
    } else {
      entries[relative] = test::ReadFile(it->path().string());
    }
  }
  return entries;
}

std::vector<std::string> Keys(const std::map<std::string, std::string>& entries) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : entries) keys.push_back(key);
  return keys;
}

// One log of the boxes shown and the progress window's life, in order.
class Recorder : public MessageBoxHandler, public TUninstallView {
 public:
  explicit Recorder(bool confirm) : Confirm(confirm) { SetMessageBoxHandler(this); }
  ~Recorder() override { SetMessageBoxHandler(nullptr); }

  MessageResult ShowMessageBox(const MessageBoxRequest& request) override {
    Log += "box " + FormatMessageBoxLine(request);
    if (request.Buttons == MessageButtons::YesNo) {
      EXPECT_EQ(request.Icon, MessageIcon::Question);
      return Confirm ? MessageResult::Yes : MessageResult::No;
    }
    EXPECT_EQ(request.Icon, MessageIcon::None);
    EXPECT_EQ(request.Buttons, MessageButtons::Ok);
    return MessageResult::Ok;
  }
  void Shown(const TUninstallProgressModel& window) override {
    Log += "shown " + window.Caption() + "\n";
  }
  void ProgressChanged(const TUninstallProgressModel& window) override {
    if (window.Progress() > static_cast<int64_t>(Files.size()))
      Files.push_back(window.CurrentFile());
    LastValue = window.Progress();
    LastMax = window.MaxValue();
  }
  void Hidden(const TUninstallProgressModel& window) override {
    Log += "hidden " + std::to_string(window.Progress()) + "/" + std::to_string(window.MaxValue()) +
           " removed " + std::to_string(window.Removed()) + "\n";
  }

  bool Confirm;
  std::string Log;
  std::vector<std::string> Files;
  int64_t LastValue = -1;
  int64_t LastMax = -1;
};

class UninstallModelTest : public ::testing::Test {
 protected:
  UninstallModelTest() : Registry(Dir / "reg"), SavedLang(LangIndex()) {
    SetLangIndex(kLangEnglish);
    BuildTree();
  }

  // The client folder, what lies outside it, the shortcuts and the registry, afresh.
  void BuildTree() {
    for (const char* folder : {"reg", "client", "outside", "desktop", "apps"})
      fs::remove_all(Dir / folder);
    for (const char* folder : {"reg", "client", "outside/dir", "desktop", "apps"})
      fs::create_directories(Dir / folder);
    for (const char* file :
         {"Client", "ZORSys.ini", "midas.DLL", "Special/ZORSys.ini", "Special/notes.txt",
          "Bpls/Main.bpl", "coms/Lower.tlb", "Bpls/Sub/Deep.bpl", "Report.doc", "Libs/Extra.dll"}) {
      Dir.WriteFile(std::string("client/") + file, file);
    }
    const std::string readOnly = Dir.WriteFile("client/Coms/ReadOnly.dll", "read-only");
    chmod(readOnly.c_str(), 0444);
    Dir.WriteFile("outside/Cloud.so", "outside cloud");
    Dir.WriteFile("outside/Linked.bpl", "outside linked");
    Dir.WriteFile("outside/dir/Client", "outside client");
    Dir.WriteFile("outside/dir/ZORSys.ini", "outside ini");
    // Links out of the client folder, named as client files, in a client folder, and as a
    // folder the listing must not enter.
    fs::create_symlink(Dir / "outside/Cloud.so", Dir / "client/M880CloudClient.dll");
    fs::create_symlink(Dir / "outside/Linked.bpl", Dir / "client/Bpls/Linked.bpl");
    fs::create_symlink(Dir / "outside/dir", Dir / "client/Bpls/Dir");
    fs::create_symlink(Dir / "outside/dir", Dir / "client/Libs2");

    Dir.WriteFile("desktop/Start M880.desktop", "[Desktop Entry]");
    Dir.WriteFile("desktop/Other.desktop", "[Desktop Entry]");
    Dir.WriteFile("apps/ZOR Q880 System/Start M880.desktop", "[Desktop Entry]");
    Dir.WriteFile("apps/ZOR Q880 System/Uninstall M880.desktop", "[Desktop Entry]");
    WriteValue(kEntryKey, "DisplayName", "ZOR Q880 System");
    WriteValue(kOtherEntryKey, "DisplayName", "Other Program");
    WriteValue(kSettingsKey, "NetServer", "server");
  }

  ~UninstallModelTest() override { SetLangIndex(SavedLang); }

  void WriteValue(const std::string& key, const std::string& name, const std::string& value) {
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey(key, true));
    reg.WriteString(name, value);
  }
  bool KeyExists(const std::string& key) {
    TZORRegistry reg(RegRoot::LocalMachine, KEY_READ);
    return reg.KeyExists(key);
  }
  void SetHklmWritable(bool writable) {
    const std::string lock = Dir / "reg/HKLM.reg.lock";
    fs::remove_all(lock);
    if (!writable) fs::create_directory(lock);  // no one can open a folder to lock it
  }

  TUninstallEnvironment Environment(bool mainAppRunning, TUninstallView* view) {
    TUninstallEnvironment environment;
    environment.ClientFolder = Dir / "client/";
    environment.EditionCode = "M880";
    environment.DesktopFolder = Dir / "desktop";
    environment.ApplicationsFolder = Dir / "apps";
    environment.IsMainAppRunning = [mainAppRunning] { return mainAppRunning; };
    environment.View = view;
    return environment;
  }

  std::map<std::string, std::string> Everything() {
    std::map<std::string, std::string> all;
    for (const char* folder : {"client", "outside", "desktop", "apps"}) {
      for (const auto& [key, value] : Snapshot(Dir / folder))
        all[std::string(folder) + "/" + key] = value;
    }
    all["HKLM.reg"] = test::ReadFile(Dir / "reg/HKLM.reg");
    return all;
  }

  test::TempFolder Dir;
  ScopedRegistryDir Registry;
  int SavedLang;
};

TEST_F(UninstallModelTest, RemovesOnlyTheClientsOwnFilesShortcutsAndEntryWhenConfirmed) {
  const std::string kConfirm = "box [ZOR Q880 System] Continue with ininstall M880\n";
  struct Case {
    const char* Name;
    bool Confirm;
    bool MainAppRunning;
    bool EntryPresent;
    bool HklmWritable;
    TUninstallOutcome Outcome;
    std::string Log;
  } const kCases[] = {
      {"declined", false, false, true, true, TUninstallOutcome::Declined, kConfirm},
      {"main program running", true, true, true, true, TUninstallOutcome::MainAppRunning,
       kConfirm + "box [Error] Applcation is executed duplicated.\n"},
      {"confirmed", true, false, true, true, TUninstallOutcome::Finished,
       kConfirm +
           "shown Uninstalling program, please wait...\nbox [ZOR Q880 System] Finish uninstall\n"
           "hidden 15/15 removed 10\n"},
      // Without an entry to remove, or without the rights to remove it, no closing message.
      {"confirmed, no entry", true, false, false, true, TUninstallOutcome::Finished,
       kConfirm + "shown Uninstalling program, please wait...\nhidden 15/15 removed 10\n"},
      {"confirmed, HKLM not writable", true, false, true, false, TUninstallOutcome::Finished,
       kConfirm + "shown Uninstalling program, please wait...\nhidden 15/15 removed 10\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    BuildTree();
    if (!c.EntryPresent) {
      TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
      ASSERT_TRUE(reg.DeleteKey(kEntryKey));
    }
    SetHklmWritable(c.HklmWritable);
    const std::map<std::string, std::string> before = Everything();

    Recorder recorder(c.Confirm);
    const TUninstallReport report = RunUninstall(Environment(c.MainAppRunning, &recorder));
    EXPECT_EQ(report.Outcome, c.Outcome);
    EXPECT_EQ(recorder.Log, c.Log);
    if (c.Outcome != TUninstallOutcome::Finished) {
      EXPECT_EQ(Everything(), before);
      EXPECT_TRUE(recorder.Files.empty());
      continue;
    }

    // Every file was looked at, in the listing's order, and only client files went.
    EXPECT_EQ(recorder.Files,
              (std::vector<std::string>{"Bpls/Dir", "Bpls/Linked.bpl", "Bpls/Main.bpl",
                                        "Bpls/Sub/Deep.bpl", "Client", "Coms/ReadOnly.dll",
                                        "Libs/Extra.dll", "Libs2", "M880CloudClient.dll",
                                        "Report.doc", "Special/ZORSys.ini", "Special/notes.txt",
                                        "ZORSys.ini", "coms/Lower.tlb", "midas.DLL"}));
    EXPECT_EQ(recorder.LastValue, 15);
    EXPECT_EQ(recorder.LastMax, 15);
    EXPECT_EQ(report.FilesListed, 15);
    EXPECT_EQ(report.FilesRemoved, 10);
    EXPECT_EQ(Keys(Snapshot(Dir / "client")),
              (std::vector<std::string>{"Bpls/", "Bpls/Sub/", "Bpls/Sub/Deep.bpl", "Coms/", "Libs/",
                                        "Libs/Extra.dll", "Libs2", "Report.doc", "Special/",
                                        "Special/notes.txt", "coms/"}));
    // What the links pointed at is untouched, and so is everything else outside.
    EXPECT_EQ(Snapshot(Dir / "outside"),
              (std::map<std::string, std::string>{{"Cloud.so", "outside cloud"},
                                                  {"Linked.bpl", "outside linked"},
                                                  {"dir/", ""},
                                                  {"dir/Client", "outside client"},
                                                  {"dir/ZORSys.ini", "outside ini"}}));
    EXPECT_EQ(Keys(Snapshot(Dir / "desktop")), (std::vector<std::string>{"Other.desktop"}));
    EXPECT_EQ(Keys(Snapshot(Dir / "apps")), (std::vector<std::string>{}));
    EXPECT_EQ(report.ShortcutsRemoved, 3);
    EXPECT_EQ(report.ProgramsEntryRemoved, c.EntryPresent && c.HklmWritable);
    EXPECT_EQ(KeyExists(kEntryKey), c.EntryPresent && !c.HklmWritable);
    EXPECT_TRUE(KeyExists(kOtherEntryKey));
    EXPECT_TRUE(KeyExists(kSettingsKey));
  }
}

TEST_F(UninstallModelTest, KeepsTheMenuFolderWhileItHoldsOtherShortcuts) {
  Dir.WriteFile("apps/ZOR Q880 System/Mine.desktop", "the user's own");
  Recorder recorder(true);
  const TUninstallReport report = RunUninstall(Environment(false, nullptr));
  EXPECT_EQ(report.ShortcutsRemoved, 3);
  EXPECT_EQ(Keys(Snapshot(Dir / "apps")),
            (std::vector<std::string>{"ZOR Q880 System/", "ZOR Q880 System/Mine.desktop"}));
}

// An edition whose names are empty in the language (V4 in English) names no entry, no
// shortcut and no menu folder: nothing of the list of installed programs, the desktop or
// the applications folder may go in their stead.
TEST_F(UninstallModelTest, EmptyNamesRemoveNoEntryShortcutOrFolderInTheirStead) {
  fs::remove_all(Dir / "apps/ZOR Q880 System");
  Dir.WriteFile("desktop/.desktop", "not ours");
  Recorder recorder(true);
  TUninstallEnvironment environment = Environment(false, &recorder);
  environment.EditionCode = "V4";
  const TUninstallReport report = RunUninstall(environment);
  EXPECT_EQ(recorder.Log,
            "box [ZOR Q880 System] Continue with ininstall M880\nshown Uninstalling program, "
            "please wait...\n"
            "hidden 15/15 removed 10\n");
  EXPECT_EQ(report.ShortcutsRemoved, 0);
  EXPECT_FALSE(report.ProgramsEntryRemoved);
  EXPECT_TRUE(KeyExists(kEntryKey));
  EXPECT_TRUE(KeyExists(kOtherEntryKey));
  EXPECT_TRUE(fs::is_directory(Dir / "apps"));
  EXPECT_EQ(Keys(Snapshot(Dir / "desktop")),
            (std::vector<std::string>{".desktop", "Other.desktop", "Start M880.desktop"}));
}

TEST(UninstallNames, FollowTheEditionAndTheLanguage) {
  struct Case {
    const char* Edition;
    int Lang;
    TUninstallNames Expected;  // text, caption, entry, start, uninstall, menu folder
  } const kCases[] = {
      {"M880",
       kLangEnglish,
       {"Continue with ininstall M880", "ZOR Q880 System", "ZOR Q880 System", "Start M880",
        "Uninstall M880", "ZOR Q880 System"}},
      {"",
       kLangSimplified,
       {"确认删除岳川系统吗?", "岳川系列", "岳川系列", "启动岳川系列", "卸载岳川系列", "岳川系列"}},
      {"v4",
       kLangSimplified,
       {"确认删除岳川系统吗?", "岳川系列", "岳川一号", "启动岳川一号", "卸载岳川一号", "岳川系列"}},
      {"V4",
       kLangEnglish,
       {"Continue with ininstall M880", "ZOR Q880 System", "", "", "", "ZOR Q880 System"}},
      {"POS",
       kLangTraditional,
       {"確認刪除岳川系統嗎?", "岳川系列", "岳川POS系統", "啟動岳川POS系統", "卸載岳川POS系統",
        "岳川系列"}},
      {"qmr",
       kLangSimplified,
       {"确认删除岳川系统吗?", "岳川系列", "田禾鞋业系统", "启动田禾鞋业系统", "卸载田禾鞋业系统",
        "岳川系列"}},
      {"Smb",
       kLangSimplified,
       {"确认删除系统吗？", "岳川观星者", "岳川观星者", "启动岳川观星者", "卸载岳川观星者",
        "岳川观星者"}},
      {"SMB",
       kLangTraditional,
       {"確認刪除系統嗎？", "觀星者", "觀星者", "啟動岳川觀星者", "卸載岳川觀星者", "觀星者"}},
      {"SMB", kLangEnglish, {"", "", "", "", "", ""}},
      {"SMBX",
       kLangEnglish,
       {"Continue with ininstall M880", "ZOR Q880 System", "ZOR Q880 System", "Start M880",
        "Uninstall M880", "ZOR Q880 System"}},
  };
  const int saved = LangIndex();
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.Edition) + " in language " + std::to_string(c.Lang));
    SetLangIndex(c.Lang);
    const TUninstallNames names = UninstallNamesFor(c.Edition);
    EXPECT_EQ(names.ConfirmText, c.Expected.ConfirmText);
    EXPECT_EQ(names.ConfirmCaption, c.Expected.ConfirmCaption);
    EXPECT_EQ(names.ProgramsEntry, c.Expected.ProgramsEntry);
    EXPECT_EQ(names.StartShortcut, c.Expected.StartShortcut);
    EXPECT_EQ(names.UninstallShortcut, c.Expected.UninstallShortcut);
    EXPECT_EQ(names.MenuFolder, c.Expected.MenuFolder);
  }
  SetLangIndex(saved);
}

TEST(UninstallClientFiles, AreTheListedNamesAndTheFilesDirectlyInBplsAndComs) {
  struct Case {
    const char* Name;
    bool Expected;
  } const kCases[] = {
      {"Client", true},
      {"client", true},
      {"IClient.EXE", true},
      {"M880CloudClient.dll", true},
      {"Special\\ZORSys.ini", true},
      {"special/zorsys.ini", true},
      {"Bpls\\Main.bpl", true},
      {"bpls/x", true},
      {"COMS/y.tlb", true},
      {"ZORRelease.hashes", true},     // the update's own cache, made again when needed
      {"ZORRelease.installed", true},  // the manifest of the installed release
      // Two levels down the folder part is "Bpls\Sub", not "Bpls".
      {"Bpls\\Sub\\z.bpl", false},
      {"Sub/Bpls/z", false},
      {"Bplsx/a", false},
      {"XComs/a", false},
      {"Bpls", false},
      {"Report.doc", false},
      {"Sub/Client", false},
      {"Special/Other.ini", false},
      {"Client.bak", false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(IsClientFile("/opt/zor/", c.Name), c.Expected) << c.Name;
  }
}

}  // namespace
}  // namespace zor
