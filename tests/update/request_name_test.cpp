#include "update/request_name.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "update/release_areas.h"

namespace zor {
namespace {

TEST(RequestName, PlainRelativeNamesPassInBothForms) {
  struct Case {
    const char* Name;
    const char* Wire;
    const char* Relative;
  } const kCases[] = {
      {"Client.exe", "Client.exe", "Client.exe"},
      {"\\bpls\\Main.bpl", "bpls\\Main.bpl", "bpls/Main.bpl"},
      {"Special/Help//x.chm", "Special\\Help\\x.chm", "Special/Help/x.chm"},
      {".\\a\\.\\b", "a\\b", "a/b"},
      {"a..b\\...", "a..b\\...", "a..b/..."},
  };
  for (const Case& c : kCases) {
    const TRequestName name = CheckRequestName(c.Name);
    EXPECT_EQ(name.Wire, c.Wire);
    EXPECT_EQ(name.Relative, c.Relative);
    EXPECT_EQ(name.Key, LowerAscii(c.Wire));
  }
}

TEST(RequestName, EscapesAndAbsoluteNamesAreRefused) {
  const std::string kCases[] = {
      "",
      "..\\secret",
      "a\\..\\..\\etc\\passwd",
      "bpls/../../x",
      "C:\\Windows\\win.ini",
      "c:x",
      "\\\\server\\share\\x",
      "//etc/passwd",
      "a\\b:stream",
      std::string("a\0b", 3),
      "a\x01",
      "\\",
      "./.",
      std::string(1025, 'a'),
      "..",
  };
  for (const std::string& bad : kCases) {
    try {
      CheckRequestName(bad);
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, "Invalid file name '" + bad.substr(0, 260) + "'!");
    }
  }
}

TEST(ReleaseAreas, AreasMapToTheClientsSubfolders) {
  struct Case {
    const char* Area;
    const char* Folder;
  } const kCases[] = {
      {".", ""},
      {"Libs", ""},
      {"libs", ""},
      {"Upgrade", ""},
      {"LangDll", ""},
      {"Unknown", ""},
      {"Bpls", "bpls\\"},
      {"BPLS", "bpls\\"},
      {"Graphs", "Graphs\\"},
      {"SunRpt", "SunRpt\\"},
      {"Defines", "Defines\\"},
      {"Help", "Help\\"},
      {"Coms", "Coms\\"},
      {"DefRpt", "DefRpt\\"},
      {"Special\\help", "Special\\Help\\"},
      {"BIETL", "BIETL\\"},
      {"Special\\BIETL", "Special\\BIETL\\"},
  };
  for (const Case& c : kCases) EXPECT_EQ(AreaFolder(c.Area), c.Folder) << c.Area;
}

}  // namespace
}  // namespace zor
