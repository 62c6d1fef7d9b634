#include "platform/special_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

using testing::ScopedEnv;

TEST(DesktopFolderFromUserDirs, ReadsTheDesktopLine) {
  struct Case {
    const char* content;
    std::optional<std::string> expected;
  } const kCases[] = {
      {"# written by "
       "xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"$HOME/"
       "桌面\"\n",
       "/home/u/桌面"},
      {"XDG_DESKTOP_DIR=\"/srv/desk/\"\r\n", "/srv/desk"},
      {"  XDG_DESKTOP_DIR=\"$HOME\"", "/home/u"},
      {"XDG_DESKTOP_DIR=\"$HOME/a\"\nXDG_DESKTOP_DIR=\"$HOME/b\"\n",
       "/home/u/b"},                                      // the last line wins
      {"XDG_DESKTOP_DIR=$HOME/Desktop\n", std::nullopt},  // not quoted
      {"XDG_DESKTOP_DIR=\"relative/dir\"\n", std::nullopt},
      {"#XDG_DESKTOP_DIR=\"/x\"\n", std::nullopt},
      {"XDG_DESKTOP_DIR=\"", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(DesktopFolderFromUserDirs(c.content, "/home/u"), c.expected) << c.content;
}

TEST(SpecialFolders, FollowTheXdgVariables) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows takes these folders from the shell, not from XDG variables";
#endif
  testing::TempFolder folder;
  const std::string home = folder.Path() + "home";
  ScopedEnv homeEnv("HOME", (home + "/").c_str());
  {
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(GetHomeFolder(), home);
    EXPECT_EQ(GetDesktopFolder(), home + "/Desktop");
    EXPECT_EQ(GetApplicationsFolder(), home + "/.local/share/applications");
  }
  folder.WriteFile("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  ScopedEnv config("XDG_CONFIG_HOME", (folder.Path() + "config").c_str());
  ScopedEnv data("XDG_DATA_HOME", (folder.Path() + "data/").c_str());
  EXPECT_EQ(GetDesktopFolder(), home + "/Schreibtisch");
  EXPECT_EQ(GetApplicationsFolder(), folder.Path() + "data/applications");
  ScopedEnv relative("XDG_DATA_HOME", "relative");
  EXPECT_EQ(GetApplicationsFolder(), home + "/.local/share/applications");
}

TEST(SpecialFolders, TheEnvironmentsCacheFolderIsNoneWithoutAnAbsoluteHomeOrCacheVariable) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows takes the cache folder from LOCALAPPDATA (the next test)";
#endif
  struct Case {
    const char* home;
    const char* cache;
    std::optional<std::string> folder;
  } const kCases[] = {
      {"/home/u/", nullptr, "/home/u/.cache"},
      {"/home/u", "/var/tmp/cache/", "/var/tmp/cache"},
      {nullptr, "/var/tmp/cache", "/var/tmp/cache"},
      {"/home/u", "relative", "/home/u/.cache"},
      {nullptr, nullptr, std::nullopt},
      {"relative", "", std::nullopt},
  };
  for (const Case& c : kCases) {
    ScopedEnv home("HOME", c.home);
    ScopedEnv cache("XDG_CACHE_HOME", c.cache);
    EXPECT_EQ(GetCacheFolderOfEnvironment(), c.folder)
        << (c.home ? c.home : "(none)") << " " << (c.cache ? c.cache : "(none)");
  }
}

#ifdef _WIN32
TEST(SpecialFolders, TheEnvironmentsCacheFolderOnWindowsIsAFullLocalAppData) {
  struct Case {
    const char* localAppData;
    std::optional<std::string> folder;
  } const kCases[] = {
      {"C:\\Users\\u\\AppData\\Local\\", "C:/Users/u/AppData/Local"},
      {"d:/cache", "d:/cache"},
      {"\\\\server\\share\\u", "//server/share/u"},
      {"C:\\", "C:/"},
      {"AppData\\Local", std::nullopt},
      {"C:relative", std::nullopt},
      {"1:\\x", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const Case& c : kCases) {
    ScopedEnv local("LOCALAPPDATA", c.localAppData);
    EXPECT_EQ(GetCacheFolderOfEnvironment(), c.folder)
        << (c.localAppData ? c.localAppData : "(none)");
  }
}
#endif  // _WIN32

}  // namespace
}  // namespace zor
