// Private folders on Windows: made with an access list of their own (this user and the
// system, nothing inherited), and an existing one is checked through its owner and its
// access list, as the owner and the mode are on Linux.
#include "platform/private_folder.h"

#include <windows.h>

#include <sddl.h>

#include <filesystem>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/last_error.h"
#include "platform/win32/owner_check.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

constexpr std::string_view kFolderNotOwnText =
    "The folder %s is not private to this user (another user owns it or may change it); the "
    "launcher keeps its own files only in a folder that nobody else can enter. Remove it.";

// Creates the folder with a protected list that admits this user and the system only;
// false when it exists already.
bool CreatePrivateFolder(const std::wstring& path) {
  const std::wstring sid = win32::ProcessUserSidText();
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")(A;OICI;FA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sid.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                         sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = ::CreateDirectoryW(path.c_str(), &attributes);
  const DWORD error = ::GetLastError();
  ::LocalFree(descriptor);
  ::SetLastError(error);
  return made != FALSE;
}

}  // namespace

void EnsurePrivateFolder(const std::string& path, TFolderPrivacy privacy) {
  const std::wstring wide = win32::Wide(path);
  const std::filesystem::path folder(wide);
  if (folder.has_parent_path()) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
  }
  if (!CreatePrivateFolder(wide) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    RaiseLastWin32ErrorEx("Cannot make the folder " + path);
  // The folder itself, never what a link there points to.
  win32::Handle handle(
      ::CreateFileW(wide.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle.Valid()) RaiseLastWin32ErrorEx("Cannot read the folder " + path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.Get(), &info))
    RaiseLastWin32ErrorEx("Cannot read the folder " + path);
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    throw EPrivateFolderError(Format(kFolderNotAFolderText, {path}));
  if (!win32::IsTrustedOwnHandle(handle.Get(), privacy == TFolderPrivacy::OthersMayRead))
    throw EPrivateFolderError(Format(kFolderNotOwnText, {path}));
}

}  // namespace zor
