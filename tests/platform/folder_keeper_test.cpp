// Who alone keeps a folder: its owner, when every entry below it is the owner's or root's and
// nobody else may write any of it. Anything another user could change makes it nobody's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/folder_sharing.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

TEST(FolderKeeper, TheOwnerKeepsAFolderOnlyWhileNobodyElseMayWriteAnythingInIt) {
  struct Case {
    const char* What;
    std::function<void(const std::string& folder)> Change;
    bool Kept;
  } const kCases[] = {
      {"the owner's files", [](const std::string&) {}, true},
      {"a link to a file anyone may write (links are not followed)",
       [](const std::string& folder) {
         testing::WriteAll(folder + "../open", std::string("x"));
         chmod((folder + "../open").c_str(), 0666);
         fs::create_symlink(folder + "../open", folder + "link");
       },
       true},
      {"a group-writable file deep down",
       [](const std::string& folder) { chmod((folder + "sub/deep.dat").c_str(), 0664); }, false},
      {"a world-writable subfolder",
       [](const std::string& folder) { chmod((folder + "sub").c_str(), 0777); }, false},
      {"a sticky world-writable folder",
       [](const std::string& folder) { chmod(folder.c_str(), 01777); }, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    testing::TempFolder root("zor-keeper");
    const std::string folder = root.Path() + "copy/";
    fs::create_directories(folder + "sub");
    chmod(folder.c_str(), 0755);
    chmod((folder + "sub").c_str(), 0755);
    root.WriteFile("copy/Client", "program");
    root.WriteFile("copy/sub/deep.dat", "data");
    for (const char* file : {"Client", "sub/deep.dat"}) chmod((folder + file).c_str(), 0644);
    c.Change(folder);
    EXPECT_EQ(SoleKeeperOfFolder(folder),
              c.Kept ? std::optional<uint32_t>(EffectiveUserId()) : std::nullopt);
  }
}

TEST(FolderKeeper, AFileOfAThirdUserMakesTheFolderNobodysAndRootsFilesDoNot) {
  if (geteuid() != 0) GTEST_SKIP() << "Skipped: only root can give files to other users.";
  testing::TempFolder root("zor-keeper");
  const std::string folder = root.Path() + "copy/";
  fs::create_directories(folder);
  root.WriteFile("copy/Client", "program");
  root.WriteFile("copy/Reports.dat", "data");
  chmod(folder.c_str(), 0755);
  for (const char* file : {"Client", "Reports.dat"}) chmod((folder + file).c_str(), 0644);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown((folder + "Client").c_str(), 65534, 65534), 0);
  EXPECT_EQ(SoleKeeperOfFolder(folder), std::optional<uint32_t>(65534));  // Reports.dat: root's
  ASSERT_EQ(chown((folder + "Reports.dat").c_str(), 65533, 65533), 0);
  EXPECT_EQ(SoleKeeperOfFolder(folder), std::nullopt);
}

}  // namespace
}  // namespace zor
