// The suite's main program as the launcher starts it: its name from "MainExe" in section
// "System" of "ZORSys.ini" in the client data folder (the launcher's default main-program
// name when that is empty), started from the launcher's folder with "/NetMode".
#pragma once

#include <string>
#include <string_view>

namespace zor {

inline constexpr std::string_view kSystemIniFile = "ZORSys.ini";
inline constexpr std::string_view kSystemSection = "System";
inline constexpr std::string_view kMainExeKey = "MainExe";
inline constexpr std::string_view kNetModeArg = " /NetMode";

// "MainExe" of "ZORSys.ini" in `dataFolder` (with its trailing separator), else
// `DefaultMainExeName` of the launcher's file name.
std::string GetMainExeName(const std::string& dataFolder, std::string_view launcherFileName);

// The command line that starts the main program: the path in double quotes, " /NetMode".
std::string MainExeCommandLine(const std::string& path);

}  // namespace zor
