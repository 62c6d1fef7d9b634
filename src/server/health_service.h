// The health port: a small HTTP port, off unless configured, that a balancer asks whether
// the server is live (/live) and ready for new clients (/ready), and a metrics collector
// reads the server's figures from (/metrics). Bounded like the lookup service: few
// connections at once, fewer from one address, each request within a short time. Probes
// are logged below info.
#pragma once

#include <cstdint>
#include <string>

#include "server/health_report.h"
#include "server/http_port_server.h"

namespace zor {

inline constexpr size_t kMaxHealthConnections = 16;
// A balancer asks each server every few seconds over one connection at a time; a metrics
// collector on the same machine may ask at once.
inline constexpr size_t kMaxHealthPerAddress = 4;
inline constexpr int kHealthRequestTimeoutMs = 5000;

class TZORServer;
class TFileService;

// The figures of `server` and its file service (nullptr when none runs), as of now.
THealthFigures CollectHealthFigures(TZORServer& server, TFileService* files);

class THealthService {
 public:
  THealthService(TZORServer& server, TFileService* files);
  THealthService(const THealthService&) = delete;
  THealthService& operator=(const THealthService&) = delete;

  // Listens on `bindAddress` ("" for every address) and `port` (0 picks a free one); raises
  // `Exception` when the port cannot be bound.
  void Start(const std::string& bindAddress, uint16_t port) { Http.Start(bindAddress, port); }
  void Stop() { Http.Stop(); }
  uint16_t Port() const { return Http.Port(); }

 private:
  THttpPortServer Http;
};

}  // namespace zor
