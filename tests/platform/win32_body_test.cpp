// The Windows body of the platform layer where it differs from Linux in how it reaches the
// system: UTF-16 names at the boundary, error kinds from Windows' numbers, sharing modes
// instead of locks, kernel mutexes, CreateProcessW, and names that may not leave a folder.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/contained_files.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/local_socket.h"
#include "platform/named_mutex.h"
#include "platform/private_folder.h"
#include "platform/process.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "support/windows_skips.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

TEST(Win32FileSystem, NamesCrossTheBoundaryAsUtf16) {
  testing::TempFolder folder;
  FileSystem& os = OsFileSystem();
  const std::string name = "数据-ü.txt";  // UTF-8 inside the program
  os.WriteFileAtomic(folder.Path() + name, "bytes");
  // The name on disk is the same text in UTF-16, not the UTF-8 bytes read as ANSI.
  EXPECT_TRUE(fs::exists(folder.Dir() / fs::path(L"数据-ü.txt")));
  EXPECT_EQ(os.List(folder.Path()), std::vector<std::string>{name});
  EXPECT_EQ(os.ReadFile(folder.Path() + name), "bytes");
  const auto status = os.Stat(folder.Path() + name, FollowLinks::No);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Kind, FileKind::Regular);
  EXPECT_EQ(status->Size, 5);
  EXPECT_TRUE(os.Remove(folder.Path() + name));
  EXPECT_FALSE(os.Remove(folder.Path() + name));
}

