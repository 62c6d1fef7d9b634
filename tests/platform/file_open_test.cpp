#include "platform/file_open.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <fstream>

#include "base/exceptions.h"
#include "platform/directories.h"
#include "platform/last_error.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

TEST(OpenFileOrFail, ReadsWritesAndCreates) {
  testing::TempFolder folder;
  {
    File file = CreateFileOrFail(folder / "new.dat");
    file.Write("hello world");
    EXPECT_EQ(file.Size(), 11);
    file.Seek(6);
    char buffer[5];
    file.ReadExact(buffer, 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, 5), 0u);
    file.Truncate(5);
    EXPECT_EQ(file.Size(), 5);
  }
  File reader = OpenFileOrFail(folder / "new.dat", FileAccess::Read);
  char buffer[16];
  EXPECT_EQ(reader.Read(buffer, sizeof(buffer)), 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  try {
    reader.Seek(0);
    reader.ReadExact(buffer, 6);
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.Message, "Stream read error");
  }
  // Writing to a file opened for reading fails with the OS error.
  try {
    reader.Write("x");
    FAIL();
  } catch (const EWin32ErrorEx& e) {
    EXPECT_EQ(e.Message, "Stream write error (9)" + SystemErrorMessage(EBADF));
  }
  // Creating over an existing file empties it.
  EXPECT_EQ(CreateFileOrFail(folder / "new.dat").Size(), 0);
}

TEST(OpenFileOrFail, FailuresCarryTheProgramsMessages) {
  testing::TempFolder folder;
  const std::string existing = folder.WriteFile("locked.dat", "x");
  const std::string missing = folder / "missing.dat";
  ScopedOpenFault fault(
      [&](const std::string& path, FileAccess) { return path == existing ? EACCES : 0; });
  struct Case {
    const char* what;
    std::function<void()> open;
    std::string className;
    std::string message;
    uint32_t errorCode;
  } const kCases[] = {
      {"read, denied", [&] { OpenFileOrFail(existing, FileAccess::Read); }, "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有读取权限。", 5},
      {"write, denied", [&] { OpenFileOrFail(existing, FileAccess::Write); }, "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有写入权限。", 5},
      {"read-write, denied", [&] { OpenFileOrFail(existing, FileAccess::ReadWrite); }, "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有写入权限。", 5},
      {"create, denied", [&] { CreateFileOrFail(existing); }, "EOSError",
       "无法开启档案 " + existing + "! 因为对该档案或目录并没有写入权限。", 5},
      {"missing", [&] { OpenFileOrFail(missing, FileAccess::Read); }, "EWin32ErrorEx",
       "无法开启档案 " + missing + "! (2)No such file or directory", ENOENT},
      {"folder missing", [&] { CreateFileOrFail(folder / "no/such.dat"); }, "EWin32ErrorEx",
       "无法开启档案 " + folder / "no/such.dat" + "! (2)No such file or directory", ENOENT},
      {"a directory", [&] { OpenFileOrFail(folder.Path(), FileAccess::Read); }, "EWin32ErrorEx",
       "无法开启档案 " + folder.Path() + "! (21)Is a directory", EISDIR},
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
}

// A real denial by the system: as root, the check runs in a child that gave up root.
TEST(OpenFileOrFail, RealPermissionDenial) {
  testing::TempFolder folder;
  const std::string path = folder.WriteFile("private.dat", "x");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  const auto check = [&]() -> int {
    try {
      OpenFileOrFail(path, FileAccess::Write);
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

// Tries an open-file-description lock of `type` on a new descriptor of `path`.
bool CanLock(const std::string& path, short type) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = type;
  const bool locked = fcntl(fd, F_OFD_SETLK, &lock) == 0;
  close(fd);
  return locked;
}

TEST(OpenFileDenyWrite, OthersMayReadButNotWriteWhileItIsOpen) {
  testing::TempFolder folder;
  const std::string path = folder.WriteFile("shared.dat", "hello");
  {
    File file = OpenFileDenyWrite(path);
    char buffer[8];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
    EXPECT_TRUE(CanLock(path, F_RDLCK));
    EXPECT_FALSE(CanLock(path, F_WRLCK));
    // A second reader of the same kind is welcome.
    EXPECT_TRUE(OpenFileDenyWrite(path).IsOpen());
    // The stamp changes with the size.
    const FileStamp before = file.Stamp();
    EXPECT_EQ(before.Size, 5);
    std::ofstream(path, std::ios::app) << "!";
    EXPECT_NE(file.Stamp(), before);
  }
  EXPECT_TRUE(CanLock(path, F_WRLCK));  // closing gave it up

  // A writer holding its lock keeps the reader out.
  const int writer = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(writer, F_OFD_SETLK, &lock), 0);
  try {
    OpenFileDenyWrite(path);
    ADD_FAILURE() << "opened while a writer holds its lock";
  } catch (const EWin32ErrorEx& e) {
    EXPECT_EQ(e.Message, "无法开启档案 " + path + "! (16)" + SystemErrorMessage(EBUSY));
  }
  close(writer);
  EXPECT_TRUE(OpenFileDenyWrite(path).IsOpen());
}

TEST(MakeUniqueFileName, CountsInHexadecimalFromZeroPastTakenNames) {
  testing::TempFolder folder;
  EXPECT_EQ(MakeUniqueFileName("dl", "tmp", folder.Path(), 4), folder / "dl0000.tmp");
  for (const char* taken : {"dl0000.tmp", "dl0001.tmp", "dl0002.tmp", "dl0003.tmp", "dl0004.tmp",
                            "dl0005.tmp", "dl0006.tmp", "dl0007.tmp", "dl0008.tmp", "dl0009.tmp"}) {
    folder.WriteFile(taken, "");
  }
  EXPECT_EQ(MakeUniqueFileName("dl", "tmp", folder.Path(), 4), folder / "dl000A.tmp");
  // A directory without the trailing delimiter still names a file inside it.
  std::string bare = folder.Path();
  bare.pop_back();
  EXPECT_EQ(MakeUniqueFileName("dl", "tmp", bare, 4), folder / "dl000A.tmp");
  EXPECT_EQ(MakeUniqueFileName("x", "bin", folder.Path(), 0), folder / "x0.bin");
  // An empty directory is the temporary folder.
  const std::string inTemp = MakeUniqueFileName("zor-unique-", "t", "", 8);
  EXPECT_EQ(inTemp.substr(0, GetTempDir().size()), GetTempDir());
  EXPECT_EQ(inTemp.find('/', GetTempDir().size()), std::string::npos);
}

}  // namespace
}  // namespace zor
