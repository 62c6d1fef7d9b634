// The server settings dialog without a window (`TfrmServerInfo`): it loads the connection
// settings from the client key, lets the view edit the controls, and on OK looks the
// enterprise id up through the cloud client library and stores the answer as a TCP/IP
// connection on port 768. For sites without a lookup service, direct entry (`DirectEntry`)
// shows the server, kind and port controls under the lookup group box instead, and OK
// stores what was typed there. A view draws the controls from this object, forwards clicks and
// keys to it, and ends its modal loop once `ModalResult` is set.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "startup/client_info/settings_key_source.h"
#include "startup/server_settings/cloud_sender_interface.h"
#include "startup/server_settings/server_settings_captions.h"

namespace zor {

inline constexpr std::string_view kMsgCannotReachLookupServer = "无法连接到SOAP服务器:%s";
inline constexpr std::string_view kMsgEnterCustomerNumber = "请输入统一编号";
inline constexpr int32_t kDefaultServerPort = 768;
// How long the reachability check of the lookup server may take.
inline constexpr int kLookupServerCheckTimeoutMs = 3000;
inline constexpr int kKeyReturn = 13;
inline constexpr int kKeyEscape = 27;

inline constexpr std::string_view kValueConnectType = "ConnectType";
inline constexpr std::string_view kValueRemoteServer = "RemoteServer";
inline constexpr std::string_view kValueNetServer = "NetServer";
inline constexpr std::string_view kValueTcpPort = "TCPPort";
inline constexpr std::string_view kValueShowNextTime = "ShowNextTime";
inline constexpr std::string_view kValueSoapServerName = "SOAPServerName";
inline constexpr std::string_view kValueEnterpriseId = "EnterpriseID";
inline constexpr std::string_view kValueDbName = "DBName";
inline constexpr std::string_view kValueWriteLogPath = "WriteLogPath";
inline constexpr std::string_view kValueWriteLogEnable = "WriteLogEnable";
inline constexpr std::string_view kKeyLogin = "Login";

enum class TConnectKind : uint8_t { Pipe = 0, Tcp = 1, ZorHost = 2 };
enum class TModalResult { None, Ok, Cancel, Quit };

// What the dialog takes from the process around it.
struct TServerSettingsEnvironment {
  TSettingsKeySource* Settings = nullptr;          // the client key (required)
  CreateM880CloudSenderFn CloudFactory = nullptr;  // nullptr: no cloud library, lookup skipped
  uint32_t Lcid = 0;                               // 0: the system default LCID
  // Whether the lookup server answers at an "http://" address; empty: a TCP connect to its
  // host and port (80 unless named) within kLookupServerCheckTimeoutMs.
  std::function<bool(const std::string& url)> CheckConnection;
  // The computer picker: the name chosen, or nothing; empty: no picker.
  std::function<std::optional<std::string>()> BrowseForComputer;
  // The quit button: ends the application after the modal loop.
  std::function<void()> Quit;
};

class TServerSettingsModel {
 public:
  explicit TServerSettingsModel(TServerSettingsEnvironment environment);

  // The create step: captions, then the stored settings into the controls.
  void FormCreate();

  // The controls, as the view shows and edits them.
  std::string edtServer;
  std::string edtPort;
  std::string edtSoapServerName;
  std::string edtEnterpriseID;
  bool chkShowNextTime = false;
  TConnectKind ConnectKind = TConnectKind::Pipe;  // the radio button selected
  // Direct entry: the view shows the server, kind and port controls instead of the lookup.
  bool DirectEntry() const { return Direct; }
  // Switching it on selects the stored kind.
  void SetDirectEntry(bool on);
  // `edtPort` is disabled (and painted in the button-face colour) for the pipe.
  bool PortEnabled() const { return PortEditEnabled; }
  const TServerSettingsCaptions& Captions() const { return Texts; }

  // Events.
  void ClickConnectType(TConnectKind kind);
  void btnComputerClick();
  // The cloud lookup and the store; raises (the dialog stays open, nothing written) when the
  // lookup server cannot be reached, the enterprise id is empty or the lookup fails.
  void btnOKClick();
  void btnCancelClick() { Result = TModalResult::Cancel; }
  void btnQuitClick();
  // Enter acts as OK (and raises as OK does).
  void FormKeyDown(int key);
  // The window's close box: like Cancel.
  void FormClose();
  // OK for a view: an error goes to the application's error display and the dialog stays
  // open. Answers whether the dialog closed.
  bool SubmitOk();
  // A key for a view (the form sees every key first): Enter runs `SubmitOk`, Escape is
  // Cancel, other keys do nothing. Answers whether the dialog closed.
  bool SubmitKeyDown(int key);

  TModalResult ModalResult() const { return Result; }
  // True only after OK when the kind, the server name (letter case ignored) or, for the two
  // TCP/IP kinds, the port differs from what was stored.
  bool ConnectionChanged() const;

  const std::string& OldServer() const { return OldServerName; }
  int32_t OldPort() const { return OldPortNumber; }
  uint8_t OldKind() const { return OldKindValue; }
  const std::string& NewServer() const { return NewServerName; }
  int32_t NewPort() const { return NewPortNumber; }
  uint8_t NewKind() const { return NewKindValue; }
  bool LogEnable() const { return LogEnabled; }
  const std::string& LogPath() const { return LogFolder; }

 private:
  std::string_view ServerValueName() const;
  // OK of direct entry: checks the controls, then stores them.
  void StoreDirectEntry();
  // "ShowNextTime" as the check box says.
  void StoreShowNextTime(TZORRegistry& reg);

  TServerSettingsEnvironment Env;
  TServerSettingsCaptions Texts;
  bool PortEditEnabled = false;
  bool Direct = false;
  TModalResult Result = TModalResult::None;
  std::string OldServerName;
  int32_t OldPortNumber = 0;
  uint8_t OldKindValue = 0;
  std::string NewServerName;
  int32_t NewPortNumber = 0;
  uint8_t NewKindValue = 0;
  bool LogEnabled = false;
  std::string LogFolder;
};

// Runs the dialog: creates the model, hands it to `runModal` (which returns once the
// dialog has closed) and answers `ConnectionChanged`. A modal loop that ends without a
// result counts as Cancel.
bool ShowServerSettings(const TServerSettingsEnvironment& environment,
                        const std::function<void(TServerSettingsModel&)>& runModal);

// The reachability check used when the environment brings none.
bool CheckLookupServerConnection(const std::string& url);

}  // namespace zor
