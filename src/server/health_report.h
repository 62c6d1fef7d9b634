// What the health port tells a balancer and a metrics collector, from one set of figures
// taken from the running server (no I/O here): whether the server is live (its loop goes
// round), whether it is ready for new clients (running, not draining, its release folder
// scanned, as its manifest says and packed), and the metrics in the Prometheus text format.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "server/release_manifest_check.h"
#include "server/server_counters.h"
#include "transport/http_message.h"

namespace zor {

// A server whose loop has not gone round for this long counts as hung. The loop goes round
// every second; a scan that hashes a large new release holds it up for a few seconds.
inline constexpr std::chrono::seconds kMaxLoopSilence{30};

inline constexpr std::string_view kLivePath = "/live";
inline constexpr std::string_view kReadyPath = "/ready";
inline constexpr std::string_view kMetricsPath = "/metrics";

struct THealthFigures {
  bool Active = false;    // the server runs (not stopped, not stopping)
  bool Draining = false;  // it takes no new clients and lets running commands end
  std::chrono::milliseconds LoopSilence{0};  // since its loop last went round
  bool FileService = false;                  // a file service runs
  TManifestStatus Manifest;
  bool Packing = false;
  int64_t Sessions = 0;
  int64_t Reading = 0;      // sessions waiting for their next request
  int64_t Executing = 0;    // sessions running a command
  int64_t Detached = 0;     // sessions waiting for their client to resume them
  int64_t Connections = 0;  // transports counted against the connection limit
  int64_t BytesServed = 0;
  int64_t Packs = 0;
  int64_t PacksRejected = 0;
  std::array<int64_t, kRefusalReasons> Refusals{};
};

struct THealthVerdict {
  bool Ok = false;
  std::string Text;  // why, in a line
};

THealthVerdict LivenessOf(const THealthFigures& figures);
THealthVerdict ReadinessOf(const THealthFigures& figures);
// The metrics in the Prometheus text format (version 0.0.4).
std::string MetricsText(const THealthFigures& figures);
// GET of /live, /ready (200, or 503 with the reason) or /metrics; 404 for other paths,
// 405 for other methods.
HttpResponse AnswerHealthRequest(const THealthFigures& figures, const HttpRequest& request);

}  // namespace zor
