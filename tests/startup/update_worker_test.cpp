// The update worker: the file list, the comparison of local and server files, the download
// phase, the configuration files, the self-update and the run of passes with its errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "base/format.h"
#include "base/timer_queue.h"
#include "pe_version_writer.h"
#include "platform/dos_time.h"
#include "platform/fault_file_system.h"
#include "platform/file_times.h"
#include "platform/named_mutex.h"
#include "platform/runtime_dir.h"
#include "startup/client_info/lang_messages.h"
#include "startup/updating/remote_update_thread.h"
#include "support/expect_error.h"
#include "support/scoped_env.h"
#include "update/release_signature.h"
#include "update/update_fault_texts.h"
#include "update/writable_folder_probe.h"
#include "update_test_fakes.h"

namespace zor {
namespace {

using test::FakeUpdateSource;
using test::LaunchFolder;
using test::RecordingOwner;
using test::WriteFile;

// 2020-06-15 12:00:00 UTC and a day later, as MS-DOS date/time.
const int32_t kOlder = static_cast<int32_t>(UnixTimeToDosDateTime(1592222400));
const int32_t kNewer = static_cast<int32_t>(UnixTimeToDosDateTime(1592222400 + 86400));

TEST(ServerFileList, EntriesKeepServerOrderAndFillDefaults) {
  int lookups = 0;
  const TFileList list = BuildFileList(
      "a.dll=1.2.3.4,100,2000;b.bpl=,5,6;c.exe=2.0,x,y;d.dat=3.0,,;;e.dat=9.9.9.9,7,8",
      [&lookups](const std::string& name, TFileObject& info) {
        ++lookups;
        if (name != "d.dat") return false;
        info = {"3.1", 42, 43};
        return true;
      });
  struct Case {
    const char* Name;
    const char* Version;
    int32_t Age;
    int32_t Size;
  } const kCases[] = {
      {"a.dll", "1.2.3.4", 100, 2000}, {"b.bpl", "0.0.0.0", 5, 6},  // empty version
      {"c.exe", "2.0", -1, 0},                                      // fields that are not numbers
      {"d.dat", "3.1", 42, 43},  // empty age and size: the server's single-file answer
      {"e.dat", "9.9.9.9", 7, 8},
  };
  ASSERT_EQ(list.size(), std::size(kCases));
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(kCases[i].Name);
    EXPECT_EQ(list[i].Name, kCases[i].Name);
    EXPECT_EQ(list[i].File.Version, kCases[i].Version);
    EXPECT_EQ(list[i].File.FileAge, kCases[i].Age);
    EXPECT_EQ(list[i].File.FileSize, kCases[i].Size);
  }
  EXPECT_EQ(lookups, 1);
}

TEST(ServerFileList, UnknownSingleFileKeepsDefaults) {
  const TFileList list =
      BuildFileList("gone.dll=5.0,,", [](const std::string&, TFileObject&) { return false; });
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].File.Version, "0.0.0.0");
  EXPECT_EQ(list[0].File.FileAge, -1);
  EXPECT_EQ(list[0].File.FileSize, 0);
}

TEST(ServerFileList, NamesReachingOutsideTheFolderAreRefused) {
  for (const char* name : {"..\\IClient", "C:\\Windows\\x.dll"}) {
    SCOPED_TRACE(name);
    testing::ExpectError([&] { BuildFileList(std::string(name) + "=1.0,1,1", {}); }, "Exception",
                         std::string("Invalid file name '") + name + "'!");
  }
}

