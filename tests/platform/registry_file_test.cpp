// Registry files: what each line means, what a damaged file reports, and that what the writer
// produces reads back to the same keys and values.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/utf.h"
#include "platform/reg_file_parser.h"
#include "platform/reg_file_writer.h"
#include "platform/registry_error.h"

namespace zor {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

RegHive ParseLm(std::string_view text) {
  RegHive hive;
  ApplyRegFile(ParseRegFile(text, "test.reg"), RegRoot::LocalMachine, hive);
  return hive;
}

std::optional<RegValue> ValueOf(const RegHive& hive, std::string_view path, std::string_view name) {
  const RegKeyNode* key = hive.FindKey(path);
  if (!key) return std::nullopt;
  const RegNamedValue* v = key->FindValue(name);
  return v ? std::optional<RegValue>(v->Value) : std::nullopt;
}

TEST(RegFileParser, ReadsEveryValueForm) {
  struct Case {
    const char* Title;
    std::string Body;  // after the header
    const char* Name;
    RegValue Expected;
  } const kCases[] = {
      {"string", "[HKEY_LOCAL_MACHINE\\K]\r\n\"Name\"=\"text\"\r\n", "Name",
       RegValue::String("text")},
      {"empty string", "[HKEY_LOCAL_MACHINE\\K]\n\"Name\"=\"\"\n", "Name", RegValue::String("")},
      {"escapes", "[HKEY_LOCAL_MACHINE\\K]\n\"a\\\\b \\\"q\\\"\"=\"C:\\\\x\\\\ \\\"y\\\"\"\n",
       "a\\b \"q\"", RegValue::String("C:\\x\\ \"y\"")},
      {"non-ASCII string", "[HKEY_LOCAL_MACHINE\\K]\n\"名\"=\"数据路径\"\n", "名",
       RegValue::String("数据路径")},
      {"default value", "[HKEY_LOCAL_MACHINE\\K]\n@=\"def\"\n", "", RegValue::String("def")},
      {"blanks around =", "[HKEY_LOCAL_MACHINE\\K]\n  \"N\" = dword:1  \n", "N",
       RegValue::Dword(1)},
      {"dword", "[HKEY_LOCAL_MACHINE\\K]\n\"Port\"=dword:00000300\n", "Port", RegValue::Dword(768)},
      {"dword upper case, short", "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=dword:FfFf\n", "N",
       RegValue::Dword(0xFFFF)},
      {"dword max", "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=dword:ffffffff\n", "N",
       RegValue::Dword(0xFFFFFFFF)},
      {"binary", "[HKEY_LOCAL_MACHINE\\K]\n\"B\"=hex:01,02,ff\n", "B",
       RegValue::Binary({1, 2, 0xFF})},
      {"empty binary", "[HKEY_LOCAL_MACHINE\\K]\n\"B\"=hex:\n", "B", RegValue::Binary({})},
      {"binary one-digit bytes and blanks", "[HKEY_LOCAL_MACHINE\\K]\n\"B\"=hex: 1 ,a\n", "B",
       RegValue::Binary({1, 0xA})},
      {"expand string (UTF-16LE)",
       "[HKEY_LOCAL_MACHINE\\K]\n\"P\"=hex(2):25,00,54,00,25,00,00,00\n", "P",
       RegValue::String("%T%", kRegExpandSz)},
      {"multi string",
       "[HKEY_LOCAL_MACHINE\\K]\n\"M\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n", "M",
       RegValue::MultiString({"a", "bc"})},
      {"qword", "[HKEY_LOCAL_MACHINE\\K]\n\"Q\"=hex(b):01,00,00,00,00,00,00,80\n", "Q",
       RegValue::Qword(0x8000000000000001ULL)},
      {"string as hex(1)", "[HKEY_LOCAL_MACHINE\\K]\n\"S\"=hex(1):61,00,0a,00,00,00\n", "S",
       RegValue::String("a\n")},
      {"other type keeps its number", "[HKEY_LOCAL_MACHINE\\K]\n\"X\"=hex(100):07\n", "X",
       RegValue{0x100, {7}}},
      {"continuation lines", "[HKEY_LOCAL_MACHINE\\K]\n\"B\"=hex:01,02,\\\n  03,\\\r\n\t04\n", "B",
       RegValue::Binary({1, 2, 3, 4})},
      {"comment and blank lines", "; note\n\n[HKEY_LOCAL_MACHINE\\K]\n; another\n\n\"N\"=dword:2\n",
       "N", RegValue::Dword(2)},
      {"short root name", "[HKLM\\K]\n\"N\"=dword:3\n", "N", RegValue::Dword(3)},
      {"name case ignored, later line wins",
       "[HKEY_LOCAL_MACHINE\\K]\n\"Name\"=dword:1\n\"NAME\"=dword:2\n", "name", RegValue::Dword(2)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Title);
    const RegHive hive = ParseLm(std::string(kHeader) + c.Body);
    EXPECT_EQ(ValueOf(hive, "k", c.Name), c.Expected);
  }
}

TEST(RegFileParser, AppliesDeletionsAndCreatesParents) {
  const RegHive hive = ParseLm(std::string(kHeader) +
                               "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"keep\"=dword:1\n\"gone\"=dword:2\n"
                               "[HKEY_LOCAL_MACHINE\\A\\X\\Y]\n@=\"y\"\n"
                               "[HKEY_LOCAL_MACHINE\\a\\b\\c]\n\"GONE\"=-\n\"never\"=-\n"
                               "[-HKEY_LOCAL_MACHINE\\A\\X]\n"
                               "[HKEY_CURRENT_USER\\Other]\n\"N\"=dword:1\n");
  ASSERT_NE(hive.FindKey("A"), nullptr);
  ASSERT_NE(hive.FindKey("a\\b"), nullptr);
  EXPECT_EQ(hive.FindKey("A\\B\\C")->Path, "A\\B\\C");  // first spelling kept
  EXPECT_EQ(ValueOf(hive, "A\\B\\C", "keep"), RegValue::Dword(1));
  EXPECT_EQ(ValueOf(hive, "A\\B\\C", "gone"), std::nullopt);
  EXPECT_EQ(hive.FindKey("A\\X"), nullptr);
  EXPECT_EQ(hive.FindKey("A\\X\\Y"), nullptr);
  EXPECT_EQ(hive.SubKeyNames("A"), std::vector<std::string>{"B"});
  EXPECT_EQ(hive.FindKey("Other"), nullptr);  // another root's key is not applied here
}

TEST(RegFileParser, ReadsUtf16WithByteOrderMarkAndRegedit4) {
  const std::string text = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\r\n\"名\"=\"值\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  EXPECT_EQ(ValueOf(ParseLm(bytes), "K", "名"), RegValue::String("值"));
  EXPECT_EQ(ValueOf(ParseLm("\xEF\xBB\xBF" + text), "K", "名"), RegValue::String("值"));

  // REGEDIT4 keeps hex(2)/hex(7) strings as 8-bit text.
  const RegHive old = ParseLm(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"P\"=hex(2):25,54,25,00\n"
      "\"M\"=hex(7):61,00,62,00,00\n\"N\"=dword:5\n");
  EXPECT_EQ(ValueOf(old, "K", "P"), RegValue::String("%T%", kRegExpandSz));
  EXPECT_EQ(ValueOf(old, "K", "M"), RegValue::MultiString({"a", "b"}));
  EXPECT_EQ(ValueOf(old, "K", "N"), RegValue::Dword(5));
}

TEST(RegFileParser, DamagedFilesNameTheFileAndLine) {
  struct Case {
    std::string Text;
    int Line;
    const char* Problem;
  } const kCases[] = {
      {"", 1, "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""},
      {"\n\nWindows Registry Editor 5\n", 3,
       "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""},
      {std::string(kHeader) + "\"N\"=dword:1\n", 3, "a value comes before any key"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K\n", 3, "the key line does not end with ']'"},
      {std::string(kHeader) + "[HKEY_USERS\\K]\n", 3, "unknown root key \"HKEY_USERS\""},
      {std::string(kHeader) + "[-HKEY_LOCAL_MACHINE]\n", 3, "a root key cannot be deleted"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3,
       "the key path has an empty part"},
      {std::string(kHeader) + "[-HKEY_LOCAL_MACHINE\\K]\n\"N\"=dword:1\n", 4,
       "a value follows a key that is being deleted"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\nN=1\n", 4,
       "expected a key in brackets, a value or a comment"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N=\"x\"\n", 4,
       "expected '=' after the value name"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=\"abc\n", 4,
       "the string has no closing quote"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=\"C:\\\"\n", 4,
       "the string has no closing quote"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=\"C:\\Temp\"\n", 4,
       "invalid escape \"\\T\" in the string (only \\\\ and \\\" are allowed)"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=\"a\" x\n", 4,
       "unexpected text after the closing quote"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=dword:123456789\n", 4,
       "a dword value needs one to eight hex digits"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=dword:\n", 4,
       "a dword value needs one to eight hex digits"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex:01,zz\n", 4,
       "\"zz\" is not a byte in hex (one or two hex digits)"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex:01,\\\n  100\n", 5,
       "\"100\" is not a byte in hex (one or two hex digits)"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex:01,\n", 4,
       "\"\" is not a byte in hex (one or two hex digits)"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex(2:00\n", 4,
       "hex(<type>) needs one to eight hex digits in parentheses"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex 01\n", 4,
       "expected ':' after hex"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex:01,\\\n", 5,
       "\"\" is not a byte in hex (one or two hex digits)"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=hex:01,\\", 4,
       "the file ends where a continuation line should follow"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"N\"=12\n", 4,
       "unknown value data (expected \"text\", dword:, hex: or -)"},
      {std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\K]\n\"a\tb\"=dword:1\n", 4,
       "the value name contains the control character 0x09"},
      {std::string("\xFF\xFEW\0x", 5), 1, "the UTF-16 text ends in the middle of a character"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Text);
    try {
      ParseRegFile(c.Text, "/x/HKLM.reg");
      ADD_FAILURE() << "no error";
    } catch (const ERegistryFileError& e) {
      EXPECT_EQ(e.FileName, "/x/HKLM.reg");
      EXPECT_EQ(e.Line, c.Line);
      EXPECT_EQ(e.Problem, c.Problem);
      EXPECT_EQ(e.Message, "Damaged registry file \"/x/HKLM.reg\", line " + std::to_string(c.Line) +
                               ": " + c.Problem);
    }
  }
}

TEST(RegFileParser, HiveFileRefusesKeysOfAnotherRoot) {
  try {
    ParseHiveFile(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\n[HKEY_CURRENT_USER\\B]\n",
                  "HKLM.reg", RegRoot::LocalMachine);
    FAIL() << "no error";
  } catch (const ERegistryFileError& e) {
    EXPECT_STREQ(
        e.what(),
        "Damaged registry file \"HKLM.reg\", line 5: the key belongs to HKEY_CURRENT_USER, "
        "not to this hive (HKEY_LOCAL_MACHINE)");
  }
}

TEST(RegFileWriter, WritesTheExportFormat) {
  RegHive hive;
  hive.SetValue("Software\\ZOR", "", RegValue::String("d"));
  hive.SetValue("Software\\ZOR", "Path", RegValue::String("C:\\a \"b\""));
  hive.SetValue("Software\\ZOR", "Port", RegValue::Dword(768));
  hive.SetValue("Software\\ZOR", "Exp", RegValue::String("%T%", kRegExpandSz));
  hive.SetValue("Software\\ZOR", "Bin", RegValue::Binary({0xAB, 1}));
  hive.SetValue("Software\\ZOR", "Q", RegValue::Qword(1));
  hive.SetValue("Software\\ZOR", "Lines", RegValue::String("a\nb"));
  hive.CreateKey("Software\\ZOR\\Empty");
  EXPECT_EQ(WriteRegFile(hive, RegRoot::LocalMachine, "software\\zor"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\ZOR]\r\n"
            "@=\"d\"\r\n"
            "\"Path\"=\"C:\\\\a \\\"b\\\"\"\r\n"
            "\"Port\"=dword:00000300\r\n"
            "\"Exp\"=hex(2):25,00,54,00,25,00,00,00\r\n"
            "\"Bin\"=hex:ab,01\r\n"
            "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
            "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\ZOR\\Empty]\r\n"
            "\r\n");
}

TEST(RegFileWriter, WrapsLongHexDataAt80Columns) {
  RegHive hive;
  hive.SetValue("K", "Blob", RegValue::Binary(std::vector<uint8_t>(100, 0x5A)));
  const std::string text = WriteRegFile(hive, RegRoot::CurrentUser);
  std::istringstream lines(text);
  std::string line;
  int hexLines = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_LE(line.size(), 80u) << line;
    if (line.find("5a") != std::string::npos) ++hexLines;
  }
  EXPECT_GT(hexLines, 1);
  EXPECT_EQ(ParseHiveFile(text, "HKCU.reg", RegRoot::CurrentUser), hive);
}

TEST(RegFileWriter, RoundTripKeepsEveryValueAndSpelling) {
  std::ifstream in(std::string(ZOR_FIXTURES_DIR) + "/registry/sample.reg", std::ios::binary);
  const std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  RegHive hive = ParseHiveFile(sample, "sample.reg", RegRoot::LocalMachine);
  // Values a file can only hold in hex form must survive too.
  hive.SetValue("Software\\ZOR\\DK880", "Odd", RegValue{kRegSz, {0x61}});
  hive.SetValue("Software\\ZOR\\DK880", "NoZero", RegValue{kRegSz, {0x61, 0x00}});
  hive.SetValue("Software\\ZOR\\DK880", "LoneSurrogate", RegValue{kRegSz, {0x00, 0xD8, 0, 0}});
  hive.SetValue("Software\\ZOR\\DK880", "ShortDword", RegValue{kRegDword, {1, 2}});
  hive.SetValue("Software\\ZOR\\DK880", "None", RegValue{kRegNone, {}});
  hive.SetValue("Software\\ZOR\\DK880", "Big", RegValue{0xFFFFFFFF, {9}});
  const std::string written = WriteRegFile(hive, RegRoot::LocalMachine);
  const RegHive reread = ParseHiveFile(written, "again.reg", RegRoot::LocalMachine);
  EXPECT_EQ(reread, hive);
  EXPECT_EQ(WriteRegFile(reread, RegRoot::LocalMachine), written);
  EXPECT_EQ(ValueOf(reread, "SOFTWARE\\zor\\dk880", "tcpport"), RegValue::Dword(768));
  EXPECT_EQ(ValueOf(reread, "Software\\ZOR\\DK880", "WriteLogPath"),
            RegValue::String("%TEMP%\\zor", kRegExpandSz));
  EXPECT_EQ(ValueOf(reread, "Software\\ZOR\\DK880\\Logs", ""), RegValue::String("C:\\ZOR\\Logs"));
  EXPECT_EQ(ValueOf(reread, "Software\\ZOR\\DK880\\Logs", "Quote"), RegValue::String("say \"hi\""));
}

}  // namespace
}  // namespace zor
