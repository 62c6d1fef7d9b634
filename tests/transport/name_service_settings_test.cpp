#include "transport/name_service_settings.h"

#include <gtest/gtest.h>

#include "platform/zor_registry.h"
#include "support/registry_test_dir.h"

namespace zor {
namespace {

class NameServiceSettingsTest : public ::testing::Test {
 protected:
  ~NameServiceSettingsTest() override { ResetNameServiceSettings(); }
  void Put(RegRoot root, const char* name, const char* text, int32_t number, bool isText) {
    TZORRegistry registry(root, KEY_ALL_ACCESS);
    ASSERT_TRUE(registry.OpenKey("\\Software\\ZOR\\DK880", true));
    if (isText) {
      registry.WriteString(name, text);
    } else {
      registry.WriteInteger(name, number);
    }
  }

  testing::RegistryTestDir Registry;
};

TEST_F(NameServiceSettingsTest, DefaultsWithoutValues) {
  LoadNameServiceSettings();
  const TNameServiceSettings s = GetNameServiceSettings();
  EXPECT_EQ(s.Host, kDefaultNameServiceHost);
  EXPECT_EQ(s.Port, 768);
}

TEST_F(NameServiceSettingsTest, MachineValuesWinOverUserValues) {
  Put(RegRoot::CurrentUser, kNameServiceHostValue, "user-ns", 0, true);
  Put(RegRoot::CurrentUser, kNameServicePortValue, nullptr, 1768, false);
  Put(RegRoot::LocalMachine, kNameServiceHostValue, "machine-ns", 0, true);
  LoadNameServiceSettings();
  TNameServiceSettings s = GetNameServiceSettings();
  EXPECT_EQ(s.Host, "machine-ns");
  EXPECT_EQ(s.Port, 1768);  // only the user has a port

  Put(RegRoot::LocalMachine, kNameServicePortValue, nullptr, 70000, false);  // not a port
  LoadNameServiceSettings();
  EXPECT_EQ(GetNameServiceSettings().Port, 1768);
}

}  // namespace
}  // namespace zor