TEST(NeedsUpdate, VersionFirstThenDate) {
  LaunchFolder dir;
  struct Case {
    const char* Label;
    std::string Local;  // file content; empty: a file without a version resource
    int32_t LocalTime;
    const char* ServerVersion;
    int32_t ServerAge;
    bool Expected;
  } const kCases[] = {
      {"lower version", BuildPeWithVersion(1, 2, 3, 4), kNewer, "1.2.3.5", kOlder, true},
      {"higher version, older date", BuildPeWithVersion(1, 3, 0, 0), kOlder, "1.2.9.9", kNewer,
       true},
      {"higher version, same date", BuildPeWithVersion(1, 3, 0, 0), kOlder, "1.2.9.9", kOlder,
       false},
      {"two parts against three: equal, date decides", BuildPeWithVersion(5, 1, 0, 0), kOlder,
       "5.1", kNewer, true},
      {"equal version, newer date", BuildPeWithVersion(2, 0, 0, 0), kNewer, "2.0.0.0", kOlder,
       false},
      {"no version resource against a version", "plain data", kNewer, "0.0.0.1", kOlder, true},
      {"no version resource, server age unknown", "plain data", kOlder, "0.0.0.0", -1, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    const std::string path = dir / "file.dll";
    WriteFile(path, c.Local);
    ASSERT_TRUE(SetFileDosTime(path, static_cast<uint32_t>(c.LocalTime)));
    EXPECT_EQ(NeedsUpdate(path, {c.ServerVersion, c.ServerAge, 10}), c.Expected);
  }
}

TEST(CompanionSkipList, NamesCompareWithoutCase) {
  EXPECT_TRUE(HasNoCompanion("MIDAS.DLL"));
  EXPECT_TRUE(HasNoCompanion("m880cloudclient.dll"));
  EXPECT_FALSE(HasNoCompanion("midas"));
  EXPECT_FALSE(HasNoCompanion("ZORMain.bpl"));
}

// A worker on a private launcher folder and a fake server; runs on the test thread, which is
// the main thread, so its main-thread calls run at once.
class UpdateWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    DeclareMainThread();
    std::filesystem::create_directories(Dir / "app");
    std::filesystem::create_directories(Dir / "tmp");
    Source->InstallDir = Dir / "app/";
    Owner.Source = Source.get();
    WriteFile(Dir / "app/Client", BuildPeWithVersion(1, 0, 0, 0));
    SetFileDosTime(Dir / "app/Client", static_cast<uint32_t>(kOlder));
  }
  void TearDown() override { DestroyTimerWindow(); }

  TSyncThreadSettings Settings(int maxFailed = 0) {
    TSyncThreadSettings settings;
    settings.ExePath = Dir / "app/Client";
    settings.Source = Source;
    settings.TempDir = Dir / "tmp";
    settings.MaxFailedPasses = maxFailed;
    settings.StartProcess = [this](const std::string& commandLine) {
      Started.push_back(commandLine);
    };
    return settings;
  }
  // A current local file of the list (same version and date as the server's).
  void PlaceCurrent(const std::string& name) {
    WriteFile(Dir / ("app/" + name), BuildPeWithVersion(3, 0, 0, 0));
    SetFileDosTime(Dir / ("app/" + name), static_cast<uint32_t>(kOlder));
  }
  std::string Entry(const std::string& name, int size) {
    return name + "=3.0.0.0," + std::to_string(kOlder) + "," + std::to_string(size);
  }

  test::ApplicationStateReset AppState;
  LaunchFolder Dir;
  std::shared_ptr<FakeUpdateSource> Source = std::make_shared<FakeUpdateSource>();
  RecordingOwner Owner;
  std::vector<std::string> Started;
};

TEST_F(UpdateWorker, FetchesMissingAndOutdatedFilesAroundTheProgressWindow) {
  PlaceCurrent("current.dll");
  WriteFile(Dir / "app/outdated.dll", BuildPeWithVersion(2, 9, 0, 0));
  Source->ListText = Entry("missing.dll", 100) + ";" + Entry("current.dll", 1000) + ";" +
                     Entry("outdated.dll", 20) + ";" + Entry("mdac_typ", 5) + ";" +
                     Entry("bpls\\sub.bpl", 3);
  TRemoteUpdateThread worker(Owner, Settings());
  worker.Execute();
  EXPECT_EQ(Source->TakeCalls(),
            (std::vector<std::string>{
                "EnsureClient", "EnsureClient", "Info Client Libs", "Info M880CloudClient.dll Libs",
                "GetServerFileList", "DownloadOne ZORSys.ini . keep " + Dir.Path() + "app/",
                "DownloadOne Special\\ZORSys.ini . keep " + Dir.Path() + "app/",
                "DownloadOne DemoLevels.ini . keep " + Dir.Path() + "app/",
                "DownloadOne Patch.xml . keep " + Dir.Path() + "app/", "StartCounters 123",
                "DownloadList missing.dll,outdated.dll,bpls\\sub.bpl"}));
  EXPECT_EQ(Owner.Calls,
            (std::vector<std::string>{"CheckZorInfo", "WaitStartEvent", "ShowDownloadWindow",
                                      "HideDownloadWindow", "StartMainExe", "SetDone"}));
  EXPECT_TRUE(std::filesystem::exists(Dir / "app/bpls/sub.bpl"));
  EXPECT_FALSE(worker.Running());
}

