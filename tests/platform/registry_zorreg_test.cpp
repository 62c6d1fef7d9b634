// The registry tool: its output and messages in-process, and the program itself end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/reg_file_parser.h"
#include "platform/registry_store.h"
#include "reg_command.h"
#include "support/registry_test_dir.h"

namespace zor {
namespace {

const std::string kSample = std::string(ZOR_FIXTURES_DIR) + "/registry/sample.reg";

struct Result {
  int Code;
  std::string Out, Err;
};

Result RunTool(std::vector<std::string> args, const std::string& input = {}) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = RunRegCommand(args, in, out, err);
  return {code, out.str(), err.str()};
}

TEST(ZorReg, QueryPrintsKeysValuesAndSubkeys) {
  testing::RegistryTestDir dir;
  ASSERT_EQ(RunTool({"import", kSample}).Out, "The operation completed successfully.\n");
  RunTool({"add", "HKEY_LOCAL_MACHINE\\Software\\ZOR\\DK880\\Logs\\Old", "/f"});
  EXPECT_EQ(RunTool({"query", "hklm\\software\\zor\\dk880\\logs"}).Out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\\Logs\n"
            "    (Default)    REG_SZ    C:\\ZOR\\Logs\n"
            "    Quote    REG_SZ    say \"hi\"\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\\Logs\\Old\n");
  struct Case {
    std::vector<std::string> Args;
    std::string Out;
  } const kCases[] = {
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v", "TCPPORT"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    TCPPort    REG_DWORD    0x300\n\n"},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v", "Servers"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    Servers    REG_MULTI_SZ    s1\\0s2\n\n"},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v", "LastSeen"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    LastSeen    REG_QWORD    0x2540be400\n\n"},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "-v", "Key"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    Key    REG_BINARY    010203FF\n\n"},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v", "WriteLogPath"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    WriteLogPath    REG_EXPAND_SZ    "
       "%TEMP%\\zor\n\n"},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/ve"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    (Default)    REG_SZ    (value not "
       "set)\n\n"},
      {{"query", "HKLM\\Software\\ZOR", "/ve", "/s"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\\Logs\n    (Default)    REG_SZ    "
       "C:\\ZOR\\Logs\n"
       "\nEnd of search: 1 match(es) found.\n"},
      {{"query", "HKLM\\Software\\ZOR\\DK880\\Logs", "/s"},
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\\Logs\n    (Default)    REG_SZ    "
       "C:\\ZOR\\Logs\n"
       "    Quote    REG_SZ    say "
       "\"hi\"\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\\Logs\\Old\n\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Args[2]);
    const Result r = RunTool(c.Args);
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out, c.Out);
    EXPECT_EQ(r.Err, "");
  }
}

