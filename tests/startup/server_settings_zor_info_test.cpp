// The settings dialog on the client information object's key: HKLM while this process can
// write it, HKCU for the whole run otherwise, and the server value of the current mode.
#include <gtest/gtest.h>

#include "settings_fixture.h"
#include "startup/client_info/client_edition.h"
#include "startup/client_info/zor_info_base.h"
#include "startup/server_settings/cloud_log.h"
#include "startup/server_settings/server_settings_model.h"

namespace zor {
namespace {

void NoCloudLibrary(IM880CloudSender** sender) {
  *sender = nullptr;
}

TEST(ServerSettingsOnZorInfo, StoresUnderTheKeyTheInformationObjectChose) {
  struct Case {
    const char* name;
    bool hklmWritable;
    bool netMode;
    RegRoot root;
    const char* serverValue;
  } const kCases[] = {
      {"HKLM writable, local mode", true, false, RegRoot::LocalMachine, "NetServer"},
      {"HKLM read-only, network mode", false, true, RegRoot::CurrentUser, "RemoteServer"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::SettingsFixture fixture;
    fixture.SetHklmWritable(c.hklmWritable);
    SetCloudLogSettings({false, ""});
    FreeZorInfo();
    TZORInfoBase& info = GetZorInfo();
    info.SetNetMode(c.netMode);
    TZorInfoKeySource source(info);
    TServerSettingsEnvironment env;
    env.Settings = &source;
    env.CloudFactory = &NoCloudLibrary;
    env.Lcid = 2052;
    env.CheckConnection = [](const std::string&) { return true; };
    TServerSettingsModel model(env);
    model.FormCreate();
    model.edtEnterpriseID = "12";
    model.btnOKClick();
    FreeZorInfo();

    const std::string key = "\\" + std::string(kSettingsKeyM880);
    TZORRegistry reg(c.root, KEY_READ);
    ASSERT_TRUE(reg.OpenKeyReadOnly(key));
    EXPECT_TRUE(reg.ValueExists(c.serverValue));
    EXPECT_EQ(reg.ReadIntegerDef("TCPPort", 0), 768);
    EXPECT_EQ(reg.ReadStringDef("EnterpriseID", "?"), "12");
    if (c.root == RegRoot::CurrentUser) {
      EXPECT_FALSE(fixture.KeyExists(RegRoot::LocalMachine, key));
    }
  }
}

}  // namespace
}  // namespace zor
