// An application server inside the test program on a loopback port, with the TCP control
// service, the file service over a release folder of its own and a test service (base
// 0x1200) whose command 0x1201 can be held until the test releases it.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/file_service.h"
#include "server/server_call.h"
#include "server/tcp_control_service.h"
#include "server/zor_server.h"
#include "support/free_port.h"
#include "support/temp_folder.h"
#include "support/test_client.h"

namespace zor::testing {

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
  ~TGateService() override { LeaveServer(); }
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
    Release = Folder.Dir() / "release";
    std::filesystem::create_directories(Release);
    Port = FreePort();
    Session.ServerText = "test server";
    Server = std::make_unique<TZORServer>(Log, Settings, Session);
    Tcp = std::make_unique<TTCPControlService>(Server.get(), Port, std::string("127.0.0.1"));
    TFileServiceSettings files;
    files.ReleaseDir = Release;
    files.CacheDir = Folder.Dir() / "cache";
    files.UploadDir = Folder.Dir() / "upload";
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

}  // namespace zor::testing
