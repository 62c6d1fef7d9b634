#include "platform/win32/wide_text.h"

#include <algorithm>

namespace zor::win32 {

namespace {
constexpr int64_t kTicksFrom1601To1970 = 116444736000000000LL;
}

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                          nullptr, nullptr);
  return out;
}

std::string NarrowPath(std::wstring_view wide) {
  std::string path = Narrow(wide);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

void RaiseNotOnWindowsYet(std::string_view what) {
  throw Exception(std::string(what) + " is not available on Windows yet");
}

int64_t FileTimeToUnixNs(const FILETIME& time) {
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (ticks - kTicksFrom1601To1970) * 100;
}

FILETIME UnixNsToFileTime(int64_t utcNs) {
  // Floor division, so a time before 1970 keeps its place.
  int64_t ticks = utcNs / 100;
  if (utcNs % 100 < 0) --ticks;
  const uint64_t value = static_cast<uint64_t>(ticks + kTicksFrom1601To1970);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

}  // namespace zor::win32