TEST_F(UpdateWorker, EveryConfigurationFileIsFetchedEvenWhenOneFailsAndTheFailureEndsThePass) {
  // A source that loses the connection while it fetches one name.
  struct OneFails : FakeUpdateSource {
    bool DownloadOne(const std::string& name, const std::string& area, bool deleteFirst,
                     const std::string& baseDir) override {
      if (name == "Special\\ZORSys.ini") throw Exception("connection lost");
      return FakeUpdateSource::DownloadOne(name, area, deleteFirst, baseDir);
    }
  };
  auto source = std::make_shared<OneFails>();
  source->Files["ZORSys.ini"].Content = "[System]";
  source->Files["Patch.xml"].Content = "<patch/>";
  WriteFile(Dir / "app/Special/ZORSys.ini", "kept");
  WriteFile(Dir / "app/DemoLevels.ini", "gone from the server");
  TSyncThreadSettings settings = Settings();
  settings.Source = source;
  TRemoteUpdateThread worker(Owner, settings);
  testing::ExpectError<Exception>([&] { worker.DownloadConfigFiles(); }, "Exception",
                                  "connection lost");
  EXPECT_EQ(test::ReadFile(Dir / "app/ZORSys.ini"), "[System]");
  EXPECT_EQ(test::ReadFile(Dir / "app/Patch.xml"), "<patch/>");
  EXPECT_EQ(test::ReadFile(Dir / "app/Special/ZORSys.ini"), "kept");
  EXPECT_EQ(test::ReadFile(Dir / "app/DemoLevels.ini"), "<missing>");
}

TEST_F(UpdateWorker, NothingToFetchShowsNoProgressWindowAndStartsTheMainProgram) {
  PlaceCurrent("current.dll");
  Source->ListText = Entry("current.dll", 1000) + ";" + Entry("MDAC_TYP", 5);
  TRemoteUpdateThread worker(Owner, Settings());
  worker.Execute();
  EXPECT_EQ(Owner.Calls, (std::vector<std::string>{"CheckZorInfo", "WaitStartEvent", "StartMainExe",
                                                   "SetDone"}));
}

TEST_F(UpdateWorker, TraditionalScriptFetchesCurrentLibrariesWithoutTheirCompanion) {
  PlaceCurrent("main.bpl");
  PlaceCurrent("midas.dll");
  PlaceCurrent("done.bpl");
  WriteFile(Dir / "app/done.CHT", "companion");
  Source->ListText =
      Entry("main.bpl", 1) + ";" + Entry("midas.dll", 2) + ";" + Entry("done.bpl", 4);
  TSyncThreadSettings settings = Settings();
  settings.LangIndex = kLangTraditional;
  TRemoteUpdateThread worker(Owner, settings);
  worker.Execute();
  const std::vector<std::string> calls = Source->TakeCalls();
  EXPECT_EQ(calls[calls.size() - 2], "StartCounters 1");
  EXPECT_EQ(calls.back(), "DownloadList main.bpl");
}

TEST_F(UpdateWorker, FailedPassesShowTheErrorOfferTheSettingsAndEndAtTheBound) {
  test::MessageCatcher boxes;
  Source->ListText = Entry("missing.dll", 100);
  Source->DownloadError = "下载失败";
  TRemoteUpdateThread worker(Owner, Settings(2));
  worker.Execute();
  EXPECT_EQ(boxes.Take(), (std::vector<std::string>{"[Error] 下载失败\n", "[Error] 下载失败\n"}));
  EXPECT_EQ(Owner.Calls,
            (std::vector<std::string>{"CheckZorInfo", "WaitStartEvent", "ShowDownloadWindow",
                                      "HideDownloadWindow", "ChangeSettings(true)", "CheckZorInfo",
                                      "WaitStartEvent", "ShowDownloadWindow", "HideDownloadWindow",
                                      "ChangeSettings(true)", "UpdateAbandoned 2", "SetDone"}));
  EXPECT_EQ(worker.FailedPasses(), 2);
}

