#include "platform/directories.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/exceptions.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

TEST(ForceDirectoriesEx, CreatesEveryMissingLevel) {
  testing::TempFolder folder;
  EXPECT_TRUE(ForceDirectoriesEx(folder / "a/b/c"));
  EXPECT_TRUE(DirectoryExists(folder / "a/b/c"));
  EXPECT_TRUE(ForceDirectoriesEx(folder / "a/b/c/"));  // exists already; trailing '/'
  EXPECT_TRUE(ForceDirectoriesEx(folder / "a//d"));
  EXPECT_TRUE(DirectoryExists(folder / "a/d"));
  // A level that is a file cannot become a folder: answered, not raised.
  folder.WriteFile("file", "x");
  EXPECT_FALSE(ForceDirectoriesEx(folder / "file/sub"));
  EXPECT_FALSE(DirectoryExists(folder / "file"));
  EXPECT_TRUE(FileExists(folder / "file"));
  EXPECT_FALSE(FileExists(folder / "a"));
  EXPECT_FALSE(FileExists(folder / "none"));
}

TEST(ForceDirectoriesEx, EmptyPathRaisesTheRunTimeMessage) {
  try {
    ForceDirectoriesEx("");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Unable to create directory");
  }
}

TEST(GetTempDir, EndsWithTheDelimiter) {
  const std::string dir = GetTempDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_EQ(IncludeTrailingPathDelimiter("/x"), "/x/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/x/"), "/x/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
}

}  // namespace
}  // namespace zor
