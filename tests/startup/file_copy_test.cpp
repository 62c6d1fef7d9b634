#include "startup/launch/file_copy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "base/clock.h"
#include "base/exceptions.h"
#include "platform/fault_file_system.h"
#include "startup/launch/self_copy.h"
#include "startup_test_util.h"

namespace zor {
namespace {
namespace fs = std::filesystem;
using test::ListFolder;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + 7) % 251);
  return data;
}

TEST(CopyFileKeepTime, CopiesEveryBlockWithTimeAndPermissionsIntoNewFolders) {
  TempFolder dir;
  const fs::file_time_type sourceTime = fs::file_time_type::clock::now() - std::chrono::hours(48);
  for (size_t size : {size_t{0}, size_t{1}, kCopyBlockSize, kCopyBlockSize * 2 + 17}) {
    SCOPED_TRACE(size);
    const std::string source = dir / "src/Client";
    const std::string target = dir / ("deep/er/" + std::to_string(size) + "/Client");
    WriteFile(source, Pattern(size));
    fs::permissions(source, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    fs::last_write_time(source, sourceTime);

    CopyFileKeepTime(source, target);
    EXPECT_EQ(ReadFile(target), Pattern(size));
    EXPECT_EQ(fs::last_write_time(target), sourceTime);
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(ListFolder(fs::path(target).parent_path().string()), "Client");
  }
}

TEST(CopyFileKeepTime, ReplacesAReadOnlyDestinationWhole) {
  TempFolder dir;
  WriteFile(dir / "new", "new contents");
  WriteFile(dir / "old", "old contents that are longer than the new ones");
  fs::permissions(dir / "old", fs::perms::owner_read);
  CopyFileKeepTime(dir / "new", dir / "old");
  EXPECT_EQ(ReadFile(dir / "old"), "new contents");
  EXPECT_EQ(ListFolder(dir.Path()), "new,old");
}

TEST(CopyFileKeepTime, FailuresNameTheFileAndLeaveTheDestinationAlone) {
  TempFolder dir;
  WriteFile(dir / "src", "payload");
  fs::create_directory(dir / "adir");
  WriteFile(dir / "afile", "in the way");
  struct Case {
    std::string Source;
    std::string Destination;
    std::string Message;
    uint32_t Error;
  } const kCases[] = {
      {dir / "missing", dir / "dst",
       "读取来源档案 " + (dir / "missing") + " 时发生错误! (2)No such file or directory", 2},
      // A directory where the file should be cannot be written in place.
      {dir / "src", dir / "adir",
       "写入目的档案 " + (dir / "adir") + " 时发生错误! (21)Is a directory", 21},
      // A file where a folder level should be.
      {dir / "src", dir / "afile/sub/dst", "无法创建 " + (dir / "afile") + " 路径! (17)File exists",
       17},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Destination);
    try {
      CopyFileKeepTime(c.Source, c.Destination);
      ADD_FAILURE() << "no exception";
    } catch (const EWin32ErrorEx& e) {
      EXPECT_EQ(e.Message, c.Message);
      EXPECT_EQ(e.ErrorCode, c.Error);
    }
  }
  EXPECT_EQ(ReadFile(dir / "afile"), "in the way");
  EXPECT_EQ(ListFolder(dir.Path()), "adir,afile,src");
  EXPECT_EQ(ListFolder(dir / "adir"), "");
}

// A replacement of the launcher that meets a failing disk: the old program stays whole, with
// its time, and no temporary is left beside it.
TEST(CopyFileKeepTime, DiskFaultsLeaveTheOldDestinationAndNoTemporary) {
  struct Case {
    const char* Name;
    std::function<void(FaultFileSystem&)> Arm;
    uint32_t Error;
    std::string Text;
  } const kCases[] = {
      {"first write fails", [](FaultFileSystem& f) { f.FailWrite(1, EIO); }, EIO,
       "Input/output error"},
      {"third write fails", [](FaultFileSystem& f) { f.FailWrite(3, EIO); }, EIO,
       "Input/output error"},
      {"disk fills mid-file", [](FaultFileSystem& f) { f.SetFreeSpace(kCopyBlockSize + 100); },
       ENOSPC, "No space left on device"},
      {"fsync fails", [](FaultFileSystem& f) { f.FailSync(1, EIO); }, EIO, "Input/output error"},
      {"rename fails", [](FaultFileSystem& f) { f.FailRename(1, EBUSY); }, EBUSY,
       "Device or resource busy"},
  };
  const fs::file_time_type oldTime = fs::file_time_type::clock::now() - std::chrono::hours(100);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    TempFolder dir;
    WriteFile(dir / "new/Client", Pattern(kCopyBlockSize * 3 + 17));
    WriteFile(dir / "inst/Client", "old program");
    fs::last_write_time(dir / "inst/Client", oldTime);
    FaultFileSystem faults;
    ScopedFileSystem use(faults);
    c.Arm(faults);
    try {
      CopyFileKeepTime(dir / "new/Client", dir / "inst/Client");
      ADD_FAILURE() << "no exception";
    } catch (const EWin32ErrorEx& e) {
      EXPECT_EQ(e.Message, "写入目的档案 " + (dir / "inst/Client") + " 时发生错误! (" +
                               std::to_string(c.Error) + ")" + c.Text);
      EXPECT_EQ(e.ErrorCode, c.Error);
    }
    EXPECT_EQ(ReadFile(dir / "inst/Client"), "old program");
    EXPECT_EQ(fs::last_write_time(dir / "inst/Client"), oldTime);
    EXPECT_EQ(ListFolder(dir / "inst"), "Client");
  }
}

