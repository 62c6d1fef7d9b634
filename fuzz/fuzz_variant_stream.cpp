// Feeds arbitrary bytes to the variant-stream reader, plain and as a zlib stream; whatever it
// accepts must write back to a stream that reads the same again.
#include <cstddef>
#include <cstdint>

#include "base/exceptions.h"
#include "intercom/payload_codec.h"
#include "intercom/variant_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  if (size == 0) return 0;
  // The first byte chooses plain or compressed reading.
  const bool compressed = data[0] & 1;
  TPayloadBuffer buffer;
  buffer.Write(data + 1, size - 1);
  TVariantArray items;
  try {
    items = DecodePayload(buffer, compressed);
  } catch (const Exception&) {
    return 0;
  }
  const std::vector<uint8_t> again = EncodeVariantStream(items);
  if (DecodeVariantStream(again).size() != items.size()) __builtin_trap();
  return 0;
}
