// TZORRegistry: typed reads with their defaults, key paths relative to the open key, names
// without case, and what a read-only object may not do.
#include <gtest/gtest.h>

#include "platform/registry_error.h"
#include "platform/zor_registry.h"
#include "support/file_contents.h"
#include "support/registry_test_dir.h"

namespace zor {
namespace {

TEST(TZORRegistry, TypedReadsFollowTheStoredType) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR\\DK880", true));
  // nullopt: the read gives its default.
  struct Case {
    const char* Name;
    std::optional<RegValue> Stored;
    std::optional<bool> Bool;
    std::optional<int32_t> Integer;
    std::optional<std::string> String;
  } const kCases[] = {
      {"Missing", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {"StringNumber", RegValue::String("768"), true, std::nullopt, "768"},
      {"StringZero", RegValue::String("0"), false, std::nullopt, "0"},
      {"StringText", RegValue::String("abc"), std::nullopt, std::nullopt, "abc"},
      {"StringEmpty", RegValue::String(""), std::nullopt, std::nullopt, ""},
      {"StringNegative", RegValue::String("-5"), true, std::nullopt, "-5"},
      {"StringHex", RegValue::String("$0"), false, std::nullopt, "$0"},
      {"StringTooBig", RegValue::String("99999999999"), std::nullopt, std::nullopt, "99999999999"},
      {"StringTrailingText", RegValue::String("1x"), std::nullopt, std::nullopt, "1x"},
      {"ExpandNumber", RegValue::String("1", kRegExpandSz), true, std::nullopt, "1"},
      {"Dword", RegValue::Dword(768), true, 768, "768"},
      {"DwordZero", RegValue::Dword(0), false, 0, "0"},
      {"DwordAllOnes", RegValue::Dword(0xFFFFFFFF), true, -1, "-1"},
      {"DwordWrongSize", RegValue{kRegDword, {1, 0}}, std::nullopt, std::nullopt, std::nullopt},
      {"Qword", RegValue::Qword(5), std::nullopt, std::nullopt, std::nullopt},
      {"Binary", RegValue::Binary({1, 0, 0, 0}), std::nullopt, std::nullopt, std::nullopt},
      {"Multi", RegValue::MultiString({"1"}), std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : kCases)
    if (c.Stored) reg.WriteValue(c.Name, *c.Stored);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    for (bool def : {false, true}) EXPECT_EQ(reg.ReadBoolDef(c.Name, def), c.Bool.value_or(def));
    EXPECT_EQ(reg.ReadIntegerDef(c.Name, -7), c.Integer.value_or(-7));
    EXPECT_EQ(reg.ReadStringDef(c.Name, "dflt"), c.String.value_or("dflt"));
    EXPECT_EQ(reg.ValueExists(c.Name), c.Stored.has_value());
    EXPECT_EQ(reg.ReadValue(c.Name), c.Stored);
  }
}

TEST(TZORRegistry, WritesStoreTheirTypes) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::CurrentUser, KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR", true));
  reg.WriteBool("B", true);
  reg.WriteInteger("I", -2);
  reg.WriteString("S", "数据");
  reg.WriteExpandString("E", "%HOME%");
  reg.WriteBinary("Bin", {9, 8});
  reg.WriteMultiString("M", {"a", "b"});
  reg.WriteQword("Q", 1ULL << 40);
  TZORRegistry other(RegRoot::CurrentUser, KEY_READ);
  ASSERT_TRUE(other.OpenKey("software\\zor", false));
  EXPECT_EQ(other.ReadValue("b"), RegValue::Dword(1));
  EXPECT_EQ(other.ReadValue("i"), RegValue::Dword(0xFFFFFFFE));
  EXPECT_EQ(other.ReadValue("s"), RegValue::String("数据"));
  EXPECT_EQ(other.ReadValue("e"), RegValue::String("%HOME%", kRegExpandSz));
  EXPECT_EQ(other.ReadValue("BIN"), RegValue::Binary({9, 8}));
  EXPECT_EQ(other.ReadValue("m")->AsMultiString(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(other.ReadValue("q")->AsQword(), 1ULL << 40);
  EXPECT_EQ(other.GetValueNames(), (std::vector<std::string>{"B", "I", "S", "E", "Bin", "M", "Q"}));
}

TEST(TZORRegistry, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR\\DK880", true));
  reg.WriteString("NetServer", "a");
  reg.WriteString("NETSERVER", "b");  // the same value
  EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"NetServer"});
  EXPECT_EQ(reg.ReadStringDef("netserver", ""), "b");
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\zor\\dk880\\Sub", true));
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\zor\\dk880\\Sub");
  ASSERT_TRUE(reg.OpenKey("\\software\\zor", false));
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"DK880"});
  EXPECT_TRUE(reg.KeyExists("dk880\\SUB"));
}

