// Named mutexes are the kernel's own (CreateMutexW): "Global\" names are machine-wide as
// Windows has them (creating one in the global namespace from a service or an
// administrator; any user may open it), other names live in the session's namespace
// ("Local\"). A mutex exists while any process holds a handle to it, and the system gives
// it up when its owner dies. The kernel lets one thread take a mutex it owns again; two
// objects of one process must exclude each other as two processes do, so the owners in
// this process are also kept in a table.
#include "platform/named_mutex.h"

#include <windows.h>

#include <mutex>
#include <set>
#include <thread>

#include "base/ascii_case.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/last_error.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

bool HasPrefixNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  return true;
}

std::string_view BareName(std::string_view name) {
  if (HasPrefixNoCase(name, "global\\")) return name.substr(7);
  if (HasPrefixNoCase(name, "local\\")) return name.substr(6);
  return name;
}

// The kernel's name: "Global\" kept, anything else in the session's namespace. A backslash
// in the rest would name a namespace of its own, so it is written as '/'.
std::string KernelName(std::string_view name) {
  std::string bare(BareName(name));
  for (char& c : bare)
    if (c == '\\') c = '/';
  return (HasPrefixNoCase(name, "global\\") ? "Global\\" : "Local\\") + bare;
}

std::mutex gLock;
std::set<std::string>& OwnedHere() {
  static auto* owned = new std::set<std::string>();
  return *owned;
}

HANDLE H(int handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// Takes the kernel mutex within `milliseconds`, then claims it for this object in the
// process's table; false when someone else has it.
bool Take(int handle, const std::string& name, DWORD milliseconds) {
  const DWORD rc = ::WaitForSingleObject(H(handle), milliseconds);
  if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) return false;
  std::lock_guard lock(gLock);
  if (OwnedHere().insert(name).second) return true;
  ::ReleaseMutex(H(handle));  // another object of this process owns it
  return false;
}

}  // namespace

std::string NamedMutexLockFile(std::string_view name) {
  return KernelName(name);
}

// The session's own object for the name; a "Global\" name kept privately keeps its prefix
// (as "Global/"), so it never meets the session name. This build never falls back to it.
std::string PrivateMutexLockFile(std::string_view name) {
  std::string bare(BareName(name));
  for (char& c : bare)
    if (c == '\\') c = '/';
  return (HasPrefixNoCase(name, "global\\") ? "Local\\Global/" : "Local\\") + bare;
}

NamedMutex::NamedMutex(std::string_view name, bool initiallyOwned) {
  if (BareName(name).empty()) throw Exception("A named mutex needs a name.");
  Path = KernelName(name);
  HANDLE handle = ::CreateMutexW(nullptr, FALSE, win32::Wide(Path).c_str());
  if (handle == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // Made by another user with a narrower access list: waiting on it is all we need.
    handle = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, win32::Wide(Path).c_str());
    if (handle != nullptr) ::SetLastError(ERROR_ALREADY_EXISTS);
  }
  if (handle == nullptr) RaiseLastWin32ErrorExRes("Cannot open the mutex %s", {std::string(name)});
  Existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  Descriptor = static_cast<int>(reinterpret_cast<intptr_t>(handle));
  if (initiallyOwned) TryAcquire();
}

NamedMutex::~NamedMutex() {
  Release();
  if (Descriptor != -1) ::CloseHandle(H(Descriptor));
}

bool NamedMutex::TryAcquire() {
  if (!IsOwned) IsOwned = Take(Descriptor, Path, 0);
  return IsOwned;
}

void NamedMutex::Acquire() {
  while (!IsOwned) {
    IsOwned = Take(Descriptor, Path, INFINITE);
    // Only another object of this process can make the wait come back unowned; it has no
    // handle to wake us, so look again shortly.
    if (!IsOwned) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void NamedMutex::Release() {
  if (!IsOwned) return;
  {
    std::lock_guard lock(gLock);
    OwnedHere().erase(Path);
  }
  ::ReleaseMutex(H(Descriptor));
  IsOwned = false;
}

bool ProbeNamedMutex(std::string_view name) {
  if (BareName(name).empty()) return false;
  HANDLE handle = ::OpenMutexW(SYNCHRONIZE, FALSE, win32::Wide(KernelName(name)).c_str());
  if (handle != nullptr) {
    ::CloseHandle(handle);
    return true;
  }
  // One we may not open is there all the same.
  return ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace zor
