#include "startup/uninstall/uninstall_release_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "update/release_hash_cache.h"

namespace zor {
namespace {

constexpr const char* kSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// The hash cache is a file in the client's folder like any other: only its entries inside
// that folder name files to remove.
TEST(UninstallReleaseFiles, OnlyCacheEntriesInsideTheClientFolderCount) {
  testing::TempFolder folder("zor-uninst");
  const std::string client = folder.Path() + "client/";
  TReleaseHashCache cache;
  for (const std::string& path :
       {client + "ZORCore.dll", client + "Libs/Extra/Engine.so", client + "../elsewhere.txt",
        folder.Path() + "other/file", std::string("/etc/passwd")})
    cache.Put(path, {1, 2, 3, 4, 5}, kSha);
  testing::WriteAll(client + "placeholder", "");
  cache.Save(client + std::string(kReleaseHashesFileName));
  const std::set<std::string> release = LastReleaseFiles(client);
  EXPECT_EQ(release, (std::set<std::string>{"Libs/Extra/Engine.so", "ZORCore.dll"}));

  struct Case {
    const char* Name;
    bool Partial;
  } const kCases[] = {
      {"ZORCore.dll_tmp", true}, {"Libs/Extra/Engine.so_tmp", true},
      {"ZORSys.ini_tmp", true},  {"Notes.txt_tmp", false},
      {"ZORCore.dll", false},    {"_tmp", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(IsPartialDownloadOf(c.Name, release, client), c.Partial);
  }
  EXPECT_TRUE(LastReleaseFiles(folder.Path() + "nothing/").empty());
}

TEST(UninstallReleaseFiles, ThePackagesMenuEntryIsHiddenOnlyWhenThePackageHasOne) {
  testing::TempFolder folder("zor-menu");
  const std::string user = folder.Path() + "home/applications";
  EXPECT_FALSE(HidePackagedMenuEntry({folder.Path() + "sys"}, user));
  EXPECT_FALSE(std::filesystem::exists(user + "/zor-client.desktop"));
  testing::WriteAll(folder.Path() + "sys/zor-client.desktop", "[Desktop Entry]\n");
  EXPECT_TRUE(HidePackagedMenuEntry({folder.Path() + "none", folder.Path() + "sys"}, user));
  EXPECT_EQ(testing::ReadAll(user + "/zor-client.desktop"),
            "[Desktop Entry]\nType=Application\nName=ZOR Client\nHidden=true\n");
}

}  // namespace
}  // namespace zor
