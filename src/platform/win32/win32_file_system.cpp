// The operating system's file system on Windows: each primitive of `FileSystem` is one call
// of the W API (paths as UTF-16), with GetLastError of a failure raised as
// `EFileSystemError`. Files are opened with every sharing flag but the one `DenyWrite`
// withholds, so that a file may be renamed or removed while others hold it open, as on Linux.
// Windows has no permission bits: the owner's write bit stands for the read-only attribute.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <utility>

#include "platform/file_system.h"
#include "platform/win32/error_codes.h"
#include "platform/win32/handle_helpers.h"
#include "platform/win32/owner_check.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

using win32::Wide;

[[noreturn]] void RaiseLast(std::string_view what, const std::string& path) {
  RaiseFileSystemError(what, path, static_cast<int>(::GetLastError()));
}

class Win32File : public PositionedFile {
 public:
  Win32File(std::string path, HANDLE handle, bool appends, bool canWriteAttributes)
      : PositionedFile(std::move(path)),
        FileHandle(handle),
        Appends(appends),
        CanWriteAttributes(canWriteAttributes) {}
  ~Win32File() override {
    if (FileHandle != INVALID_HANDLE_VALUE) ::CloseHandle(FileHandle);
  }

  size_t ReadAt(int64_t offset, void* buffer, size_t size) override {
    OVERLAPPED at = At(offset);
    DWORD done = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!::ReadFile(Live(), buffer, chunk, &done, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
      RaiseLast("Cannot read", Path());
    }
    return done;
  }

  size_t WriteAt(int64_t offset, const void* data, size_t size) override {
    if (size == 0) return 0;
    // All ones as the position writes at the end of the file.
    OVERLAPPED at = Appends ? OVERLAPPED{} : At(offset);
    if (Appends) at.Offset = at.OffsetHigh = 0xFFFFFFFF;
    DWORD done = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!::WriteFile(Live(), data, chunk, &done, &at)) RaiseLast("Cannot write", Path());
    if (done == 0) RaiseFileSystemError("Cannot write", Path(), FileErrorKind::NoSpace);
    return done;
  }

  int64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Live(), &size)) RaiseLast("Cannot query", Path());
    return size.QuadPart;
  }

  void Truncate(int64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!::SetFileInformationByHandle(Live(), FileEndOfFileInfo, &end, sizeof end))
      RaiseLast("Cannot truncate", Path());
  }

  void Sync() override {
    if (!::FlushFileBuffers(Live())) RaiseLast("Cannot sync", Path());
  }

  void SetPermissions(uint32_t permissions) override {
    if (!CanWriteAttributes) {
      // Opened for reading only: the attribute is set through the name.
      SetReadOnlyAttribute(Path(), (permissions & 0200) == 0);
      return;
    }
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(Live(), FileBasicInfo, &basic, sizeof basic))
      RaiseLast("Cannot set the permissions of", Path());
    DWORD attributes = basic.FileAttributes;
    attributes = (permissions & 0200) == 0 ? (attributes | FILE_ATTRIBUTE_READONLY)
                                           : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    basic = FILE_BASIC_INFO{};  // zero times: left as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    if (!::SetFileInformationByHandle(Live(), FileBasicInfo, &basic, sizeof basic))
      RaiseLast("Cannot set the permissions of", Path());
  }

  void SetModifiedTime(int64_t utcNs) override {
    const FILETIME time = win32::UnixNsToFileTime(utcNs);
    if (!::SetFileTime(Live(), nullptr, nullptr, &time))
      RaiseLast("Cannot set the time of", Path());
  }

  std::optional<FileIdentity> Identity() override {
    if (FileHandle == INVALID_HANDLE_VALUE) return std::nullopt;
    return win32::IdentityOfHandle(FileHandle);
  }

  void Close() override {
    const HANDLE handle = std::exchange(FileHandle, INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE && !::CloseHandle(handle)) RaiseLast("Cannot write", Path());
  }

  static void SetReadOnlyAttribute(const std::string& path, bool readOnly) {
    const std::wstring name = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) RaiseLast("Cannot set the permissions of", path);
    DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                            : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    if (wanted != attributes && !::SetFileAttributesW(name.c_str(), wanted))
      RaiseLast("Cannot set the permissions of", path);
  }

 private:
  static OVERLAPPED At(int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
  }

  HANDLE Live() const {
    if (FileHandle == INVALID_HANDLE_VALUE)
      RaiseFileSystemError("Cannot use the closed file", Path(), ERROR_INVALID_HANDLE);
    return FileHandle;
  }

  HANDLE FileHandle;
  bool Appends;
  bool CanWriteAttributes;
};

