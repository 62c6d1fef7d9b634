// The server settings dialog without a window: loading, the OK path with a scripted cloud
// library, change detection, the failures that keep it open, and its captions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/exception_handler.h"
#include "base/string_routines.h"
#include "base/utf.h"
#include "platform/zor_registry.h"
#include "startup/server_settings/cloud_log.h"
#include "startup/server_settings/cloud_lookup.h"
#include "startup/server_settings/server_settings_model.h"
#include "support/expect_error.h"
#include "support/registry_test_dir.h"

namespace zor {
namespace {

constexpr std::string_view kKey = "\\Software\\ZOR\\DK880";

// A scripted cloud sender: records the calls in order and answers what the test set.
struct FakeCloud {
  static inline std::vector<std::string> Calls;
  static inline int32_t ResultCode = 0;
  static inline std::string AnswerJson;
  static inline std::string ErrorText;
  static inline int FailingStep = -1;  // index of the call that fails (0..3), -1 none
  static inline int Released = 0;
  static inline bool MakeNothing = false;

  static void Reset() {
    Calls.clear();
    ResultCode = 0;
    AnswerJson.clear();
    ErrorText.clear();
    FailingStep = -1;
    Released = 0;
    MakeNothing = false;
  }
  static void Factory(IM880CloudSender** sender);
};

class FakeSender final : public IM880CloudSender {
 public:
  int32_t SetServerAddress(const char16_t* address, int32_t length) override {
    return Step("address=" +
                Utf16ToUtf8(std::u16string_view(address, static_cast<size_t>(length))));
  }
  int32_t SetPort(int32_t port) override { return Step("port=" + std::to_string(port)); }
  int32_t SetLogPath(const char16_t* path, int32_t length) override {
    return Step("log=" + Utf16ToUtf8(std::u16string_view(path, static_cast<size_t>(length))));
  }
  int32_t Call(int32_t code, const TCloudValue* args, int32_t argCount, const TCloudValue** answer,
               int32_t* answerCount) override {
    std::string call = "call " + std::to_string(code);
    for (int32_t i = 0; i < argCount; ++i) {
      call += " [" +
              Utf16ToUtf8(std::u16string_view(args[i].Text, static_cast<size_t>(args[i].Length))) +
              "]";
    }
    if (const int32_t status = Step(call)) return status;
    Texts[0] = Utf8ToUtf16(FakeCloud::AnswerJson);
    Texts[1] = u"second";
    Texts[2] = Utf8ToUtf16(FakeCloud::ErrorText);
    Answer[0] = TCloudValue{kCloudValueInteger, FakeCloud::ResultCode, nullptr, 0};
    for (int i = 0; i < 3; ++i) {
      Answer[i + 1] =
          TCloudValue{kCloudValueText, 0, Texts[i].c_str(), static_cast<int32_t>(Texts[i].size())};
    }
    *answer = Answer;
    *answerCount = 4;
    return kCloudStatusOk;
  }
  const char16_t* ErrorText() override { return Error.c_str(); }
  void Release() override {
    ++FakeCloud::Released;
    delete this;
  }

 private:
  int32_t Step(const std::string& call) {
    const int index = static_cast<int>(FakeCloud::Calls.size());
    FakeCloud::Calls.push_back(call);
    if (index != FakeCloud::FailingStep) return kCloudStatusOk;
    Error = u"步骤失败 " + Utf8ToUtf16(call);
    return 0x80004005;
  }
  std::u16string Error;
  std::u16string Texts[3];
  TCloudValue Answer[4];
};

void FakeCloud::Factory(IM880CloudSender** sender) {
  *sender = MakeNothing ? nullptr : new FakeSender();
}

// A key source that cannot open the key at all.
class ClosedKeySource : public TSettingsKeySource {
 public:
  TZORRegistry* OpenClientKey(bool) override { return nullptr; }
  bool NetMode() const override { return true; }
};

class ServerSettingsModelTest : public ::testing::Test {
 protected:
  ServerSettingsModelTest() : Source(std::string(kKey), true) {
    FakeCloud::Reset();
    SetCloudLogSettings({false, ""});
  }