TEST(TZORRegistry, PathsAreRelativeToTheOpenKeyUnlessTheyStartAtTheRoot) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  EXPECT_FALSE(reg.OpenKey("Software\\ZOR", false));
  EXPECT_EQ(reg.CurrentPath(), "");
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\ZOR");
  ASSERT_TRUE(reg.OpenKey("DK880\\", true));  // relative; a trailing backslash is ignored
  EXPECT_EQ(reg.CurrentPath(), "Software\\ZOR\\DK880");
  EXPECT_FALSE(reg.OpenKey("Software\\ZOR", false));     // would be ...\DK880\Software\ZOR
  EXPECT_EQ(reg.CurrentPath(), "Software\\ZOR\\DK880");  // a failed open keeps the open key
  ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\ZOR");
  EXPECT_TRUE(reg.KeyExists("DK880"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\ZOR\\DK880"));
  EXPECT_FALSE(reg.OpenKey("\\Software\\\\ZOR", true));  // empty part
  EXPECT_FALSE(reg.OpenKey("\\Soft\nware", true));       // cannot be written in a hive file

  // Deleting the open key (through a parent) closes it.
  ASSERT_TRUE(reg.OpenKey("DK880", false));
  EXPECT_TRUE(reg.DeleteKey("\\Software\\ZOR"));
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_FALSE(reg.KeyExists("\\Software\\ZOR\\DK880"));
  EXPECT_FALSE(reg.DeleteKey("\\Software\\ZOR"));
  EXPECT_FALSE(reg.DeleteKey("\\"));  // the root stays
  EXPECT_TRUE(reg.KeyExists("Software"));
}

TEST(TZORRegistry, WritesNeedAnOpenKeyWithWriteAccessThatStillExists) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  const auto expectError = [](auto&& action, const std::string& message) {
    try {
      action();
      ADD_FAILURE() << "no error";
    } catch (const ERegistryError& e) {
      EXPECT_STREQ(e.ClassName(), "ERegistryError");
      EXPECT_EQ(e.Message, message);
    }
  };
  expectError([&] { reg.WriteString("N", "x"); }, "Failed to set data for 'N': no key is open");
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR", true));
  expectError([&] { reg.WriteString("A\nB", "x"); },
              "Failed to set data for 'A\nB': the value name contains the control character 0x0a");

  TZORRegistry reader(RegRoot::LocalMachine, KEY_READ);
  ASSERT_TRUE(reader.OpenKey("Software\\ZOR", false));
  expectError([&] { reader.WriteInteger("N", 1); },
              "Failed to set data for 'N': the key is open for reading only");
  EXPECT_FALSE(reader.DeleteValue("N"));

  TZORRegistry remover(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  ASSERT_TRUE(remover.DeleteKey("Software\\ZOR"));
  expectError([&] { reg.WriteString("N", "x"); },
              "Failed to set data for 'N': the key \"Software\\ZOR\" no longer exists");
  EXPECT_FALSE(reg.KeyExists("\\Software\\ZOR"));  // the failed write did not bring it back
}

TEST(TZORRegistry, DeleteValueAndRootsAreSeparate) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR\\DK880", true));
  reg.WriteInteger("TCPPort", 768);
  reg.WriteString("", "default");
  EXPECT_TRUE(reg.DeleteValue("tcpport"));
  EXPECT_FALSE(reg.DeleteValue("tcpport"));
  EXPECT_EQ(reg.ReadStringDef("", ""), "default");

  reg.SetRootKey(RegRoot::ClassesRoot);
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_FALSE(reg.KeyExists("Software\\ZOR\\DK880"));
  EXPECT_TRUE(reg.OpenKey("Software\\ZOR\\DK880", true));
  EXPECT_EQ(reg.ReadIntegerDef("TCPPort", 1), 1);
  EXPECT_TRUE(std::filesystem::exists(dir.Path + "/HKCR.reg"));
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// A user who works from HKCU sees the administrator's HKLM values where HKCU has none, and
// every write stays under HKCU.
TEST(TZORRegistry, MachineDefaultsFillWhatTheUserKeyLacksAndWritesStayWithTheUser) {
  testing::RegistryTestDir dir;
  {
    TZORRegistry machine(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(machine.OpenKey("\\Software\\ZOR\\DK880", true));
    machine.WriteString("NetServer", "app1.example.com");
    machine.WriteInteger("TCPPort", 1768);
    machine.WriteBool("ShowNextTime", true);
  }
  const std::string hklmBefore = testing::ReadAll(dir.Path + "/HKLM.reg");

  TZORRegistry plain(RegRoot::CurrentUser, KEY_ALL_ACCESS);
  EXPECT_FALSE(plain.OpenKey("\\Software\\ZOR\\DK880", false));  // without defaults: no key

  TZORRegistry user(RegRoot::CurrentUser, KEY_ALL_ACCESS);
  user.SetMachineDefaults(true);
  EXPECT_FALSE(user.OpenKey("\\Software\\ZOR\\Nowhere", false));
  ASSERT_TRUE(user.OpenKey("\\Software\\ZOR\\DK880", false));  // only HKLM has it so far
  EXPECT_EQ(user.ReadStringDef("NetServer", ""), "app1.example.com");
  EXPECT_EQ(user.ReadIntegerDef("TCPPort", 768), 1768);
  EXPECT_EQ(user.ReadIntegerDef("ConnectType", 0), 0);  // nobody has it: the default
  EXPECT_TRUE(user.ValueExists("ShowNextTime"));

  user.WriteInteger("TCPPort", 2768);  // makes the key under HKCU
  EXPECT_EQ(user.ReadIntegerDef("TCPPort", 768), 2768);
  EXPECT_EQ(user.ReadStringDef("NetServer", ""), "app1.example.com");
  EXPECT_TRUE(user.DeleteValue("TCPPort"));
  EXPECT_EQ(user.ReadIntegerDef("TCPPort", 768), 1768);  // the machine's again
  EXPECT_FALSE(user.DeleteValue("NetServer"));           // not the user's to delete

  EXPECT_EQ(testing::ReadAll(dir.Path + "/HKLM.reg"), hklmBefore);
  ASSERT_TRUE(plain.OpenKey("\\Software\\ZOR\\DK880", false));
  EXPECT_EQ(plain.GetValueNames(), std::vector<std::string>{});

  // Other roots never borrow.
  TZORRegistry classes(RegRoot::ClassesRoot, KEY_ALL_ACCESS);
  classes.SetMachineDefaults(true);
  EXPECT_FALSE(classes.OpenKey("\\Software\\ZOR\\DK880", false));
}

}  // namespace
}  // namespace zor
