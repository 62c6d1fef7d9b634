#include "transport/tcp_handler.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "transport/tcp_messages.h"
#include "transport/udp_handler.h"
#include "transport/zor_host_client.h"

namespace zor {

TTCPHandler::TTCPHandler(std::string_view connectString, TNotifyEvent onIdle)
    : TSocketHandler(connectString, std::move(onIdle)) {
  LocalAddress = SocketAddress{0, 0};
  SetConnectString(ConnectString);
}

TTCPHandler::~TTCPHandler() {
  CloseOnDestroy();
}

void TTCPHandler::SetConnectString(const std::string& text) {
  const TTcpConnectSettings settings = ParseTcpConnectString(text);
  if (settings.BoundIP) {
    if (IsConnected()) CheckState(false);
    LocalAddress.Address = *settings.BoundIP;
  }
  if (settings.BoundPort) {
    if (IsConnected()) CheckState(false);
    LocalAddress.Port = *settings.BoundPort;
  }
  AcceptMode = settings.AcceptMode;
  if (settings.IPList) IPList = *settings.IPList;
  if (!settings.HostText.empty()) Connect(settings.HostText);
}

void TTCPHandler::Connect(const std::string& hostText) {
  const THostTarget target = ParseHostText(hostText);
  // A name found through the name service fails with the service's own text.
  const uint32_t found = target.ViaDiscovery ? ResolveZORHost(target.Host) : 0;
  // Otherwise a failure names the server and port it tried; the exception keeps its class.
  std::string tried = target.Host + ":" + std::to_string(target.Port);
  try {
    const uint32_t address = target.ViaDiscovery ? found : ResolveHostAddress(target.Host);
    if (FormatIPv4(address) != target.Host)
      tried = target.Host + " = " + FormatIPv4(address) + ":" + std::to_string(target.Port);
    ConnectTo(SocketAddress{address, target.Port});
  } catch (EAbort&) {
    throw;
  } catch (Exception& e) {
    e.Message = Format(kTcpConnectErrorFormat, {tried, e.Message});
    throw;
  }
}

std::string TTCPHandler::GetDescription() {
  return "TCP " + FormatIPv4(PeerAddress.Address) + ":" + std::to_string(PeerAddress.Port);
}

void TTCPHandler::CheckListenAddress(const SocketAddress& address) {
  if (address.Port == 0) throw Exception("Error listen port!");
}

void TTCPHandler::SetSocket(int socket) {
  TSocketHandler::SetSocket(socket);
  int error = 0;
  SetSocketKeepAlive(socket, error);
  // A message goes out in one write; without this a header and payload sent apart stall.
  SetSocketNoDelay(socket, error);
}

bool TTCPHandler::AcceptPeer(const SocketAddress& address) {
  PeerIP = FormatIPv4(address.Address);
  PeerPort = address.Port;
  return AcceptPeerAddress(AcceptMode, IPList, PeerIP);
}

}  // namespace zor
