// The serialized variant array that every payload carries: magic (with or without the charset
// byte), the high index, then each element as marker, type code and value (see wire_format.h).
// The reader checks every length against the bytes that can still follow before it allocates,
// limits the nesting of variant arrays, and raises the stream format error for anything else.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "intercom/byte_stream.h"
#include "intercom/request_budget.h"
#include "intercom/variant.h"

namespace zor {

struct TStreamWriteOptions {
  bool ShortMagic = false;      // server side: magic 0xED58469D and no charset byte
  bool ConvertCharset = false;  // strings go out in the other Chinese script (the peer's)
};

// The size of the stream that `WriteVariantStream` produces (8-bit strings counted as their
// UTF-8 length, which the code-page conversion may change).
uint64_t EstimateVariantStreamSize(const TVariantArray& items, bool shortMagic);

// Writes a non-empty array (an empty one is never serialized: no payload is sent instead).
void WriteVariantStream(TByteSink& sink, const TVariantArray& items,
                        const TStreamWriteOptions& options = {});
std::vector<uint8_t> EncodeVariantStream(const TVariantArray& items,
                                         const TStreamWriteOptions& options = {});

// Reads one stream that must end exactly where the source ends. Raises `Exception`
// "Error stream format!" for a wrong magic, a negative high index, an unknown or refused type
// code, a bad element marker, a length that does not fit, nesting deeper than 64, trailing bytes.
// A stream that needs more bytes or elements than `budget` allows raises `ERequestOverBudget`
// "The request is larger than the server accepts!" as soon as that is known.
TVariantArray ReadVariantStream(TByteSource& source, const TDecodeBudget& budget = {});
TVariantArray DecodeVariantStream(std::span<const uint8_t> bytes);

[[noreturn]] void RaiseStreamFormatError();

}  // namespace zor
