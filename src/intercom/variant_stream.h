// The serialized variant array that every payload carries: magic (with or without the charset
// byte), the high index, then each element as marker, type code and value (see wire_format.h).
// The reader checks every length against the bytes that can still follow before it allocates,
// limits the nesting of variant arrays, and raises the stream format error for anything else.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "intercom/byte_stream.h"
#include "intercom/local_charset.h"
#include "intercom/request_budget.h"
#include "intercom/variant.h"

namespace zor {

struct TStreamWriteOptions {
  bool ShortMagic = false;      // magic 0xED58469D and no charset byte: strings never converted
  bool ConvertCharset = false;  // strings go out in the other Chinese script (the peer's)
  // The two ends' character sets (nullptr: this machine's, the peer not known).
  const TStringCharsets* Charsets = nullptr;
};

// The size of the stream that `WriteVariantStream` produces (8-bit strings counted as their
// UTF-8 length, which the code-page conversion may change).
uint64_t EstimateVariantStreamSize(const TVariantArray& items, bool shortMagic);

// Writes a non-empty array (an empty one is never serialized: no payload is sent instead).
// An 8-bit string (0x100) that the code page the peer reads it in cannot hold travels as a
// wide string (8) instead, which every reader takes where it takes the other: no character
// is lost to a '?'.
void WriteVariantStream(TByteSink& sink, const TVariantArray& items,
                        const TStreamWriteOptions& options = {});
std::vector<uint8_t> EncodeVariantStream(const TVariantArray& items,
                                         const TStreamWriteOptions& options = {});

// Reads one stream that must end exactly where the source ends. Raises `Exception`
// "Error stream format!" for a wrong magic, a negative high index, an unknown or refused type
// code, a bad element marker, a length that does not fit, nesting deeper than 64, trailing bytes.
// A stream that needs more bytes or elements than `budget` allows raises `ERequestOverBudget`
// "The request is larger than the server accepts!" as soon as that is known.
// Strings of a stream whose charset byte names the other Chinese set are converted to the
// reader's set (`charsets`; nullptr: this machine's) when conversion tables are loaded.
TVariantArray ReadVariantStream(TByteSource& source, const TDecodeBudget& budget = {},
                                const TStringCharsets* charsets = nullptr);
TVariantArray DecodeVariantStream(std::span<const uint8_t> bytes);

[[noreturn]] void RaiseStreamFormatError();

}  // namespace zor
