// Which files of a release folder the server's file list carries. The launcher needs the same
// rule as the server: every signed file the list can carry must be in it, so a list that
// leaves one out (to keep an old main program in use) is refused.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

// True for a language companion: a name ending ".CHT" (without case), except the report
// library's own "FR_Zor.cht", which the launcher counts as an ordinary file. Companions are
// fetched through the "LangDll" area with their library, never listed.
bool IsLanguageCompanion(std::string_view name);

// True when the list's syntax can carry `name`: none of its separators or control characters.
bool IsListableName(std::string_view name);

// True when the file list carries a file of this name and size.
bool IsListedReleaseFile(std::string_view name, int64_t size);

}  // namespace zor
