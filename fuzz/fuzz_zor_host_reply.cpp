// Host-discovery datagrams from the network: the reply the client reads and the request
// our name service reads. Neither may read outside the datagram or trust its text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exceptions.h"
#include "transport/zor_host_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const zor::TLookupReply reply = zor::ParseLookupReply(data, size);
    if (!reply.Found && reply.ErrorText.size() >= zor::zorhost::kReplyTextSize + 1)
      __builtin_trap();
  } catch (const zor::Exception&) {
  }
  zor::TLookupRequest request;
  if (zor::ParseLookupRequest(data, size, request) &&
      request.Name.size() > zor::zorhost::kMaxNameLength + 1) {
    __builtin_trap();
  }
  return 0;
}
