#include "base/waste_time_log.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

struct Batch {
  std::vector<std::string> Lines;
  std::string Script;
};

class WasteTimeLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log.SetSink([this](const std::vector<std::string>& lines, const std::string& script) {
      batches.push_back({lines, script});
    });
    log.SetTableNames("zor.client", "v4");
    log.SetSystemInfo("PC-01", "alice", "4.0.1.2", "SP1");
  }
  void AddLines(int n) {
    for (int i = 0; i < n; ++i)
      log.Add(WasteTimeCategory::DownLoad, "TDownLoad", "file", std::to_string(i), i);
  }
  std::vector<Batch> batches;
  TZORWasteTimeLog log;
};

TEST_F(WasteTimeLogTest, FlushesWhenMoreThanAHundredLinesOrForcedAndNotEmpty) {
  AddLines(100);
  EXPECT_TRUE(batches.empty());
  EXPECT_EQ(log.Count(), 100u);
  AddLines(1);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].Lines.size(), 101u);
  EXPECT_EQ(log.Count(), 0u);
  log.Flush(true);  // empty: nothing is sent
  EXPECT_EQ(batches.size(), 1u);
  AddLines(3);
  log.Flush(false);
  EXPECT_EQ(batches.size(), 1u);
  log.Flush(true);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[1].Lines.size(), 3u);
}

TEST_F(WasteTimeLogTest, ScriptDropsAndRecreatesTheNamedTable) {
  EXPECT_EQ(log.TableName(), "LogTime_zor_client_v4");
  AddLines(1);
  log.Flush(true);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(
      batches[0].Script,
      "IF OBJECT_ID('[LogTime_zor_client_v4]') IS NOT NULL DROP TABLE [LogTime_zor_client_v4]\r\n"
      "CREATE TABLE [LogTime_zor_client_v4] (GUID char(38) NOT NULL PRIMARY KEY, PCName "
      "varchar(20), "
      "WindowUser varchar(20), Version varchar(24), ServicePack varchar(10), SenderName "
      "varchar(30), "
      "Category varchar(40), Title varchar(40), Detail varchar(100), DiffTime int)\r\n");
  const std::string& line = batches[0].Lines[0];
  EXPECT_EQ(line.rfind("INSERT INTO [LogTime_zor_client_v4] (GUID, PCName", 0), 0u) << line;
  EXPECT_NE(
      line.find("'PC-01', 'alice', '4.0.1.2', 'SP1', 'TDownLoad', 'DownLoad', 'file', '0', 0)"),
      std::string::npos)
      << line;
}

TEST_F(WasteTimeLogTest, InsertValuesAreQuotedAndFitTheirColumns) {
  log.Add(WasteTimeCategory::Report, "O'Brien", std::string(60, 't'), "d", 5);
  log.Flush(true);
  const std::string& line = batches.at(0).Lines.at(0);
  EXPECT_NE(line.find("'O''Brien'"), std::string::npos) << line;
  EXPECT_NE(line.find("'" + std::string(40, 't') + "'"), std::string::npos) << line;
  EXPECT_EQ(line.find(std::string(41, 't')), std::string::npos) << line;
}

TEST_F(WasteTimeLogTest, PlainTextSendsTabSeparatedLinesWithoutScript) {
  log.SetPlainText(true);
  log.Add(WasteTimeCategory::Login, "TLogon", "logon", "two\tparts", 250);
  log.Flush(true);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].Script, "");
  const std::string& line = batches[0].Lines[0];
  ASSERT_EQ(
      line.size(),
      38 +
          std::string("\tPC-01\talice\t4.0.1.2\tSP1\tTLogon\tLogin\tlogon\ttwo parts\t250").size());
  EXPECT_EQ(line.substr(38), "\tPC-01\talice\t4.0.1.2\tSP1\tTLogon\tLogin\tlogon\ttwo parts\t250");
  EXPECT_EQ(line[0], '{');
  EXPECT_EQ(line[37], '}');
}

TEST(WasteTimeLog, WithoutASinkLinesAreDiscardedAndCategoriesHaveTheirNames) {
  TZORWasteTimeLog log;
  for (int i = 0; i < 101; ++i) log.Add(WasteTimeCategory::Other, "s", "t", "d", 1);
  EXPECT_EQ(log.Count(), 0u);
  const std::pair<WasteTimeCategory, const char*> kNames[] = {
      {WasteTimeCategory::Action, "Action"}, {WasteTimeCategory::DownLoad, "DownLoad"},
      {WasteTimeCategory::Login, "Login"},   {WasteTimeCategory::SelView, "SelView"},
      {WasteTimeCategory::Report, "Report"}, {WasteTimeCategory::Other, "Other"}};
  for (const auto& [category, name] : kNames) EXPECT_EQ(CategoryName(category), name);
}

}  // namespace
}  // namespace zor
