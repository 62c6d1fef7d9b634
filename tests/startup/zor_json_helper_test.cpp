// Reading the cloud lookup's JSON answer into the lookup record list.
#include <gtest/gtest.h>

#include <string>

#include "startup/server_settings/lookup_record_set.h"
#include "startup/server_settings/zor_json_helper.h"
#include "support/expect_error.h"

namespace zor {
namespace {

TEST(ZorJsonHelper, ReadsTheLastRecordOfTheAnswer) {
  struct Case {
    const char* name;
    std::string json;
    size_t records;
    std::string server;
    std::string db;
    int32_t port;
  } const kCases[] = {
      {"two records: the second wins",
       R"({"ServerInfoData":[{"APPServerName":"first","DBName":"D1"},{"APPServerName":"second","DBName":"D2"}]})",
       2, "second", "D2", 0},
      {"names without letter case",
       R"({"serverinfodata":[{"appservername":"app1","DBNAME":"abc","AppPort":769}]})", 1, "app1",
       "abc", 769},
      {"bare number followed by a comma",
       R"({"ServerInfoData":[{"APPPort":768,"APPServerName":"srv","DBName":"d"}]})", 1, "srv", "d",
       768},
      {"escapes and a nested member",
       R"({"ServerInfoData":[{"APPServerName":"a\"b\\c\u4e2d","Extra":{"x":[1,{"y":"}]"}]},"DBName":"q"}]})",
       1, "a\"b\\c中", "q", 0},
      {"port as text", R"({"ServerInfoData":[{"APPPort":" 770 ","APPServerName":"s"}]})", 1, "s",
       "", 770},
      {"database name keeps five characters", R"({"ServerInfoData":[{"DBName":"数据库名称很长"}]})",
       1, "", "数据库名称", 0},
      {"number into a text field", R"({"ServerInfoData":[{"APPServerName":10.5,"DBName":true}]})",
       1, "10.5", "true", 0},
      {"null leaves the field empty", R"({"ServerInfoData":[{"APPServerName":null}]})", 1, "", "",
       0},
      {"the same member twice: the later one",
       R"({"ServerInfoData":[{"DBName":"one","dbname":"two"}]})", 1, "", "two", 0},
      {"key deeper in the document",
       R"({"Result":{"Code":0,"ServerInfoData":[{"APPServerName":"deep"}]}})", 1, "deep", "", 0},
      {"a single record without a list", R"({"ServerInfoData":{"APPServerName":"one"}})", 1, "one",
       "", 0},
      {"empty list", R"({"ServerInfoData":[]})", 0, "", "", 0},
      {"key missing", R"({"Other":[{"APPServerName":"x"}]})", 0, "", "", 0},
      {"key null", R"({"ServerInfoData":null})", 0, "", "", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TLookupRecordSet records;
    TZORJsonHelper().ParseArray(c.json, records, "ServerInfoData");
    EXPECT_EQ(records.RecordCount(), c.records);
    EXPECT_EQ(records.AsString("APPServerName"), c.server);
    EXPECT_EQ(records.AsString("DBName"), c.db);
    EXPECT_EQ(records.AsInteger("APPPort"), c.port);
  }
}

TEST(ZorJsonHelper, RefusesWhatIsNotAnAnswer) {
  struct Case {
    std::string json;
    std::string message;
  } const kCases[] = {
      {"", "the lookup answer is not valid JSON (at byte 1)"},
      {R"({"ServerInfoData":[{"APPServerName":"x"},]})",
       "the lookup answer is not valid JSON (at byte 42)"},
      {R"({"ServerInfoData":[{APPServerName:"x"}]})",
       "the lookup answer is not valid JSON (at byte 21)"},
      {"{\"ServerInfoData\":[{\"DBName\":\"\xff\"}]}",
       "the lookup answer is not valid JSON (at byte 31)"},
      {R"({"ServerInfoData":[{"APPPort":4E444}]})",
       "the lookup answer is not valid JSON (a number out of range)"},
      {R"({"ServerInfoData":"text"})",
       "the lookup answer's \"ServerInfoData\" is neither a list nor a record"},
      {R"({"ServerInfoData":[{"APPServerName":"x"},3]})",
       "record 2 of the lookup answer's \"ServerInfoData\" is not an object"},
      {R"({"ServerInfoData":[{"APPPort":"7x"}]})",
       "the lookup answer's field \"APPPort\" is not a whole number: \"7x\""},
      {R"({"ServerInfoData":[{"APPPort":4294967296}]})",
       "the lookup answer's field \"APPPort\" is not a whole number: 4294967296"},
      {R"({"ServerInfoData":[{"APPPort":1.5}]})",
       "the lookup answer's field \"APPPort\" is not a whole number: 1.5"},
      {R"({"ServerInfoData":[{"DBName":["a"]}]})",
       "the lookup answer's field \"DBName\" holds a list instead of a value"},
      {std::string(100, '[') + std::string(100, ']'),
       "the lookup answer is nested deeper than 64 levels"},
      {std::string(kMaxLookupAnswerBytes + 1, ' '),
       "the lookup answer is larger than 1048576 bytes"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.json.substr(0, 80));
    TLookupRecordSet records;
    testing::ExpectError<ELookupAnswerError>(
        [&] { TZORJsonHelper().ParseArray(c.json, records, "ServerInfoData"); },
        "ELookupAnswerError", c.message);
  }
}

TEST(ZorJsonHelper, StripsOneBraceOrQuoteAtEachEnd) {
  struct Case {
    const char* in;
    const char* braces;
    const char* quotes;
  } const kCases[] = {
      {"{a}", "a", "{a}"}, {"{{a}}", "{a}", "{{a}}"}, {"\"a\"", "\"a\"", "a"},
      {"{", "", "{"},      {"\"", "\"", ""},          {"", "", ""},
      {"a}", "a", "a}"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(TZORJsonHelper::StripBraces(c.in), c.braces);
    EXPECT_EQ(TZORJsonHelper::StripQuotes(c.in), c.quotes);
  }
}

TEST(LookupRecordSet, FieldsAndTheirTypes) {
  TLookupRecordSet records;
  EXPECT_EQ(records.AsString("DBName"), "");  // no record yet
  testing::ExpectError([&] { records.SetString(0, "x"); }, "No current record");
  testing::ExpectError([&] { records.AsString("Nope"); }, "Field 'Nope' not found");
  records.Append();
  testing::ExpectError([&] { records.SetString(records.FindField("APPPort"), "768"); },
                       "Field 'APPPort' takes a number, not the text \"768\"");
  testing::ExpectError([&] { records.AsInteger("DBName"); }, "Field 'DBName' is not a number");
  records.SetString(records.FindField("enterpriseid"), std::string(30, '9'));
  EXPECT_EQ(records.AsString("EnterpriseID"), std::string(20, '9'));
  records.SetInteger(records.FindField("DBName"), 1234567);
  EXPECT_EQ(records.AsString("DBName"), "12345");
}

}  // namespace
}  // namespace zor
