#include "platform/fault_file_system.h"

#include <algorithm>

namespace zor {

// A file of the base file system whose writes and syncs pass the owner's faults first.
class FaultFileSystem::FaultFile : public PositionedFile {
 public:
  FaultFile(FaultFileSystem& owner, std::unique_ptr<PositionedFile> base)
      : PositionedFile(base->Path()), Owner(owner), Base(std::move(base)) {}

  size_t ReadAt(int64_t offset, void* buffer, size_t size) override {
    if (const int error = Owner.AdmitRead(Path()))
      RaiseFileSystemError("Cannot read", Path(), error);
    return Base->ReadAt(offset, buffer, size);
  }

  size_t WriteAt(int64_t offset, const void* data, size_t size) override {
    if (size == 0) return 0;
    int error = 0;
    const size_t allowed = Owner.AdmitWrite(Path(), size, error);
    if (allowed == 0) RaiseFileSystemError("Cannot write", Path(), error);
    const size_t written = Base->WriteAt(offset, data, allowed);
    Owner.WriteDone(Path(), written);
    return written;
  }

  int64_t Size() override { return Base->Size(); }
  void Truncate(int64_t size) override { Base->Truncate(size); }

  void Sync() override {
    if (const int error = Owner.AdmitSync(Path()))
      RaiseFileSystemError("Cannot sync", Path(), error);
    Base->Sync();
  }

  void SetPermissions(uint32_t permissions) override { Base->SetPermissions(permissions); }
  void SetModifiedTime(int64_t utcNs) override { Base->SetModifiedTime(utcNs); }
  std::optional<FileIdentity> Identity() override { return Base->Identity(); }
  void Close() override { Base->Close(); }

