#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>

#include "base/format.h"
#include "platform/last_error.h"
#include "platform/path_delimiter.h"

namespace zor {
namespace {

constexpr std::string_view kTemporaryInfix = ".~";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr size_t kTemporaryDigits = 16;
// Names are random; a clash with a live temporary is retried this often before giving up.
constexpr int kTemporaryNameAttempts = 16;
constexpr size_t kReadBlock = 65536;

std::atomic<FileSystem*> gCurrent{nullptr};

std::string TemporaryNameFor(const std::string& target) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return target + std::string(kTemporaryInfix) + suffix + std::string(kTemporarySuffix);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

void RaiseFileSystemError(std::string_view what, const std::string& path, int error) {
  const int number = error != 0 ? error : static_cast<int>(OsErrorOf(FileErrorKind::Other));
  throw EFileSystemError(
      Format("%s \"%s\" (%d)%s",
             {what, path, number, SystemErrorMessage(static_cast<uint32_t>(number))}),
      static_cast<uint32_t>(number), path);
}

void RaiseFileSystemError(std::string_view what, const std::string& path, FileErrorKind kind) {
  RaiseFileSystemError(what, path, static_cast<int>(OsErrorOf(kind)));
}

void PositionedFile::WriteAllAt(int64_t offset, std::string_view data) {
  while (!data.empty()) {
    const size_t written = WriteAt(offset, data.data(), data.size());
    if (written == 0 || written > data.size())
      RaiseFileSystemError("Cannot write", Path(), FileErrorKind::Other);
    offset += static_cast<int64_t>(written);
    data.remove_prefix(written);
  }
}

void PositionedFile::ReadExactAt(int64_t offset, void* buffer, size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const size_t got = ReadAt(offset, bytes, size);
    if (got == 0)
      RaiseFileSystemError("Cannot read", Path(), FileErrorKind::Other);  // the end came first
    bytes += got;
    offset += static_cast<int64_t>(got);
    size -= got;
  }
}

AtomicFile::AtomicFile(FileSystem& fs, std::string target, std::string temporary,
                       std::unique_ptr<PositionedFile> file, ReplaceOptions options)
    : Fs(&fs),
      Target(std::move(target)),
      Temporary(std::move(temporary)),
      File(std::move(file)),
      Options(std::move(options)) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : Fs(other.Fs),
      Target(std::move(other.Target)),
      Temporary(std::move(other.Temporary)),
      File(std::move(other.File)),
      Options(std::move(other.Options)),
      Written(other.Written) {}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    Abandon();
    Fs = other.Fs;
    Target = std::move(other.Target);
    Temporary = std::move(other.Temporary);
    File = std::move(other.File);
    Options = std::move(other.Options);
    Written = other.Written;
  }
  return *this;
}

AtomicFile::~AtomicFile() {
  Abandon();
}

void AtomicFile::RequireOpen() const {
  if (!File) throw Exception(Format("The replacement of \"%s\" has already ended.", {Target}));
}

void AtomicFile::Append(std::string_view data) {
  RequireOpen();
  try {
    File->WriteAllAt(Written, data);
    Written += static_cast<int64_t>(data.size());
  } catch (...) {
    Abandon();
    throw;
  }
}

void AtomicFile::Commit() {
  RequireOpen();
  try {
    File->SetPermissions(Options.Permissions);
    if (Options.ModifiedNs) File->SetModifiedTime(*Options.ModifiedNs);
    if (Options.Durable) File->Sync();
    File->Close();
    File.reset();
    Fs->Rename(Temporary, Target);
  } catch (...) {
    Abandon();
    throw;
  }
  Temporary.clear();  // it is the target now
  if (Options.Durable && Options.SyncFolder) Fs->SyncFolder(FolderOf(Target));
}

void AtomicFile::Abandon() noexcept {
  File.reset();  // closes quietly
  if (Temporary.empty() || !Fs) return;
  try {
    Fs->Remove(Temporary);
  } catch (...) {
    // Nothing better to do: the name is unique and `RemoveStaleTemporaries` finds it later.
  }
  Temporary.clear();
}

namespace {

std::optional<FileKind> KindOf(FileSystem& fs, const std::string& path) {
  try {
    const std::optional<FileStatus> status = fs.Stat(path, FollowLinks::Yes);
    if (status) return status->Kind;
  } catch (const EFileSystemError&) {
    // Cannot be looked at: neither.
  }
  return std::nullopt;
}

}  // namespace

void FileSystem::Link(const std::string& existing, const std::string& newName) {
  OsFileSystem().Link(existing, newName);
}

bool FileSystem::IsFile(const std::string& path) {
  return KindOf(*this, path) == FileKind::Regular;
}

