#include "intercom/message_headers.h"

#include <random>

namespace zor {

uint32_t HeaderNoise() {
  thread_local std::minstd_rand generator(std::random_device{}());
  return static_cast<uint32_t>(generator()) ^ (static_cast<uint32_t>(generator()) << 16);
}

THeaderBytes RequestHeader::Encode() const {
  THeaderBytes b{};
  PutU32(&b[kReqRandom1Offset], HeaderNoise());
  PutU32(&b[kReqMagicOffset], Magic);
  PutU32(&b[kReqCommandOffset], Command);
  PutU32(&b[kReqPayloadSizeOffset], PayloadSize);
  PutU32(&b[kReqContextOffset], ContextId);
  b[kReqCompressedOffset] = Compressed;
  b[kReqOptionsOffset] = Options;
  PutU32(&b[kReqSequenceOffset], Sequence);
  PutU32(&b[kReqRandom2Offset], HeaderNoise());
  return b;
}

RequestHeader RequestHeader::Decode(const THeaderBytes& b) {
  RequestHeader h;
  h.Magic = GetU32(&b[kReqMagicOffset]);
  h.Command = GetU32(&b[kReqCommandOffset]);
  h.PayloadSize = GetU32(&b[kReqPayloadSizeOffset]);
  h.ContextId = GetU32(&b[kReqContextOffset]);
  h.Compressed = b[kReqCompressedOffset];
  h.Options = b[kReqOptionsOffset];
  h.Sequence = GetU32(&b[kReqSequenceOffset]);
  return h;
}

THeaderBytes ReplyHeader::Encode() const {
  THeaderBytes b{};
  PutU32(&b[kRepRandom1Offset], HeaderNoise());
  PutU32(&b[kRepResultCodeOffset], ResultCode);
  PutU32(&b[kRepPayloadSizeOffset], PayloadSize);
  b[kRepCompressedOffset] = Compressed;
  PutU32(&b[kRepKindOffset], Kind);
  PutU32(&b[kRepRandom2Offset], HeaderNoise());
  return b;
}

ReplyHeader ReplyHeader::Decode(const THeaderBytes& b) {
  ReplyHeader h;
  h.ResultCode = GetU32(&b[kRepResultCodeOffset]);
  h.PayloadSize = GetU32(&b[kRepPayloadSizeOffset]);
  h.Compressed = b[kRepCompressedOffset];
  h.Kind = GetU32(&b[kRepKindOffset]);
  return h;
}

}  // namespace zor
