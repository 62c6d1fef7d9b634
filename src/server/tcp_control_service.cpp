#include "server/tcp_control_service.h"

#include "base/exceptions.h"
#include "server/server_call.h"
#include "server/server_texts.h"
#include "server/tcp_listener.h"
#include "server/zor_server.h"

namespace zor {

TTCPControlService::TTCPControlService(TZORServer* server, std::optional<uint16_t> portSwitch,
                                       std::optional<std::string> bindAddress, uint16_t defaultPort)
    // Not stoppable: without it the server could not be reached over TCP any more.
    : TZORService(server, 0, kTCPControlBase, std::string(kTextTCPServiceDescription),
                  std::string(kTextTCPServiceName)),
      Default(defaultPort) {
  if (server) Settings = ReadTCPSettings(server->Settings(), Name(), Default);
  if (portSwitch) ApplyPortSwitch(Settings, *portSwitch);
  if (bindAddress) Settings.BoundIP = *bindAddress;

  RegisterCommand(kCmdTCPQuerySettings, [this](TServiceMessage& m) {
    const TTCPSettings s = Current();
    m.Call->Reply({TVariant(s.EnableTCP), TVariant(s.Port), TVariant(s.BoundIP),
                   TVariant(s.AcceptMode), TVariant(s.IPList)});
  });
  RegisterCommand(kCmdTCPQueryListener, [this](TServiceMessage& m) {
    std::lock_guard guard(Lock);
    m.Call->Reply({TVariant(Listener != nullptr && Listener->Running()),
                   TVariant(Listener ? Listener->ConnectString() : std::string()),
                   TVariant(m.Call->Server.TransportCount())});
  });
  RegisterCommand(kCmdTCPSetSettings, [this](TServiceMessage& m) {
    TServerCall& call = *m.Call;
    const bool admin =
        call.Server.SessionSettings().LocalAdmin && call.Session.PeerAddress == "127.0.0.1";
    if (!admin) throw Exception(std::string(kTextTCPAdminOnly));
    ApplySettings(call.BooleanArg(0), call.IntegerArg(1), call.OptionalStringArg(2),
                  call.IntegerArg(3), call.OptionalStringArg(4));
    call.ReplyEmpty();
  });
  RegisterCommand(kCmdTCPDefaultPort,
                  [this](TServiceMessage& m) { m.Call->Reply({TVariant(int32_t{Default})}); });
}

TTCPControlService::~TTCPControlService() {
  LeaveServer();
  try {
    StopListener();
  } catch (...) {
  }
}

TTCPSettings TTCPControlService::Current() const {
  std::lock_guard guard(Lock);
  return Settings;
}

void TTCPControlService::OverrideEnableTCP(bool enable) {
  std::lock_guard guard(Lock);
  Settings.EnableTCP = enable;
}

void TTCPControlService::DoStart() {
  const TTCPSettings settings = Current();
  if (settings.EnableTCP) StartListener(settings);
}

void TTCPControlService::DoStop() {
  StopListener();
}

void TTCPControlService::StartListener(const TTCPSettings& settings) {
  TZORServer* server = Server();
  if (!server) return;
  const std::string text = ListenerString(settings);
  std::lock_guard guard(Lock);
  if (Listener && Listener->ConnectString() == text) return;
  // The new listener starts before the old one goes, so the port is never left unserved.
  TServerListener* added = server->AddListener(std::make_unique<TTCPListener>(text));
  if (Listener) server->RemoveListener(Listener);
  Listener = added;
}

void TTCPControlService::StopListener() {
  TZORServer* server = Server();
  std::lock_guard guard(Lock);
  if (Listener && server) server->RemoveListener(Listener);
  Listener = nullptr;
}

void TTCPControlService::ApplySettings(bool enable, int64_t port, const std::string& boundIP,
                                       int64_t acceptMode, const std::string& ipList) {
  TTCPSettings settings;
  settings.EnableTCP = enable;
  settings.Port = static_cast<int32_t>(static_cast<uint64_t>(port) & 0xFFFF);
  if (!boundIP.empty() && !IsDottedAddress(boundIP)) throw Exception(std::string(kTextInvalidIP));
  settings.BoundIP = boundIP;
  if (acceptMode < 0 || acceptMode > 2) throw Exception(std::string(kTextInvalidAcceptMode));
  settings.AcceptMode = static_cast<int32_t>(acceptMode);
  settings.IPList = settings.AcceptMode != 0 ? ipList : std::string();
  if (Server() && Server()->Active() && Enabled()) {
    if (enable)
      StartListener(settings);
    else
      StopListener();
  }
  {
    std::lock_guard guard(Lock);
    Settings = settings;
  }
  if (Server()) WriteTCPSettings(Server()->Settings(), Name(), settings);
}

}  // namespace zor
