// Reading a file's version resource straight from the file with positioned reads.
#include <windows.h>

#include "platform/pe_version.h"
#include "platform/win32/error_codes.h"
#include "platform/win32/wide_text.h"

namespace zor {

FileVersionLookup ReadFileVersion(const std::string& path) {
  FileVersionLookup result;
  win32::Handle file(::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    result.OsError = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(win32::Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      result.OsError = win32::kErrorDirectoryNotSupported;
    return result;
  }
  DWORD readError = 0;
  result.Version = ReadPeVersion([&](uint64_t offset, void* out, size_t size) {
    auto* bytes = static_cast<char*>(out);
    while (size > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD n = 0;
      if (!::ReadFile(file.Get(), bytes, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &n,
                      &at)) {
        if (::GetLastError() != ERROR_HANDLE_EOF) readError = ::GetLastError();
        return false;
      }
      if (n == 0) return false;
      bytes += n;
      offset += n;
      size -= n;
    }
    return true;
  });
  if (readError != 0) {
    result.OsError = readError;
    result.Version.reset();
  }
  return result;
}

}  // namespace zor
