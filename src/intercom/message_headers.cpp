#include "intercom/message_headers.h"

#include <random>

#include "base/byte_order.h"

namespace zor {

uint32_t HeaderNoise() {
  thread_local std::minstd_rand generator(std::random_device{}());
  return static_cast<uint32_t>(generator()) ^ (static_cast<uint32_t>(generator()) << 16);
}

THeaderBytes RequestHeader::Encode() const {
  THeaderBytes b{};
  StoreLE32(&b[kReqRandom1Offset], HeaderNoise());
  StoreLE32(&b[kReqMagicOffset], Magic);
  StoreLE32(&b[kReqCommandOffset], Command);
  StoreLE32(&b[kReqPayloadSizeOffset], PayloadSize);
  StoreLE32(&b[kReqContextOffset], ContextId);
  b[kReqCompressedOffset] = Compressed;
  b[kReqOptionsOffset] = Options;
  StoreLE32(&b[kReqSequenceOffset], Sequence);
  StoreLE32(&b[kReqRandom2Offset], HeaderNoise());
  return b;
}

RequestHeader RequestHeader::Decode(const THeaderBytes& b) {
  RequestHeader h;
  h.Magic = LoadLE32(&b[kReqMagicOffset]);
  h.Command = LoadLE32(&b[kReqCommandOffset]);
  h.PayloadSize = LoadLE32(&b[kReqPayloadSizeOffset]);
  h.ContextId = LoadLE32(&b[kReqContextOffset]);
  h.Compressed = b[kReqCompressedOffset];
  h.Options = b[kReqOptionsOffset];
  h.Sequence = LoadLE32(&b[kReqSequenceOffset]);
  return h;
}

THeaderBytes ReplyHeader::Encode() const {
  THeaderBytes b{};
  StoreLE32(&b[kRepRandom1Offset], HeaderNoise());
  StoreLE32(&b[kRepResultCodeOffset], ResultCode);
  StoreLE32(&b[kRepPayloadSizeOffset], PayloadSize);
  b[kRepCompressedOffset] = Compressed;
  StoreLE32(&b[kRepKindOffset], Kind);
  StoreLE32(&b[kRepRandom2Offset], HeaderNoise());
  return b;
}

ReplyHeader ReplyHeader::Decode(const THeaderBytes& b) {
  ReplyHeader h;
  h.ResultCode = LoadLE32(&b[kRepResultCodeOffset]);
  h.PayloadSize = LoadLE32(&b[kRepPayloadSizeOffset]);
  h.Compressed = b[kRepCompressedOffset];
  h.Kind = LoadLE32(&b[kRepKindOffset]);
  return h;
}

}  // namespace zor