TEST(Win32FileSystem, FailuresCarryTheKindOfWindowsError) {
  testing::TempFolder folder;
  FileSystem& os = OsFileSystem();
  const std::string file = folder.WriteFile("file", "x");
  const std::string missing = folder.Path() + "missing";
  struct Case {
    const char* what;
    std::function<void()> call;
    FileErrorKind kind;
    std::string messageStart;
  } const kCases[] = {
      {"missing", [&] { os.Open(missing, OpenMode::ReadOnly); }, FileErrorKind::NotFound,
       "Cannot open \"" + missing + "\" (2)"},
      {"taken", [&] { os.Open(file, OpenMode::CreateNew); }, FileErrorKind::Exists,
       "Cannot open \"" + file + "\" (80)"},
      {"folder", [&] { os.Open(folder.Path(), OpenMode::ReadOnly); }, FileErrorKind::IsFolder,
       "Cannot open \"" + folder.Path() + "\" (336)"},
      {"too large", [&] { os.ReadFile(file, 0); }, FileErrorKind::TooLarge,
       "Cannot read \"" + file + "\" (223)"},
      {"rename", [&] { os.Rename(missing, file); }, FileErrorKind::NotFound,
       "Cannot rename \"" + missing + "\" to \"" + file + "\" (2)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const auto e = testing::Catch<EFileSystemError>(c.call);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Kind, c.kind);
    EXPECT_NE(e->Message.find(c.messageStart), std::string::npos) << e->Message;
  }
}

TEST(Win32FileSystem, DenyWriteKeepsWritersOutWhileOpenAndFailsBusyWhileOneWrites) {
  testing::TempFolder folder;
  FileSystem& os = OsFileSystem();
  const std::string path = folder.WriteFile("served", "abc");
  {
    auto reader = os.Open(path, OpenMode::ReadOnly, OpenOptions{.DenyWrite = true});
    const auto e = testing::Catch<EFileSystemError>([&] { os.Open(path, OpenMode::ReadWrite); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ErrorCode, 32u);  // the sharing violation
    // Readers are welcome.
    EXPECT_EQ(os.ReadFile(path), "abc");
  }
  auto writer = os.Open(path, OpenMode::ReadWrite);
  const auto busy = testing::Catch<EFileSystemError>(
      [&] { os.Open(path, OpenMode::ReadOnly, OpenOptions{.DenyWrite = true}); });
  ASSERT_NE(busy, nullptr);
  EXPECT_EQ(busy->ErrorCode, 170u);  // busy
  EXPECT_EQ(busy->Kind, FileErrorKind::Other);
}

TEST(Win32FileSystem, AppendsScratchFilesAndReadOnlyFiles) {
  testing::TempFolder folder;
  FileSystem& os = OsFileSystem();
  const std::string log = folder.Path() + "log";
  {
    auto file = os.Open(log, OpenMode::Append);
    file->WriteAllAt(0, "one ");
    file->WriteAllAt(0, "two");  // at the end, whatever position it names
    file->Close();
  }
  EXPECT_EQ(os.ReadFile(log), "one two");

  {
    auto scratch = os.OpenTemporary(folder.Path());
    scratch->WriteAllAt(4, "tail");
    char back[4] = {};
    scratch->ReadExactAt(4, back, 4);
    EXPECT_EQ(std::string(back, 4), "tail");
    EXPECT_EQ(scratch->Size(), 8);
  }
  EXPECT_EQ(os.List(folder.Path()), std::vector<std::string>{"log"});  // the scratch file is gone

  os.SetPermissions(log, 0444);
  EXPECT_EQ(os.Stat(log, FollowLinks::No)->Permissions & 0200, 0u);
  // Wine runs as this machine's root, for whom a read-only file stays writable.
  if (!testing::RunningUnderWine()) {
    EXPECT_THROW(os.Open(log, OpenMode::ReadWrite), EFileSystemError);
  }
  EXPECT_TRUE(os.Remove(log));  // removing needs no right to write the file itself
}

TEST(Win32ContainedFiles, ListsDeletesAndRefusesNamesThatLeaveTheFolder) {
  testing::TempFolder folder;
  folder.WriteFile("b.txt", "b");
  folder.WriteFile("a/z.txt", "z");
  folder.WriteFile("a/deep/y.txt", "y");
  fs::create_directories(folder.Dir() / "empty");
  EXPECT_EQ(ListFilesBelow(folder.Path()),
            (std::vector<std::string>{"a/deep/y.txt", "a/z.txt", "b.txt"}));

  struct Case {
    const char* name;
    bool contained;
  } const kCases[] = {
      {"a/z.txt", true},   {"a\\z.txt", false}, {"C:x", false},      {"b.txt:stream", false},
      {"../b.txt", false}, {"/b.txt", false},   {"a//z.txt", false},
  };
  for (const Case& c : kCases) EXPECT_EQ(IsContainedRelativeName(c.name), c.contained) << c.name;

  OsFileSystem().SetPermissions(folder.Path() + "a/z.txt", 0444);
  EXPECT_TRUE(DeleteFileBelow(folder.Path(), "a/z.txt"));  // read-only goes as on Linux
  EXPECT_FALSE(DeleteFileBelow(folder.Path(), "a/z.txt"));
  EXPECT_FALSE(DeleteFileBelow(folder.Path(), "a\\deep\\y.txt"));
  EXPECT_FALSE(DeleteFileBelow(folder.Path(), "a"));         // a folder is no file
  EXPECT_FALSE(RemoveEmptyFolderBelow(folder.Path(), "a"));  // not empty
  EXPECT_TRUE(RemoveEmptyFolderBelow(folder.Path(), "empty"));
  EXPECT_FALSE(fs::exists(folder.Dir() / "empty"));

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(
      OpenFileBelowForReading(folder.Path(), "a/deep/y.txt"), &std::fclose);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(std::fgetc(in.get()), 'y');
  EXPECT_EQ(OpenFileBelowForReading(folder.Path(), "a"), nullptr);
}

TEST(Win32FileSystem, OpenBelowRefusesLinksFoldersAndNamesThatLeaveAndRaisesTheKind) {
  testing::TempFolder folder;
  FileSystem& os = OsFileSystem();
  folder.WriteFile("sub/data", "payload");
  const std::unique_ptr<PositionedFile> data = os.OpenBelow(folder.Path(), "sub/data");
  ASSERT_NE(data, nullptr);
  char buffer[16];
  EXPECT_EQ(std::string(buffer, data->ReadAt(0, buffer, sizeof buffer)), "payload");
  struct Case {
    const char* name;
    FileErrorKind kind;
  } const kCases[] = {
      {"sub", FileErrorKind::IsFolder},        {"sub/missing", FileErrorKind::NotFound},
      {"../x", FileErrorKind::Other},          {"sub\\data", FileErrorKind::Other},
      {"C:/x", FileErrorKind::Other},          {"sub/data:stream", FileErrorKind::Other},
      {"sub/data/x", FileErrorKind::NotFound},
  };
  for (const Case& c : kCases) {
    const auto e = testing::Catch<EFileSystemError>([&] { os.OpenBelow(folder.Path(), c.name); });
    ASSERT_NE(e, nullptr) << c.name;
    EXPECT_EQ(e->Kind, c.kind) << c.name << ": " << e->Message;
  }
  // Links and junctions on the way or at the end, where the system lets this user make them.
  std::error_code made;
  fs::create_symlink(folder.Dir() / "sub/data", folder.Dir() / "sub/link", made);
  if (!made) fs::create_directory_symlink(folder.Dir() / "sub", folder.Dir() / "linked", made);
  if (made) GTEST_SKIP() << "symbolic links cannot be made here: " << made.message();
  for (const char* name : {"sub/link", "linked/data"}) {
    const auto e = testing::Catch<EFileSystemError>([&] { os.OpenBelow(folder.Path(), name); });
    ASSERT_NE(e, nullptr) << name;
    EXPECT_EQ(e->ErrorCode, 681u) << name;  // stopped on a link
  }
}

TEST(Win32FileSystem, LinkNeverReplacesAndAnOpenFilesIdentityFollowsItsContent) {
  testing::TempFolder folder;
  FileSystem& os = OsFileSystem();
  const std::string first = folder.WriteFile("first", "abc");
  const std::string taken = folder.WriteFile("taken", "keep");
  os.Link(first, folder.Path() + "second");
  const std::unique_ptr<PositionedFile> file = os.Open(first, OpenMode::ReadWrite);
  const std::optional<FileIdentity> before = file->Identity();
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(before->Size, 3);
  // Both names are one file.
  EXPECT_EQ(ReadFileIdentity(folder.Path() + "second"), before);
  const auto e = testing::Catch<EFileSystemError>([&] { os.Link(first, taken); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Kind, FileErrorKind::Exists);
  EXPECT_EQ(os.ReadFile(taken), "keep");

  file->WriteAllAt(3, "d");
  const std::optional<FileIdentity> after = file->Identity();
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->Size, 4);
  EXPECT_EQ(after->Inode, before->Inode);
  EXPECT_EQ(os.ReadFile(folder.Path() + "second"), "abcd");
  file->Close();
  EXPECT_EQ(file->Identity(), std::nullopt);
}

TEST(Win32NamedMutex, ObjectsOfOneProcessExcludeEachOtherAsProcessesDo) {
  for (const std::string name : {"ZorWin32TestMutex", "Global\\ZorWin32TestMutex"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(ProbeNamedMutex(name));
    {
      NamedMutex first(name, true);
      EXPECT_FALSE(first.AlreadyExisted());
      EXPECT_TRUE(first.Owned());
      NamedMutex second(name);
      EXPECT_TRUE(second.AlreadyExisted());
      EXPECT_FALSE(second.TryAcquire());  // the kernel would let this thread in again
      EXPECT_TRUE(ProbeNamedMutex(name));
      first.Release();
      EXPECT_TRUE(second.TryAcquire());
    }
    EXPECT_FALSE(ProbeNamedMutex(name));
  }
  EXPECT_THROW(NamedMutex("Global\\"), Exception);
}

TEST(Win32Process, TheCommandLineGoesAsGivenAndTheExitCodeComesBack) {
  const ProcessId pid = StartProcess("cmd.exe /c \"exit 7\"");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitForProcessExit(pid), 7);
  EXPECT_FALSE(IsProcessRunning(pid));
  testing::ExpectError([] { StartProcess("   "); }, "The command line names no program.");
  EXPECT_THROW(StartProcess("zor-no-such-program-here.exe"), EWin32ErrorEx);
}

TEST(Win32PrivateFolder, MadePrivateAndRefusedWhenItIsAFile) {
  testing::TempFolder folder;
  const std::string path = folder.Path() + "own/staging";
  EnsurePrivateFolder(path, TFolderPrivacy::OwnerOnly);
  EXPECT_TRUE(fs::is_directory(folder.Dir() / "own/staging"));
  EnsurePrivateFolder(path, TFolderPrivacy::OwnerOnly);  // a second call finds it fine
  const std::string file = folder.WriteFile("plain", "x");
  testing::ExpectError<EPrivateFolderError>(
      [&] { EnsurePrivateFolder(file, TFolderPrivacy::OthersMayRead); }, file + " is not a folder");
}

TEST(Win32LocalPipes, SayTheyAreNotAvailableYet) {
  int error = 0;
  testing::ExpectError([&] { ConnectLocal(LocalPipeFolder() + "/x", error); },
                       "Connecting to a local pipe is not available on Windows yet");
  testing::ExpectError([&] { CreateLocalListener(LocalPipeFolder() + "/x", 1, error); },
                       "A local pipe listener is not available on Windows yet");
}

}  // namespace
}  // namespace zor

#endif  // _WIN32
