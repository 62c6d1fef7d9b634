#include "transport/http_client.h"

#include <algorithm>
#include <charconv>

#include "base/ascii_case.h"
#include "base/clock.h"
#include "platform/socket.h"

namespace zor {
namespace {

// An open client socket that closes itself.
class ClientSocket {
 public:
  ClientSocket() = default;
  ~ClientSocket() {
    if (Handle != kNoSocket) CloseSocket(Handle);
  }
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;
  int Handle = kNoSocket;
};

std::string Where(const HttpAddress& address) {
  return address.Host + ":" + std::to_string(address.Port);
}

// Connects within the deadline; the socket, or an empty one with the reason in `reason`.
bool Connect(const HttpAddress& address, Clock::Steady::time_point deadline, ClientSocket& socket,
             std::string& reason) {
  uint32_t ip = 0;
  if (!ResolveHostName(address.Host, ip)) {
    reason = "cannot resolve host name " + address.Host;
    return false;
  }
  int error = 0;
  socket.Handle = CreateSocket(SocketKind::Stream, error);
  if (socket.Handle == kNoSocket) {
    reason = SocketErrorText(error);
    return false;
  }
  if (!StartConnect(socket.Handle, SocketAddress{ip, address.Port}, error)) {
    reason = SocketErrorText(error);
    return false;
  }
  while (true) {
    const int events = PollSocket(socket.Handle, kPollWritable, MillisecondsUntil(deadline), error);
    if (events < 0) {
      if (ClassifySocketError(error) == SocketErrorKind::Interrupted) continue;
      reason = SocketErrorText(error);
      return false;
    }
    if (events == 0) {
      reason = "timed out";
      return false;
    }
    break;
  }
  error = SocketConnectResult(socket.Handle);
  if (error != 0) {
    reason = SocketErrorText(error);
    return false;
  }
  return true;
}

}  // namespace

int MillisecondsUntil(Clock::Steady::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - GetClock().Now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool SendAllBefore(int socket, std::string_view data, Clock::Steady::time_point deadline,
                   std::string& reason) {
  while (!data.empty()) {
    int error = 0;
    const int64_t sent = SocketSend(socket, data.data(), static_cast<int64_t>(data.size()), error);
    if (sent > 0) {
      data.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    const SocketErrorKind kind = ClassifySocketError(error);
    if (kind == SocketErrorKind::Interrupted) continue;
    if (kind != SocketErrorKind::WouldBlock) {
      reason = SocketErrorText(error);
      return false;
    }
    if (PollSocket(socket, kPollWritable, MillisecondsUntil(deadline), error) == 0) {
      reason = "timed out";
      return false;
    }
  }
  return true;
}

bool ParseHttpAddress(std::string_view text, HttpAddress& address) {
  const size_t scheme = text.find("://");
  if (scheme != std::string_view::npos) {
    if (!SameTextAscii(text.substr(0, scheme), "http")) return false;
    text.remove_prefix(scheme + 3);
  }
  const size_t slash = text.find('/');
  std::string_view authority = text.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  uint16_t port = kDefaultHttpPort;
  bool explicitPort = false;
  const size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos) {
    const std::string_view digits = authority.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value == 0 || value > 65535) {
      return false;
    }
    port = static_cast<uint16_t>(value);
    explicitPort = true;
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return false;
  for (unsigned char c : authority) {
    if (c <= 0x20 || c == 0x7F || c == '@' || c == '?' || c == '#') return false;
  }
  for (unsigned char c : path) {
    if (c <= 0x20 || c == 0x7F || c == '?' || c == '#') return false;
  }
  address.Host = std::string(authority);
  address.Port = port;
  address.ExplicitPort = explicitPort;
  address.BasePath = std::string(path);
  return true;
}

bool CheckTcpConnection(const HttpAddress& address, int timeoutMs) {
  ClientSocket socket;
  std::string reason;
  return Connect(address, GetClock().Now() + std::chrono::milliseconds(timeoutMs), socket, reason);
}

HttpResponse HttpExchange(const HttpAddress& address, const HttpRequest& request, int timeoutMs) {
  const auto deadline = GetClock().Now() + std::chrono::milliseconds(timeoutMs);
  ClientSocket socket;
  std::string reason;
  if (!Connect(address, deadline, socket, reason)) {
    throw EHttpError("cannot connect to " + Where(address) + ": " + reason);
  }
  HttpRequest sent = request;
  if (!FindHttpHeader(sent.Headers, "Host")) {
    const std::string host = address.Port == kDefaultHttpPort ? address.Host : Where(address);
    sent.Headers.insert(sent.Headers.begin(), HttpHeader{"Host", host});
  }
  if (!SendAllBefore(socket.Handle, FormatHttpRequest(sent), deadline, reason)) {
    throw EHttpError("cannot send the request to " + Where(address) + ": " + reason);
  }

  HttpMessageReader reader(HttpMessageReader::Kind::Response);
  int error = 0;
  switch (ReceiveHttpMessage(socket.Handle, reader, deadline, error)) {
    case HttpReceiveEnd::Complete:
      return reader.Response();
    case HttpReceiveEnd::Failed:
      throw EHttpError("cannot read the answer of " + Where(address) + ": " +
                       SocketErrorText(error));
    case HttpReceiveEnd::TimedOut:
      break;
  }
  throw EHttpError("timed out waiting for the answer of " + Where(address));
}

HttpReceiveEnd ReceiveHttpMessage(int socket, HttpMessageReader& reader,
                                  Clock::Steady::time_point deadline, int& error,
                                  const std::function<bool()>& stop, int pollMs) {
  char buffer[4096];
  while (!reader.Complete()) {
    const int64_t got = SocketReceive(socket, buffer, sizeof(buffer), error);
    if (got > 0) {
      reader.Feed(std::string_view(buffer, static_cast<size_t>(got)));
      continue;
    }
    if (got == 0) {
      reader.FeedEnd();
      break;
    }
    const SocketErrorKind kind = ClassifySocketError(error);
    if (kind == SocketErrorKind::Interrupted) continue;
    if (kind != SocketErrorKind::WouldBlock) return HttpReceiveEnd::Failed;
    const int left = MillisecondsUntil(deadline);
    if (left <= 0 || (stop && stop())) return HttpReceiveEnd::TimedOut;
    PollSocket(socket, kPollReadable, stop ? std::min(left, pollMs) : left, error);
  }
  return HttpReceiveEnd::Complete;
}

}  // namespace zor
