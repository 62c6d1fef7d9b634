// The system's simplified <-> traditional tables (OpenCC): both directions, text that is not
// well-formed UTF-8 or holds NULs passes around the converted runs, and a folder without the
// tables' files means no tables.
#include "platform/script_tables.h"

#include <gtest/gtest.h>

#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

using testing::ScopedEnv;

TEST(ScriptTablesTest, ConvertsBothWaysAndKeepsWhatIsNotText) {
  std::string why;
  const std::unique_ptr<TScriptTables> tables = OpenScriptTables(&why);
  if (!tables) GTEST_SKIP() << "no conversion tables on this machine: " << why;
  struct Case {
    std::string Simplified;
    std::string Traditional;
  } const kCases[] = {
      {"客户端报表.dat", "客戶端報表.dat"},
      {"ZORSys.ini", "ZORSys.ini"},
      {"", ""},
      // A NUL and bytes that are not UTF-8 stay where they are; the text around them converts.
      {std::string("报\0表", 7), std::string("報\0表", 7)},
      {"报\xFF\xE6表", "報\xFF\xE6表"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(tables->ToTraditional(c.Simplified), c.Traditional);
    EXPECT_EQ(tables->ToSimplified(c.Traditional), c.Simplified);
  }
}

TEST(ScriptTablesTest, AFolderWithoutTheTablesMeansNoTables) {
  testing::TempFolder empty;
  ScopedEnv folder("ZOR_SCRIPT_TABLES", empty.Path().c_str());
  std::string why;
  EXPECT_EQ(OpenScriptTables(&why), nullptr);
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace zor