// A client folder this user cannot write into is found by the probe before anything is
// fetched, and the pass fails once with its own message in the user's language. (As root a
// read-only mode does not stop writes, so the file layer answers the probe with the error.)
TEST_F(UpdateWorker, AClientFolderThatCannotBeWrittenFailsThePassBeforeAnyDownload) {
  const std::string folder = Dir.Path() + "app/";
  struct Case {
    int Lang;
    int Error;
  } const kCases[] = {{kLangEnglish, EROFS}, {kLangTraditional, EACCES}, {kLangSimplified, EPERM}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Lang);
    test::MessageCatcher boxes;
    FaultFileSystem faults;
    ScopedFileSystem use(faults);
    faults.OnlyFor([&](const std::string& path) { return path.rfind(folder, 0) == 0; });
    faults.FailOpenForWriting(1, c.Error);
    Source->ListText = Entry("missing.dll", 100);
    TSyncThreadSettings settings = Settings(1);
    settings.LangIndex = c.Lang;
    TRemoteUpdateThread worker(Owner, settings);
    worker.Execute();
    EXPECT_EQ(boxes.Take(),
              (std::vector<std::string>{
                  "[Error] " +
                  Format(UpdateFaultTextIn(c.Lang, TUpdateFaultText::FolderNotWritable), {folder}) +
                  "\n"}));
    // Asked nothing of the server: the pass ended before the file list.
    EXPECT_EQ(Source->TakeCalls(), (std::vector<std::string>{"EnsureClient"}));
    EXPECT_EQ(worker.FailedPasses(), 1);
    EXPECT_FALSE(std::filesystem::exists(folder + std::string(kWriteProbeName)));
    Owner.Calls.clear();
  }
}