bool FileSystem::IsFolder(const std::string& path) {
  return KindOf(*this, path) == FileKind::Directory;
}

bool FileSystem::RemoveIfPresent(const std::string& path) noexcept {
  try {
    return Remove(path);
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<std::string> FileSystem::ReadFile(const std::string& path, size_t maxBytes) {
  std::unique_ptr<PositionedFile> file;
  try {
    file = Open(path, OpenMode::ReadOnly);
  } catch (const EFileSystemError& e) {
    if (e.Kind == FileErrorKind::NotFound) return std::nullopt;
    throw;
  }
  const int64_t size = file->Size();
  if (size < 0 || static_cast<uint64_t>(size) > maxBytes)
    RaiseFileSystemError("Cannot read", path, FileErrorKind::TooLarge);
  std::string data(static_cast<size_t>(size), '\0');
  size_t got = 0;
  // The file may change while it is read: take what is there, up to the limit.
  for (;;) {
    if (got == data.size()) {
      if (data.size() >= maxBytes) {
        char probe;
        if (file->ReadAt(static_cast<int64_t>(got), &probe, 1) != 0)
          RaiseFileSystemError("Cannot read", path, FileErrorKind::TooLarge);
        break;
      }
      data.resize(std::min(maxBytes, data.size() + kReadBlock));
    }
    const size_t n = file->ReadAt(static_cast<int64_t>(got), data.data() + got, data.size() - got);
    if (n == 0) break;
    got += n;
  }
  data.resize(got);
  return data;
}

AtomicFile FileSystem::BeginReplace(const std::string& path, const ReplaceOptions& options) {
  for (int attempt = 1;; ++attempt) {
    std::string temporary = TemporaryNameFor(path);
    try {
      std::unique_ptr<PositionedFile> file =
          Open(temporary, OpenMode::CreateNew, options.Permissions);
      return AtomicFile(*this, path, std::move(temporary), std::move(file), options);
    } catch (const EFileSystemError& e) {
      if (e.Kind != FileErrorKind::Exists || attempt == kTemporaryNameAttempts) throw;
    }
  }
}

void FileSystem::WriteFileAtomic(const std::string& path, std::string_view contents,
                                 const ReplaceOptions& options) {
  AtomicFile file = BeginReplace(path, options);
  file.Append(contents);
  file.Commit();
}

void FileSystem::RenameDurably(const std::string& from, const std::string& to) {
  Rename(from, to);
  const std::string toFolder = FolderOf(to);
  SyncFolder(toFolder);
  if (const std::string fromFolder = FolderOf(from); fromFolder != toFolder) SyncFolder(fromFolder);
}

bool FileSystem::CreateFolders(const std::string& path, uint32_t permissions) {
  bool created = false;
  size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('/', end + 1);
    const std::string level = path.substr(0, end);
    if (level.empty() || level.back() == '/') continue;  // the root, or a doubled '/'
    const std::optional<FileStatus> status = Stat(level, FollowLinks::Yes);
    if (status && status->Kind == FileKind::Directory) continue;
    if (status) RaiseFileSystemError("Cannot create the folder", level, FileErrorKind::Exists);
    created = CreateFolder(level, permissions) || created;
  }
  return created;
}

int FileSystem::RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string target = NameOf(path);
  int removed = 0;
  for (const std::string& name : List(folder)) {
    if (IsReplacementTemporaryOf(name, target) && Remove(folder + "/" + name)) ++removed;
  }
  return removed;
}

bool IsReplacementTemporaryOf(std::string_view name, std::string_view targetName) {
  const size_t expected =
      targetName.size() + kTemporaryInfix.size() + kTemporaryDigits + kTemporarySuffix.size();
  if (name.size() != expected || !name.starts_with(targetName) || !name.ends_with(kTemporarySuffix))
    return false;
  name.remove_prefix(targetName.size());
  if (!name.starts_with(kTemporaryInfix)) return false;
  name.remove_prefix(kTemporaryInfix.size());
  for (size_t i = 0; i < kTemporaryDigits; ++i) {
    if (!IsHexDigit(name[i])) return false;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  std::string folder = FolderWithDelimiter(path);
  if (folder.empty()) return ".";
  if (folder.size() > 1) folder.pop_back();  // the root keeps its only delimiter
  return folder;
}

FileSystem& CurrentFileSystem() {
  FileSystem* current = gCurrent.load(std::memory_order_acquire);
  return current ? *current : OsFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& fs)
    : Previous(gCurrent.exchange(&fs, std::memory_order_acq_rel)) {}

ScopedFileSystem::~ScopedFileSystem() {
  gCurrent.store(Previous, std::memory_order_release);
}

}  // namespace zor
