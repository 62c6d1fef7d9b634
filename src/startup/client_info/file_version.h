// Version texts of program files (their version resource) and of registered in-process
// COM servers, as dotted numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

// Flags of `GetFileVersionString`.
inline constexpr uint32_t kVersionShortForm = 1;  // "major.minor.release" + build with two digits
inline constexpr uint32_t kVersionStrict = 256;   // values from here on: a missing file raises
inline constexpr std::string_view kNoVersion = "0.0.0.0";
inline constexpr std::string_view kNoVersionShort = "0.0.0";
inline constexpr std::string_view kVersionReadError = "无法读取 %s 的版本讯息!";

// "major.minor.release.build" of the file's version resource; with the short form
// "major.minor.release" followed by the build written with at least two digits (5.0.6.18
// gives 5.0.618, 5.0.6.9 gives 5.0.609). A file without a version resource gives the default
// ("0.0.0.0", short "0.0.0"); so does a missing file unless `flags` >= 256, when the system
// error is raised. Any other failure raises `EWin32ErrorEx` with the version message.
std::string GetFileVersionString(const std::string& fileName, uint32_t flags);

// "5.0.6.18", or in short form "5.0.618".
std::string FormatFileVersion(uint32_t major, uint32_t minor, uint32_t release, uint32_t build,
                              bool shortForm);

// The version of the file registered as the in-process server of `progId` under HKCR
// ("<progId>\Clsid" -> "CLSID\<clsid>\InprocServer32"); "0.0.0.0" when anything is missing.
std::string GetComServerVersion(std::string_view progId);
// True when `requiredVersion` rates above the registered server's version.
bool IsComServerOlder(std::string_view progId, std::string_view requiredVersion);

}  // namespace zor
