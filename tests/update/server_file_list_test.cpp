// The server's file list as the file-list command answers it.
#include "update/server_file_list.h"

#include <gtest/gtest.h>

#include "support/connection_fixture.h"

namespace zor {
namespace {

using testing::ExpectError;

TEST(ServerFileList, EntriesKeepServerOrderAndDefaultsForBadFields) {
  const auto entries = ParseServerFileList(
      "Client.exe=5.1.0.3,1487215649,204800;\\bpls\\Main.bpl=,12,x;Lib.dll=2.0,,;;Graphs\\a.bmp=1."
      "0,abc,300;odd");
  struct Case {
    const char* Name;
    const char* LocalName;
    const char* Version;
    int32_t Age;
    int32_t Size;
    bool NeedsInfo;
  } const kCases[] = {
      {"Client.exe", "Client.exe", "5.1.0.3", 1487215649, 204800, false},
      {"bpls\\Main.bpl", "bpls/Main.bpl", "0.0.0.0", 12, 0, false},
      {"Lib.dll", "Lib.dll", "0.0.0.0", -1, 0, true},  // age and size empty: ask the server
      {"Graphs\\a.bmp", "Graphs/a.bmp", "1.0", -1, 300, false},
      {"odd", "odd", "0.0.0.0", -1, 0, true},
  };
  ASSERT_EQ(entries.size(), std::size(kCases));
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].Name, kCases[i].Name);
    EXPECT_EQ(entries[i].LocalName, kCases[i].LocalName);
    EXPECT_EQ(entries[i].Version, kCases[i].Version);
    EXPECT_EQ(entries[i].FileAge, kCases[i].Age);
    EXPECT_EQ(entries[i].FileSize, kCases[i].Size);
    EXPECT_EQ(entries[i].NeedsInfo, kCases[i].NeedsInfo);
  }
  EXPECT_TRUE(ParseServerFileList("").empty());
}

TEST(ServerFileList, NameThatLeavesTheFolderRefusesTheList) {
  for (const char* name :
       {"..\\Client.exe", "C:\\x.dll", "bpls\\..\\..\\x", "\\\\host\\share\\x"}) {
    SCOPED_TRACE(name);
    const std::string list = std::string("ok.dll=1.0,1,2;") + name + "=1.0,1,2";
    ExpectError<Exception>([&] { ParseServerFileList(list); },
                           std::string("Invalid file name '") + name + "'!");
  }
}

}  // namespace
}  // namespace zor
