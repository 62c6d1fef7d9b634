#include "server/registry_settings.h"

#include <gtest/gtest.h>

#include "platform/registry_store.h"
#include "platform/zor_registry.h"
#include "server/tcp_control_settings.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

TEST(RegistrySettings, ServiceValuesLiveUnderTheServerKeyAndReadAsTyped) {
  testing::TempFolder dir;
  ScopedRegistryDir scoped(dir.Dir().string());
  {
    TZORRegistry registry(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(registry.OpenKey("\\Software\\ZOR\\DK880\\Server\\TCP Control Service", true));
    registry.WriteInteger("Port", 70000);
    registry.WriteString("BoundIP", "127.0.0.1");
    registry.WriteString("AcceptMode", "2");
    registry.WriteString("IPList", "10.1.*");
  }
  TRegistrySettings settings;
  const TTCPSettings tcp = ReadTCPSettings(settings, "TCP Control Service", kDefaultServerPort);
  EXPECT_EQ(tcp, (TTCPSettings{true, 768, "127.0.0.1", 2, "10.1.*"}));
  EXPECT_FALSE(settings.ReadInteger("Other", "Port").has_value());

  settings.WriteBool("File Service", "Enabled", false);
  TZORRegistry check(RegRoot::LocalMachine, KEY_READ);
  ASSERT_TRUE(check.OpenKeyReadOnly("\\Software\\ZOR\\DK880\\Server\\File Service"));
  EXPECT_EQ(check.ReadIntegerDef("Enabled", 7), 0);
  EXPECT_FALSE(settings.ReadBool("File Service", "Enabled", true));
}

}  // namespace
}  // namespace zor
