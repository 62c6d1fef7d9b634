#include "server/tcp_listener.h"

#include <chrono>

#include "server/zor_server.h"
#include "transport/tcp_handler.h"

namespace zor {

namespace {

constexpr int32_t kAcceptWaitSeconds = 1;  // how often the loop looks at its stop flag
constexpr auto kRetryPause = std::chrono::milliseconds(200);

}  // namespace

TTCPListener::TTCPListener(std::string connectString) : Text(std::move(connectString)) {}

TTCPListener::~TTCPListener() { Stop(); }

void TTCPListener::Start(TZORServer& server) {
  if (IsRunning) return;
  Waiting = std::make_unique<TTCPHandler>(Text);
  Waiting->Open();  // raises when the address cannot be listened on
  StopFlag = false;
  IsRunning = true;
  Thread = std::thread([this, &server] { Loop(server); });
}

void TTCPListener::Stop() {
  StopFlag = true;
  if (Thread.joinable()) Thread.join();
  Waiting.reset();
  IsRunning = false;
}

void TTCPListener::Loop(TZORServer& server) {
  while (!StopFlag) {
    try {
      if (!Waiting) {
        Waiting = std::make_unique<TTCPHandler>(Text);
        Waiting->Open();
      }
      if (Waiting->IsConnected() || Waiting->WaitForPeer(kAcceptWaitSeconds)) {
        server.AcceptTransport(std::move(Waiting));
        continue;
      }
      if (Waiting->GetState() == kStateDisconnected) {
        server.Log().Warning("TCP", "Accepting on [" + Text + "] failed; listening again");
        Waiting.reset();
        std::this_thread::sleep_for(kRetryPause);
      }
    } catch (const std::exception& e) {
      server.Log().Error("TCP", "Listener [" + Text + "]: " + e.what());
      Waiting.reset();
      std::this_thread::sleep_for(kRetryPause);
    }
  }
}

}  // namespace zor
