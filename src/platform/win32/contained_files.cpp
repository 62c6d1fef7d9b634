// Files below one folder on Windows, reached without leaving it. Each folder on the way is
// opened as itself (never through a reparse point: a link or a junction) and held open
// without the delete sharing, so nobody can rename or replace it while the walk goes on
// below it; the last part is then opened, checked and removed the same way.
#include "platform/contained_files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/win32/error_codes.h"
#include "platform/win32/handle_helpers.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

using win32::Handle;
using win32::Wide;

std::vector<std::string> SplitRelativeName(const std::string& relativeName) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= relativeName.size()) {
    size_t end = relativeName.find('/', start);
    if (end == std::string::npos) end = relativeName.size();
    parts.push_back(relativeName.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsReparsePoint(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The entry at `path` as itself; `share` without FILE_SHARE_DELETE pins its name.
Handle OpenEntry(const std::string& path, DWORD access, DWORD share,
                 BY_HANDLE_FILE_INFORMATION& info) {
  Handle handle(::CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.Valid() && !::GetFileInformationByHandle(handle.Get(), &info)) {
    const DWORD error = ::GetLastError();
    handle.Reset();
    ::SetLastError(error);
  }
  return handle;
}

// Opens every folder from `folder` down to the one holding the last part of
// `relativeName`, refusing reparse points; the handles pin the path while they are held.
// False, with the Windows error in `error`, when the name is not contained or a folder on
// the way is missing, no folder or a link.
bool PinFoldersOnTheWay(const std::string& folder, const std::string& relativeName,
                        std::vector<Handle>& pinned, std::string& holder, std::string& last,
                        DWORD& error) {
  if (!IsContainedRelativeName(relativeName)) {
    error = ERROR_INVALID_NAME;
    return false;
  }
  const std::vector<std::string> parts = SplitRelativeName(relativeName);
  holder = folder;
  for (size_t i = 0; i < parts.size(); ++i) {
    BY_HANDLE_FILE_INFORMATION info{};
    Handle step = OpenEntry(holder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, info);
    if (!step.Valid()) {
      error = ::GetLastError();
      return false;
    }
    // The folder given is taken as it is; below it, a link or junction is never entered.
    if (i > 0 && IsReparsePoint(info)) {
      error = win32::kErrorStoppedOnSymlink;
      return false;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      error = ERROR_DIRECTORY;
      return false;
    }
    pinned.push_back(std::move(step));
    if (i + 1 == parts.size()) break;
    holder += "/" + parts[i];
  }
  last = parts.back();
  return true;
}

bool PinFoldersOnTheWay(const std::string& folder, const std::string& relativeName,
                        std::vector<Handle>& pinned, std::string& holder, std::string& last) {
  DWORD ignored = 0;
  return PinFoldersOnTheWay(folder, relativeName, pinned, holder, last, ignored);
}

void ListInto(const std::string& folder, const std::string& prefix, int depth,
              std::vector<std::string>& out) {
  WIN32_FIND_DATAW entry{};
  HANDLE find = ::FindFirstFileExW(Wide(folder + "/*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::pair<std::string, DWORD>> entries;
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..")
      entries.emplace_back(win32::Narrow(name), entry.dwFileAttributes);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, attributes] : entries) {
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (!isFolder) {
      out.push_back(prefix + name);  // files, links and junctions alike, never entered
    } else if (depth < kMaxListingDepth) {
      ListInto(folder + "/" + name, prefix + name + "/", depth + 1, out);
    }
  }
}

std::atomic<bool> gComponentWalkOnly{false};

}  // namespace

std::vector<std::string> ListFilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  if (!folder.empty()) ListInto(folder, "", 0, files);
  return files;
}

bool IsContainedRelativeName(const std::string& relativeName) {
  // Besides the rules of every system: no backslash (another separator here), no colon
  // (a drive or a stream of a file).
  if (relativeName.empty() || relativeName.front() == '/' ||
      relativeName.find_first_of(std::string_view("\0\\:", 3)) != std::string::npos)
    return false;
  for (const std::string& part : SplitRelativeName(relativeName)) {
    if (part.empty() || part == "." || part == "..") return false;
  }
  return true;
}

bool DeleteFileBelow(const std::string& folder, const std::string& relativeName) {
  std::vector<Handle> pinned;
  std::string holder, last;
  if (!PinFoldersOnTheWay(folder, relativeName, pinned, holder, last)) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  // Opened for deletion as itself: a link goes, never what it points to.
  Handle entry =
      OpenEntry(holder + "/" + last, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info);
  if (!entry.Valid() ||
      ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsReparsePoint(info)))
    return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    // Removing needs no right to write the file itself, as on Linux.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        (info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(entry.Get(), FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

bool RemoveEmptyFolderBelow(const std::string& folder, const std::string& relativeName) {
  std::vector<Handle> pinned;
  std::string holder, last;
  if (!PinFoldersOnTheWay(folder, relativeName, pinned, holder, last)) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  Handle entry = OpenEntry(holder + "/" + last, DELETE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info);
  if (!entry.Valid() || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsReparsePoint(info))
    return false;
  // Deleting a folder that is not empty fails (ERROR_DIR_NOT_EMPTY).
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

void UseComponentWalkForTests(bool on) {
  // Windows has only the component walk; the switch is kept for the tests' sake.
  gComponentWalkOnly = on;
}

Handle win32::OpenRegularFileBelow(const std::string& folder, const std::string& relativeName,
                                   DWORD& error) {
  std::vector<Handle> pinned;
  std::string holder, last;
  if (!PinFoldersOnTheWay(folder, relativeName, pinned, holder, last, error)) return Handle();
  BY_HANDLE_FILE_INFORMATION info{};
  Handle file = OpenEntry(holder + "/" + last, GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info);
  if (!file.Valid()) {
    error = ::GetLastError();
    return file;
  }
  if (IsReparsePoint(info)) {
    error = win32::kErrorStoppedOnSymlink;
    return Handle();
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = win32::kErrorDirectoryNotSupported;
    return Handle();
  }
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    error = ERROR_FILE_NOT_FOUND;  // no regular file, as on Linux
    return Handle();
  }
  return file;
}

std::FILE* OpenFileBelowForReading(const std::string& folder, const std::string& relativeName) {
  DWORD error = 0;
  Handle file = win32::OpenRegularFileBelow(folder, relativeName, error);
  if (!file.Valid()) return nullptr;
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) return nullptr;
  file.Release();  // the descriptor owns it now
  std::FILE* stream = _fdopen(descriptor, "rb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

}  // namespace zor
