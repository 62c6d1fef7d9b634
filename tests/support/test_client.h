// A session opened by hand on a running server, the way the launcher's connection opens
// one (greeting, enhanced logon with the key change), with the logon values a test chooses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "intercom/ic_connection.h"
#include "platform/socket.h"
#include "transport/tcp_handler.h"

namespace zor::testing {

struct TLogonValues {
  std::string Computer = "PC-1";
  std::string User = "tester";
  std::string Program = "Client";
  std::string Folder = "/opt/zor/";
};

// A TCP connection to the loopback port `port` that comes from `source` (host byte order):
// another loopback address (127.0.0.2 needs no set-up on Linux) stands for another machine.
inline std::unique_ptr<TTCPHandler> ConnectFrom(uint32_t source, uint16_t port) {
  auto handler = std::make_unique<TTCPHandler>("");
  int error = 0;
  const int socket = CreateSocket(SocketKind::Stream, error);
  if (socket == kNoSocket) throw Exception("socket: " + SocketErrorText(error));
  handler->SetSocket(socket);
  if (!BindSocket(socket, SocketAddress{source, 0}, error))
    throw Exception("bind to " + FormatIPv4(source) + ": " + SocketErrorText(error));
  handler->Connect("127.0.0.1:" + std::to_string(port));
  return handler;
}

// The source address of a `TTestClient` that does not connect from 127.0.0.1.
struct TFromAddress {
  uint32_t Address = 0;
};

class TTestClient {
 public:
  // `logOn` false stops after the greeting (`Logon` then logs on); `preamble`: bytes sent
  // before the greeting is read (a balancer's PROXY header).
  explicit TTestClient(uint16_t port, TLogonValues logon = {}, bool scramble = true,
                       bool logOn = true, std::string_view preamble = {})
      : Connection(scramble ? DefaultEncrypt : nullptr, scramble ? kDefaultScrambleKey : 0,
                   scramble ? DefaultDecrypt : nullptr),
        Values(std::move(logon)),
        Scramble(scramble) {
    auto handler = std::make_unique<TTCPHandler>("Host=127.0.0.1:" + std::to_string(port));
    if (!preamble.empty()) {
      if (!handler->IsConnected()) handler->Open();
      handler->WriteBuffer(preamble.data(), static_cast<int32_t>(preamble.size()));
      handler->Flush(true);
    }
    Start(std::move(handler), logOn);
  }

  // A logged-on client whose connection comes from `from`.
  TTestClient(uint16_t port, TLogonValues logon, TFromAddress from)
      : Connection(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt), Values(std::move(logon)) {
    Start(ConnectFrom(from.Address, port), true);
  }

  void Logon() {
    const TLogonValues& logon = Values;
    const bool scramble = Scramble;
    const uint32_t newKey = scramble ? DeriveEnhancedKey(Connection.GetKey()) : 0;
    TVariantArray values = {TVariant::Wide(logon.Computer),
                            TVariant::Wide(logon.User),
                            TVariant(""),
                            TVariant(-1),
                            TVariant(2052),
                            TVariant(0),
                            TVariant(1234),
                            TVariant(logon.Program),
                            TVariant(logon.Folder),
                            TVariant(),
                            TVariant(static_cast<int32_t>(newKey))};
    Connection.SendCommandData(7, values);
    Connection.WaitResultDiscard(true);
    if (scramble) Connection.SetKey(newKey);
    Connection.SessionId = SessionId;
  }

  TVariantArray Execute(uint32_t command, const TVariantArray& args = {}) {
    if (args.empty())
      Connection.SendCommand(command);
    else
      Connection.SendCommandData(command, args);
    return Connection.WaitResult(true);
  }

  TIcConnection Connection;
  TLogonValues Values;
  bool Scramble = true;
  TVariantArray Greeting;
  uint32_t SessionId = 0;

 private:
  void Start(std::unique_ptr<TTCPHandler> handler, bool logOn) {
    Connection.SetHandler(std::move(handler));
    Greeting = Connection.WaitResult(true);
    if (Greeting.size() != 5) throw Exception("Invalid server information");
    SessionId = static_cast<uint32_t>(Greeting[2].AsInteger());
    if (logOn) Logon();
  }
};

// The server closed its end of `connection`: the transport reads as ended, with nothing
// waiting.
inline bool ServerClosed(TIcConnection& connection) {
  TIcIOHandler* handler = connection.Handler();
  try {
    return !handler || !handler->IsConnected() ||
           (handler->PollReadable() && !handler->DataAvailable());
  } catch (const std::exception&) {
    return true;
  }
}

}  // namespace zor::testing
