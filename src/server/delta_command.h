// The file service's delta fetch (command 0xA220, update/delta_wire.h): the client sends the
// signature of its old copy of a file, the server makes the delta of its current file
// against it and sends that, compressed, with the size and SHA-256 the patched file must
// have. The server keeps nothing between requests.
//
// What one request may cost is bounded: the signature by its size (checked before librsync
// reads it) and the request limits of the session; the delta by memory (it is held until it
// is sent, at most a share of the packed file's size and `kDeltaMaxWireBytes`), by time
// (`TDeltaLimits::TimeLimit`) and by the number of deltas made at once. A delta over any of
// them is not sent: the client is told to fetch the whole file, which costs the server
// nothing new (the packed file is cached).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "intercom/variant.h"
#include "server/pack_cache.h"
#include "server/release_folder.h"
#include "server/zor_service.h"

namespace zor {

class TServerCall;

struct TDeltaLimits {
  // Deltas made at once; more requests are told to fetch whole files. Each holds at most
  // `kDeltaMaxWireBytes` of delta and its signature's block table.
  int MaxJobs = 8;
  // A delta is sent only when it is at most this share of the packed file.
  int PaysPercent = 75;
  // Making one delta may take this long; a slower one is given up.
  std::chrono::seconds TimeLimit{60};
};

struct TDeltaRequest {
  std::string Name;
  std::string Area;
  std::string Lang;
  std::vector<uint8_t> Signature;
};

// The request's arguments; raises `EInvalidCommand` for missing or mistyped ones and for a
// signature whose header or length is not valid (delta_codec.h).
TDeltaRequest ParseDeltaRequest(const TVariantArray& args);

class TDeltaCommand {
 public:
  using TPackedLookup = std::function<TPackedFile(const TReleaseFile&, TServerCall*)>;
  TDeltaCommand(TReleaseFolder& folder, TPackedLookup packed, std::atomic<int64_t>& served,
                TDeltaLimits limits = {});

  void Serve(TServiceMessage& message);
  // Deltas answered (their data may yet have failed on the way) and deltas declined (not worth it,
  // busy, too slow) since the start.
  int64_t Sent() const { return SentCount.load(); }
  int64_t Declined() const { return DeclinedCount.load(); }

 private:
  TReleaseFolder& Folder;
  TPackedLookup Packed;
  std::atomic<int64_t>& Served;
  TDeltaLimits Limits;
  std::atomic<int> Running{0};
  std::atomic<int64_t> SentCount{0};
  std::atomic<int64_t> DeclinedCount{0};
};

}  // namespace zor