 private:
  FaultFileSystem& Owner;
  std::unique_ptr<PositionedFile> Base;
};

void FaultFileSystem::Trigger::Arm(int n, int error, size_t bytes) {
  Countdown = std::max(n, 0);
  Error = error;
  Bytes = bytes;
}

bool FaultFileSystem::Trigger::Fires() {
  return Countdown > 0 && --Countdown == 0;
}

void FaultFileSystem::FailWrite(int n, int error) {
  std::lock_guard guard(Lock);
  WriteFault.Arm(n, error);
}

void FaultFileSystem::FailSync(int n, int error) {
  std::lock_guard guard(Lock);
  SyncFault.Arm(n, error);
}

void FaultFileSystem::FailFolderSync(int n, int error) {
  std::lock_guard guard(Lock);
  FolderSyncFault.Arm(n, error);
}

void FaultFileSystem::FailRename(int n, int error) {
  std::lock_guard guard(Lock);
  RenameFault.Arm(n, error);
}

void FaultFileSystem::FailOpenForWriting(int n, int error) {
  std::lock_guard guard(Lock);
  OpenFault.Arm(n, error);
}

void FaultFileSystem::FailOpen(int n, int error) {
  std::lock_guard guard(Lock);
  AnyOpenFault.Arm(n, error);
}

void FaultFileSystem::FailOpen(int n, FileErrorKind kind) {
  FailOpen(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailWrite(int n, FileErrorKind kind) {
  FailWrite(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailSync(int n, FileErrorKind kind) {
  FailSync(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailFolderSync(int n, FileErrorKind kind) {
  FailFolderSync(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailRename(int n, FileErrorKind kind) {
  FailRename(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailOpenForWriting(int n, FileErrorKind kind) {
  FailOpenForWriting(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailRead(int n, FileErrorKind kind) {
  FailRead(n, static_cast<int>(OsErrorOf(kind)));
}

void FaultFileSystem::FailRead(int n, int error) {
  std::lock_guard guard(Lock);
  ReadFault.Arm(n, error);
}

void FaultFileSystem::ShortWrite(int n, size_t bytes) {
  std::lock_guard guard(Lock);
  ShortWriteFault.Arm(n, 0, std::max<size_t>(bytes, 1));
}

void FaultFileSystem::SetFreeSpace(std::optional<int64_t> bytes) {
  std::lock_guard guard(Lock);
  FreeSpace = bytes;
}

void FaultFileSystem::OnRename(std::function<void(const std::string&, const std::string&)> hook) {
  std::lock_guard guard(Lock);
  RenameHook = std::move(hook);
}

void FaultFileSystem::OnlyFor(std::function<bool(const std::string&)> filter) {
  std::lock_guard guard(Lock);
  Filter = std::move(filter);
}

void FaultFileSystem::Reset() {
  std::lock_guard guard(Lock);
  WriteFault = ShortWriteFault = SyncFault = FolderSyncFault = RenameFault = OpenFault =
      AnyOpenFault = ReadFault = Trigger{};
  FreeSpace.reset();
  RenameHook = nullptr;
  Filter = nullptr;
}

FaultFileSystem::Counts FaultFileSystem::Seen() const {
  std::lock_guard guard(Lock);
  return Calls;
}

bool FaultFileSystem::Applies(const std::string& path) const {
  return !Filter || Filter(path);
}

size_t FaultFileSystem::AdmitWrite(const std::string& path, size_t size, int& error) {
  std::lock_guard guard(Lock);
  if (!Applies(path)) return size;
  ++Calls.Writes;
  // Every armed trigger counts this call, even when an earlier one already failed it.
  const bool fails = WriteFault.Fires();
  const bool shortened = ShortWriteFault.Fires();
  if (fails) {
    error = WriteFault.Error;
    return 0;
  }
  if (shortened) size = std::min(size, ShortWriteFault.Bytes);
  if (FreeSpace) {
    if (*FreeSpace <= 0) {
      error = static_cast<int>(OsErrorOf(FileErrorKind::NoSpace));
      return 0;
    }
    size = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), *FreeSpace));
  }
  return size;
}

void FaultFileSystem::WriteDone(const std::string& path, size_t written) {
  std::lock_guard guard(Lock);
  if (!Applies(path)) return;
  Calls.BytesWritten += static_cast<int64_t>(written);
  if (FreeSpace) *FreeSpace -= static_cast<int64_t>(written);
}

int FaultFileSystem::AdmitSync(const std::string& path) {
  std::lock_guard guard(Lock);
  if (!Applies(path)) return 0;
  ++Calls.Syncs;
  return SyncFault.Fires() ? SyncFault.Error : 0;
}

int FaultFileSystem::AdmitRead(const std::string& path) {
  std::lock_guard guard(Lock);
  if (!Applies(path)) return 0;
  ++Calls.Reads;
  return ReadFault.Fires() ? ReadFault.Error : 0;
}

int FaultFileSystem::AdmitOpen(const std::string& path, bool writing) {
  std::lock_guard guard(Lock);
  if (!Applies(path)) return 0;
  ++Calls.Opens;
  // Both armed triggers count this call, even when the first already fails it.
  const bool anyFails = AnyOpenFault.Fires();
  const bool writeFails = writing && OpenFault.Fires();
  if (anyFails) return AnyOpenFault.Error;
  return writeFails ? OpenFault.Error : 0;
}

std::unique_ptr<PositionedFile> FaultFileSystem::Open(const std::string& path, OpenMode mode,
                                                      const OpenOptions& options) {
  if (const int error = AdmitOpen(path, mode != OpenMode::ReadOnly))
    RaiseFileSystemError("Cannot open", path, error);
  return std::make_unique<FaultFile>(*this, Base.Open(path, mode, options));
}

std::unique_ptr<PositionedFile> FaultFileSystem::OpenTemporary(const std::string& folder) {
  if (const int error = AdmitOpen(folder, true))
    RaiseFileSystemError("Cannot create a file in", folder, error);
  return std::make_unique<FaultFile>(*this, Base.OpenTemporary(folder));
}

std::unique_ptr<PositionedFile> FaultFileSystem::OpenBelow(const std::string& folder,
                                                           const std::string& relativeName) {
  const std::string path =
      (folder.empty() || folder.back() == '/' ? folder : folder + "/") + relativeName;
  if (const int error = AdmitOpen(path, false)) RaiseFileSystemError("Cannot open", path, error);
  return std::make_unique<FaultFile>(*this, Base.OpenBelow(folder, relativeName));
}

void FaultFileSystem::SetPermissions(const std::string& path, uint32_t permissions) {
  Base.SetPermissions(path, permissions);
}

std::optional<FileStatus> FaultFileSystem::Stat(const std::string& path, FollowLinks follow) {
  return Base.Stat(path, follow);
}

void FaultFileSystem::Link(const std::string& existing, const std::string& newName) {
  {
    std::lock_guard guard(Lock);
    if (Applies(existing) || Applies(newName)) {
      ++Calls.Renames;
      if (RenameFault.Fires())
        RaiseFileSystemError("Cannot link \"" + existing + "\" as", newName, RenameFault.Error);
    }
  }
  Base.Link(existing, newName);
}

void FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  std::function<void(const std::string&, const std::string&)> hook;
  {
    std::lock_guard guard(Lock);
    if (Applies(from) || Applies(to)) {
      ++Calls.Renames;
      if (RenameFault.Fires())
        RaiseFileSystemError("Cannot rename \"" + from + "\" to", to, RenameFault.Error);
      hook = RenameHook;
    }
  }
  if (hook) hook(from, to);
  Base.Rename(from, to);
}

bool FaultFileSystem::Remove(const std::string& path) {
  return Base.Remove(path);
}

std::vector<std::string> FaultFileSystem::List(const std::string& folder) {
  return Base.List(folder);
}

bool FaultFileSystem::CreateFolder(const std::string& path, uint32_t permissions) {
  return Base.CreateFolder(path, permissions);
}

void FaultFileSystem::SyncFolder(const std::string& folder) {
  {
    std::lock_guard guard(Lock);
    if (Applies(folder)) {
      ++Calls.FolderSyncs;
      if (FolderSyncFault.Fires())
        RaiseFileSystemError("Cannot sync the folder", folder, FolderSyncFault.Error);
    }
  }
  Base.SyncFolder(folder);
}

}  // namespace zor
