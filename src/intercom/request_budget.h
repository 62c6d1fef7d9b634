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

// Limits of one decode: bytes of the variant stream (after inflating) and elements (every
// element of every variant array, nested ones included).
struct TDecodeBudget {
  uint64_t MaxBytes = kMaxInflatedBytes;
  uint64_t MaxElements = std::numeric_limits<uint64_t>::max();
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
