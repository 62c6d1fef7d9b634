#include "platform/system_info.h"

#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>
#include <lmcons.h>

#include <cstdio>
#include <vector>

#include "platform/win32/wide_text.h"

// The A/W switch macros of these names would rename the program's own functions.
#undef GetComputerName
#undef GetUserName

namespace zor {

std::string GetComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return {};
  return win32::Narrow(std::wstring_view(name, size));
}

std::string GetUserName() {
  wchar_t name[UNLEN + 1] = {};
  DWORD size = UNLEN + 1;
  if (!::GetUserNameW(name, &size) || size == 0) return {};
  return win32::Narrow(std::wstring_view(name, size - 1));  // the count includes the zero
}

std::string GetNetworkAdapterText() {
  ULONG size = 16 * 1024;
  std::vector<BYTE> buffer(size);
  ULONG rc =
      ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                             reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  if (rc == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size);
    rc = ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) return {};
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
       a = a->Next) {
    if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK || a->PhysicalAddressLength == 0) continue;
    bool allZero = true;
    for (ULONG i = 0; i < a->PhysicalAddressLength; ++i)
      allZero = allZero && a->PhysicalAddress[i] == 0;
    if (allZero) continue;
    std::string result = a->FriendlyName ? win32::Narrow(a->FriendlyName) : std::string();
    result += ' ';
    for (ULONG i = 0; i < a->PhysicalAddressLength; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), i == 0 ? "%02X" : "-%02X", a->PhysicalAddress[i]);
      result += hex;
    }
    return result;
  }
  return {};
}

int32_t GetOSCode() {
  // The logon's code table knows Windows releases by their version; RtlGetVersion tells the
  // truth where GetVersionEx is shimmed. The table itself is not wired up yet: unknown.
  return -1;
}

uint32_t GetCurrentSessionId() {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) return 0;
  return session;
}

bool IsRemoteSession() {
  return ::GetSystemMetrics(SM_REMOTESESSION) != 0;
}

std::string GetExePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::NarrowPath(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace zor
