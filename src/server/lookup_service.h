// The HTTP lookup service: answers the cloud client library's server-information request
// (see transport/cloud_lookup_wire.h) from a table of enterprise ids, on a TCP port of its
// own. Each connection carries one request and gets one answer; every connection runs on
// a thread of its own, at most kMaxLookupConnections at once (more are told 503), and must
// deliver its request within kLookupRequestTimeoutMs.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/lookup_service_table.h"
#include "server/server_log.h"
#include "transport/http_message.h"

namespace zor {

inline constexpr size_t kMaxLookupConnections = 16;
// Open lookups from one address: a lookup is one short request, so a client that holds more
// only keeps others out.
inline constexpr size_t kMaxLookupsPerAddress = 4;
inline constexpr int kLookupRequestTimeoutMs = 5000;

// The answer to one request (no I/O): 200 with the JSON answer, 404 for an unknown
// enterprise id or path, 400 for a malformed request, 405 for a method other than GET.
HttpResponse AnswerLookupRequest(const TLookupTable& table, const HttpRequest& request);

class TLookupService {
 public:
  TLookupService(TServerLog& log, TLookupTable table);
  ~TLookupService();
  TLookupService(const TLookupService&) = delete;
  TLookupService& operator=(const TLookupService&) = delete;

  // Listens on `bindAddress` ("" for every address) and `port` (0 picks a free one) and
  // starts answering; raises `Exception` when the address is not valid or the port cannot
  // be bound.
  void Start(const std::string& bindAddress, uint16_t port);
  // Stops listening, ends open connections and waits for their threads.
  void Stop();
  uint16_t Port() const { return BoundPort; }
  // Replaces the table (a reload of the table file).
  void SetTable(TLookupTable table);
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

  void AcceptLoop();
  void Serve(Connection& connection);
  // Joins and frees the connections that have ended; answers how many are still open.
  size_t ReapConnections();
  // Open connections from `address`.
  size_t OpenFrom(uint32_t address);

  TServerLog& Log;
  std::mutex TableLock;
  std::shared_ptr<const TLookupTable> Table;
  int Listener = -1;
  uint16_t BoundPort = 0;
  std::atomic<bool> StopFlag{false};
  std::atomic<uint64_t> AnswerCount{0};
  std::mutex ConnectionsLock;
  std::list<Connection> Connections;
  std::thread AcceptThread;
};

}  // namespace zor
