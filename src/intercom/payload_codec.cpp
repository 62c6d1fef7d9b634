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

TVariantArray DecodePayload(const TPayloadBuffer& data, bool compressed,
                            const TDecodeBudget& budget, const TStringCharsets* charsets) {
  std::unique_ptr<TByteSource> reader = data.Reader();
  if (!compressed) return ReadVariantStream(*reader, budget, charsets);
  // The decoder stops at its budget; the inflater's own limit only catches what it would miss
  // (it may read ahead one buffer of the decoder).
  constexpr uint64_t kReadAhead = 64 * 1024;
  const uint64_t limit = budget.MaxBytes < kMaxInflatedBytes - kReadAhead
                             ? budget.MaxBytes + kReadAhead
                             : kMaxInflatedBytes;
  TInflateSource inflater(*reader, limit);
  return ReadVariantStream(inflater, budget, charsets);
}

}  // namespace zor
