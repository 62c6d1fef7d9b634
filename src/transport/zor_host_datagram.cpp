#include "transport/zor_host_datagram.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/format.h"

namespace zor {
namespace {

// A zero-terminated text inside a field; the whole field when no zero ends it.
std::string FieldText(const uint8_t* at, size_t size) {
  const auto* end = std::find(at, at + size, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(at), static_cast<size_t>(end - at));
}

}  // namespace

TZORHostRequest BuildLookupRequest(std::string_view name, uint32_t localeId, uint32_t nonce,
                                   uint32_t tailNonce) {
  if (name.size() > zorhost::kMaxNameLength) {
    throw Exception(Format(kZORHostNameTooLongText, {static_cast<int>(zorhost::kMaxNameLength)}));
  }
  TZORHostRequest request{};
  StoreLE32(request.data() + zorhost::kRequestNonceOffset, nonce);
  StoreLE32(request.data() + zorhost::kRequestMagicOffset, zorhost::kMagic);
  StoreLE32(request.data() + zorhost::kRequestLocaleOffset, localeId);
  StoreLE32(request.data() + zorhost::kRequestCommandOffset, zorhost::kCommandLookup);
  std::memcpy(request.data() + zorhost::kRequestNameOffset, name.data(), name.size());
  StoreLE32(request.data() + zorhost::kRequestTailNonceOffset, tailNonce);
  return request;
}

TLookupReply ParseLookupReply(const uint8_t* reply, size_t size) {
  if (size != zorhost::kReplySize ||
      LoadLE32(reply + zorhost::kReplyMagicOffset) != zorhost::kMagic) {
    throw Exception(std::string(kZORHostBadReplyText));
  }
  TLookupReply result;
  result.Nonce = LoadLE32(reply + zorhost::kReplyNonceOffset);
  result.Found = LoadLE32(reply + zorhost::kReplyStatusOffset) == zorhost::kStatusFound;
  if (result.Found) {
    const uint8_t* a = reply + zorhost::kReplyAddressOffset;  // network byte order
    result.Address = static_cast<uint32_t>(a[0]) << 24 | static_cast<uint32_t>(a[1]) << 16 |
                     static_cast<uint32_t>(a[2]) << 8 | a[3];
  } else {
    result.ErrorText = FieldText(reply + zorhost::kReplyTextOffset, zorhost::kReplyTextSize);
  }
  return result;
}

bool ParseLookupRequest(const uint8_t* request, size_t size, TLookupRequest& out) {
  if (size != zorhost::kRequestSize ||
      LoadLE32(request + zorhost::kRequestMagicOffset) != zorhost::kMagic)
    return false;
  out.Nonce = LoadLE32(request + zorhost::kRequestNonceOffset);
  out.LocaleId = LoadLE32(request + zorhost::kRequestLocaleOffset);
  out.Command = LoadLE32(request + zorhost::kRequestCommandOffset);
  out.Name = FieldText(request + zorhost::kRequestNameOffset, zorhost::kRequestNameSize);
  return true;
}

TZORHostReply BuildFoundReply(uint32_t address, uint32_t nonce) {
  TZORHostReply reply{};
  StoreLE32(reply.data() + zorhost::kReplyNonceOffset, nonce);
  StoreLE32(reply.data() + zorhost::kReplyMagicOffset, zorhost::kMagic);
  StoreLE32(reply.data() + zorhost::kReplyStatusOffset, zorhost::kStatusFound);
  uint8_t* a = reply.data() + zorhost::kReplyAddressOffset;
  a[0] = static_cast<uint8_t>(address >> 24);
  a[1] = static_cast<uint8_t>(address >> 16);
  a[2] = static_cast<uint8_t>(address >> 8);
  a[3] = static_cast<uint8_t>(address);
  return reply;
}

TZORHostReply BuildFailureReply(uint32_t status, std::string_view ansiText, uint32_t nonce) {
  TZORHostReply reply{};
  StoreLE32(reply.data() + zorhost::kReplyNonceOffset, nonce);
  StoreLE32(reply.data() + zorhost::kReplyMagicOffset, zorhost::kMagic);
  StoreLE32(reply.data() + zorhost::kReplyStatusOffset, status);
  const size_t n = std::min(ansiText.size(), zorhost::kReplyTextSize - 1);
  std::memcpy(reply.data() + zorhost::kReplyTextOffset, ansiText.data(), n);
  return reply;
}

}  // namespace zor
