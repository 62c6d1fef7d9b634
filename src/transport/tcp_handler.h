// The TCP transport: a client connects as soon as its connect string names a host (an
// address, a system host name, or a "ZORHost" name found by host discovery); a server
// listens on "BoundIP"/"BoundPort" and accepts one peer that passes its address filter.
// Keep-alive and TCP_NODELAY are on for every connected socket.
#pragma once

#include <string>

#include "transport/socket_handler.h"
#include "transport/tcp_connect_string.h"

namespace zor {

class TTCPHandler : public TSocketHandler {
 public:
  explicit TTCPHandler(std::string_view connectString, TNotifyEvent onIdle = nullptr);
  ~TTCPHandler() override;

  void SetConnectString(const std::string& text) override;
  const char* ClassName() const override { return "TTCPHandler"; }
  std::string GetDescription() override;
  bool IsNetworkChannel() const override { return true; }
  bool SupportsMessageCentre() const override { return true; }
  std::string GetRemoteAddress() override { return FormatIPv4(PeerAddress.Address); }
  void CheckListenAddress(const SocketAddress& address) override;
  void SetSocket(int socket) override;
  bool AcceptPeer(const SocketAddress& address) override;

  // Connects to a host text: "Host=h:p", "ZORHost=n:p" or "h:p".
  void Connect(const std::string& hostText);

  TAcceptMode AcceptMode = TAcceptMode::All;
  std::string IPList;
  std::string PeerIP;
  uint16_t PeerPort = 0;  // host byte order
};

}  // namespace zor
