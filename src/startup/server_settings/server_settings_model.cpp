#include "startup/server_settings/server_settings_model.h"

#include <charconv>
#include <exception>

#include "base/ascii_case.h"
#include "base/exception_handler.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/number_strings.h"
#include "base/string_routines.h"
#include "platform/locale.h"
#include "startup/client_info/zor_info_base.h"
#include "startup/server_settings/cloud_log.h"
#include "startup/server_settings/cloud_lookup.h"
#include "transport/http_client.h"

namespace zor {

TServerSettingsModel::TServerSettingsModel(TServerSettingsEnvironment environment)
    : Env(std::move(environment)) {
  if (!Env.Settings) throw Exception("the server settings dialog needs the client key");
}

std::string_view TServerSettingsModel::ServerValueName() const {
  return Env.Settings->NetMode() ? kValueRemoteServer : kValueNetServer;
}

void TServerSettingsModel::FormCreate() {
  Texts = ServerSettingsCaptions(Env.Lcid != 0 ? Env.Lcid : GetSystemDefaultLCID());
  if (TZORRegistry* reg = Env.Settings->OpenClientKey(false)) {
    const int32_t kind = reg->ReadIntegerDef(kValueConnectType, 0);
    OldKindValue = (kind < 0 || kind >= 3) ? 0 : static_cast<uint8_t>(kind);
    const std::string_view primary = ServerValueName();
    const std::string_view other = Env.Settings->NetMode() ? kValueNetServer : kValueRemoteServer;
    OldServerName = reg->ReadStringDef(primary, "");
    if (OldServerName.empty()) OldServerName = reg->ReadStringDef(other, "");
    OldPortNumber = reg->ReadIntegerDef(kValueTcpPort, kDefaultServerPort);
    chkShowNextTime = reg->ReadBoolDef(kValueShowNextTime, false);
    edtSoapServerName = reg->ReadStringDef(kValueSoapServerName, kDefaultLookupServer);
    edtEnterpriseID = reg->ReadStringDef(kValueEnterpriseId, "");
    LogFolder = reg->ReadStringDef(kValueWriteLogPath, "");
    LogEnabled = reg->ReadBoolDef(kValueWriteLogEnable, false);
  }
  edtPort = std::to_string(OldPortNumber);
  edtServer = OldServerName;
  ConnectKind = TConnectKind::Tcp;
  ClickConnectType(ConnectKind);
}

void TServerSettingsModel::ClickConnectType(TConnectKind kind) {
  ConnectKind = kind;
  PortEditEnabled = kind != TConnectKind::Pipe;
}

void TServerSettingsModel::SetDirectEntry(bool on) {
  Direct = on;
  if (on) ClickConnectType(static_cast<TConnectKind>(OldKindValue));
}

void TServerSettingsModel::btnComputerClick() {
  if (!Env.BrowseForComputer) return;
  if (std::optional<std::string> name = Env.BrowseForComputer()) edtServer = *name;
}

void TServerSettingsModel::btnOKClick() {
  if (Direct) return StoreDirectEntry();
  const std::string url = "http://" + edtSoapServerName;
  const bool reachable =
      Env.CheckConnection ? Env.CheckConnection(url) : CheckLookupServerConnection(url);
  if (!reachable) {
    // Names the host and the port it tried (80 unless the address names one).
    HttpAddress tried;
    const std::string shown = ParseHttpAddress(url, tried)
                                  ? tried.Host + ":" + std::to_string(tried.Port)
                                  : edtSoapServerName;
    throw Exception(Format(kMsgCannotReachLookupServer, {shown}));
  }

  const std::string address(Trim(edtSoapServerName));
  const std::string id(Trim(edtEnterpriseID));
  if (id.empty()) throw Exception(std::string(kMsgEnterCustomerNumber));

  const std::string tag = "EPID_" + id;
  WriteCloudLog("RW880-SOAP:Begin EPID = " + id + "   WebSite = " + address, tag, false);
  const TCloudLookupAnswer answer = LookupServerInfo(
      Env.CloudFactory, address, id, LogEnabled ? std::string_view(LogFolder) : std::string_view());
  WriteCloudLog("RW880-SOAP:End APP = " + answer.AppServer + "   DBName = " + answer.DbName, tag,
                false);

  edtPort = std::to_string(kDefaultServerPort);
  edtServer = answer.AppServer;

  TZORRegistry* reg = Env.Settings->OpenClientKey(true);
  if (reg) {
    reg->DeleteKey(kKeyLogin);
    reg->WriteString(kValueSoapServerName, Trim(address));
    reg->WriteString(kValueEnterpriseId, Trim(id));
    reg->WriteString(kValueDbName, Trim(answer.DbName));
  }
  NewKindValue = static_cast<uint8_t>(TConnectKind::Tcp);
  NewServerName = edtServer;
  NewPortNumber = StrToIntStrict(Trim(edtPort));
  if (reg) {
    reg->WriteInteger(kValueConnectType, NewKindValue);
    reg->WriteString(ServerValueName(), NewServerName);
    reg->WriteInteger(kValueTcpPort, NewPortNumber);
    StoreShowNextTime(*reg);
  }
  Result = TModalResult::Ok;
}

void TServerSettingsModel::StoreShowNextTime(TZORRegistry& reg) {
  if (chkShowNextTime) {
    reg.WriteBool(kValueShowNextTime, true);
  } else {
    reg.DeleteValue(kValueShowNextTime);
    // A user's key under a machine default: deleting shows the administrator's value
    // again, so the user's choice is kept as an explicit "no".
    if (reg.ReadBoolDef(kValueShowNextTime, false)) reg.WriteBool(kValueShowNextTime, false);
  }
}

void TServerSettingsModel::StoreDirectEntry() {
  const std::string server(Trim(edtServer));
  const bool tcp = ConnectKind != TConnectKind::Pipe;
  // The pipe without a name is this computer's; TCP needs a server and a port.
  if (tcp && server.empty()) throw Exception(Texts.MsgEnterServer);
  int32_t port = OldPortNumber;
  if (tcp) {
    const std::string text(Trim(edtPort));
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > 65535)
      throw Exception(Format(Texts.MsgBadPort, {text}));
    port = static_cast<int32_t>(value);
  }
  NewKindValue = static_cast<uint8_t>(ConnectKind);
  NewServerName = server;
  NewPortNumber = port;
  if (TZORRegistry* reg = Env.Settings->OpenClientKey(true)) {
    reg->DeleteKey(kKeyLogin);
    reg->WriteInteger(kValueConnectType, NewKindValue);
    reg->WriteString(ServerValueName(), NewServerName);
    if (tcp) reg->WriteInteger(kValueTcpPort, NewPortNumber);
    StoreShowNextTime(*reg);
  }
  Result = TModalResult::Ok;
}

