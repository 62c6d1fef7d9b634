// The settings dialog without a person: it keeps the stored settings (Cancel), says so on
// its output, and never asks the cloud library.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/zor_registry.h"
#include "startup/client_info/zor_info_base.h"
#include "startup/launch/application_state.h"
#include "support/captured_output.h"
#include "support/registry_test_dir.h"
#include "ui/headless/headless_ui.h"
#include "ui/server_settings_dialog.h"

namespace zor {
namespace {

int gFactoryCalls = 0;
void CountingFactory(IM880CloudSender** sender) {
  ++gFactoryCalls;
  *sender = nullptr;
}

TEST(HeadlessServerSettings, KeepsTheStoredSettings) {
  testing::RegistryTestDir registry;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
  reg.WriteString("RemoteServer", "app.example.com");
  reg.WriteInteger("ConnectType", 2);
  reg.WriteInteger("TCPPort", 769);
  reg.WriteString("EnterpriseID", "80001234");

  testing::CapturedOutput out;
  HeadlessUi port(false, out.File());
  TRegistryKeySource source("\\Software\\ZOR\\DK880", true);
  TServerSettingsEnvironment env;
  env.Settings = &source;
  env.CloudFactory = &CountingFactory;
  env.Lcid = 1028;
  env.CheckConnection = [](const std::string&) { return true; };
  EXPECT_FALSE(ShowServerSettings(port, env));
  EXPECT_EQ(out.Text(),
            "[網路主機設定] headless: server settings kept as stored (server \"app.example.com\", "
            "port 769)\n");
  EXPECT_EQ(gFactoryCalls, 0);
  EXPECT_EQ(reg.ReadStringDef("RemoteServer", "?"), "app.example.com");
  EXPECT_EQ(reg.ReadIntegerDef("ConnectType", -1), 2);
  EXPECT_EQ(reg.ReadIntegerDef("TCPPort", -1), 769);
}

// A port whose "user" presses the quit button.
class QuittingUi : public HeadlessUi {
 public:
  QuittingUi() : HeadlessUi(false) {}
  void RunServerSettingsDialog(TServerSettingsModel& model) override { model.btnQuitClick(); }
};

TEST(HeadlessServerSettings, LauncherHookQuitEndsTheApplication) {
  testing::RegistryTestDir registry;
  ResetApplicationState();
  FreeZorInfo();
  QuittingUi port;
  const std::function<bool()> hook = LauncherServerSettingsHook(port);
  EXPECT_FALSE(hook());
  EXPECT_TRUE(IsApplicationTerminating());
  ResetApplicationState();
  FreeZorInfo();
}

}  // namespace
}  // namespace zor
