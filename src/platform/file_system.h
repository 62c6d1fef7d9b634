// The one way the programs read and write their files: a `FileSystem` of a few primitive
// calls (open, stat, rename, remove, list, create a folder, sync a folder) and, built on
// those, what writers need: read a whole file, replace a file atomically and durably, rename
// durably. The process default is the operating system's (posix/posix_file_system.cpp); a
// test puts another in its place with `ScopedFileSystem`, usually a `FaultFileSystem`
// (fault_file_system.h) that makes a chosen write, sync or rename fail. Because the composite
// operations only call the primitives, a fault injected there reaches every writer.
//
// How to use it:
//   FileSystem& fs = CurrentFileSystem();
//   std::optional<std::string> text = fs.ReadFile(path, kLimit);  // nullopt: no such file
//   fs.WriteFileAtomic(path, contents);                             // small, held in memory
//   AtomicFile out = fs.BeginReplace(path, {.Permissions = 0644}); // streamed
//   out.Append(block); ...; out.Commit();                           // without Commit the
//                                                                   // old file stays
// A replacement writes "<path>.~<16 hex digits>.tmp" in the target's folder, created new
// (O_EXCL, never through a link) with the given permissions (0600 by default: what a program
// writes for itself is private), fsyncs it, renames it over the target and fsyncs the folder,
// so after a crash or a power cut the target is the old file or the whole new one. On any
// failure before the rename the temporary is removed and the target is untouched.
//
// A partial file that grows across runs (a resumable download) is opened with `Open` and
// written with `WriteAllAt` at the position it had reached; `Sync` it before handing it on
// with `RenameDurably`. `RemoveStaleTemporaries` clears what a killed replacement left.
//
// Every failure raises `EFileSystemError` (an `EWin32ErrorEx`): `Kind` says what went wrong
// (file_error_kind.h; callers decide by it), `ErrorCode` is the system's error number, `Path`
// the file it concerns, and the message "<what> "<path>" (<number>)<text>", for example:
// Cannot write "/opt/zor/IClient" (28)No space left on device
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"
#include "platform/file_error_kind.h"
#include "platform/file_identity.h"