  TServerSettingsEnvironment Environment(TSettingsKeySource* source = nullptr) {
    TServerSettingsEnvironment env;
    env.Settings = source ? source : &Source;
    env.CloudFactory = &FakeCloud::Factory;
    env.Lcid = 2052;
    env.CheckConnection = [this](const std::string& url) {
      CheckedUrls.push_back(url);
      return Reachable;
    };
    env.Quit = [this] { ++QuitCalls; };
    return env;
  }

  TZORRegistry& Key() {
    Registry.OpenKey(kKey, true);
    return Registry;
  }

  testing::RegistryTestDir Dir;
  TRegistryKeySource Source;
  TZORRegistry Registry{RegRoot::LocalMachine, KEY_ALL_ACCESS};
  std::vector<std::string> CheckedUrls;
  bool Reachable = true;
  int QuitCalls = 0;
};

TEST_F(ServerSettingsModelTest, LoadsTheStoredSettings) {
  struct Case {
    const char* name;
    bool createKey;
    bool netMode;
    int32_t connectType;
    const char* remote;
    const char* net;
    uint8_t kind;
    const char* server;
    const char* port;
    const char* soap;
  } const kCases[] = {
      {"no key", false, true, -1, "", "", 0, "", "0", ""},
      {"empty key: defaults", true, true, -1, "", "", 0, "", "768", "127.0.0.1"},
      {"net mode reads RemoteServer", true, true, 1, "remote", "net", 1, "remote", "768",
       "127.0.0.1"},
      {"net mode falls back to NetServer", true, true, 2, "", "net", 2, "net", "768", "127.0.0.1"},
      {"local mode reads NetServer", true, false, 1, "remote", "net", 1, "net", "768", "127.0.0.1"},
      {"local mode falls back to RemoteServer", true, false, 0, "remote", "", 0, "remote", "768",
       "127.0.0.1"},
      {"kind 3 reads as 0", true, true, 3, "", "", 0, "", "768", "127.0.0.1"},
      {"negative kind reads as 0", true, true, -5, "", "", 0, "", "768", "127.0.0.1"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Registry.DeleteKey("\\Software\\ZOR");
    if (c.createKey) {
      TZORRegistry& key = Key();
      if (c.connectType != -1) key.WriteInteger("ConnectType", c.connectType);
      if (*c.remote) key.WriteString("RemoteServer", c.remote);
      if (*c.net) key.WriteString("NetServer", c.net);
    }
    TRegistryKeySource source(std::string(kKey), c.netMode);
    TServerSettingsModel model(Environment(&source));
    model.FormCreate();
    EXPECT_EQ(model.OldKind(), c.kind);
    EXPECT_EQ(model.OldServer(), c.server);
    EXPECT_EQ(model.edtServer, c.server);
    EXPECT_EQ(model.edtPort, c.port);
    EXPECT_EQ(model.edtSoapServerName, c.soap);
    EXPECT_EQ(model.ConnectKind, TConnectKind::Tcp);
    EXPECT_TRUE(model.PortEnabled());
  }
}

TEST_F(ServerSettingsModelTest, LoadsTheLookupFields) {
  TZORRegistry& key = Key();
  key.WriteInteger("TCPPort", 9000);
  key.WriteBool("ShowNextTime", true);
  key.WriteString("SOAPServerName", "cloud.example.com");
  key.WriteString("EnterpriseID", "80001234");
  key.WriteString("WriteLogPath", "/var/log/cloud");
  key.WriteBool("WriteLogEnable", true);
  TServerSettingsModel model(Environment());
  model.FormCreate();
  EXPECT_EQ(model.OldPort(), 9000);
  EXPECT_EQ(model.edtPort, "9000");
  EXPECT_TRUE(model.chkShowNextTime);
  EXPECT_EQ(model.edtSoapServerName, "cloud.example.com");
  EXPECT_EQ(model.edtEnterpriseID, "80001234");
  EXPECT_EQ(model.LogPath(), "/var/log/cloud");
  EXPECT_TRUE(model.LogEnable());
  model.ClickConnectType(TConnectKind::Pipe);
  EXPECT_FALSE(model.PortEnabled());
  model.ClickConnectType(TConnectKind::ZorHost);
  EXPECT_TRUE(model.PortEnabled());
}

TEST_F(ServerSettingsModelTest, OkLooksUpAndStores) {
  TZORRegistry& key = Key();
  key.WriteString("WriteLogPath", "/var/log/cloud");
  key.WriteBool("WriteLogEnable", true);
  key.WriteBool("ShowNextTime", true);
  ASSERT_TRUE(Registry.OpenKey(std::string(kKey) + "\\Login\\Deep", true));
  Registry.WriteString("User", "someone");
  FakeCloud::AnswerJson =
      R"({"ServerInfoData":[{"APPServerName":"old","DBName":"X"},{"APPServerName":"app.example.com","DBName":" DB7 "}]})";

  TServerSettingsModel model(Environment());
  model.FormCreate();
  model.edtSoapServerName = " cloud.example.com:8080 ";
  model.edtEnterpriseID = " 80001234 ";
  model.edtPort = "1234";                      // ignored: the port stored is always 768
  model.ClickConnectType(TConnectKind::Pipe);  // ignored: the kind stored is always TCP/IP
  model.chkShowNextTime = false;
  model.btnOKClick();

  EXPECT_EQ(CheckedUrls, std::vector<std::string>{"http:// cloud.example.com:8080 "});
  const std::vector<std::string> calls{"address=cloud.example.com:8080", "port=80",
                                       "log=/var/log/cloud", "call 1 [0] [80001234]"};
  EXPECT_EQ(FakeCloud::Calls, calls);
  EXPECT_EQ(FakeCloud::Released, 1);
  EXPECT_EQ(model.ModalResult(), TModalResult::Ok);
  EXPECT_EQ(model.edtServer, "app.example.com");
  EXPECT_EQ(model.edtPort, "768");
  EXPECT_EQ(model.NewKind(), 1);
  EXPECT_EQ(model.NewPort(), 768);

  TZORRegistry& stored = Key();
  EXPECT_EQ(stored.ReadIntegerDef("ConnectType", -1), 1);
  EXPECT_EQ(stored.ReadStringDef("RemoteServer", "?"), "app.example.com");
  EXPECT_FALSE(stored.ValueExists("NetServer"));
  EXPECT_EQ(stored.ReadIntegerDef("TCPPort", -1), 768);
  EXPECT_EQ(stored.ReadStringDef("SOAPServerName", "?"), "cloud.example.com:8080");
  EXPECT_EQ(stored.ReadStringDef("EnterpriseID", "?"), "80001234");
  EXPECT_EQ(stored.ReadStringDef("DBName", "?"), "DB7");
  EXPECT_FALSE(stored.ValueExists("ShowNextTime"));  // removed, not written as false
  EXPECT_FALSE(stored.KeyExists(std::string(kKey) + "\\Login"));
}

TEST_F(ServerSettingsModelTest, OkWithShowNextTimeAndLocalMode) {
  TRegistryKeySource local(std::string(kKey), false);
  TServerSettingsModel model(Environment(&local));
  model.FormCreate();
  model.edtEnterpriseID = "1";
  model.chkShowNextTime = true;
  FakeCloud::AnswerJson = R"({"ServerInfoData":[{"APPServerName":"srv"}]})";
  model.FormKeyDown(kKeyReturn);  // Enter acts as OK
  EXPECT_EQ(model.ModalResult(), TModalResult::Ok);
  TZORRegistry& stored = Key();
  EXPECT_EQ(stored.ReadStringDef("NetServer", "?"), "srv");
  EXPECT_FALSE(stored.ValueExists("RemoteServer"));
  EXPECT_TRUE(stored.ReadBoolDef("ShowNextTime", false));
  EXPECT_EQ(FakeCloud::Calls.at(2), "log=");  // the log path goes only when the log is enabled
}

TEST_F(ServerSettingsModelTest, ChangeDetection) {
  struct Case {
    const char* name;
    int32_t storedKind;
    const char* storedServer;
    int32_t storedPort;
    const char* answeredServer;
    bool changed;
  } const kCases[] = {
      {"same server in another letter case", 1, "App.Example.COM", 768, "app.example.com", false},
      {"other kind", 0, "app.example.com", 768, "app.example.com", true},
      {"other server", 1, "old.example.com", 768, "app.example.com", true},
      {"other port", 1, "app.example.com", 769, "app.example.com", true},
      {"nothing found: empty server", 1, "app.example.com", 768, "", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeCloud::Reset();
    TZORRegistry& key = Key();
    key.WriteInteger("ConnectType", c.storedKind);
    key.WriteString("RemoteServer", c.storedServer);
    key.WriteInteger("TCPPort", c.storedPort);
    key.WriteString("EnterpriseID", "42");
    FakeCloud::AnswerJson =
        std::string(R"({"ServerInfoData":[{"APPServerName":")") + c.answeredServer + "\"}]}";
    const bool changed =
        ShowServerSettings(Environment(), [](TServerSettingsModel& model) { model.btnOKClick(); });
    EXPECT_EQ(changed, c.changed);
  }
}

TEST_F(ServerSettingsModelTest, CancelCloseAndQuitStoreNothing) {
  struct Case {
    const char* name;
    void (*act)(TServerSettingsModel&);
    TModalResult result;
    int quits;
  } const kCases[] = {
      {"cancel", [](TServerSettingsModel& m) { m.btnCancelClick(); }, TModalResult::Cancel, 0},
      {"close box", [](TServerSettingsModel& m) { m.FormClose(); }, TModalResult::Cancel, 0},
      {"no answer at all", [](TServerSettingsModel&) {}, TModalResult::Cancel, 0},
      {"quit", [](TServerSettingsModel& m) { m.btnQuitClick(); }, TModalResult::Quit, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    QuitCalls = 0;
    Registry.DeleteKey("\\Software\\ZOR");
    TModalResult result = TModalResult::None;
    const bool changed = ShowServerSettings(Environment(), [&](TServerSettingsModel& model) {
      model.edtServer = "typed.example.com";
      model.edtEnterpriseID = "1";
      c.act(model);
      result = model.ModalResult();
      model.FormClose();
      result = model.ModalResult();
    });
    EXPECT_FALSE(changed);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(QuitCalls, c.quits);
    EXPECT_FALSE(Registry.KeyExists(kKey));
    EXPECT_TRUE(FakeCloud::Calls.empty());
  }
}

TEST_F(ServerSettingsModelTest, FailuresKeepTheDialogOpenAndWriteNothing) {
  struct Case {
    const char* name;
    bool reachable;
    const char* soap;
    const char* id;
    int32_t resultCode;
    int failingStep;
    const char* className;
    std::string message;
  } const kCases[] = {
      {"lookup server unreachable", false, " cloud.example.com", "1", 0, -1, "Exception",
       "无法连接到SOAP服务器: cloud.example.com"},
      // The message names the host and the port it tried.
      {"unreachable, port 80", false, "cloud.example.com", "1", 0, -1, "Exception",
       "无法连接到SOAP服务器:cloud.example.com:80"},
      {"unreachable, its own port", false, "cloud.example.com:8080/zor", "1", 0, -1, "Exception",
       "无法连接到SOAP服务器:cloud.example.com:8080"},
      {"empty customer number", true, "cloud", "   ", 0, -1, "Exception", "请输入统一编号"},
      {"non-zero result code", true, "cloud", " 77 ", 404, -1, "Exception",
       "没有查询到统编77的信息(no server is registered)"},
      {"setting the address fails", true, "cloud", "1", 0, 0, "ECloudClientError",
       "步骤失败 address=cloud"},
      {"setting the port fails", true, "cloud", "1", 0, 1, "ECloudClientError", "步骤失败 port=80"},
      {"the call fails", true, "cloud", "1", 0, 3, "ECloudClientError", "步骤失败 call 1 [0] [1]"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeCloud::Reset();
    FakeCloud::ResultCode = c.resultCode;
    FakeCloud::ErrorText = "no server is registered";
    FakeCloud::FailingStep = c.failingStep;
    Registry.DeleteKey("\\Software\\ZOR");
    Reachable = c.reachable;
    TServerSettingsModel model(Environment());
    model.FormCreate();
    model.edtSoapServerName = c.soap;
    model.edtEnterpriseID = c.id;
    testing::ExpectError([&] { model.btnOKClick(); }, c.className, c.message);
    EXPECT_EQ(model.ModalResult(), TModalResult::None);
    EXPECT_FALSE(Registry.KeyExists(kKey));
    EXPECT_EQ(FakeCloud::Released, c.failingStep >= 0 || c.resultCode != 0 ? 1 : 0);
  }
}

// Direct entry, for sites without a lookup service: the kind, server and port typed in are
// stored as they are, without asking the cloud library; what cannot be stored keeps the
// dialog open, writes nothing and says why.
TEST_F(ServerSettingsModelTest, DirectEntryStoresWhatWasTypedWithoutALookup) {
  struct Case {
    const char* name;
    TConnectKind kind;
    const char* server;
    const char* port;
    const char* error;  // nullptr: stored
    bool changed;
  } const kCases[] = {
      {"TCP", TConnectKind::Tcp, " app1.example.com ", "1768", nullptr, true},
      {"name service", TConnectKind::ZorHost, "shop1", " 768 ", nullptr, true},
      {"pipe, this computer", TConnectKind::Pipe, "", "not used", nullptr, true},
      {"the stored ones again", TConnectKind::Tcp, "OLD.example.com", "768", nullptr, false},
      {"only the port changed", TConnectKind::Tcp, "old.example.com", "769", nullptr, true},
      {"TCP without a server", TConnectKind::Tcp, "  ", "768", "请输入服务器名称", false},
      {"port 0", TConnectKind::ZorHost, "shop1", "0", "端口 0 不是 1 到 65535 之间的数字", false},
      {"port too big", TConnectKind::Tcp, "a", "65536", "端口 65536 不是 1 到 65535 之间的数字",
       false},
      {"port not a number", TConnectKind::Tcp, "a", "7x", "端口 7x 不是 1 到 65535 之间的数字",
       false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Registry.DeleteKey("\\Software\\ZOR");
    Key().WriteInteger("ConnectType", 1);
    Key().WriteString("RemoteServer", "old.example.com");
    Key().WriteInteger("TCPPort", 768);
    Key().OpenKey("Login", true);
    TServerSettingsModel model(Environment());
    model.FormCreate();
    model.SetDirectEntry(true);
    EXPECT_EQ(model.ConnectKind, TConnectKind::Tcp);  // the stored kind
    model.ClickConnectType(c.kind);
    model.edtServer = c.server;
    model.edtPort = c.port;
    if (c.error) {
      testing::ExpectError([&] { model.btnOKClick(); }, "Exception", c.error);
      EXPECT_EQ(model.ModalResult(), TModalResult::None);
      EXPECT_EQ(Key().ReadStringDef("RemoteServer", ""), "old.example.com");
      EXPECT_EQ(Key().ReadIntegerDef("TCPPort", 0), 768);
      continue;
    }
    model.btnOKClick();
    EXPECT_EQ(model.ModalResult(), TModalResult::Ok);
    EXPECT_EQ(model.ConnectionChanged(), c.changed);
    EXPECT_EQ(Key().ReadIntegerDef("ConnectType", -1), static_cast<int32_t>(c.kind));
    EXPECT_EQ(Key().ReadStringDef("RemoteServer", "?"), std::string(Trim(c.server)));
    const int32_t port = c.kind == TConnectKind::Pipe ? 768 : std::stoi(c.port);
    EXPECT_EQ(Key().ReadIntegerDef("TCPPort", 0), port);
    EXPECT_FALSE(Key().KeyExists("Login"));
    EXPECT_TRUE(FakeCloud::Calls.empty());
    EXPECT_TRUE(CheckedUrls.empty());
  }
}

TEST_F(ServerSettingsModelTest, SubmitOkHandsTheErrorOnAndStaysOpen) {
  TServerSettingsModel model(Environment());
  model.FormCreate();
  model.edtEnterpriseID = "";
  EXPECT_FALSE(model.SubmitOk());
  EXPECT_EQ(model.ModalResult(), TModalResult::None);
  model.edtEnterpriseID = "5";
  FakeCloud::AnswerJson = R"({"ServerInfoData":[]})";
  EXPECT_TRUE(model.SubmitOk());
}

// The keys a window forwards: only Enter runs the OK path; its error reaches the
// application's error display and the dialog stays open until a lookup succeeds.
TEST_F(ServerSettingsModelTest, EnterFromAViewRunsOkAndReportsItsError) {
  std::vector<std::string> shown;
  SetApplicationExceptionHandler([&shown](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      shown.emplace_back(e.what());
    }
  });
  TServerSettingsModel model(Environment());
  model.FormCreate();
  model.edtEnterpriseID = "  ";
  EXPECT_FALSE(model.SubmitKeyDown(112));  // F1, or any other key: nothing happens
  EXPECT_TRUE(CheckedUrls.empty());
  EXPECT_FALSE(model.SubmitKeyDown(kKeyReturn));
  EXPECT_EQ(shown, std::vector<std::string>{"请输入统一编号"});
  EXPECT_EQ(model.ModalResult(), TModalResult::None);
  EXPECT_FALSE(Registry.KeyExists(kKey));
  model.edtEnterpriseID = "42";
  FakeCloud::AnswerJson =
      R"({"ServerInfoData":[{"APPServerName":"app.example.com","DBName":"D1"}]})";
  EXPECT_TRUE(model.SubmitKeyDown(kKeyReturn));
  EXPECT_EQ(model.ModalResult(), TModalResult::Ok);
  EXPECT_EQ(model.NewServer(), "app.example.com");
  EXPECT_EQ(shown.size(), 1u);

  // Escape is Cancel: the dialog closes and stores nothing.
  const size_t asked = CheckedUrls.size();
  TServerSettingsModel cancelled(Environment());
  cancelled.FormCreate();
  cancelled.edtEnterpriseID = "43";
  EXPECT_TRUE(cancelled.SubmitKeyDown(kKeyEscape));
  EXPECT_EQ(cancelled.ModalResult(), TModalResult::Cancel);
  EXPECT_FALSE(cancelled.ConnectionChanged());
  EXPECT_EQ(CheckedUrls.size(), asked);  // no lookup
  SetApplicationExceptionHandler({});
}

TEST_F(ServerSettingsModelTest, WithoutTheLibraryTheServerIsStoredEmpty) {
  for (bool factoryMakesNothing : {false, true}) {
    SCOPED_TRACE(factoryMakesNothing ? "factory makes nothing" : "no factory");
    FakeCloud::Reset();
    FakeCloud::MakeNothing = factoryMakesNothing;
    Key().WriteString("RemoteServer", "kept.example.com");
    TServerSettingsEnvironment env = Environment();
    if (!factoryMakesNothing) env.CloudFactory = nullptr;
    TServerSettingsModel model(env);
    model.FormCreate();
    model.edtEnterpriseID = "9";
    model.btnOKClick();
    EXPECT_TRUE(model.ConnectionChanged());
    EXPECT_EQ(Key().ReadStringDef("RemoteServer", "?"), "");
    EXPECT_EQ(Key().ReadIntegerDef("ConnectType", -1), 1);
  }
}

TEST_F(ServerSettingsModelTest, KeyThatCannotBeOpenedStillClosesWithOk) {
  ClosedKeySource closed;
  TServerSettingsModel model(Environment(&closed));
  model.FormCreate();
  EXPECT_EQ(model.edtPort, "0");
  model.edtEnterpriseID = "3";
  FakeCloud::AnswerJson = R"({"ServerInfoData":[{"APPServerName":"s"}]})";
  model.btnOKClick();
  EXPECT_EQ(model.ModalResult(), TModalResult::Ok);
  EXPECT_FALSE(Registry.KeyExists(kKey));
}

TEST_F(ServerSettingsModelTest, ComputerPickerReplacesTheServerOnlyWhenChosen) {
  std::optional<std::string> picked;
  TServerSettingsEnvironment env = Environment();
  env.BrowseForComputer = [&] { return picked; };
  TServerSettingsModel model(env);
  model.FormCreate();
  model.edtServer = "typed";
  model.btnComputerClick();
  EXPECT_EQ(model.edtServer, "typed");
  picked = "PC-7";
  model.btnComputerClick();
  EXPECT_EQ(model.edtServer, "PC-7");
}

TEST(ServerSettingsCaptions, ByLanguage) {
  struct Case {
    uint32_t lcid;
    std::vector<std::string>
        texts;  // form, OK, Cancel, Quit, server, kind, name service, next time, address, number
  } const kCases[] = {
      {1028,
       {"網路主機設定", "確定", "取消", "退出程式", "伺服器名稱", "連接方式",
        "TCP/IP(岳川名稱解析服務)", "下次启动时不再出现这个对话框", "服务器地址", "客户统编"}},
      {3076,
       {"網路主機設定", "確定", "取消", "退出程式", "伺服器名稱", "連接方式",
        "TCP/IP(岳川名稱解析服務)", "下次启动时不再出现这个对话框", "服务器地址", "客户统编"}},
      {2052,
       {"网络主机设定", "确定", "取消", "退出程序", "服务器名称:", "连接方式:",
        "TCP/IP(岳川名称解析服务)", "下次启动时不再出现这个对话框", "服务器地址", "客户统编"}},
      // English, and every LCID the message table shows in English (4100 among them).
      {1033,
       {"Network Server Settings", "OK", "Cancel", "Quit",
        "Server:", "Connect by:", "TCP/IP(ZOR name service)",
        "Do not show this dialog at the next start", "Address", "Cust. no."}},
      {4100,
       {"Network Server Settings", "OK", "Cancel", "Quit",
        "Server:", "Connect by:", "TCP/IP(ZOR name service)",
        "Do not show this dialog at the next start", "Address", "Cust. no."}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.lcid);
    const TServerSettingsCaptions t = ServerSettingsCaptions(c.lcid);
    EXPECT_EQ(
        (std::vector<std::string>{t.Form, t.btnOK, t.btnCancel, t.btnQuit, t.lblServerName,
                                  t.lblConnType, t.rbZORHost, t.chkShowNextTime, t.lbl1, t.lbl2}),
        c.texts);
    EXPECT_EQ((std::vector<std::string>{t.rbPipe, t.rbTcp, t.lblPort, t.btnComputer}),
              (std::vector<std::string>{"Name Pipes", "TCP/IP", "Port:", "..."}));
  }
}

}  // namespace
}  // namespace zor