TEST(CopyFileKeepTime, TheCopyIsSyncedBeforeItTakesTheNameAndTheFolderAfter) {
  TempFolder dir;
  WriteFile(dir / "new/Client", Pattern(100));
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  CopyFileKeepTime(dir / "new/Client", dir / "inst/Client");
  EXPECT_EQ(faults.Seen().Syncs, 1);
  EXPECT_EQ(faults.Seen().Renames, 1);
  EXPECT_EQ(faults.Seen().FolderSyncs, 1);
  EXPECT_EQ(ReadFile(dir / "inst/Client"), Pattern(100));
}

TEST(ForceDirectory, CreatesEveryMissingLevelAndNamesTheOneThatFails) {
  TempFolder dir;
  ForceDirectory(dir / "a/b/c");
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  ForceDirectory(dir / "a/b/c/");  // existing levels are fine
  WriteFile(dir / "a/file", "x");
  try {
    ForceDirectory(dir / "a/file/d/e");
    FAIL() << "no exception";
  } catch (const EWin32ErrorEx& e) {
    EXPECT_EQ(e.Message, "无法创建 " + (dir / "a/file") + " 路径! (17)File exists");
  }
  EXPECT_FALSE(fs::exists(dir / "a/file/d"));
}

TEST(ReCopyPass, CopiesTheCompanionsOnlyWhenTheyExist) {
  TempFolder dir;
  WriteFile(dir / "new/Client", "exe");
  WriteFile(dir / "old/Client", "old exe");
  ReCopyPass(dir / "new/Client", dir / "old/Client");
  EXPECT_EQ(ListFolder(dir / "old"), "Client");
  EXPECT_EQ(ReadFile(dir / "old/Client"), "exe");

  WriteFile(dir / "new/Client.CHT", "cht");
  WriteFile(dir / "new/M880CloudClient.dll", "lib");
  WriteFile(dir / "new/Other.dll", "not a companion");
  ReCopyPass(dir / "new/Client", dir / "inst/Launcher.bin");
  EXPECT_EQ(ListFolder(dir / "inst"), "Launcher.CHT,Launcher.bin,M880CloudClient.dll");
  EXPECT_EQ(ReadFile(dir / "inst/Launcher.CHT"), "cht");
  EXPECT_EQ(ReadFile(dir / "inst/M880CloudClient.dll"), "lib");
}

TEST(ReCopySelf, RetriesEvery100MsUntilAWholePassSucceedsThenStartsTheTarget) {
  ManualClock clock;
  ScopedClock useClock(clock);
  const auto start = clock.Now();
  int passes = 0;
  std::vector<std::string> started;
  ReCopySelf(
      "/tmp/new/Client", "/opt/zor/Client",
      [&](const std::string& commandLine) { started.push_back(commandLine); },
      [&](const std::string& own, const std::string& target) {
        EXPECT_EQ(own, "/tmp/new/Client");
        EXPECT_EQ(target, "/opt/zor/Client");
        if (++passes < 5) throw EWin32ErrorEx("busy", 26);
      });
  EXPECT_EQ(passes, 5);
  EXPECT_EQ(clock.Now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(started, std::vector<std::string>{"\"/opt/zor/Client\" /Again"});
}

TEST(ReCopySelf, GivesUpAfterFiveMinutesWithAMessageAndStartsNothing) {
  ManualClock clock;
  ScopedClock useClock(clock);
  const auto start = clock.Now();
  int passes = 0;
  std::vector<std::string> started;
  try {
    ReCopySelf(
        "/tmp/new/Client", "/opt/zor/Client",
        [&](const std::string& commandLine) { started.push_back(commandLine); },
        [&](const std::string&, const std::string&) {
          ++passes;
          throw EWin32ErrorEx("busy", 26);
        });
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(),
                 "The launcher could not replace /opt/zor/Client within 5 minutes (busy). Close "
                 "every running copy of "
                 "the launcher and start it again.");
  }
  EXPECT_EQ(clock.Now() - start, std::chrono::minutes(5));
  EXPECT_EQ(passes, 3001);
  EXPECT_TRUE(started.empty());
}

}  // namespace
}  // namespace zor