void TServerSettingsModel::btnQuitClick() {
  Result = TModalResult::Quit;
  if (Env.Quit) Env.Quit();
}

void TServerSettingsModel::FormKeyDown(int key) {
  if (key == kKeyReturn) btnOKClick();
}

void TServerSettingsModel::FormClose() {
  if (Result == TModalResult::None) Result = TModalResult::Cancel;
}

bool TServerSettingsModel::SubmitOk() {
  try {
    btnOKClick();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  return Result != TModalResult::None;
}

bool TServerSettingsModel::SubmitKeyDown(int key) {
  if (key == kKeyReturn) return SubmitOk();
  if (key == kKeyEscape) btnCancelClick();
  return Result != TModalResult::None;
}

bool TServerSettingsModel::ConnectionChanged() const {
  if (Result != TModalResult::Ok) return false;
  if (NewKindValue != OldKindValue) return true;
  if (!SameTextAscii(NewServerName, OldServerName)) return true;
  // The port matters to both TCP/IP kinds (the name service only finds the address).
  return NewKindValue != static_cast<uint8_t>(TConnectKind::Pipe) && NewPortNumber != OldPortNumber;
}

bool ShowServerSettings(const TServerSettingsEnvironment& environment,
                        const std::function<void(TServerSettingsModel&)>& runModal) {
  TServerSettingsModel model(environment);
  model.FormCreate();
  if (runModal) runModal(model);
  model.FormClose();
  return model.ConnectionChanged();
}

bool CheckLookupServerConnection(const std::string& url) {
  HttpAddress address;
  if (!ParseHttpAddress(url, address)) return false;
  return CheckTcpConnection(address, kLookupServerCheckTimeoutMs);
}

}  // namespace zor
