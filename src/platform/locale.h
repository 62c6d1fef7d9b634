// The system default locale id (LCID) of this machine, which picks the user-interface
// language, the ANSI code page and the language id sent at logon. On Linux it comes from
// $ZOR_LCID when that holds a valid id, else from the POSIX locale variables.
// Tests substitute it with `ScopedLcidOverride` instead of changing the environment.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

inline constexpr uint32_t kLcidEnglishUs = 1033;
inline constexpr uint32_t kLcidChineseTaiwan = 1028;
inline constexpr uint32_t kLcidChineseHongKong = 3076;
inline constexpr uint32_t kLcidChineseChina = 2052;
inline constexpr uint32_t kLcidChineseSingapore = 4100;

// The LCID in force: a test override, else `DeriveLcid` of the process environment.
uint32_t GetSystemDefaultLCID();

// True when the system default locale writes the traditional script (1028 or 3076).
bool IsTraditionalScriptSystem();

// The system's own answer, without the test override: on Linux `DeriveLcid` of the process
// environment; on Windows a valid $ZOR_LCID, else the system's default locale.
uint32_t OsDefaultLcid();

// The rule behind `GetSystemDefaultLCID` on Linux, on given variable values (nullptr = unset):
// a valid `zorLcid` (decimal, or hexadecimal with "0x", 1..0xFFFFFFFF) wins; else the first
// non-empty of LC_ALL, LC_MESSAGES, LANG is mapped by `LcidFromLocaleName`.
uint32_t DeriveLcid(const char* zorLcid, const char* lcAll, const char* lcMessages,
                    const char* lang);

// "zh_TW.UTF-8" -> 1028, "zh_HK" -> 3076, "zh_CN" -> 2052, "zh_SG" -> 4100 (letter case and
// '-' for '_' tolerated, encoding and modifier ignored); anything else -> 1033.
uint32_t LcidFromLocaleName(std::string_view name);

// Parses a $ZOR_LCID value; 0 when it is not a valid id.
uint32_t ParseLcid(std::string_view text);

// Makes `GetSystemDefaultLCID` answer `lcid` for the lifetime of the object (tests).
// Overrides nest; the previous one comes back on destruction.
class ScopedLcidOverride {
 public:
  explicit ScopedLcidOverride(uint32_t lcid);
  ~ScopedLcidOverride();
  ScopedLcidOverride(const ScopedLcidOverride&) = delete;
  ScopedLcidOverride& operator=(const ScopedLcidOverride&) = delete;

 private:
  uint32_t Previous;
};

}  // namespace zor
