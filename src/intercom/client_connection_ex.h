// A client connection that can also register with the server's message centre after logon
// (when its transport carries the message centre and `MessageCentre` is set), and leaves it
// again before a new logon and on disconnect.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "intercom/client_connection.h"

namespace zor {

inline constexpr std::string_view kMessageCentreFailedText =
    "无法连接讯息中心！所以讯息服务将无法正常运行。以下是错误讯息：";

class TClientConnectionEx : public TIcClientConnection {
 public:
  using TIcClientConnection::TIcClientConnection;
  ~TClientConnectionEx() override;
  const char* ClassName() const override { return "TClientConnectionEx"; }

  void Disconnect() override;
  void Connect(const THandlerClass& handlerClass, const std::string& connectString, int32_t p3 = 0,
               int32_t p4 = 0) override;
  void Logon(const std::string& userName, const std::string& s2 = {}, const std::string& s3 = {},
             const std::string& s4 = {}) override;

  bool MessageCentre = false;  // cleared by every Connect
};

// Where a failed message-centre registration is shown (standard error by default; the user
// interface installs its message box).
void SetIntercomMessageSink(std::function<void(const std::string&)> sink);
void ShowIntercomMessage(const std::string& text);
// Told whenever a `TClientConnectionEx` with a transport disconnects.
void SetConnectionClosedNotifier(std::function<void(TIcConnection&)> notifier);
// The process-wide connection reference that a destroyed `TClientConnectionEx` clears.
TIcConnection*& ProcessConnection();

}  // namespace zor
