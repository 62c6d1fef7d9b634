// The three roots of the registry the program uses, their names and their hive files.
#pragma once

#include <optional>
#include <string_view>

namespace zor {

enum class RegRoot { LocalMachine, CurrentUser, ClassesRoot };

inline constexpr RegRoot kAllRegRoots[] = {RegRoot::LocalMachine, RegRoot::CurrentUser,
                                           RegRoot::ClassesRoot};

// "HKEY_LOCAL_MACHINE", as key paths in hive files and tool output spell it.
std::string_view RegRootLongName(RegRoot root);
// "HKLM".
std::string_view RegRootShortName(RegRoot root);
// "HKLM.reg".
std::string_view RegRootFileName(RegRoot root);
// The root for a long or short name, ignoring case; nothing for other names.
std::optional<RegRoot> RegRootFromName(std::string_view name);

}  // namespace zor
