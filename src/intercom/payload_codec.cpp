#include "intercom/payload_codec.h"

#include "intercom/wire_format.h"
#include "intercom/zlib_streams.h"

namespace zor {

TEncodedPayload EncodePayload(const TVariantArray& items, bool allowCompression,
                              const TStreamWriteOptions& options) {
  const uint64_t estimate = EstimateVariantStreamSize(items, options.ShortMagic);
  TEncodedPayload out;
  out.Data = std::make_unique<TPayloadBuffer>(estimate > kSpillThreshold);
  out.Compressed = allowCompression && estimate >= kCompressThreshold;
  if (out.Compressed) {
    TDeflateSink deflater(*out.Data);
    WriteVariantStream(deflater, items, options);
    deflater.Finish();
  } else {
    WriteVariantStream(*out.Data, items, options);
  }
  return out;
}

TVariantArray DecodePayload(const TPayloadBuffer& data, bool compressed) {
  std::unique_ptr<TByteSource> reader = data.Reader();
  if (!compressed) return ReadVariantStream(*reader);
  TInflateSource inflater(*reader, kMaxInflatedBytes);
  return ReadVariantStream(inflater);
}

}  // namespace zor
