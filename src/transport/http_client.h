// The client side of one HTTP exchange over TCP: connect to an address, send a request, read
// the response, all within a time-out; and the bare reachability check (a TCP connect
// within a short time-out) that stands for the system's Internet connection check.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "transport/http_message.h"

namespace zor {

inline constexpr uint16_t kDefaultHttpPort = 80;

// Where an "http://" address points: host, port and the path in front of our own paths.
struct HttpAddress {
  std::string Host;
  uint16_t Port = kDefaultHttpPort;
  bool ExplicitPort = false;  // the text named the port
  std::string BasePath;       // "" or "/something", without a trailing '/'
};

// Splits "host", "host:port", "host:port/base" (with or without "http://" in front).
// False when the host is empty or holds blanks or control characters, the port is not
// 1..65535, or another scheme is named.
bool ParseHttpAddress(std::string_view text, HttpAddress& address);

// Whether a TCP connection to the address can be made within `timeoutMs`.
bool CheckTcpConnection(const HttpAddress& address, int timeoutMs);

// Sends `request` (a Host field is added) and reads the response; the whole exchange must
// finish within `timeoutMs`. Failures raise `EHttpError` saying what went wrong and where.
HttpResponse HttpExchange(const HttpAddress& address, const HttpRequest& request, int timeoutMs);

// Milliseconds left until `deadline` on the process clock (0 once it has passed).
int MillisecondsUntil(Clock::Steady::time_point deadline);
// Sends all of `data` on a non-blocking socket before `deadline`. False, with "timed out"
// or the system's text in `reason`, when it cannot.
bool SendAllBefore(int socket, std::string_view data, Clock::Steady::time_point deadline,
                   std::string& reason);

// How reading one message ended.
enum class HttpReceiveEnd { Complete, Failed, TimedOut };
// Feeds what arrives on the non-blocking `socket` to `reader` until it holds a whole message
// or the peer ends the stream (`FeedEnd`, which raises for a message cut short). Failed,
// with the system's error in `error`, when the socket fails; TimedOut once `deadline` has
// passed or `stop` (when given, looked at least every `pollMs`) answers true.
HttpReceiveEnd ReceiveHttpMessage(int socket, HttpMessageReader& reader,
                                  Clock::Steady::time_point deadline, int& error,
                                  const std::function<bool()>& stop = {}, int pollMs = 200);

}  // namespace zor
