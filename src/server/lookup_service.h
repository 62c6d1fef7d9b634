// The HTTP lookup service: answers the cloud client library's server-information request
// (see transport/cloud_lookup_wire.h) from a table of enterprise ids, on a TCP port of its
// own (see http_port_server.h): at most kMaxLookupConnections at once, kMaxLookupsPerAddress
// from one address, each request within kLookupRequestTimeoutMs.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/http_port_server.h"
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
  TLookupService(const TLookupService&) = delete;
  TLookupService& operator=(const TLookupService&) = delete;

  // Listens on `bindAddress` ("" for every address) and `port` (0 picks a free one) and
  // starts answering; raises `Exception` when the address is not valid or the port cannot
  // be bound.
  void Start(const std::string& bindAddress, uint16_t port) { Http.Start(bindAddress, port); }
  // Stops listening, ends open connections and waits for their threads.
  void Stop() { Http.Stop(); }
  uint16_t Port() const { return Http.Port(); }
  // Replaces the table (a reload of the table file).
  void SetTable(TLookupTable table);
  uint64_t Answered() const { return Http.Answered(); }

 private:
  std::mutex TableLock;
  std::shared_ptr<const TLookupTable> Table;
  THttpPortServer Http;  // last: its threads use the table
};

}  // namespace zor
