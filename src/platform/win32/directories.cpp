#include "platform/directories.h"

#include <filesystem>
#include <system_error>

#include "platform/path_delimiter.h"
#include "platform/win32/wide_text.h"

namespace zor {

bool CanCreateFilesIn(const std::string& folder) {
  // Windows decides by the folder's access list: ask for the rights a new file needs.
  win32::Handle handle(::CreateFileW(win32::Wide(folder).c_str(), FILE_ADD_FILE | FILE_DELETE_CHILD,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.Valid();
}

std::string WeaklyCanonicalPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path resolved =
      std::filesystem::weakly_canonical(std::filesystem::path(win32::Wide(path)), error);
  return error ? path : win32::NarrowPath(resolved.native());
}

std::string CurrentFolder() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buffer(n, L'\0');
  const DWORD written = ::GetCurrentDirectoryW(n, buffer.data());
  if (written == 0 || written >= n) return {};
  buffer.resize(written);
  return win32::NarrowPath(buffer);
}

std::string GetTempDir() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return IncludeTrailingPathDelimiter("C:/Windows/Temp");
  return IncludeTrailingPathDelimiter(win32::NarrowPath(std::wstring_view(buffer, n)));
}

}  // namespace zor
