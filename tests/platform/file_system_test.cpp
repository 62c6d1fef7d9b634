// The file-system layer: whole-file reads, atomic and durable replacement under every fault
// the fault-injecting wrapper makes, positioned writes, folders, and the process default.
#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/fault_file_system.h"
#include "support/temp_folder.h"

namespace zor {
namespace {
namespace fs = std::filesystem;
using testing::TempFolder;

std::string ReadBack(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The names in `folder`, joined by ",".
std::string Names(const std::string& folder) {
  std::string joined;
  for (const std::string& name : OsFileSystem().List(folder))
    joined += (joined.empty() ? "" : ",") + name;
  return joined;
}

uint32_t PermissionsOf(const std::string& path) {
  return static_cast<uint32_t>(fs::status(path).permissions()) & 07777;
}

template <typename Action>
EFileSystemError CaughtError(Action&& action) {
  try {
    action();
  } catch (const EFileSystemError& e) {
    return e;
  }
  ADD_FAILURE() << "no EFileSystemError";
  return EFileSystemError("", 0, "");
}

std::string Expected(std::string_view what, const std::string& path, int error,
                     std::string_view text) {
  return std::string(what) + " \"" + path + "\" (" + std::to_string(error) + ")" +
         std::string(text);
}

TEST(FileSystem, ReadFileGivesTheBytesNothingForAMissingFileAndRefusesTooLargeOnes) {
  TempFolder dir;
  FileSystem& files = OsFileSystem();
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  dir.WriteFile("big", big);
  dir.WriteFile("empty", "");
  fs::create_directory(dir / "folder");

  EXPECT_EQ(files.ReadFile(dir / "big"), big);
  EXPECT_EQ(files.ReadFile(dir / "empty"), "");
  EXPECT_EQ(files.ReadFile(dir / "missing"), std::nullopt);
  EXPECT_EQ(files.ReadFile(dir / "big/below"), std::nullopt);  // a file where a folder should be
  EXPECT_EQ(files.ReadFile(dir / "big", big.size()), big);

  const EFileSystemError tooLarge =
      CaughtError([&] { files.ReadFile(dir / "big", big.size() - 1); });
  EXPECT_EQ(tooLarge.Message, Expected("Cannot read", dir / "big", EFBIG, "File too large"));
  EXPECT_EQ(tooLarge.ErrorCode, static_cast<uint32_t>(EFBIG));
  EXPECT_EQ(tooLarge.Path, dir / "big");
  EXPECT_EQ(CaughtError([&] { files.ReadFile(dir / "folder"); }).Message,
            Expected("Cannot open", dir / "folder", EISDIR, "Is a directory"));
}

TEST(FileSystem, ReplacementIsPrivateByDefaultKeepsGivenPermissionsAndTimeAndLeavesNoTemporary) {
  TempFolder dir;
  FileSystem& files = OsFileSystem();
  files.WriteFileAtomic(dir / "own", "mine");
  EXPECT_EQ(ReadBack(dir / "own"), "mine");
  EXPECT_EQ(PermissionsOf(dir / "own"), 0600u);

  dir.WriteFile("shared", "a much longer old content");
  const int64_t time = 1'500'000'000'123'456'789;
  files.WriteFileAtomic(dir / "shared", "new", {.Permissions = 0755, .ModifiedNs = time});
  EXPECT_EQ(ReadBack(dir / "shared"), "new");
  EXPECT_EQ(PermissionsOf(dir / "shared"), 0755u);  // exactly, whatever the umask
  EXPECT_EQ(files.Stat(dir / "shared", FollowLinks::No)->ModifiedNs, time);

  {
    AtomicFile streamed = files.BeginReplace(dir / "streamed");
    streamed.Append("first ");
    streamed.Append("second");
    EXPECT_EQ(streamed.Size(), 12);
    EXPECT_EQ(Names(dir.Path()),
              "own,shared," + fs::path(streamed.TemporaryPath()).filename().string());
    EXPECT_FALSE(fs::exists(dir / "streamed"));  // nothing in place before the commit
    streamed.Commit();
  }
  EXPECT_EQ(ReadBack(dir / "streamed"), "first second");
  {
    AtomicFile dropped = files.BeginReplace(dir / "streamed");
    dropped.Append("never committed");
  }
  EXPECT_EQ(ReadBack(dir / "streamed"), "first second");
  EXPECT_EQ(Names(dir.Path()), "own,shared,streamed");
}

TEST(FileSystem, ReplacementSyncsTheFileAndItsFolderUnlessNotDurable) {
  TempFolder dir;
  FaultFileSystem faults;
  faults.WriteFileAtomic(dir / "durable", "x");
  EXPECT_EQ(faults.Seen().Syncs, 1);
  EXPECT_EQ(faults.Seen().FolderSyncs, 1);
  faults.WriteFileAtomic(dir / "fast", "x", {.Durable = false});
  EXPECT_EQ(faults.Seen().Syncs, 1);
  EXPECT_EQ(faults.Seen().FolderSyncs, 1);
  faults.RenameDurably(dir / "fast", dir / "moved");
  EXPECT_EQ(faults.Seen().FolderSyncs, 2);
  EXPECT_EQ(Names(dir.Path()), "durable,moved");
}

// Each fault hits a three-block replacement of a file that has old content; the old
// content survives, the error says what happened, and no temporary stays behind.
TEST(FileSystem, EveryFaultBeforeTheRenameKeepsTheOldFileAndRemovesTheTemporary) {
  const std::string kBlock(1000, 'n');
  struct Case {
    const char* Name;
    std::function<void(FaultFileSystem&)> Arm;
    std::string_view What;  // with the temporary's path
    int Error;
    std::string_view Text;
  } const kCases[] = {
      {"first write fails", [](FaultFileSystem& f) { f.FailWrite(1, EIO); }, "Cannot write", EIO,
       "Input/output error"},
      {"third write fails", [](FaultFileSystem& f) { f.FailWrite(3, EIO); }, "Cannot write", EIO,
       "Input/output error"},
      {"disk fills mid-file", [](FaultFileSystem& f) { f.SetFreeSpace(1500); }, "Cannot write",
       ENOSPC, "No space left on device"},
      {"disk already full", [](FaultFileSystem& f) { f.SetFreeSpace(0); }, "Cannot write", ENOSPC,
       "No space left on device"},
      {"fsync fails", [](FaultFileSystem& f) { f.FailSync(1, EIO); }, "Cannot sync", EIO,
       "Input/output error"},
      {"rename fails", [](FaultFileSystem& f) { f.FailRename(1, EXDEV); }, "", EXDEV,
       "Invalid cross-device link"},
      {"temporary cannot be created", [](FaultFileSystem& f) { f.FailOpenForWriting(1, EACCES); },
       "Cannot open", EACCES, "Permission denied"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    TempFolder dir;
    const std::string target = dir.WriteFile("hive", "old content");
    FaultFileSystem faults;
    c.Arm(faults);
    std::string temporary;
    const EFileSystemError error = CaughtError([&] {
      AtomicFile out = faults.BeginReplace(target);
      temporary = out.TemporaryPath();
      for (int i = 0; i < 3; ++i) out.Append(kBlock);
      out.Commit();
    });
    if (temporary.empty()) temporary = error.Path;  // the open of the temporary failed
    const std::string what =
        c.What.empty() ? "Cannot rename \"" + temporary + "\" to" : std::string(c.What);
    const std::string path = c.What.empty() ? target : temporary;
    EXPECT_EQ(error.Message, Expected(what, path, c.Error, c.Text));
    EXPECT_EQ(error.ErrorCode, static_cast<uint32_t>(c.Error));
    EXPECT_EQ(ReadBack(target), "old content");
    EXPECT_EQ(Names(dir.Path()), "hive");
  }
}

TEST(FileSystem, ShortWritesAreContinuedUntilEveryByteIsWritten) {
  TempFolder dir;
  FaultFileSystem faults;
  faults.ShortWrite(1, 3);
  faults.WriteFileAtomic(dir / "file", "0123456789");
  EXPECT_EQ(ReadBack(dir / "file"), "0123456789");
  EXPECT_EQ(faults.Seen().Writes, 2);
  EXPECT_EQ(faults.Seen().BytesWritten, 10);
}

TEST(FileSystem, FailedFolderSyncAfterTheRenameIsReportedWithTheNewFileInPlace) {
  TempFolder dir;
  const std::string target = dir.WriteFile("file", "old");
  FaultFileSystem faults;
  faults.FailFolderSync(1, EIO);
  const EFileSystemError error = CaughtError([&] { faults.WriteFileAtomic(target, "new"); });
  const std::string folder = dir.Path().substr(0, dir.Path().size() - 1);
  EXPECT_EQ(error.Message, Expected("Cannot sync the folder", folder, EIO, "Input/output error"));
  EXPECT_EQ(ReadBack(target), "new");
  EXPECT_EQ(Names(dir.Path()), "file");
}

TEST(FileSystem, AReplacementKilledBeforeTheRenameLeavesTheOldFileAndAStaleTemporaryToClear) {
  TempFolder dir;
  const std::string target = dir.WriteFile("HKLM.reg", "old");
  dir.WriteFile("HKLM.reg.~0123456789abcdeg.tmp", "not ours: 'g' is no hex digit");
  dir.WriteFile("other.~0123456789abcdef.tmp", "another file's temporary");
  const pid_t child = fork();
  if (child == 0) {
    FaultFileSystem faults;
    faults.OnRename([](const std::string&, const std::string&) { _exit(9); });
    faults.WriteFileAtomic(target, "new");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 9);
  EXPECT_EQ(ReadBack(target), "old");
  EXPECT_EQ(OsFileSystem().List(dir.Path()).size(), 4u);

  EXPECT_EQ(OsFileSystem().RemoveStaleTemporaries(target), 1);
  EXPECT_EQ(Names(dir.Path()),
            "HKLM.reg,HKLM.reg.~0123456789abcdeg.tmp,other.~0123456789abcdef.tmp");
  EXPECT_TRUE(IsReplacementTemporaryOf("a.~0123456789abcdef.tmp", "a"));
  EXPECT_FALSE(IsReplacementTemporaryOf("a.~0123456789abcdef.tmp", "b"));
  EXPECT_FALSE(IsReplacementTemporaryOf("a.~0123456789abcde.tmp", "a"));
}

TEST(FileSystem, ConcurrentReplacementsOfOneFileEachLeaveAWholeVersion) {
  TempFolder dir;
  const std::string target = dir / "shared";
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        OsFileSystem().WriteFileAtomic(target, std::string(4096 + t, static_cast<char>('a' + t)),
                                       {.Durable = false});
        const std::string seen = *OsFileSystem().ReadFile(target);
        const bool whole = !seen.empty() &&
                           seen.size() == 4096 + static_cast<size_t>(seen[0] - 'a') &&
                           seen.find_first_not_of(seen[0]) == std::string::npos;
        EXPECT_TRUE(whole) << seen.size();
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(Names(dir.Path()), "shared");
}

TEST(FileSystem, PositionedFilesWriteWhereToldAndNeverFollowALinkWhenWriting) {
  TempFolder dir;
  FileSystem& files = OsFileSystem();
  {
    std::unique_ptr<PositionedFile> file = files.Open(dir / "part", OpenMode::CreateNew);
    file->WriteAllAt(4, "tail");
    file->WriteAllAt(0, "head");
    EXPECT_EQ(file->Size(), 8);
    char middle[4];
    file->ReadExactAt(2, middle, sizeof middle);
    EXPECT_EQ(std::string(middle, 4), "adta");
    file->Truncate(6);
    file->Sync();
    file->Close();
  }
  EXPECT_EQ(ReadBack(dir / "part"), "headta");
  EXPECT_EQ(PermissionsOf(dir / "part"), 0600u);
  {
    std::unique_ptr<PositionedFile> file = files.Open(dir / "part", OpenMode::ReadWrite);
    file->WriteAllAt(file->Size(), "il");
    char beyond[2];
    EXPECT_EQ(CaughtError([&] { file->ReadExactAt(7, beyond, 2); }).Message,
              Expected("Cannot read", dir / "part", EIO, "Input/output error"));
  }
  EXPECT_EQ(ReadBack(dir / "part"), "headtail");

  fs::create_symlink(dir / "part", dir / "link");
  struct Case {
    OpenMode Mode;
    int Error;
    std::string_view Text;
  } const kCases[] = {
      {OpenMode::CreateNew, EEXIST, "File exists"},
      {OpenMode::ReadWrite, ELOOP, "Too many levels of symbolic links"},
      {OpenMode::OpenOrCreate, ELOOP, "Too many levels of symbolic links"},
      {OpenMode::CreateOrTruncate, ELOOP, "Too many levels of symbolic links"},
  };
  for (const Case& c : kCases) {
    const EFileSystemError error = CaughtError([&] { files.Open(dir / "link", c.Mode); });
    EXPECT_EQ(error.Message, Expected("Cannot open", dir / "link", c.Error, c.Text));
  }
  EXPECT_EQ(ReadBack(dir / "part"), "headtail");
  EXPECT_EQ(files.ReadFile(dir / "link"), "headtail");  // reading follows the link
}

TEST(FileSystem, FoldersListsRenamesAndRemovals) {
  TempFolder dir;
  FileSystem& files = OsFileSystem();
  EXPECT_TRUE(files.CreateFolders(dir / "a/b//c/", 0750));
  EXPECT_FALSE(files.CreateFolders(dir / "a/b/c"));
  EXPECT_EQ(PermissionsOf(dir / "a/b"), 0750u & ~0022u);
  dir.WriteFile("a/file", "x");
  EXPECT_EQ(CaughtError([&] { files.CreateFolders(dir / "a/file/d"); }).Message,
            Expected("Cannot create the folder", dir / "a/file", EEXIST, "File exists"));

  EXPECT_EQ(Names(dir / "a"), "b,file");
  EXPECT_EQ(CaughtError([&] { files.List(dir / "none"); }).Message,
            Expected("Cannot list the folder", dir / "none", ENOENT, "No such file or directory"));
  files.Rename(dir / "a/file", dir / "a/b/moved");
  EXPECT_EQ(CaughtError([&] { files.Rename(dir / "a/file", dir / "a/again"); }).Message,
            Expected("Cannot rename \"" + (dir / "a/file") + "\" to", dir / "a/again", ENOENT,
                     "No such file or directory"));
  const std::optional<FileStatus> moved = files.Stat(dir / "a/b/moved", FollowLinks::No);
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->Kind, FileKind::Regular);
  EXPECT_EQ(moved->Size, 1);
  EXPECT_EQ(files.Stat(dir / "a", FollowLinks::Yes)->Kind, FileKind::Directory);
  EXPECT_EQ(files.Stat(dir / "a/none", FollowLinks::Yes), std::nullopt);
  EXPECT_TRUE(files.Remove(dir / "a/b/moved"));
  EXPECT_FALSE(files.Remove(dir / "a/b/moved"));
  EXPECT_EQ(CaughtError([&] { files.Remove(dir / "a/b"); }).Message,
            Expected("Cannot remove", dir / "a/b", EISDIR, "Is a directory"));
}

TEST(FileSystem, ATestSubstitutesTheProcessDefaultForItsScope) {
  EXPECT_EQ(&CurrentFileSystem(), &OsFileSystem());
  FaultFileSystem outer, inner;
  {
    ScopedFileSystem useOuter(outer);
    EXPECT_EQ(&CurrentFileSystem(), &outer);
    {
      ScopedFileSystem useInner(inner);
      EXPECT_EQ(&CurrentFileSystem(), &inner);
    }
    EXPECT_EQ(&CurrentFileSystem(), &outer);
  }
  EXPECT_EQ(&CurrentFileSystem(), &OsFileSystem());
}

TEST(FaultFileSystem, FaultsCountOnlyTheFilesTheFilterLetsThrough) {
  TempFolder dir;
  FaultFileSystem faults;
  faults.OnlyFor([](const std::string& path) { return path.find("/target") != std::string::npos; });
  faults.FailWrite(1, ENOSPC);
  faults.WriteFileAtomic(dir / "bystander", "unaffected");
  EXPECT_EQ(faults.Seen().Writes, 0);
  EXPECT_EQ(CaughtError([&] { faults.WriteFileAtomic(dir / "target", "x"); }).ErrorCode,
            static_cast<uint32_t>(ENOSPC));
  faults.WriteFileAtomic(dir / "target", "x");  // the fault fired once
  faults.Reset();
  faults.SetFreeSpace(2);
  EXPECT_EQ(CaughtError([&] { faults.WriteFileAtomic(dir / "bystander", "abc"); }).ErrorCode,
            static_cast<uint32_t>(ENOSPC));
  EXPECT_EQ(ReadBack(dir / "bystander"), "unaffected");
  EXPECT_EQ(Names(dir.Path()), "bystander,target");
}

TEST(FileErrorKind, TheSystemsNumbersMapOntoTheKindsTheCallersActOn) {
  struct Case {
    int Error;
    FileErrorKind Kind;
  } const kCases[] = {
      {ENOENT, FileErrorKind::NotFound},     {ENOTDIR, FileErrorKind::NotFound},
      {EEXIST, FileErrorKind::Exists},       {ENOSPC, FileErrorKind::NoSpace},
      {EDQUOT, FileErrorKind::NoSpace},      {EROFS, FileErrorKind::ReadOnly},
      {EACCES, FileErrorKind::AccessDenied}, {EPERM, FileErrorKind::AccessDenied},
      {EISDIR, FileErrorKind::IsFolder},     {EFBIG, FileErrorKind::TooLarge},
      {EIO, FileErrorKind::Other},           {EXDEV, FileErrorKind::Other},
      {EBUSY, FileErrorKind::Other},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(FileErrorKindOf(static_cast<uint32_t>(c.Error)), c.Kind) << c.Error;
    EXPECT_EQ(EFileSystemError("", static_cast<uint32_t>(c.Error), "").Kind, c.Kind) << c.Error;
  }
  // A kind the program raises itself comes back as the same kind.
  for (FileErrorKind kind :
       {FileErrorKind::NotFound, FileErrorKind::Exists, FileErrorKind::NoSpace,
        FileErrorKind::ReadOnly, FileErrorKind::AccessDenied, FileErrorKind::IsFolder,
        FileErrorKind::TooLarge, FileErrorKind::Other}) {
    EXPECT_EQ(CaughtError([&] { RaiseFileSystemError("Cannot use", "/x", kind); }).Kind, kind);
  }
}

TEST(FileSystem, OpenOptionsRefuseLinksForeignFilesAndWritersAndAppendAtTheEnd) {
  TempFolder dir;
  FileSystem& files = OsFileSystem();
  dir.WriteFile("own", "abc");
  ::chmod((dir / "own").c_str(), 0600);
  dir.WriteFile("shared", "abc");
  ::chmod((dir / "shared").c_str(), 0664);
  fs::create_symlink(dir / "own", dir / "link");

  // A read through a link, and a file others may write, are refused when asked.
  EXPECT_EQ(CaughtError([&] {
              files.Open(dir / "link", OpenMode::ReadOnly, OpenOptions{.NoFollow = true});
            }).Message,
            Expected("Cannot open", dir / "link", ELOOP, "Too many levels of symbolic links"));
  const EFileSystemError foreign = CaughtError(
      [&] { files.Open(dir / "shared", OpenMode::ReadOnly, OpenOptions{.OwnerOnly = true}); });
  EXPECT_EQ(foreign.Kind, FileErrorKind::AccessDenied);
  EXPECT_EQ(foreign.Message, Expected("Cannot open", dir / "shared", EACCES, "Permission denied"));
  EXPECT_EQ(files.Open(dir / "own", OpenMode::ReadOnly, OpenOptions{.OwnerOnly = true})->Size(), 3);

  // Readers that deny writing share the file; a writer holding its lock keeps them out.
  {
    auto first = files.Open(dir / "own", OpenMode::ReadOnly, OpenOptions{.DenyWrite = true});
    auto second = files.Open(dir / "own", OpenMode::ReadOnly, OpenOptions{.DenyWrite = true});
    const int writer = ::open((dir / "own").c_str(), O_RDWR);
    struct flock exclusive {};
    exclusive.l_type = F_WRLCK;
    EXPECT_NE(::fcntl(writer, F_OFD_SETLK, &exclusive), 0);  // the readers hold it
    ::close(writer);
  }
  const int writer = ::open((dir / "own").c_str(), O_RDWR);
  struct flock exclusive {};
  exclusive.l_type = F_WRLCK;
  ASSERT_EQ(::fcntl(writer, F_OFD_SETLK, &exclusive), 0);
  EXPECT_EQ(CaughtError([&] {
              files.Open(dir / "own", OpenMode::ReadOnly, OpenOptions{.DenyWrite = true});
            }).Message,
            Expected("Cannot open", dir / "own", EBUSY, "Device or resource busy"));
  ::close(writer);

  // Appending writes at the end whatever position it names, and never through a link.
  {
    auto log = files.Open(dir / "log", OpenMode::Append, OpenOptions{.Permissions = 0640});
    log->WriteAllAt(0, "one,");
    log->WriteAllAt(0, "two");
    log->Close();
    auto again = files.Open(dir / "log", OpenMode::Append);
    again->WriteAllAt(0, ",three");
    again->Close();
  }
  EXPECT_EQ(ReadBack(dir / "log"), "one,two,three");
  EXPECT_EQ(PermissionsOf(dir / "log"), 0640u & ~0022u);
  EXPECT_EQ(CaughtError([&] { files.Open(dir / "link", OpenMode::Append); }).Message,
            Expected("Cannot open", dir / "link", ELOOP, "Too many levels of symbolic links"));
  EXPECT_EQ(ReadBack(dir / "own"), "abc");
}

TEST(FaultFileSystem, FaultsAreArmedByKindAndReadsCanFailToo) {
  TempFolder dir;
  dir.WriteFile("file", "contents");
  FaultFileSystem faults;
  struct Case {
    std::string_view Name;
    void (*Arm)(FaultFileSystem&);
    FileErrorKind Kind;
    std::string_view Message;
  } const kCases[] = {
      {"write", [](FaultFileSystem& f) { f.FailWrite(1, FileErrorKind::NoSpace); },
       FileErrorKind::NoSpace, "No space left on device"},
      {"sync", [](FaultFileSystem& f) { f.FailSync(1, FileErrorKind::ReadOnly); },
       FileErrorKind::ReadOnly, "Read-only file system"},
      {"rename", [](FaultFileSystem& f) { f.FailRename(1); }, FileErrorKind::Other,
       "Input/output error"},
      {"open", [](FaultFileSystem& f) { f.FailOpenForWriting(1); }, FileErrorKind::AccessDenied,
       "Permission denied"},
  };
  for (const Case& c : kCases) {
    c.Arm(faults);
    const EFileSystemError error =
        CaughtError([&] { faults.WriteFileAtomic(dir / "file", "replaced"); });
    EXPECT_EQ(error.Kind, c.Kind) << c.Name;
    EXPECT_TRUE(error.Message.ends_with(c.Message)) << c.Name << ": " << error.Message;
    EXPECT_EQ(ReadBack(dir / "file"), "contents") << c.Name;
  }
  faults.FailRead(1, FileErrorKind::Other);
  const EFileSystemError error = CaughtError([&] { faults.ReadFile(dir / "file"); });
  EXPECT_EQ(error.Message, Expected("Cannot read", dir / "file", EIO, "Input/output error"));
  EXPECT_EQ(faults.ReadFile(dir / "file"), "contents");  // it fired once
}

TEST(FileSystem, OpenBelowReadsOnlyRegularFilesReachedWithoutLinks) {
  TempFolder dir;
  FileSystem& files = OsFileSystem();
  dir.WriteFile("sub/data", "payload");
  fs::create_symlink(dir / "sub/data", dir / "sub/link");
  fs::create_symlink(dir / "sub", dir / "linked");
  const std::unique_ptr<PositionedFile> data = files.OpenBelow(dir.Path(), "sub/data");
  ASSERT_NE(data, nullptr);
  char buffer[16];
  EXPECT_EQ(std::string(buffer, data->ReadAt(0, buffer, sizeof buffer)), "payload");
  // Refused: a link at the end or on the way, a folder, a missing file or a name that
  // leaves the folder.
  struct Case {
    const char* Name;
    FileErrorKind Kind;
  } const kCases[] = {
      {"sub/link", FileErrorKind::Other}, {"linked/data", FileErrorKind::Other},
      {"sub", FileErrorKind::IsFolder},   {"sub/missing", FileErrorKind::NotFound},
      {"../x", FileErrorKind::Other},     {"/etc/passwd", FileErrorKind::Other},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(CaughtError([&] { files.OpenBelow(dir.Path(), c.Name); }).Kind, c.Kind) << c.Name;

  // A fault armed for opens reaches it, and its reads meet the read faults.
  FaultFileSystem faults;
  faults.FailOpen(1, FileErrorKind::AccessDenied);
  EXPECT_EQ(CaughtError([&] { faults.OpenBelow(dir.Path(), "sub/data"); }).Kind,
            FileErrorKind::AccessDenied);
  const std::unique_ptr<PositionedFile> wrapped = faults.OpenBelow(dir.Path(), "sub/data");
  ASSERT_NE(wrapped, nullptr);
  faults.FailRead(1, FileErrorKind::Other);
  EXPECT_EQ(CaughtError([&] { wrapped->ReadAt(0, buffer, sizeof buffer); }).Kind,
            FileErrorKind::Other);
}

TEST(FileSystem, AnOpenFilesIdentityIsThePathsAndMovesWithAWrite) {
  TempFolder dir;
  const std::string path = dir.WriteFile("file", "abc");
  const std::unique_ptr<PositionedFile> file = OsFileSystem().Open(path, OpenMode::ReadOnly);
  const std::optional<FileIdentity> before = file->Identity();
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(before, ReadFileIdentity(path));
  EXPECT_EQ(before->Size, 3);
  std::ofstream(path, std::ios::app) << "d";
  const std::optional<FileIdentity> after = file->Identity();
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->Size, 4);
  EXPECT_EQ(after->Inode, before->Inode);
  EXPECT_NE(after, before);
}

TEST(FileSystem, OwnerOnlyOpensRefuseAFifoWithoutWaitingAndTakeRootsFilesWhenAsked) {
  TempFolder dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(CaughtError([&] {
              OsFileSystem().Open(dir / "fifo", OpenMode::ReadOnly,
                                  OpenOptions{.NoFollow = true, .OwnerOnly = true});
            }).Kind,
            FileErrorKind::AccessDenied);
  // Root's own file that only root may write: refused unless root's files are welcome. As
  // another user, a root-owned file stands in the system's folders.
  const std::string rootFile = ::geteuid() == 0 ? dir.WriteFile("root", "x") : "/etc/passwd";
  if (::geteuid() == 0) ::chmod(rootFile.c_str(), 0644);
  if (::geteuid() != 0) {
    EXPECT_EQ(CaughtError([&] {
                OsFileSystem().Open(rootFile, OpenMode::ReadOnly, OpenOptions{.OwnerOnly = true});
              }).Kind,
              FileErrorKind::AccessDenied);
  }
  EXPECT_NO_THROW(OsFileSystem().Open(rootFile, OpenMode::ReadOnly,
                                      OpenOptions{.OwnerOnly = true, .OrRoot = true}));
}

TEST(FileSystem, FolderOfAPath) {
  struct Case {
    const char* path;
    const char* folder;
  } const kCases[] = {{"name", "."},   {"/name", "/"}, {"/", "/"}, {"/opt/zor/a", "/opt/zor"},
                      {"a/b/", "a/b"}, {"", "."}};
  for (const Case& c : kCases) EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace zor
