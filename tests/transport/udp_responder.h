// A name service on 127.0.0.1 for tests: answers each request with what `answer` returns
// (no datagram when it returns an empty vector). Stops and joins when destroyed.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "transport/name_service_settings.h"

namespace zor::testing {

class UdpResponder {
 public:
  using Answer = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;

  explicit UdpResponder(Answer answer) : Reply(std::move(answer)) {
    int error = 0;
    Socket = CreateSocket(SocketKind::Datagram, error);
    BindSocket(Socket, SocketAddress{0x7F000001, 0}, error);
    SocketAddress local;
    SocketLocalAddress(Socket, local, error);
    Port = local.Port;
    Worker = std::thread([this] { Run(); });
    SetNameServiceSettings({"127.0.0.1", Port});
  }
  ~UdpResponder() {
    Stop = true;
    Worker.join();
    CloseSocket(Socket);
    ResetNameServiceSettings();
  }

  uint16_t Port = 0;
  std::atomic<int> Requests{0};
  std::vector<uint8_t> LastRequest() {
    std::lock_guard guard(Lock);
    return Last;
  }
  // Where the last request came from.
  SocketAddress LastPeer() {
    std::lock_guard guard(Lock);
    return Peer;
  }
  // Sends an extra datagram from the responder's own socket.
  void SendTo(const SocketAddress& to, const std::vector<uint8_t>& bytes) {
    int error = 0;
    SocketSendTo(Socket, bytes.data(), static_cast<int64_t>(bytes.size()), to, error);
  }

 private:
  void Run() {
    std::vector<uint8_t> buffer(2048);
    while (!Stop) {
      int error = 0;
      if (PollSocket(Socket, kPollReadable, 20, error) <= 0) continue;
      SocketAddress from;
      const int64_t n = SocketReceiveFrom(Socket, buffer.data(),
                                          static_cast<int64_t>(buffer.size()), from, error);
      if (n < 0) continue;
      const std::vector<uint8_t> request(buffer.begin(), buffer.begin() + n);
      {
        std::lock_guard guard(Lock);
        Last = request;
        Peer = from;
      }
      const std::vector<uint8_t> reply = Reply(request);
      ++Requests;
      if (!reply.empty())
        SocketSendTo(Socket, reply.data(), static_cast<int64_t>(reply.size()), from, error);
    }
  }

  Answer Reply;
  std::mutex Lock;
  std::vector<uint8_t> Last;
  SocketAddress Peer;
  int Socket = kNoSocket;
  std::atomic<bool> Stop{false};
  std::thread Worker;
};

}  // namespace zor::testing
