// Listing and deleting below a folder without ever acting outside it.
#include "platform/contained_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace zor {
namespace {
namespace fs = std::filesystem;

class ContainedFilesTest : public ::testing::Test {
 protected:
  ContainedFilesTest() {
    Dir.WriteFile("in/b.txt", "b");
    Dir.WriteFile("in/a/z.txt", "z");
    Dir.WriteFile("in/a/deep/y.txt", "y");
    Dir.WriteFile("in/C.txt", "C");
    fs::create_directories(Dir / "in/empty");
    Dir.WriteFile("out/secret.txt", "secret");
    Dir.WriteFile("out/sub/kept.txt", "kept");
    fs::create_directories(Dir / "out/vacant");
    // Wine cannot make symbolic links; the tests are about them, so they skip there.
    std::error_code error;
    fs::create_symlink(Dir / "out/secret.txt", Dir / "in/file-link", error);
    if (error) return;
    fs::create_symlink(Dir / "out", Dir / "in/dir-link");
    fs::create_symlink(Dir / "out/vacant", Dir / "in/vacant-link");
    fs::create_symlink(Dir / "nowhere", Dir / "in/dangling");
    LinksMade = true;
  }
  void SetUp() override {
    if (!LinksMade) GTEST_SKIP() << "this system cannot make symbolic links here";
  }
  bool LinksMade = false;
  bool Exists(const std::string& name) { return fs::exists(fs::symlink_status(Dir / name)); }
  // What lies outside the listed folder, which nothing may touch.
  std::string Outside() {
    std::string text;
    for (const char* name : {"out/secret.txt", "out/sub/kept.txt"}) {
      std::ifstream in(Dir / name);
      std::string line;
      std::getline(in, line);
      text += line + "|";
    }
    return text + (fs::is_directory(Dir / "out/vacant") ? "vacant" : "no vacant");
  }

  zor::testing::TempFolder Dir;
};

TEST_F(ContainedFilesTest, ListsFilesAndLinksButDoesNotEnterLinkedFolders) {
  EXPECT_EQ(ListFilesBelow(Dir / "in"),
            (std::vector<std::string>{"C.txt", "a/deep/y.txt", "a/z.txt", "b.txt", "dangling",
                                      "dir-link", "file-link", "vacant-link"}));
  EXPECT_EQ(ListFilesBelow(Dir / "in/"), ListFilesBelow(Dir / "in"));
  EXPECT_TRUE(ListFilesBelow(Dir / "missing").empty());
  EXPECT_TRUE(ListFilesBelow("").empty());
}

TEST_F(ContainedFilesTest, DeletesOnlyEntriesReachedWithoutLeavingTheFolder) {
  const std::string readOnly = Dir.WriteFile("in/read-only.txt", "r");
  chmod(readOnly.c_str(), 0444);
  struct Case {
    const char* Name;
    bool Deleted;
    const char* Gone;  // what no longer exists afterwards ("" when nothing went)
  } const kCases[] = {
      {"../out/secret.txt", false, ""},
      {"a/../../out/secret.txt", false, ""},
      {"dir-link/secret.txt", false, ""},  // a linked folder on the way
      {"dir-link/sub/kept.txt", false, ""},
      {"dir-link", true, "in/dir-link"},  // the link itself, not the folder it names
      {"file-link", true, "in/file-link"},
      {"dangling", true, "in/dangling"},
      {"a", false, ""},  // a folder is no file
      {"empty", false, ""},
      {"missing.txt", false, ""},
      {"a//z.txt", false, ""},
      {"./b.txt", false, ""},
      {"a/z.txt/", false, ""},
      {"", false, ""},
      {"/etc/hostname", false, ""},
      {"a/deep/y.txt", true, "in/a/deep/y.txt"},
      {"read-only.txt", true, "in/read-only.txt"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DeleteFileBelow(Dir / "in", c.Name), c.Deleted);
    if (*c.Gone) {
      EXPECT_FALSE(Exists(c.Gone));
    }
    EXPECT_EQ(Outside(), "secret|kept|vacant");
  }
}

TEST_F(ContainedFilesTest, RemovesOnlyEmptyFoldersThatAreNoLinks) {
  struct Case {
    const char* Name;
    bool Removed;
  } const kCases[] = {
      {"vacant-link", false},  // names an empty folder outside
      {"dir-link/vacant", false}, {"../out/vacant", false}, {"a", false},  // not empty
      {"b.txt", false},           {"missing", false},       {"", false},  {"empty", true},
      {"empty", false},  // already gone
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RemoveEmptyFolderBelow(Dir / "in", c.Name), c.Removed);
    EXPECT_EQ(Outside(), "secret|kept|vacant");
  }
  EXPECT_TRUE(Exists("in/vacant-link"));
  EXPECT_TRUE(Exists("in/a/z.txt"));
}

}  // namespace
}  // namespace zor