TEST(ZorReg, AddStoresEachTypeAndAsksBeforeOverwriting) {
  testing::RegistryTestDir dir;
  struct Case {
    std::vector<std::string> Switches;
    const char* Name;
    RegValue Expected;
  } const kCases[] = {
      {{"/v", "S", "/d", "text"}, "S", RegValue::String("text")},
      {{"/v", "s", "/d", "again"}, "S", RegValue::String("again")},
      {{"/v", "Empty"}, "Empty", RegValue::String("")},
      {{"/ve", "/d", "def"}, "", RegValue::String("def")},
      {{"/d", "nameless"}, "", RegValue::String("nameless")},
      {{"/v", "E", "/t", "reg_expand_sz", "/d", "%HOME%"},
       "E",
       RegValue::String("%HOME%", kRegExpandSz)},
      {{"/v", "D", "/t", "REG_DWORD", "/d", "768"}, "D", RegValue::Dword(768)},
      {{"/v", "DH", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}, "DH", RegValue::Dword(0xFFFFFFFF)},
      {{"/v", "Q", "/t", "REG_QWORD", "/d", "0x123456789"}, "Q", RegValue::Qword(0x123456789ULL)},
      {{"/v", "B", "/t", "REG_BINARY", "/d", "01ab"}, "B", RegValue::Binary({1, 0xAB})},
      {{"/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}, "M", RegValue::MultiString({"a", "b"})},
      {{"/v", "MS", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#b#c"},
       "MS",
       RegValue::MultiString({"a", "b", "c"})},
      {{"/v", "N", "/t", "REG_NONE", "/d", "ff"}, "N", RegValue{kRegNone, {0xFF}}},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> args = {"add", "HKCU\\Software\\ZOR"};
    args.insert(args.end(), c.Switches.begin(), c.Switches.end());
    args.push_back("/f");  // "S" and the default value are written twice
    const Result r = RunTool(args);
    EXPECT_EQ(r.Code, 0) << r.Err;
    const RegHive hive = LoadHive(RegRoot::CurrentUser);
    const RegKeyNode* key = hive.FindKey("Software\\ZOR");
    ASSERT_NE(key, nullptr);
    ASSERT_NE(key->FindValue(c.Name), nullptr) << c.Name;
    EXPECT_EQ(key->FindValue(c.Name)->Value, c.Expected) << c.Name;
  }

  const std::vector<std::string> overwrite = {"add", "HKCU\\Software\\ZOR", "/v", "D",
                                              "/t",  "REG_DWORD",           "/d", "1"};
  Result r = RunTool(overwrite, "no\n");
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Out, "Value D exists, overwrite(Yes/No)? The operation was canceled by the user.\n");
  EXPECT_EQ(LoadHive(RegRoot::CurrentUser).FindKey("Software\\ZOR")->FindValue("D")->Value,
            RegValue::Dword(768));
  r = RunTool(overwrite, "yes\n");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(LoadHive(RegRoot::CurrentUser).FindKey("Software\\ZOR")->FindValue("D")->Value,
            RegValue::Dword(1));
}

TEST(ZorReg, DeleteRemovesValuesAllValuesOrTheKey) {
  testing::RegistryTestDir dir;
  RunTool({"import", kSample});
  const std::string key = "HKLM\\Software\\ZOR\\DK880";
  Result r = RunTool({"delete", key, "/v", "TCPPort"}, "n\n");
  EXPECT_EQ(
      r.Out,
      "Delete the registry value TCPPort (Yes/No)? The operation was canceled by the user.\n");
  EXPECT_EQ(RunTool({"delete", key, "/v", "tcpport"}, "y\n").Code, 0);
  EXPECT_EQ(RunTool({"query", key, "/v", "TCPPort"}).Err,
            "ERROR: The system was unable to find the specified registry key or value.\n");
  EXPECT_EQ(RunTool({"delete", key, "/va", "/f"}).Code, 0);
  const RegHive afterValues = LoadHive(RegRoot::LocalMachine);
  EXPECT_TRUE(afterValues.FindKey("Software\\ZOR\\DK880")->Values.empty());
  EXPECT_NE(afterValues.FindKey("Software\\ZOR\\DK880\\Logs"), nullptr);  // subkeys stay
  r = RunTool({"delete", key}, "yes\n");
  EXPECT_EQ(
      r.Out,
      "Permanently delete the registry key HKEY_LOCAL_MACHINE\\Software\\ZOR\\DK880 (Yes/No)? "
      "The operation completed successfully.\n");
  EXPECT_EQ(LoadHive(RegRoot::LocalMachine).FindKey("Software\\ZOR\\DK880\\Logs"), nullptr);
  EXPECT_NE(LoadHive(RegRoot::LocalMachine).FindKey("Software\\ZOR"), nullptr);
}

TEST(ZorReg, ErrorsSayWhatIsWrongAndExitWithOne) {
  testing::RegistryTestDir dir;
  RunTool({"import", kSample});
  const std::string damaged = dir.Path + "/damaged.reg";
  std::ofstream(damaged) << "Windows Registry Editor Version "
                            "5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:1\n\"y\"=oops\n";
  const std::string usage = "Type \"zorreg /?\" for usage.\n";
  const std::string notFound =
      "ERROR: The system was unable to find the specified registry key or value.\n";
  struct Case {
    std::vector<std::string> Args;
    std::string Err;
  } const kCases[] = {
      {{}, "ERROR: Invalid syntax. Give an operation.\n" + usage},
      {{"frob", "HKLM"}, "ERROR: Invalid syntax. Unknown operation \"frob\".\n" + usage},
      {{"query"}, "ERROR: Invalid syntax.\n" + usage},
      {{"query", "HKEY_USERS\\x"}, "ERROR: Invalid key name.\n"},
      {{"query", "HKLM\\a\\\\b"}, "ERROR: Invalid key name.\n"},
      {{"query", "HKLM\\Nothing"}, notFound},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v", "Nothing"}, notFound},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v"},
       "ERROR: Invalid syntax. The switch \"/v\" needs a value.\n" + usage},
      {{"query", "HKLM\\Software\\ZOR\\DK880", "/v", "a", "/ve"},
       "ERROR: Invalid syntax. Give either /v or /ve.\n" + usage},
      {{"query", "HKLM\\Software", "/x"},
       "ERROR: Invalid syntax. Unknown switch \"/x\".\n" + usage},
      {{"query", "HKLM\\Software", "/s", "/S"},
       "ERROR: Invalid syntax. The switch \"/S\" is given twice.\n" + usage},
      {{"query", "HKLM\\Software", "extra"},
       "ERROR: Invalid syntax. Unexpected argument \"extra\".\n" + usage},
      {{"add", "HKLM\\S", "/v", "a", "/t", "REG_LINK"},
       "ERROR: Invalid syntax. Unknown value type \"REG_LINK\".\n" + usage},
      {{"add", "HKLM\\S", "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"},
       "ERROR: Invalid syntax. Specify valid numeric value for 'REG_DWORD'.\n" + usage},
      {{"add", "HKLM\\S", "/v", "a", "/t", "REG_BINARY", "/d", "abc"},
       "ERROR: Invalid syntax. Specify valid hexadecimal data for 'REG_BINARY'.\n" + usage},
      {{"add", "HKLM\\S", "/v", "a", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
       "ERROR: Invalid syntax. REG_MULTI_SZ data cannot hold an empty string.\n" + usage},
      {{"add", "HKLM"}, "ERROR: Invalid key name.\n"},
      {{"delete", "HKLM", "/f"}, "ERROR: Invalid key name.\n"},
      {{"delete", "HKLM\\Nothing", "/f"}, notFound},
      {{"delete", "HKLM\\Software\\ZOR\\DK880", "/v", "Nothing", "/f"}, notFound},
      {{"import", dir.Path + "/missing.reg"},
       "ERROR: The file \"" + dir.Path + "/missing.reg\" does not exist.\n"},
      {{"import", damaged},
       "ERROR: Damaged registry file \"" + damaged +
           "\", line 5: unknown value data "
           "(expected \"text\", dword:, hex: or -)\n"},
      {{"export", "HKLM\\Nothing", dir.Path + "/x.reg"}, notFound},
      {{"export", "HKLM\\Software", dir.Path + "/no/such/x.reg", "/y"},
       "ERROR: Cannot write the file \"" + dir.Path + "/no/such/x.reg\".\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const Result r = RunTool(c.Args);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, c.Err);
  }
  // The damaged import changed nothing, not even its valid first key.
  EXPECT_EQ(LoadHive(RegRoot::LocalMachine).FindKey("A"), nullptr);
}

TEST(ZorReg, WritesToAnUnwritableHiveAreDenied) {
  testing::RegistryTestDir dir;
  std::ofstream(dir.Path + "/file") << "x";
  ScopedRegistryDir blocked(dir.Path + "/file/zor");
  const Result r = RunTool({"add", "HKLM\\Software\\ZOR", "/v", "N", "/d", "1", "/f"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Err, "ERROR: Access is denied.\n");
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs the program with the store in `registryDir`; returns the exit code and its output.
Result RunProgram(const std::string& registryDir, const std::string& arguments) {
  const std::string errFile = registryDir + ".stderr.txt";
  const std::string command = "ZOR_REGISTRY_DIR='" + registryDir + "' '" + ZOR_BIN_DIR +
                              "/zorreg' " + arguments + " </dev/null 2>'" + errFile + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {-1, "", "popen failed"};
  std::string out;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, Slurp(errFile)};
}

TEST(ZorReg, ProgramImportsQueriesAndExportsEndToEnd) {
  testing::RegistryTestDir
      dir;  // only a scratch folder here: the program gets it through its environment
  const std::string store = dir.Path + "/store";
  Result r = RunProgram(store, "import '" + kSample + "'");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "The operation completed successfully.\n");

  r = RunProgram(store, "query 'HKEY_LOCAL_MACHINE\\Software\\ZOR\\DK880' /v ShowNextTime");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880\n    ShowNextTime    REG_DWORD    0x1\n\n");

  r = RunProgram(store, "add 'HKLM\\Software\\ZOR\\DK880' /v WaitInput /t REG_DWORD /d 500 /f");
  EXPECT_EQ(r.Code, 0) << r.Err;

  const std::string exported = dir.Path + "/export.reg";
  r = RunProgram(store, "export 'HKLM\\Software\\ZOR\\DK880' '" + exported + "'");
  EXPECT_EQ(r.Code, 0) << r.Err;
  // The export holds the imported values with the change, and imports back to the same key.
  RegHive expected = ParseHiveFile(Slurp(kSample), kSample, RegRoot::LocalMachine);
  expected.SetValue("Software\\ZOR\\DK880", "WaitInput", RegValue::Dword(500));
  const RegHive fromExport = ParseHiveFile(Slurp(exported), exported, RegRoot::LocalMachine);
  for (const char* key : {"Software\\ZOR\\DK880", "Software\\ZOR\\DK880\\Logs"})
    EXPECT_EQ(fromExport.FindKey(key)->Values, expected.FindKey(key)->Values) << key;

  r = RunProgram(
      store, "export 'HKLM\\Software\\ZOR\\DK880' '" + exported + "'");  // exists, no /y, no answer
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Out,
            "File " + exported +
                " already exists. Overwrite (Yes/No)? The operation was canceled by the user.\n");

  r = RunProgram(store, "query 'HKLM\\Software\\ZOR\\Missing'");
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.Err, "ERROR: The system was unable to find the specified registry key or value.\n");
}

}  // namespace
}  // namespace zor
