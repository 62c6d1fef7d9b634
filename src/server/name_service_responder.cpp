#include "server/name_service_responder.h"

#include <vector>

#include "base/exceptions.h"
#include "platform/socket.h"
#include "server/dotted_address.h"
#include "server/name_service_answer.h"

namespace zor {

namespace {

constexpr int kPollMs = 200;  // how often the loop looks at its stop flag
constexpr size_t kReceiveBuffer = 2048;

}  // namespace

TNameServiceResponder::TNameServiceResponder(TServerLog& log, TNameTable names)
    : Log(log), Names(std::make_shared<const TNameTable>(std::move(names))) {}

TNameServiceResponder::~TNameServiceResponder() {
  Stop();
}

void TNameServiceResponder::SetNames(TNameTable names) {
  auto table = std::make_shared<const TNameTable>(std::move(names));
  std::lock_guard guard(NamesLock);
  Names = std::move(table);
}

void TNameServiceResponder::Start(const std::string& bindAddress, uint16_t port) {
  if (Socket != kNoSocket) return;
  SocketAddress local = BindAddress(bindAddress, port);
  int error = 0;
  const int s = CreateSocket(SocketKind::Datagram, error);
  if (s == kNoSocket)
    throw Exception("Cannot create the name service socket: " + SocketErrorText(error));
  if (!BindSocket(s, local, error) || !SocketLocalAddress(s, local, error)) {
    CloseSocket(s);
    throw Exception("Cannot bind the name service to UDP port " + std::to_string(port) + ": " +
                    SocketErrorText(error));
  }
  Socket = s;
  BoundPort = local.Port;
  Worker.Start([this](std::stop_token stop) { Loop(stop); });
}

void TNameServiceResponder::Stop() {
  Worker.Stop();
  if (Socket != kNoSocket) CloseSocket(Socket);
  Socket = kNoSocket;
}

void TNameServiceResponder::Loop(const std::stop_token& stop) {
  std::vector<uint8_t> buffer(kReceiveBuffer);
  while (!stop.stop_requested()) {
    int error = 0;
    const int events = PollSocket(Socket, kPollReadable, kPollMs, error);
    if (events <= 0 || (events & kPollReadable) == 0) continue;
    SocketAddress from;
    const int64_t got =
        SocketReceiveFrom(Socket, buffer.data(), static_cast<int64_t>(buffer.size()), from, error);
    if (got < 0) continue;
    std::shared_ptr<const TNameTable> names;
    {
      std::lock_guard guard(NamesLock);
      names = Names;
    }
    try {
      const auto reply =
          AnswerNameRequest(std::span(buffer.data(), static_cast<size_t>(got)), *names);
      if (!reply) continue;
      SocketSendTo(Socket, reply->data(), static_cast<int64_t>(reply->size()), from, error);
      ++AnswerCount;
    } catch (const std::exception& e) {
      Log.Warning("NameService", std::string("A request from ") + FormatIPv4(from.Address) +
                                     " failed: " + e.what());
    }
  }
}

}  // namespace zor
