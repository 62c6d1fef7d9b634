#include "platform/file_times.h"

#include <gtest/gtest.h>

#include "platform/dos_time.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

TEST(FileDosTime, ReadsAndSetsTheUtcLastWriteTime) {
  testing::TempFolder folder;
  const std::string path = folder.WriteFile("a.dll", "x");
  struct Case {
    int64_t utc;
    uint32_t dos;
  } const kCases[] = {
      {951827696, 0x285D645C},   // 2000-02-29 12:34:56
      {951827697, 0x285D645C},   // an odd second reads as the even one below it
      {315532800, 0x00210000},   // 1980-01-01 00:00:00
      {100, 0x00210000},         // before 1980: the first DOS moment
      {4354819200, 0xFF9FBF7D},  // after 2107: the last DOS moment
  };
  for (const Case& c : kCases) {
    ASSERT_TRUE(SetFileModifiedTime(path, c.utc));
    EXPECT_EQ(GetFileModifiedTime(path), c.utc);
    EXPECT_EQ(static_cast<uint32_t>(GetFileDosTime(path)), c.dos) << c.utc;
  }
  ASSERT_TRUE(SetFileDosTime(path, 0x52610000));  // 2021-03-01 00:00:00
  EXPECT_EQ(GetFileModifiedTime(path), 1614556800);
  EXPECT_EQ(static_cast<uint32_t>(GetFileDosTime(path)), 0x52610000u);
}

TEST(FileDosTime, MissingFilesAndInvalidValues) {
  testing::TempFolder folder;
  EXPECT_EQ(GetFileDosTime(folder / "missing"), -1);
  EXPECT_EQ(GetFileDosTime(""), -1);
  EXPECT_EQ(GetFileModifiedTime(folder / "missing"), std::nullopt);
  EXPECT_FALSE(SetFileDosTime(folder / "missing", 0x52610000));
  const std::string path = folder.WriteFile("b", "");
  ASSERT_TRUE(SetFileModifiedTime(path, 1614556800));
  EXPECT_FALSE(SetFileDosTime(path, 0x0021C000));  // hour 24
  EXPECT_EQ(GetFileModifiedTime(path), 1614556800);
}

}  // namespace
}  // namespace zor
