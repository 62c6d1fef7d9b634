// The local pipe transport. A pipe connect string is "\\server\pipe\name", with ";Server"
// after it for the server end (whose server part must be "."). A pipe is a local stream
// socket named `name` in the pipe folder: the server end listens (several server ends of
// one name share the listening socket) and takes one client; a client connects, waiting
// while the server is busy. Only the local computer is reachable, and only a pipe that
// belongs to the server's user (local_socket.h); the server end records the user id of the
// client that connected, and shows it in its remote address for the server's log.
#pragma once

#include <string>
#include <string_view>

#include "transport/socket_handler.h"

namespace zor {

inline constexpr std::string_view kPipeNotFoundReason = "无法找到指定的服务器或服务并未启动。";
inline constexpr std::string_view kPipeTimedOutReason = "服务器逾时未有回应。";
inline constexpr std::string_view kPipeConnectErrorFormat = "无法连接至[%s], 因为：\r\n%s";
inline constexpr int64_t kPipeBusyLimitMs = 10000;  // a busy server is waited for this long
inline constexpr int32_t kPipeBusyRetryMs = 50;
inline constexpr std::string_view kPipeNotTrustedFormat =
    "The pipe %s does not belong to the server's user, so it was not used (another user may have "
    "put it there).";

// A pipe connect string taken apart; raises `EConnectStringError` for a malformed one.
struct TPipeAddress {
  std::string Path;  // the connect string without ";Server"
  std::string Host;  // the server part ("." for this computer)
  std::string Name;  // the pipe name, a plain file name
  bool Server = false;
};
TPipeAddress ParsePipeConnectString(std::string_view text);

class TPipeHandler : public TSocketHandler {
 public:
  explicit TPipeHandler(std::string_view connectString, TNotifyEvent onIdle = nullptr);
  ~TPipeHandler() override;

  void SetConnectString(const std::string& text) override;
  const char* ClassName() const override { return "TPipeHandler"; }
  std::string GetDescription() override { return "PIPE"; }
  bool SupportsMessageCentre() const override { return true; }
  std::string GetRemoteAddress() override;
  std::shared_ptr<TListenRecord> AcquireListener(int& error) override;
  bool KeepsListenerWhenConnected() const override { return true; }
  std::string_view ErrorFormat() const override;

  bool IsServer() const { return Server; }
  // The user id of the client on a connected server end; -1 before.
  int64_t PeerUserId() const { return PeerUid; }
  // Waits up to `seconds` for a client of a server end (see `WaitForPeer`).
  bool WaitForClient(int32_t seconds) { return WaitForPeer(seconds); }
  // The socket file that stands for the pipe.
  std::string LocalPath() const;

 private:
  void CreateInstance();
  void OpenPipe();
  [[noreturn]] void RaiseConnectError(std::string_view reason, int error = 0);
  void SetSocket(int socket) override;

  bool Server = false;
  std::string PipeName;
  int64_t PeerUid = -1;
};

// "\\" + server + "\pipe\" + name, the local computer's own name becoming "."; a server end
// must be "." and gets ";Server".
std::string ComposePipeString(std::string_view server, std::string_view pipeName, bool asServer);

}  // namespace zor
