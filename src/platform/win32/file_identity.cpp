// A file's identity from its handle: the volume serial number and the 64-bit file index
// stand for device and inode; the change time is NTFS's own.
#include "platform/file_identity.h"

#include "platform/win32/handle_helpers.h"
#include "platform/win32/wide_text.h"

namespace zor {

std::optional<FileIdentity> win32::IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(handle, &info) ||
      !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
    return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileIdentity identity;
  identity.Device = info.dwVolumeSerialNumber;
  identity.Inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.Size =
      static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  identity.ModifiedNs = win32::FileTimeToUnixNs(info.ftLastWriteTime);
  FILETIME changed;
  changed.dwLowDateTime = static_cast<DWORD>(basic.ChangeTime.QuadPart);
  changed.dwHighDateTime =
      static_cast<DWORD>(static_cast<uint64_t>(basic.ChangeTime.QuadPart) >> 32);
  identity.ChangedNs = win32::FileTimeToUnixNs(changed);
  return identity;
}

std::optional<FileIdentity> ReadFileIdentity(const std::string& path) {
  if (path.empty()) return std::nullopt;
  win32::Handle file(::CreateFileW(win32::Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (!file.Valid()) return std::nullopt;
  return win32::IdentityOfHandle(file.Get());
}

}  // namespace zor