namespace zor {

// What the program writes for itself is readable by its user only.
inline constexpr uint32_t kPrivateFileMode = 0600;
inline constexpr uint32_t kPrivateFolderMode = 0700;
// `ReadFile` refuses larger files unless the caller allows more.
inline constexpr size_t kDefaultReadLimit = 64u * 1024 * 1024;

// A failed file-system call: `Kind` what went wrong, `ErrorCode` the system's error number,
// `Path` the file concerned.
class EFileSystemError : public EWin32ErrorEx {
 public:
  EFileSystemError(std::string message, uint32_t errorCode, std::string path)
      : EWin32ErrorEx(std::move(message), errorCode),
        Path(std::move(path)),
        Kind(FileErrorKindOf(errorCode)) {}
  const char* ClassName() const noexcept override { return "EFileSystemError"; }
  Exception* Clone() const override { return new EFileSystemError(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  std::string Path;
  FileErrorKind Kind;
};

// Raises `EFileSystemError` "<what> "<path>" (<error>)<system text>"; `error` is the
// system's error number.
[[noreturn]] void RaiseFileSystemError(std::string_view what, const std::string& path, int error);
// The same for a failure of the given kind that the program found itself.
[[noreturn]] void RaiseFileSystemError(std::string_view what, const std::string& path,
                                       FileErrorKind kind);

enum class FileKind { Regular, Directory, Link, Other };
enum class FollowLinks { No, Yes };

struct FileStatus {
  FileKind Kind = FileKind::Regular;
  int64_t Size = 0;
  int64_t ModifiedNs = 0;    // last-write time, UTC nanoseconds since 1970
  uint32_t Permissions = 0;  // the permission bits (07777)
};

enum class OpenMode {
  ReadOnly,          // an existing file, for reading; a link as the last part is followed
  ReadWrite,         // an existing file, for reading and writing
  OpenOrCreate,      // for reading and writing, created when missing
  CreateNew,         // for reading and writing; fails (Exists) when the name is taken
  CreateOrTruncate,  // for reading and writing, emptied when it exists
  Append,            // for writing, created when missing; every write goes to the end,
                     // whatever position it names (a log several writers share)
};

// How a file is opened beyond its mode.
struct OpenOptions {
  // A new file's permissions (less the umask).
  uint32_t Permissions = kPrivateFileMode;
  // A link as the last part of the path is refused for ReadOnly too (the writing modes
  // never follow one).
  bool NoFollow = false;
  // While the file stays open, nobody who takes a lock to write it may: a shared lock on the
  // whole file. Held by a writer, the open fails (Other, "busy").
  bool DenyWrite = false;
  // Only a regular file of this process's user that nobody else may write is opened; any
  // other fails (AccessDenied). For what the program keeps between runs. A FIFO at the
  // name fails the same way instead of blocking the open.
  bool OwnerOnly = false;
  // With OwnerOnly: a file of root that only root may write passes too (a per-machine
  // install).
  bool OrRoot = false;
};

// An open file, read and written at given positions (no shared file pointer, so two
// threads may use one file). Closes itself quietly; `Close` reports a failing close.
class PositionedFile {
 public:
  explicit PositionedFile(std::string path) : FilePath(std::move(path)) {}
  virtual ~PositionedFile() = default;
  PositionedFile(const PositionedFile&) = delete;
  PositionedFile& operator=(const PositionedFile&) = delete;

  const std::string& Path() const { return FilePath; }

  // Up to `size` bytes from `offset`; 0 at the end of the file.
  virtual size_t ReadAt(int64_t offset, void* buffer, size_t size) = 0;
  // Writes up to `size` bytes at `offset` and returns how many it wrote (at least one
  // unless `size` is 0); a short count is not an error. Use `WriteAllAt` for all of them.
  virtual size_t WriteAt(int64_t offset, const void* data, size_t size) = 0;
  virtual int64_t Size() = 0;
  virtual void Truncate(int64_t size) = 0;
  // Makes the contents and the file's own metadata durable (fsync).
  virtual void Sync() = 0;
  virtual void SetPermissions(uint32_t permissions) = 0;
  virtual void SetModifiedTime(int64_t utcNs) = 0;
  // Which file this is and when it last changed (file_identity.h); nullopt when it cannot be
  // queried or is not a regular file.
  virtual std::optional<FileIdentity> Identity() = 0;
  virtual void Close() = 0;

  // Writes every byte at `offset`, continuing after short writes.
  void WriteAllAt(int64_t offset, std::string_view data);
  void WriteAllAt(int64_t offset, const void* data, size_t size) {
    WriteAllAt(offset, std::string_view(static_cast<const char*>(data), size));
  }
  // Exactly `size` bytes from `offset`; the end of the file coming first raises EIO.
  void ReadExactAt(int64_t offset, void* buffer, size_t size);

 private:
  std::string FilePath;
};

class FileSystem;

// Options of a replacement: the new file's permissions (set exactly, the umask does not
// apply), its last-write time (kept as the file system's own time when not given), and
// whether it must survive a power cut. `Durable = false` skips both fsyncs; the
// replacement is still atomic for a process that dies, so it suits a small file rewritten
// very often whose loss after a power cut only costs repeated work. `SyncFolder = false`
// keeps the file's fsync but not the folder's, for a replacement that is renamed again,
// durably, before anything relies on it.
struct ReplaceOptions {
  uint32_t Permissions = kPrivateFileMode;
  std::optional<int64_t> ModifiedNs;
  bool Durable = true;
  bool SyncFolder = true;
};

// A replacement in progress: bytes go to the temporary file; `Commit` puts it in place of
// the target. Destroyed or abandoned without `Commit` (or after any failure) it removes the
// temporary and leaves the target as it was. Must not outlive its file system.
class AtomicFile {
 public:
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  const std::string& TargetPath() const { return Target; }
  const std::string& TemporaryPath() const { return Temporary; }
  int64_t Size() const { return Written; }

  // Adds bytes at the end. A failure abandons the replacement and raises.
  void Append(std::string_view data);
  void Append(const void* data, size_t size) {
    Append(std::string_view(static_cast<const char*>(data), size));
  }
  // Sets permissions and time, fsyncs, closes, renames over the target and fsyncs the
  // folder. A failure before the rename abandons the replacement and raises; a failing
  // folder sync after it raises with the new file already in place.
  void Commit();
  // Closes and removes the temporary; the target stays as it was. Never raises.
  void Abandon() noexcept;

 private:
  friend class FileSystem;
  AtomicFile(FileSystem& fs, std::string target, std::string temporary,
             std::unique_ptr<PositionedFile> file, ReplaceOptions options);
  void RequireOpen() const;

  FileSystem* Fs = nullptr;
  std::string Target;
  std::string Temporary;
  std::unique_ptr<PositionedFile> File;
  ReplaceOptions Options;
  int64_t Written = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // ---- primitives: each is one call of the operating system ----
  // Opens `path` as `options` say. Links are never followed when writing. A folder is not
  // a file: opening one raises IsFolder.
  virtual std::unique_ptr<PositionedFile> Open(const std::string& path, OpenMode mode,
                                               const OpenOptions& options) = 0;
  // The same with only a new file's permissions given.
  std::unique_ptr<PositionedFile> Open(const std::string& path, OpenMode mode,
                                       uint32_t permissions = kPrivateFileMode) {
    return Open(path, mode, OpenOptions{.Permissions = permissions});
  }
  // The entry's status, or nullopt when it does not exist (NotFound).
  virtual std::optional<FileStatus> Stat(const std::string& path, FollowLinks follow) = 0;
  // Renames `from` to `to`, replacing a file there in one step.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Removes a file or link (never a folder); false when there was none.
  virtual bool Remove(const std::string& path) = 0;
  // The names in `folder` (without "." and ".."), in byte order.
  virtual std::vector<std::string> List(const std::string& folder) = 0;
  // Sets the permission bits (07777) of the file or folder at `path` (a link is followed).
  virtual void SetPermissions(const std::string& path, uint32_t permissions) = 0;
  // Creates one folder; false when a folder of that name already exists.
  virtual bool CreateFolder(const std::string& path, uint32_t permissions) = 0;
  // Makes the folder's entries durable (fsync of the folder), after a create or rename.
  virtual void SyncFolder(const std::string& folder) = 0;
  // A new private file in `folder` for reading and writing that no other process can open
  // by name and that is gone when closed (or when the process dies): scratch space.
  virtual std::unique_ptr<PositionedFile> OpenTemporary(const std::string& folder) = 0;
  // Opens the regular file `relativeName` ('/' between its parts) below `folder` for reading,
  // reached without following any link and without leaving the folder (see
  // contained_files.h), so that a file swapped for a link (to a secret of the machine) after
  // a scan is never read. A name that is not contained, a link, a folder or anything but a
  // regular file raises.
  virtual std::unique_ptr<PositionedFile> OpenBelow(const std::string& folder,
                                                    const std::string& relativeName) = 0;
  // Gives the file `existing` the second name `newName` (a hard link) in one step; raises
  // Exists when that name is taken, so it never replaces a file. The operating system's
  // unless a file system says otherwise.
  virtual void Link(const std::string& existing, const std::string& newName);

  // ---- built on the primitives ----
  // Whether `path` is a regular file, or a folder (links followed); false also when it
  // cannot be looked at.
  bool IsFile(const std::string& path);
  bool IsFolder(const std::string& path);
  // Removes the file or link when it is there; a failure is passed over (false).
  bool RemoveIfPresent(const std::string& path) noexcept;
  // The whole file, or nullopt when it does not exist. A file over `maxBytes` raises
  // TooLarge ("File too large") before anything is read.
  std::optional<std::string> ReadFile(const std::string& path, size_t maxBytes = kDefaultReadLimit);
  // Replaces `path` with `contents` atomically (see the top of this header).
  void WriteFileAtomic(const std::string& path, std::string_view contents,
                       const ReplaceOptions& options = {});
  // Starts a streamed replacement of `path`; its folder must exist.
  AtomicFile BeginReplace(const std::string& path, const ReplaceOptions& options = {});
  // Renames, then fsyncs the destination's folder (and the source's when it differs).
  void RenameDurably(const std::string& from, const std::string& to);
  // Creates `path` and every missing parent with `permissions`; true when it created any.
  // A level that exists as something other than a folder raises Exists for that level.
  bool CreateFolders(const std::string& path, uint32_t permissions = kPrivateFolderMode);
  // Removes the temporaries that interrupted replacements of `path` left behind; returns
  // how many. Only safe while no other process is replacing the same file.
  int RemoveStaleTemporaries(const std::string& path);
};

// Whether `name` (a name without folder) is a replacement temporary of the file `target`.
bool IsReplacementTemporaryOf(std::string_view name, std::string_view targetName);

// The folder part of `path` ("." when it has none).
std::string FolderOf(const std::string& path);

// The operating system's file system.
FileSystem& OsFileSystem();
// The process default: the operating system's unless a test substituted another.
FileSystem& CurrentFileSystem();

// Makes `fs` the process default while alive, then restores the previous one. Meant for
// tests; files opened through `fs` must be closed before it goes.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* Previous;
};

}  // namespace zor
