#include "platform/file_lock.h"

#include "platform/file_system.h"
#include "platform/win32/error_codes.h"
#include "platform/win32/wide_text.h"

namespace zor {

LockFile::LockFile(const std::string& path, uint32_t) : Path(path) {
  HANDLE handle =
      ::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    RaiseFileSystemError("Cannot open", path, static_cast<int>(::GetLastError()));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::CloseHandle(handle);
    RaiseFileSystemError("Cannot open", path, static_cast<int>(win32::kErrorStoppedOnSymlink));
  }
  Handle = reinterpret_cast<intptr_t>(handle);
}

LockFile::~LockFile() {
  ::CloseHandle(reinterpret_cast<HANDLE>(Handle));
}

void LockFile::LockExclusive() {
  // The whole file, however long it grows; the lock ends with the handle.
  OVERLAPPED at{};
  if (!::LockFileEx(reinterpret_cast<HANDLE>(Handle), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD,
                    MAXDWORD, &at))
    RaiseFileSystemError("Cannot lock", Path, static_cast<int>(::GetLastError()));
}

}  // namespace zor
