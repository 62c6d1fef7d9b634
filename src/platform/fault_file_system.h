// A file system for tests that passes every call on to another one (the operating
// system's by default) and fails the calls a test chooses, the way a failing disk would: a
// write or an fsync that fails, a short write, a disk that fills up, a rename that fails.
// Put it in place with `ScopedFileSystem`; every writer that goes through
// `CurrentFileSystem()` then meets the faults.
//
//   FaultFileSystem faults;
//   ScopedFileSystem use(faults);
//   faults.FailWrite(3);                            // the third write from now fails
//   faults.FailRename(1, FileErrorKind::ReadOnly);  // and the next rename, as read-only
//   faults.SetFreeSpace(1000);                      // NoSpace once 1000 more bytes are written
//
// Thread-safe. Files it opened must be closed before it goes.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace zor {

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base = OsFileSystem()) : Base(base) {}

  // Each of these fires once, on the n-th call of its kind counted from now (1 is the
  // next), and fails it with an error of `kind` before anything is done.
  void FailWrite(int n, FileErrorKind kind = FileErrorKind::Other);
  void FailSync(int n, FileErrorKind kind = FileErrorKind::Other);        // the fsync of a file
  void FailFolderSync(int n, FileErrorKind kind = FileErrorKind::Other);  // of a folder
  void FailRename(int n, FileErrorKind kind = FileErrorKind::Other);
  // Every mode but ReadOnly.
  void FailOpenForWriting(int n, FileErrorKind kind = FileErrorKind::AccessDenied);
  // Every open, for reading too (an open below a folder among them).
  void FailOpen(int n, FileErrorKind kind = FileErrorKind::AccessDenied);
  void FailRead(int n, FileErrorKind kind = FileErrorKind::Other);
  // The same with one particular error number of the system, for a test of how that
  // number is reported or classified.
  void FailWrite(int n, int osError);
  void FailSync(int n, int osError);
  void FailFolderSync(int n, int osError);
  void FailRename(int n, int osError);
  void FailOpenForWriting(int n, int osError);
  void FailOpen(int n, int osError);
  void FailRead(int n, int osError);
  // The n-th write from now writes only `bytes` bytes (at least one) and reports that.
  void ShortWrite(int n, size_t bytes);
  // Only `bytes` more bytes fit: the write that reaches the limit writes what fits and
  // reports the short count; every later write fails (NoSpace). nullopt: no limit.
  void SetFreeSpace(std::optional<int64_t> bytes);
  // Runs before each rename reaches the file system; it may throw or end the process.
  void OnRename(std::function<void(const std::string& from, const std::string& to)> hook);
  // Only calls on paths for which `filter` is true are counted and may fail (default: all).
  // A rename counts when either of its paths passes.
  void OnlyFor(std::function<bool(const std::string& path)> filter);
  // Disarms every fault and removes the limit, the hook and the filter.
  void Reset();

  // The calls that passed the filter since construction (failed ones included).
  struct Counts {
    int Opens = 0;
    int Reads = 0;
    int Writes = 0;
    int Syncs = 0;
    int FolderSyncs = 0;
    int Renames = 0;
    int64_t BytesWritten = 0;
  };
  Counts Seen() const;

  using FileSystem::Open;
  std::unique_ptr<PositionedFile> Open(const std::string& path, OpenMode mode,
                                       const OpenOptions& options) override;
  std::optional<FileStatus> Stat(const std::string& path, FollowLinks follow) override;
  void Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  std::vector<std::string> List(const std::string& folder) override;
  void SetPermissions(const std::string& path, uint32_t permissions) override;
  bool CreateFolder(const std::string& path, uint32_t permissions) override;
  void SyncFolder(const std::string& folder) override;
  // Counts as an open for writing.
  std::unique_ptr<PositionedFile> OpenTemporary(const std::string& folder) override;
  // Counts as an open for reading of "<folder>/<relativeName>"; its reads may fail.
  std::unique_ptr<PositionedFile> OpenBelow(const std::string& folder,
                                            const std::string& relativeName) override;
  // Counts and fails as a rename.
  void Link(const std::string& existing, const std::string& newName) override;

 private:
  class FaultFile;
  // A fault armed for the n-th call of its kind.
  struct Trigger {
    int Countdown = 0;  // 0: not armed
    int Error = 0;
    size_t Bytes = 0;
    void Arm(int n, int error, size_t bytes = 0);
    bool Fires();  // counts one call; true on the armed one
  };

  bool Applies(const std::string& path) const;
  // The bytes of a write that may go through (0: raise `error`).
  size_t AdmitWrite(const std::string& path, size_t size, int& error);
  void WriteDone(const std::string& path, size_t written);
  int AdmitSync(const std::string& path);
  int AdmitRead(const std::string& path);

  FileSystem& Base;
  mutable std::mutex Lock;
  // The error an open of `path` fails with (0: none); counts the open.
  int AdmitOpen(const std::string& path, bool writing);

  Trigger WriteFault, ShortWriteFault, SyncFault, FolderSyncFault, RenameFault, OpenFault,
      AnyOpenFault, ReadFault;
  std::optional<int64_t> FreeSpace;
  std::function<void(const std::string&, const std::string&)> RenameHook;
  std::function<bool(const std::string&)> Filter;
  Counts Calls;
};

}  // namespace zor
