// A small HTTP server on a TCP port of its own, for the server's side services (the cloud
// lookup, the health port): each connection carries one request and gets one answer from
// a handler that does no I/O. Every connection runs on a thread of its own, at most
// `MaxConnections` at once and `MaxPerAddress` from one address (more are told 503), and
// must deliver its request within `RequestTimeoutMs`.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "base/stoppable_worker.h"
#include "server/server_log.h"
#include "transport/http_message.h"

namespace zor {

struct THttpPortLimits {
  size_t MaxConnections = 16;
  size_t MaxPerAddress = 4;
  int RequestTimeoutMs = 5000;
};

// What the port is called in its texts: `Tag` in the log, `Requests` in the refusal answers
// ("too many lookups at once"), `Request` in the log lines ("Refused a lookup from ...").
struct THttpPortNames {
  std::string Tag;
  std::string Request;
  std::string Requests;
};

class THttpPortServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;

  THttpPortServer(TServerLog& log, THttpPortNames names, THttpPortLimits limits, Handler handler);
  ~THttpPortServer();
  THttpPortServer(const THttpPortServer&) = delete;
  THttpPortServer& operator=(const THttpPortServer&) = delete;

  // Listens on `bindAddress` ("" for every address) and `port` (0 picks a free one) and
  // starts answering; raises `Exception` when the address is not valid or the port cannot
  // be bound.
  void Start(const std::string& bindAddress, uint16_t port);
  // Stops listening, ends open connections and waits for their threads.
  void Stop();
  uint16_t Port() const { return BoundPort; }
  uint64_t Answered() const { return AnswerCount.load(); }

 private:
  // A connection's socket is closed only after its thread has been joined, so that Stop
  // can shut down every open one without touching a number the system has reused.
  struct Connection {
    int Socket = -1;
    uint32_t Address = 0;  // the peer's IPv4 address
    std::atomic<bool> Finished{false};
    std::thread Thread;
  };

  void AcceptLoop(const std::stop_token& stop);
  void Serve(Connection& connection, const std::stop_token& stop);
  // Joins and frees the connections that have ended; answers how many are still open.
  size_t ReapConnections();
  // Open connections from `address`.
  size_t OpenFrom(uint32_t address);

  TServerLog& Log;
  const THttpPortNames Names;
  const THttpPortLimits Limits;
  const Handler Answer;
  int Listener = -1;
  uint16_t BoundPort = 0;
  std::atomic<uint64_t> AnswerCount{0};
  std::mutex ConnectionsLock;
  std::list<Connection> Connections;
  TStoppableWorker AcceptWorker;
};

// A plain-text answer.
HttpResponse TextHttpResponse(int status, std::string text);

// The target of a GET request; anything else gets the answer to send instead (405 with
// "Allow: GET" for another method, 400 for a target that does not parse).
std::variant<HttpTarget, HttpResponse> ParseGetRequest(const HttpRequest& request);

}  // namespace zor
