#include "platform/win32/owner_check.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace zor::win32 {
namespace {

// The SID of the user this process runs as, or empty.
std::vector<BYTE> ProcessUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  std::vector<BYTE> sid;
  if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const DWORD length = ::GetLengthSid(user);
    sid.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + length);
  }
  ::CloseHandle(token);
  return sid;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return ::IsWellKnownSid(sid, type) != FALSE;
}

// The installer service, which owns what Windows itself lays out in the program folders.
bool IsInstallerService(PSID sid) {
  static const std::vector<BYTE> installer = [] {
    std::vector<BYTE> bytes;
    PSID parsed = nullptr;
    if (::ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                 &parsed)) {
      bytes.assign(static_cast<BYTE*>(parsed), static_cast<BYTE*>(parsed) + ::GetLengthSid(parsed));
      ::LocalFree(parsed);
    }
    return bytes;
  }();
  return !installer.empty() && ::EqualSid(sid, const_cast<BYTE*>(installer.data()));
}

// The machine's own accounts: the system, the administrators and the installer service.
bool IsMachine(PSID sid) {
  return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
         IsInstallerService(sid);
}

}  // namespace

bool IsTrustedOwnHandle(HANDLE handle, bool othersMayRead, bool orMachine) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  std::unique_ptr<void, decltype(&::LocalFree)> release(descriptor, &::LocalFree);
  std::vector<BYTE> self = ProcessUserSid();
  if (self.empty() || owner == nullptr) return false;
  if (!::EqualSid(owner, self.data()) && !(orMachine && IsMachine(owner))) return false;
  // No list at all lets everybody do everything.
  if (dacl == nullptr) return false;
  constexpr ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER |
                                   DELETE | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(dacl, i, &entry)) return false;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if (othersMayRead && (allowed->Mask & kChanges) == 0) continue;
    PSID who = const_cast<DWORD*>(&allowed->SidStart);
    if (::EqualSid(who, self.data()) || IsWellKnown(who, WinLocalSystemSid) ||
        IsWellKnown(who, WinBuiltinAdministratorsSid) || IsWellKnown(who, WinCreatorOwnerSid) ||
        (orMachine && IsInstallerService(who)))
      continue;
    return false;
  }
  return true;
}

std::wstring ProcessUserSidText() {
  std::vector<BYTE> sid = ProcessUserSid();
  wchar_t* text = nullptr;
  if (sid.empty() || !::ConvertSidToStringSidW(sid.data(), &text)) return {};
  std::wstring result = text;
  ::LocalFree(text);
  return result;
}

}  // namespace zor::win32
