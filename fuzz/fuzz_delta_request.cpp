// Feeds arbitrary bytes to the server as the payload of a delta request: the variant stream
// is decoded with the session's limits and the request's arguments are read; whatever is
// accepted carries a signature whose shape passed the check.
#include <cstddef>
#include <cstdint>

#include "base/exceptions.h"
#include "intercom/payload_codec.h"
#include "intercom/variant_stream.h"
#include "server/delta_command.h"
#include "server/server_limits.h"
#include "update/delta_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  TPayloadBuffer buffer;
  buffer.Write(data, size);
  TVariantArray args;
  try {
    args = DecodePayload(buffer, false, {kMaxRequestInflated, kMaxRequestElements});
  } catch (const Exception&) {
    return 0;
  }
  try {
    const TDeltaRequest request = ParseDeltaRequest(args);
    if (request.Signature.size() > kDeltaMaxSignatureBytes ||
        request.Signature.size() < kDeltaSignatureHeaderBytes)
      __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
