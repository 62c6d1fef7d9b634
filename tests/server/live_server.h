// Test helper: a server on a loopback port with the TCP control service, the file service
// over a fixture release and a test service (base 0x1200) whose command 0x1201 can be held
// until the test releases it; and a plain client that opens a session the way the launcher's
// connection does (greeting, enhanced logon with the key change).
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "intercom/ic_connection.h"
#include "platform/socket.h"
#include "server/file_service.h"
#include "server/server_call.h"
#include "server/tcp_control_service.h"
#include "server/zor_server.h"
#include "test_folder.h"
#include "transport/tcp_handler.h"

namespace zor::testing {

// A port on 127.0.0.1 that was free a moment ago.
inline uint16_t FreePort() {
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  SocketAddress address{0x7F000001, 0};
  BindSocket(s, address, error);
  SocketLocalAddress(s, address, error);
  CloseSocket(s);
  return address.Port;
}

// Base 0x1200: 0x1201 echoes its first argument after the test opens the gate (when closed).
class TGateService : public TZORService {
 public:
  explicit TGateService(TZORServer* server)
      : TZORService(server, kServiceMayStop, 0x1200, "test", "Gate") {
    RegisterCommand(0x1201, [this](TServiceMessage& m) {
      {
        std::unique_lock guard(Lock);
        ++Entered;
        Changed.notify_all();
        Changed.wait(guard, [this] { return Open; });
      }
      m.Call->Reply({m.Call->Args.empty() ? TVariant("") : m.Call->Args[0]});
    });
    RegisterCommand(0x1234,
                    [](TServiceMessage& m) { m.Call->Reply({TVariant("0x1234 served by Gate")}); });
  }
  void Close() {
    std::lock_guard guard(Lock);
    Open = false;
  }
  void Release() {
    std::lock_guard guard(Lock);
    Open = true;
    Changed.notify_all();
  }
  void WaitEntered(int count) {
    std::unique_lock guard(Lock);
    Changed.wait(guard, [&] { return Entered >= count; });
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = true;
  int Entered = 0;
};

class LiveServer {
 public:
  // `adjust` may change the file service's settings before the service is made.
  explicit LiveServer(TSessionSettings session = {}, bool packAhead = false,
                      const std::function<void(TFileServiceSettings&)>& adjust = {})
      : Session(std::move(session)) {
    Log.SetUseStdErr(false);
    Release = Folder.Path / "release";
    std::filesystem::create_directories(Release);
    Port = FreePort();
    Session.ServerText = "test server";
    Server = std::make_unique<TZORServer>(Log, Settings, Session);
    Tcp = std::make_unique<TTCPControlService>(Server.get(), Port, std::string("127.0.0.1"));
    TFileServiceSettings files;
    files.ReleaseDir = Release;
    files.CacheDir = Folder.Path / "cache";
    files.UploadDir = Folder.Path / "upload";
    files.UploadLimit = 100000;
    files.PackAhead = packAhead;
    if (adjust) adjust(files);
    Files = std::make_unique<TFileService>(Server.get(), files);
    Gate = std::make_unique<TGateService>(Server.get());
  }
  ~LiveServer() { Stop(); }

  void Start() {
    Tcp->SetEnabled(true);
    Files->SetEnabled(true);
    Gate->SetEnabled(true);
    Server->Activate();
  }
  void Stop() {
    if (Server && Server->Active()) Server->Deactivate();
  }

  TempFolder Folder;
  std::filesystem::path Release;
  uint16_t Port = 0;
  TServerLog Log;
  TMemorySettings Settings;
  TSessionSettings Session;
  std::unique_ptr<TZORServer> Server;
  std::unique_ptr<TTCPControlService> Tcp;
  std::unique_ptr<TFileService> Files;
  std::unique_ptr<TGateService> Gate;
};

struct TLogonValues {
  std::string Computer = "PC-1";
  std::string User = "tester";
  std::string Program = "Client";
  std::string Folder = "/opt/zor/";
};

// A session opened by hand, with the logon values a test chooses.
class TTestClient {
 public:
  explicit TTestClient(uint16_t port, TLogonValues logon = {}, bool scramble = true)
      : Connection(scramble ? DefaultEncrypt : nullptr, scramble ? kDefaultScrambleKey : 0,
                   scramble ? DefaultDecrypt : nullptr) {
    Connection.SetHandler(std::make_unique<TTCPHandler>("Host=127.0.0.1:" + std::to_string(port)));
    Greeting = Connection.WaitResult(true);
    if (Greeting.size() != 5) throw Exception("Invalid server information");
    SessionId = static_cast<uint32_t>(Greeting[2].AsInteger());
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
  TVariantArray Greeting;
  uint32_t SessionId = 0;
};

}  // namespace zor::testing