struct OpenRequest {
  DWORD Access;
  DWORD Disposition;
};

OpenRequest RequestFor(OpenMode mode) {
  constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
  switch (mode) {
    case OpenMode::ReadOnly:
      return {GENERIC_READ, OPEN_EXISTING};
    case OpenMode::ReadWrite:
      return {kReadWrite, OPEN_EXISTING};
    case OpenMode::OpenOrCreate:
      return {kReadWrite, OPEN_ALWAYS};
    case OpenMode::CreateNew:
      return {kReadWrite, CREATE_NEW};
    case OpenMode::CreateOrTruncate:
      return {kReadWrite, OPEN_ALWAYS};  // emptied after the open (see Open)
    case OpenMode::Append:
      return {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE |
                  READ_CONTROL,
              OPEN_ALWAYS};
  }
  return {GENERIC_READ, OPEN_EXISTING};
}

FileKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
  return FileKind::Regular;
}

uint32_t PermissionsOf(DWORD attributes) {
  const uint32_t read = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0555 : 0444;
  return (attributes & FILE_ATTRIBUTE_READONLY) ? read : (read | 0222);
}

bool IsFolderPath(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class Win32FileSystem : public FileSystem {
 public:
  using FileSystem::Open;
  std::unique_ptr<PositionedFile> Open(const std::string& path, OpenMode mode,
                                       const OpenOptions& options) override {
    const OpenRequest request = RequestFor(mode);
    const bool writes = mode != OpenMode::ReadOnly;
    DWORD access = request.Access | (options.OwnerOnly ? READ_CONTROL : 0);
    if (writes && mode != OpenMode::Append) access |= FILE_WRITE_ATTRIBUTES;
    const DWORD share = options.DenyWrite ? FILE_SHARE_READ | FILE_SHARE_DELETE
                                          : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // The writing modes never go through a link: the link itself is opened, and refused.
    const bool noFollow = writes || options.NoFollow;
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = ::CreateFileW(Wide(path).c_str(), access, share, nullptr, request.Disposition,
                                  flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ACCESS_DENIED && IsFolderPath(path))
        RaiseFileSystemError("Cannot open", path, FileErrorKind::IsFolder);
      // Someone holds it open for writing while we asked that nobody may.
      if (error == ERROR_SHARING_VIOLATION && options.DenyWrite)
        RaiseFileSystemError("Cannot open", path, static_cast<int>(ERROR_BUSY));
      RaiseFileSystemError("Cannot open", path, static_cast<int>(error));
    }
    auto file = std::make_unique<Win32File>(path, handle, mode == OpenMode::Append,
                                            writes && mode != OpenMode::Append);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) RaiseLast("Cannot open", path);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      RaiseFileSystemError("Cannot open", path, FileErrorKind::IsFolder);
    if (noFollow && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      RaiseFileSystemError("Cannot open", path, static_cast<int>(win32::kErrorStoppedOnSymlink));
    if (options.OwnerOnly && !win32::IsTrustedOwnHandle(handle, true, options.OrRoot))
      RaiseFileSystemError("Cannot open", path, FileErrorKind::AccessDenied);
    if (mode == OpenMode::CreateOrTruncate) file->Truncate(0);
    return file;
  }

  std::optional<FileStatus> Stat(const std::string& path, FollowLinks follow) override {
    const std::wstring name = Wide(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
      const DWORD error = ::GetLastError();
      if (FileErrorKindOf(error) == FileErrorKind::NotFound) return std::nullopt;
      RaiseFileSystemError("Cannot query", path, static_cast<int>(error));
    }
    FileStatus status;
    DWORD attributes = data.dwFileAttributes;
    FILETIME written = data.ftLastWriteTime;
    uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && follow == FollowLinks::Yes) {
      // The attributes above are the link's own; the target's come through an open handle.
      win32::Handle target(
          ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      BY_HANDLE_FILE_INFORMATION info{};
      if (!target.Valid() || !::GetFileInformationByHandle(target.Get(), &info)) {
        const DWORD error = ::GetLastError();
        if (FileErrorKindOf(error) == FileErrorKind::NotFound) return std::nullopt;
        RaiseFileSystemError("Cannot query", path, static_cast<int>(error));
      }
      attributes = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_REPARSE_POINT};
      written = info.ftLastWriteTime;
      size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    status.Kind = KindOf(attributes);
    status.Size = status.Kind == FileKind::Directory ? 0 : static_cast<int64_t>(size);
    status.ModifiedNs = win32::FileTimeToUnixNs(written);
    status.Permissions = PermissionsOf(attributes);
    return status;
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (!::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      RaiseLast("Cannot rename \"" + from + "\" to", to);
  }

  bool Remove(const std::string& path) override {
    const std::wstring name = Wide(path);
    if (::DeleteFileW(name.c_str())) return true;
    DWORD error = ::GetLastError();
    if (FileErrorKindOf(error) == FileErrorKind::NotFound) return false;
    // Removing needs no right to write the file itself, as on Linux: a read-only file goes too.
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (::SetFileAttributesW(name.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        if (::DeleteFileW(name.c_str())) return true;
        error = ::GetLastError();
        ::SetFileAttributesW(name.c_str(), attributes);
      }
    }
    RaiseFileSystemError("Cannot remove", path, static_cast<int>(error));
  }

  std::vector<std::string> List(const std::string& folder) override {
    std::wstring pattern = Wide(folder);
    if (!pattern.empty() && pattern.back() != L'/' && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) RaiseLast("Cannot list the folder", folder);
    std::vector<std::string> names;
    do {
      const std::wstring_view name = entry.cFileName;
      if (name != L"." && name != L"..") names.push_back(win32::Narrow(name));
    } while (::FindNextFileW(find, &entry));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES)
      RaiseFileSystemError("Cannot list the folder", folder, static_cast<int>(error));
    std::sort(names.begin(), names.end());
    return names;
  }

  void SetPermissions(const std::string& path, uint32_t permissions) override {
    Win32File::SetReadOnlyAttribute(path, (permissions & 0200) == 0);
  }

  bool CreateFolder(const std::string& path, uint32_t) override {
    if (::CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && IsFolderPath(path)) return false;
    RaiseFileSystemError("Cannot create the folder", path, static_cast<int>(error));
  }

  std::unique_ptr<PositionedFile> OpenTemporary(const std::string& folder) override {
    // A random name, opened with no sharing at all (nobody else can open it by name) and
    // deleted by the system when the last handle goes, also when the process dies.
    static std::atomic<uint64_t> counter{std::random_device{}()};
    const std::string base =
        folder.empty() || folder.back() == '/' || folder.back() == '\\' ? folder : folder + "/";
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, "%016llx",
                    static_cast<unsigned long long>(counter.fetch_add(0x9E3779B97F4A7C15ULL)));
      const std::string name = base + ".zor-scratch-" + suffix;
      HANDLE handle = ::CreateFileW(
          Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
          FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle != INVALID_HANDLE_VALUE)
        return std::make_unique<Win32File>(folder, handle, false, true);
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        RaiseFileSystemError("Cannot create a file in", folder, static_cast<int>(error));
    }
    RaiseFileSystemError("Cannot create a file in", folder, FileErrorKind::Exists);
  }

  std::unique_ptr<PositionedFile> OpenBelow(const std::string& folder,
                                            const std::string& relativeName) override {
    const std::string path =
        (folder.empty() || folder.back() == '/' || folder.back() == '\\' ? folder : folder + "/") +
        relativeName;
    DWORD error = 0;
    win32::Handle handle = win32::OpenRegularFileBelow(folder, relativeName, error);
    if (!handle.Valid()) RaiseFileSystemError("Cannot open", path, static_cast<int>(error));
    return std::make_unique<Win32File>(path, handle.Release(), false, false);
  }

  void Link(const std::string& existing, const std::string& newName) override {
    // Fails with ERROR_ALREADY_EXISTS when the name is taken: nothing is ever replaced.
    if (!::CreateHardLinkW(Wide(newName).c_str(), Wide(existing).c_str(), nullptr))
      RaiseLast("Cannot link \"" + existing + "\" as", newName);
  }

  void SyncFolder(const std::string& folder) override {
    // A folder's entries cannot be flushed by a program without the backup privilege; the
    // rename that changed them was written through (MOVEFILE_WRITE_THROUGH), and the file
    // system's journal keeps its entries consistent.
    const DWORD attributes = ::GetFileAttributesW(Wide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) RaiseLast("Cannot sync the folder", folder);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
      RaiseFileSystemError("Cannot sync the folder", folder, static_cast<int>(ERROR_DIRECTORY));
  }
};

}  // namespace

FileSystem& OsFileSystem() {
  // Never destroyed: threads still writing while the process exits keep a valid object.
  static Win32FileSystem* const fs = new Win32FileSystem();
  return *fs;
}

}  // namespace zor
