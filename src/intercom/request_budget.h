// What one received request may cost its receiver: the raw payload block, the bytes its
// variant stream inflates to, the variant elements it decodes to, and its share of the
// temporary-file spill of large blocks. The block is checked before a byte of it is read,
// the bytes and elements while decoding (never after), the spill before the file is made.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "intercom/wire_format.h"
#include "transport/ic_errors.h"

namespace zor {

inline constexpr std::string_view kRequestTooLargeText =
    "The request is larger than the server accepts!";
inline constexpr std::string_view kSpillFullText =
    "The server has no room for a request this large now!";
inline constexpr std::string_view kInFlightFullText =
    "The server is busy with other large requests; try again later!";

class TInFlightShare;

// Limits of one decode: bytes of the variant stream (after inflating) and elements (every
// element of every variant array, nested ones included).
struct TDecodeBudget {
  uint64_t MaxBytes = kMaxInflatedBytes;
  uint64_t MaxElements = std::numeric_limits<uint64_t>::max();
  // When set, every byte and element decoded is also charged here (see TInFlightShare).
  TInFlightShare* Share = nullptr;
};

// The bytes and elements of all requests being decoded or handled at once, shared by every
// connection: each request's own budget alone lets many connections together take the
// memory. Thread-safe.
class TInFlightBudget {
 public:
  TInFlightBudget(uint64_t maxBytes, uint64_t maxElements)
      : MaxBytes(maxBytes), MaxElements(maxElements) {}
  // False (and nothing taken) when either would pass its limit.
  bool Reserve(uint64_t bytes, uint64_t elements);
  void Release(uint64_t bytes, uint64_t elements);
  uint64_t BytesInUse() const { return Bytes.load(); }
  uint64_t ElementsInUse() const { return Elements.load(); }

 private:
  const uint64_t MaxBytes;
  const uint64_t MaxElements;
  std::atomic<uint64_t> Bytes{0};
  std::atomic<uint64_t> Elements{0};
};

// One request's part of a `TInFlightBudget`: it grows while the request is decoded and is
// given back when the share ends (after the request has been handled).
class TInFlightShare {
 public:
  explicit TInFlightShare(TInFlightBudget* budget = nullptr) : Budget(budget) {}
  ~TInFlightShare() { Clear(); }
  TInFlightShare(const TInFlightShare&) = delete;
  TInFlightShare& operator=(const TInFlightShare&) = delete;

  // False when the shared budget has no room for this much more.
  bool Add(uint64_t bytes, uint64_t elements);
  // Gives everything back.
  void Clear();

 private:
  TInFlightBudget* Budget;
  uint64_t Bytes = 0;
  uint64_t Elements = 0;
};

// The bytes of payload blocks that live in temporary files, for all connections that share
// it. Thread-safe.
class TSpillBudget {
 public:
  explicit TSpillBudget(uint64_t limit) : Limit(limit) {}
  // False (and nothing taken) when `bytes` more would pass the limit.
  bool Reserve(uint64_t bytes);
  void Release(uint64_t bytes) { InUseBytes.fetch_sub(bytes); }
  uint64_t InUse() const { return InUseBytes.load(); }

 private:
  const uint64_t Limit;
  std::atomic<uint64_t> InUseBytes{0};
};

struct TRequestLimits {
  uint32_t MaxPayloadBytes = kMaxPayloadBytes;  // the raw block as announced by the header
  TDecodeBudget Decode;
  TSpillBudget* Spill = nullptr;  // not counted when none
};

// A request over its budget. `OutOfStep`: its payload was not read, so the stream is no
// longer at a header and the connection must close after the error reply.
class ERequestOverBudget : public EInvalidCommand {
 public:
  ERequestOverBudget(std::string message, bool outOfStep)
      : EInvalidCommand(std::move(message), nullptr, kErrInvalidArgument), OutOfStep(outOfStep) {}
  ZOR_EXCEPTION_BODY(ERequestOverBudget, EInvalidCommand)
  bool OutOfStep = false;
};

}  // namespace zor
