// Text at the boundary of the Windows API: the program keeps UTF-8 and '/' between folder
// names; the W functions take and give UTF-16, and Windows paths come back with '\'.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace zor::win32 {

// UTF-8 -> UTF-16; malformed bytes become U+FFFD.
std::wstring Wide(std::string_view utf8);
// UTF-16 -> UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);
// A path from the system, with '/' between its parts.
std::string NarrowPath(std::wstring_view wide);

// Closes a kernel handle when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : Value(handle) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : Value(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      Value = other.Release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return Value != nullptr && Value != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return Value; }
  HANDLE Release() {
    HANDLE h = Value;
    Value = nullptr;
    return h;
  }
  void Reset() {
    if (Valid()) ::CloseHandle(Value);
    Value = nullptr;
  }

 private:
  HANDLE Value = nullptr;
};

// For a part of the platform this build does not have yet: fails loudly instead of quietly
// doing nothing. The message names `what`.
[[noreturn]] void RaiseNotOnWindowsYet(std::string_view what);

// 100-nanosecond ticks since 1601 <-> nanoseconds since 1970, both UTC.
int64_t FileTimeToUnixNs(const FILETIME& time);
FILETIME UnixNsToFileTime(int64_t utcNs);

}  // namespace zor::win32
