// The client end of the protocol: opens a transport, passes the server greeting (shape check,
// character-set decision), logs on with this machine's values (the enhanced logon also derives
// a new scrambling key), answers the server's authentication requests through the security
// package, and says goodbye with the logoff notice when it disconnects.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "intercom/ic_connection.h"

namespace zor {

// Creates the transport of a connection from its connect string and two further parameters
// (the handler "class" of a connect call).
using THandlerClass = std::function<std::unique_ptr<TIcIOHandler>(const std::string& connectString,
                                                                  int32_t p3, int32_t p4)>;

inline constexpr std::string_view kConnectionActiveText = "This connection is actived!";
inline constexpr std::string_view kInvalidServerInfoText = "Invalid server information";
inline constexpr std::string_view kCharsetMismatchText =
    "连接的服务器与本机的语系不同，而服务器或本机并不具备简繁转换的功能，无法建立连线。";
inline constexpr std::string_view kEnhancedEncryptOption = "EnhancedEncrypt";

// Whether a client converts the strings it sends to the server's Chinese script. Only two
// ends in different Chinese sets (traditional = LCID 1028 or 3076, everything else not) need
// conversion: the server does it when its greeting says it can, else the client with its own
// tables; when neither can, raises `EIcError` with `kCharsetMismatchText`. An English server
// and a simplified-script client are no mismatch.
// `clientCanConvert` is asked only when the client's tables are needed.
bool DecideCharsetConversion(bool clientTraditional, uint32_t serverLcid, bool serverCanConvert,
                             const std::function<bool()>& clientCanConvert);
// A client's limits on one wait for a reply: the server sends a keep-alive every 10 seconds
// while it works, so a minute without a byte means it is gone, and 60 keep-alives (ten
// minutes, more than packing a large release takes) mean it only holds the client.
inline constexpr int32_t kClientReplySilenceSeconds = 60;
inline constexpr int kClientMaxKeepAlives = 60;

class TIcClientConnection : public TIcConnection {
 public:
  TIcClientConnection(TScrambleRoutine encrypt = nullptr, uint32_t key = 0,
                      TScrambleRoutine decrypt = nullptr);
  ~TIcClientConnection() override;
  const char* ClassName() const override { return "TIcClientConnection"; }

  // A client also admits the server's authentication request.
  bool IsValidReplyKind(uint32_t kind) override;
  void HandleAuthRequest() override;
  void Disconnect() override;

  // This machine's logon values.
  virtual std::string GetComputerName();
  virtual std::string GetLogonUserName();
  virtual std::string GetAdapterText();
  virtual int32_t GetOSCode();
  virtual uint32_t GetTerminalSessionId();
  virtual TVariant GetLogonExtra() { return TVariant(); }
  // The running program's file name and folder (with its trailing separator).
  virtual std::pair<std::string, std::string> GetProgramNameAndFolder();

  virtual void Connect(const THandlerClass& handlerClass, const std::string& connectString,
                       int32_t p3 = 0, int32_t p4 = 0);
  virtual void Logon(const std::string& userName, const std::string& s2 = {},
                     const std::string& s3 = {}, const std::string& s4 = {});
  // The token exchange with the server's security package (command 35).
  void Authenticate();
  bool AuthStillValid() const;
  // True when a line after the first of the server information reads "-" + `name`.
  bool HasServerOption(std::string_view name) const;

  std::string ServerText;
  std::string ServerInfo;
  int32_t ServerLangId = 0;
  bool ServerCanConvert = false;
  double AuthExpiry = 0;  // date-time (UTC) the last integrated logon expires; 0 = none
  uint32_t InitialKey = 0;

 protected:
  void OpenSession();
  void SendToken(const std::vector<uint8_t>& token);
};

}  // namespace zor
