#include "platform/open_or_fail.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "base/exceptions.h"
#include "platform/fault_file_system.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

using testing::TempFolder;

TEST(OpenOrFail, FailuresCarryTheProgramsMessages) {
  TempFolder folder;
  const std::string existing = folder.WriteFile("locked.dat", "x");
  const std::string missing = folder / "missing.dat";
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  // Access denied cannot be produced for real while the tests run as root: the fault stands in.
  const auto denied = [&](OpenMode mode) {
    return [&faults, &existing, mode] {
      faults.FailOpen(1, FileErrorKind::AccessDenied);
      OpenOrFail(existing, mode);
    };
  };
  struct Case {
    const char* what;
    std::function<void()> open;
    std::string className;
    std::string message;
    uint32_t errorCode;
  } const kCases[] = {
      {"read, denied", denied(OpenMode::ReadOnly), "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有读取权限。", 5},
      {"write, denied", denied(OpenMode::ReadWrite), "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有写入权限。", 5},
      {"append, denied", denied(OpenMode::Append), "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有写入权限。", 5},
      {"create, denied", denied(OpenMode::CreateOrTruncate), "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有写入权限。", 5},
      {"missing", [&] { OpenOrFail(missing, OpenMode::ReadOnly); }, "EWin32ErrorEx",
       "无法开启档案 " + missing + "! (2)No such file or directory", ENOENT},
      {"folder missing", [&] { OpenOrFail(folder / "no/such.dat", OpenMode::CreateOrTruncate); },
       "EWin32ErrorEx", "无法开启档案 " + folder / "no/such.dat" + "! (2)No such file or directory",
       ENOENT},
      {"a directory", [&] { OpenOrFail(folder.Path(), OpenMode::ReadOnly); }, "EWin32ErrorEx",
       "无法开启档案 " + folder.Path() + "! (21)Is a directory", EISDIR},
      {"taken", [&] { OpenOrFail(existing, OpenMode::CreateNew); }, "EWin32ErrorEx",
       "无法开启档案 " + existing + "! (17)File exists", EEXIST},
  };
  for (const Case& c : kCases) {
    try {
      c.open();
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ClassName(), c.className) << c.what;
      EXPECT_EQ(e.Message, c.message) << c.what;
      EXPECT_EQ(e.ErrorCode, c.errorCode) << c.what;
    }
  }
  // Without a fault the file opens, and reads through the helpers.
  const std::unique_ptr<PositionedFile> file = OpenOrFail(existing, OpenMode::ReadOnly);
  EXPECT_EQ(ReadRest(*file), "x");
}

// A real denial by the system: as root, the check runs in a child that gave up root.
TEST(OpenOrFail, RealPermissionDenial) {
  TempFolder folder;
  const std::string path = folder.WriteFile("private.dat", "x");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  const auto check = [&]() -> int {
    try {
      OpenOrFail(path, OpenMode::ReadWrite);
    } catch (const EOSError& e) {
      const std::string expected = "无法开启档案 " + path + "! 因为对该档案或目录并没有写入权限。";
      return std::string(e.ClassName()) == "EOSError" && e.ErrorCode == 5 && e.Message == expected
                 ? 0
                 : 2;
    }
    return 1;
  };
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(path.c_str(), 0400), 0);
    EXPECT_EQ(check(), 0);
    return;
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    _exit(check());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened, 2: wrong error, 3: could not drop root";
}

TEST(ReadTrustedOwnFile, GivesOnlyThisUsersPrivateFilesWithinTheLimit) {
  TempFolder folder;
  const std::string own = folder.WriteFile("own", "state");
  ASSERT_EQ(chmod(own.c_str(), 0600), 0);
  const std::string shared = folder.WriteFile("shared", "state");
  ASSERT_EQ(chmod(shared.c_str(), 0664), 0);
  std::filesystem::create_symlink(own, folder / "link");
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadTrustedOwnFile(own, 5), "state");
  struct Case {
    const char* what;
    std::string path;
    size_t limit;
  } const kCases[] = {
      {"missing", folder / "missing", 100},
      {"others may write it", shared, 100},
      {"a link", folder / "link", 100},
      {"over the limit", own, 4},
      {"a FIFO (without waiting)", folder / "fifo", 100},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(ReadTrustedOwnFile(c.path, c.limit), std::nullopt) << c.what;
}

}  // namespace
}  // namespace zor