TEST_F(UpdateWorker, AReadOnlyClientFolderIsFoundForReal) {
  if (geteuid() == 0) GTEST_SKIP() << "Skipped: a read-only mode does not stop root's writes.";
  const std::string folder = Dir.Path() + "app/";
  std::filesystem::permissions(folder, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_THROW(CheckFolderWritable(folder, kLangEnglish), Exception);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  EXPECT_NO_THROW(CheckFolderWritable(folder, kLangEnglish));
}

TEST_F(UpdateWorker, AFullDiskEndsThePassWithItsMessageInTheUsersLanguage) {
  for (const int lang : {kLangEnglish, kLangTraditional, kLangSimplified}) {
    SCOPED_TRACE(lang);
    test::MessageCatcher boxes;
    Source->ListText = Entry("missing.dll", 100);
    Source->DiskFullPath = Dir.Path() + "app/missing.dll_tmp";
    TSyncThreadSettings settings = Settings(1);
    settings.LangIndex = lang;
    TRemoteUpdateThread worker(Owner, settings);
    worker.Execute();
    EXPECT_EQ(boxes.Take(),
              (std::vector<std::string>{"[Error] " +
                                        Format(UpdateFaultTextIn(lang, TUpdateFaultText::DiskFull),
                                               {Source->DiskFullPath}) +
                                        "\n"}));
    EXPECT_EQ(worker.FailedPasses(), 1);
    EXPECT_TRUE(Started.empty());
  }
}

TEST_F(UpdateWorker, ConnectFailureInTheSettingsCheckIsAFailedPass) {
  test::MessageCatcher boxes;
  Source->ConnectError = "无法连接服务器";
  TRemoteUpdateThread worker(Owner, Settings(1));
  worker.Execute();
  EXPECT_EQ(boxes.Take(), (std::vector<std::string>{"[Error] 无法连接服务器\n"}));
  EXPECT_EQ(Owner.Calls, (std::vector<std::string>{"CheckZorInfo", "ChangeSettings(true)",
                                                   "UpdateAbandoned 1", "SetDone"}));
}

TEST_F(UpdateWorker, NewerLauncherOnTheServerHandsOverToTheCopyInTheTemporaryFolder) {
  WriteFile(Dir / "tmp/Client.CHT", "stale");
  WriteFile(Dir / "tmp/Client.ZHH", "stale");
  Source->Files["Client"] = {{"1.0.0.1", kOlder, 10}, BuildPeWithVersion(1, 0, 0, 1)};
  Source->ListText = Entry("missing.dll", 100);
  TRemoteUpdateThread worker(Owner, Settings());
  worker.Execute();
  EXPECT_EQ(Started, (std::vector<std::string>{"\"" + Dir.Path() + "tmp/Client\" /ReCopy \"" +
                                               Dir.Path() + "app/Client\""}));
  EXPECT_TRUE(IsApplicationTerminating());
  EXPECT_TRUE(worker.Terminated());
  EXPECT_EQ(Owner.Calls, (std::vector<std::string>{"CheckZorInfo", "WaitStartEvent", "SetDone"}));
  EXPECT_EQ(test::ReadFile(Dir / "tmp/Client"), BuildPeWithVersion(1, 0, 0, 1));
  EXPECT_FALSE(std::filesystem::exists(Dir / "tmp/Client.CHT"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "tmp/Client.ZHH"));
}

TEST_F(UpdateWorker, TheLauncherASelfUpdateStartedNeverReplacesItselfAgain) {
  // Whatever version the server claims, the launcher started with "/Again" after "/ReCopy"
  // goes on to the file list and the main program: one start replaces the launcher once.
  Source->Files["Client"] = {{"9.9.9.9", kNewer, 10}, BuildPeWithVersion(9, 9, 9, 9)};
  Source->ListText = "";
  TSyncThreadSettings settings = Settings();
  settings.SelfUpdateAllowed = false;
  TRemoteUpdateThread worker(Owner, settings);
  EXPECT_FALSE(worker.CheckSelfUpdate());
  worker.Execute();
  EXPECT_TRUE(Started.empty());
  EXPECT_FALSE(std::filesystem::exists(Dir / "tmp/Client"));
  EXPECT_EQ(Owner.Calls.back(), "SetDone");
  EXPECT_NE(std::find(Owner.Calls.begin(), Owner.Calls.end(), "StartMainExe"), Owner.Calls.end());
}

TEST_F(UpdateWorker, TheSelfUpdateStagesInThePrivateFolderWhateverLiesInTheSharedOne) {
  // Files another user put into the shared temporary folder under the names the launcher
  // once used: a partial launcher, a final one, a library. None is used, moved or needed.
  std::filesystem::create_directories(Dir / "shared");
  WriteFile(Dir / "shared/Client_tmp", "planted partial");
  WriteFile(Dir / "shared/Client", "planted launcher");
  WriteFile(Dir / "shared/M880CloudClient.dll", "planted library");
  zor::testing::ScopedEnv tmp("TMPDIR", (Dir / "shared").c_str());
  ScopedRuntimeDir runtime(Dir / "run");
  Source->Files["Client"] = {{"1.0.0.1", kOlder, 10}, BuildPeWithVersion(1, 0, 0, 1)};
  Source->Files["M880CloudClient.dll"] = {{"1.0.0.0", kNewer, 7}, "library"};
  TSyncThreadSettings settings = Settings();
  settings.TempDir.clear();
  TRemoteUpdateThread worker(Owner, settings);
  EXPECT_THROW(worker.CheckSelfUpdate(), EAbort);
  const std::string staging = Dir.Path() + "run/session/staging/";
  EXPECT_EQ(Started, (std::vector<std::string>{"\"" + staging + "Client\" /ReCopy \"" + Dir.Path() +
                                               "app/Client\""}));
  EXPECT_EQ(test::ReadFile(staging + "Client"), BuildPeWithVersion(1, 0, 0, 1));
  EXPECT_EQ(test::ReadFile(staging + "M880CloudClient.dll"), "library");
  EXPECT_EQ(test::ReadFile(Dir / "shared/Client"), "planted launcher");
  EXPECT_EQ(test::ReadFile(Dir / "shared/Client_tmp"), "planted partial");
  EXPECT_EQ(test::ReadFile(Dir / "shared/M880CloudClient.dll"), "planted library");
}

TEST_F(UpdateWorker, SelfUpdateCases) {
  struct Case {
    const char* Label;
    bool ServerHasLauncher;
    const char* LauncherVersion;
    int32_t LauncherAge;
    bool ServerHasLibrary;
    bool Expected;  // a copy was started
  };
  // 1 January 2040 as a DOS date: far more than a day ahead of any clock this runs on.
  constexpr int32_t kFarAhead = ((2040 - 1980) << 25) | (1 << 21) | (1 << 16);
  const Case kCases[] = {
      {"server knows neither", false, "", 0, false, false},
      // The date is never stored on the copy, so it would restart the launcher without end.
      {"same launcher dated far ahead", true, "1.0.0.0", kFarAhead, false, false},
      {"higher version dated far ahead", true, "1.0.0.1", kFarAhead, false, true},
      {"same launcher", true, "1.0.0.0", kOlder, false, false},
      {"lower version on the server, same date", true, "0.9.0.0", kOlder, false, false},
      {"lower version on the server but a later date", true, "0.9.0.0", kNewer, false, true},
      {"higher version on the server", true, "1.0.0.1", kOlder, false, true},
      {"newer launcher by date", true, "1.0.0.0", kNewer, false, true},
      {"newer library, launcher unknown: nothing can replace", false, "", 0, true, false},
      {"newer library with a current launcher", true, "1.0.0.0", kOlder, true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    ResetApplicationState();
    Started.clear();
    Source->Files.clear();
    if (c.ServerHasLauncher)
      Source->Files["Client"] = {{c.LauncherVersion, c.LauncherAge, 1}, "launcher"};
    if (c.ServerHasLibrary)
      Source->Files["M880CloudClient.dll"] = {{"1.0.0.0", kNewer, 1}, "library"};
    TRemoteUpdateThread worker(Owner, Settings());
    if (c.Expected) {
      EXPECT_THROW(worker.CheckSelfUpdate(), EAbort);
      EXPECT_EQ(Started.size(), 1u);
      if (c.ServerHasLibrary) {
        EXPECT_EQ(test::ReadFile(Dir / "tmp/M880CloudClient.dll"), "library");
      }
    } else {
      EXPECT_FALSE(worker.CheckSelfUpdate());
      EXPECT_TRUE(Started.empty());
      EXPECT_FALSE(IsApplicationTerminating());
    }
  }
}

TEST_F(UpdateWorker, TerminalServerModeHoldsTheUpgradeMutexAndSkipsTheUpdateWhileTheProductRuns) {
  ScopedRuntimeDir runtime(Dir / "run");
  Source->ListText = Entry("missing.dll", 100);
  TSyncThreadSettings settings = Settings();
  settings.TerminalServer = true;
  {
    NamedMutex product("Global\\NGlobal_EB880");
    TRemoteUpdateThread worker(Owner, settings);
    worker.Execute();
    EXPECT_EQ(Owner.Calls, (std::vector<std::string>{"StartMainExe", "SetDone"}));
    EXPECT_TRUE(Source->TakeCalls().empty());
  }
  Owner.Calls.clear();
  struct ProbingOwner : RecordingOwner {
    void WaitStartEvent() override { UpgradeHeld = ProbeNamedMutex("Global\\NZORUpgradeKernal"); }
    bool UpgradeHeld = false;
  } probing;
  TRemoteUpdateThread worker(probing, settings);
  worker.Execute();
  EXPECT_TRUE(probing.UpgradeHeld);
  NamedMutex upgrade("Global\\NZORUpgradeKernal");
  EXPECT_TRUE(upgrade.TryAcquire());  // released at the end of the run
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// A launcher that once installed signed release 1 (ZORCore.dll and ZORData.dat), then starts
// while the update cannot succeed. The installed release starts with a notice only when the
// folder is still exactly release 1.
class InstalledReleaseStart : public UpdateWorker {
 protected:
  // Files of a release: name and content.
  using Files = std::vector<std::pair<std::string, std::string>>;

  std::string Manifest(uint64_t counter, const Files& files) {
    TReleaseManifest manifest;
    manifest.Counter = counter;
    manifest.Created = 1'765'380'000;
    manifest.Expires = 4'102'444'800;  // 2100: the tests run on the real clock
    for (const auto& [name, content] : files)
      manifest.Files.push_back(
          {name, static_cast<int64_t>(content.size()),
           Sha256Hex({reinterpret_cast<const uint8_t*>(content.data()), content.size()}), "0.0.0.0",
           kOlder});
    return SignManifestBody(SerializeManifestBody(manifest), Key.Secret);
  }
  // The server offers release `counter` of `files`.
  void Offer(FakeUpdateSource& source, uint64_t counter, const Files& files) {
    source.InstallDir = Dir / "app/";
    source.Files["ZORRelease.manifest"].Content = Manifest(counter, files);
    source.ListText.clear();
    for (const auto& [name, content] : files) {
      // Without a version resource: a file that arrived is current by its date.
      source.ListText += (source.ListText.empty() ? "" : ";") + name + "=0.0.0.0," +
                         std::to_string(kOlder) + "," + std::to_string(content.size());
      source.Files[name] = {{"0.0.0.0", kOlder, static_cast<int32_t>(content.size())}, content};
    }
  }
  TSyncThreadSettings Signed(int maxFailed) {
    TSyncThreadSettings settings = Settings(maxFailed);
    settings.ReleaseKey = EncodeBase64(Key.Public);
    return settings;
  }
  // The pass that installs release 1 and commits it.
  void InstallReleaseOne() {
    Owner.Source = Source.get();
    Offer(*Source, 1, kReleaseOne);
    TRemoteUpdateThread worker(Owner, Signed(1));
    worker.Execute();
    ASSERT_EQ(Owner.Calls.back(), "SetDone");
    ASSERT_EQ(Owner.Calls[Owner.Calls.size() - 2], "StartMainExe");
    ASSERT_EQ(test::ReadFile(Dir / "app/ZORData.dat"), "data of release 1");
    Owner.Calls.clear();
  }

  const Files kReleaseOne = {{"ZORCore.dll", "core of release 1"},
                             {"ZORData.dat", "data of release 1"}};
  TKeyPair Key = GenerateKeyPair();
};

// Writes the files it is asked for until `Arrive` of them have arrived in all, then loses the
// connection: a newer release half installed.
struct HalfInstallingSource : FakeUpdateSource {
  void DownloadList(const TFileList& list) override {
    Record("DownloadList");
    for (size_t i = 0; i < list.size() && Arrive > 0; ++i, --Arrive)
      WriteFile(InstallDir + LocalFileName(list[i].Name), Files[list[i].Name].Content);
    throw Exception("connection lost");
  }
  size_t Arrive = 0;
};

TEST_F(InstalledReleaseStart, OnlyAFolderThatIsStillTheCommittedReleaseStartsAfterAFailedUpdate) {
  const std::string notReachable = "无法连接服务器";
  const std::string started =
      "StartingInstalledRelease The update failed: %s\nThe installed release 1, unchanged since "
      "it was verified, was started.";
  // Release 2 adds two files and changes none of release 1's.
  Files releaseTwo = kReleaseOne;
  releaseTwo.push_back({"ZORNew.dll", "new in release 2"});
  releaseTwo.push_back({"ZORNew2.dll", "also new in release 2"});
  struct Case {
    const char* Label;
    bool Commit;                    // release 1 was installed by a pass that succeeded
    std::function<void()> Prepare;  // what happened to the folder since
    int NewFilesArriving;           // -1: no server reachable; else release 2 is offered and
                                    // this many of its files arrive before its passes fail
    const char* Error;              // the failure of each pass
    bool Starts;
  } const kCases[] = {
      {"the folder is release 1", true, [] {}, -1, "无法连接服务器", true},
      {"a file of release 1 changed (same size)", true,
       [&] {
         // A second later, as a change shows on disk however coarse its clock.
         const auto time = std::filesystem::last_write_time(Dir / "app/ZORData.dat");
         WriteFile(Dir / "app/ZORData.dat", "data of release 9");
         std::filesystem::last_write_time(Dir / "app/ZORData.dat", time + std::chrono::seconds(2));
       },
       -1, "无法连接服务器", false},
      {"a file of release 1 missing", true,
       [&] { std::filesystem::remove(Dir / "app/ZORCore.dll"); }, -1, "无法连接服务器", false},
      {"a file of release 2 arrived before the pass failed", true, [] {}, 1, "connection lost",
       false},
      {"release 2 failed before any of its files arrived", true, [] {}, 0, "connection lost", true},
      {"a file of release 2 left by an earlier run whose update failed", true,
       [&] {
         auto earlier = std::make_shared<HalfInstallingSource>();
         Offer(*earlier, 2, releaseTwo);
         earlier->Arrive = 1;
         TSyncThreadSettings once = Signed(1);
         once.Source = earlier;
         Owner.Source = earlier.get();
         test::MessageCatcher quiet;
         TRemoteUpdateThread(Owner, once).Execute();
         ASSERT_TRUE(std::filesystem::exists(Dir / "app/ZORNew.dll"));
         Owner.Calls.clear();
       },
       -1, "无法连接服务器", false},
      {"no release was ever committed", false,
       [&] {
         for (const auto& [name, content] : kReleaseOne) WriteFile(Dir / ("app/" + name), content);
       },
       -1, "无法连接服务器", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    std::filesystem::remove_all(Dir / "app");
    std::filesystem::create_directories(Dir / "app");
    WriteFile(Dir / "app/Client", BuildPeWithVersion(1, 0, 0, 0));
    Owner.Calls.clear();
    Owner.Source = Source.get();
    if (c.Commit) InstallReleaseOne();
    c.Prepare();
    auto source = std::make_shared<HalfInstallingSource>();
    if (c.NewFilesArriving < 0) {
      source->ConnectError = notReachable;
    } else {
      Offer(*source, 2, releaseTwo);
      source->Arrive = static_cast<size_t>(c.NewFilesArriving);
    }
    Owner.Source = source.get();
    TSyncThreadSettings settings = Signed(2);
    settings.Source = source;
    test::MessageCatcher boxes;
    TRemoteUpdateThread worker(Owner, settings);
    worker.Execute();
    const std::string error = std::string("[Error] ") + c.Error + "\n";
    if (c.Starts) {
      // The first pass failed as before; the last one starts release 1 in place of its error.
      EXPECT_EQ(boxes.Take(), (std::vector<std::string>{error}));
      const std::vector<std::string> tail(Owner.Calls.end() - 3, Owner.Calls.end());
      EXPECT_EQ(tail,
                (std::vector<std::string>{Format(started, {c.Error}), "StartMainExe", "SetDone"}));
      // The main program must be a file of release 1, not of the release that failed.
      ASSERT_TRUE(GetReleaseGuard() && GetReleaseGuard()->HasManifest());
      EXPECT_EQ(GetReleaseGuard()->Manifest().Counter, 1u);
    } else {
      EXPECT_EQ(boxes.Take(), (std::vector<std::string>{error, error}));
      EXPECT_EQ(Owner.Calls.back(), "SetDone");
      EXPECT_EQ(Owner.Calls[Owner.Calls.size() - 2], "UpdateAbandoned 2");
      for (const std::string& call : Owner.Calls) EXPECT_FALSE(call.starts_with("Start")) << call;
    }
    SetReleaseGuard(nullptr);
  }
}

// With a person at the screen there is no bound of passes: the first failed pass starts the
// installed release, without the error box and the settings dialog.
TEST_F(InstalledReleaseStart, WithAPersonTheFirstFailedPassStartsTheInstalledRelease) {
  InstallReleaseOne();
  test::MessageCatcher boxes;
  Source->ConnectError = "无法连接服务器";
  TRemoteUpdateThread worker(Owner, Signed(0));
  worker.Execute();
  EXPECT_TRUE(boxes.Take().empty());
  EXPECT_EQ(Owner.Calls,
            (std::vector<std::string>{
                "CheckZorInfo",
                "StartingInstalledRelease The update failed: 无法连接服务器\nThe installed "
                "release 1, unchanged since it was verified, was started.",
                "StartMainExe", "SetDone"}));
  SetReleaseGuard(nullptr);
}

}  // namespace
}  // namespace zor
