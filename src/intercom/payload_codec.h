// Turning a variant array into the bytes of a payload block and back: serialization, the
// compression decision (estimated size 2048 bytes and more, when the connection allows it),
// spilling to a temporary file (estimated size above 1 MiB when writing, block of 1 MiB and
// more when reading), inflating and parsing with every length checked.
#pragma once

#include <memory>

#include "intercom/payload_buffer.h"
#include "intercom/variant_stream.h"

namespace zor {

struct TEncodedPayload {
  std::unique_ptr<TPayloadBuffer> Data;
  bool Compressed = false;
};

// `items` must not be empty (an empty array travels as no payload).
TEncodedPayload EncodePayload(const TVariantArray& items, bool allowCompression,
                              const TStreamWriteOptions& options);

// Parses a received block; `compressed` is the header's flag. Raises `ERequestOverBudget`
// while decoding when the stream needs more than `budget`.
TVariantArray DecodePayload(const TPayloadBuffer& data, bool compressed,
                            const TDecodeBudget& budget = {},
                            const TStringCharsets* charsets = nullptr);

}  // namespace zor
