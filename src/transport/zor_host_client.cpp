#include "transport/zor_host_client.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "transport/name_service_settings.h"
#include "transport/zor_host_datagram.h"

namespace zor {
namespace {

std::mutex gCoderLock;
TDatagramCoder gEncode = nullptr;
TDatagramCoder gDecode = nullptr;

uint32_t RandomWord() {
  // Straight from the system's random source: the value must not be guessable.
  thread_local std::random_device device;
  return static_cast<uint32_t>(device());
}

}  // namespace

void SetZORHostCoders(TDatagramCoder encode, TDatagramCoder decode) {
  std::lock_guard guard(gCoderLock);
  gEncode = encode;
  gDecode = decode;
}

uint32_t TZORHostClient::LookupHost(const std::string& name) {
  const std::string ansiName = Utf8ToAnsi(name);
  if (ansiName.size() > zorhost::kMaxNameLength) {
    throw Exception(Format(kZORHostNameTooLongText, {static_cast<int>(zorhost::kMaxNameLength)}));
  }
  TDatagramCoder encode;
  TDatagramCoder decode;
  {
    std::lock_guard guard(gCoderLock);
    encode = gEncode;
    decode = gDecode;
  }
  const bool coded = encode != nullptr && decode != nullptr;
  const uint32_t nonce = RandomWord();
  TZORHostRequest request =
      BuildLookupRequest(ansiName, GetSystemDefaultLCID(), nonce, RandomWord());
  if (coded) encode(request.data(), static_cast<int32_t>(request.size()), kZORHostCoderKey);

  const TNameServiceSettings service = GetNameServiceSettings();
  const SocketAddress peer{ResolveHostAddress(service.Host), service.Port};
  SendTo(peer, request.data(), static_cast<int32_t>(request.size()));

  // Only the service's own address may answer, and only with this request's random value;
  // anything else is dropped while the wait goes on, so a forged datagram cannot take the
  // place of the answer. A reply of the wrong size or magic from the service is an error.
  TZORHostReply reply{};
  const int32_t got = ReceiveFromPeer(
      peer, reply.data(), static_cast<int32_t>(reply.size()), [&](const void* data, int32_t size) {
        if (size != static_cast<int32_t>(zorhost::kReplySize)) return true;
        TZORHostReply copy;
        std::memcpy(copy.data(), data, copy.size());
        if (coded) decode(copy.data(), static_cast<int32_t>(copy.size()), kZORHostCoderKey);
        return LoadLE32(copy.data() + zorhost::kReplyNonceOffset) == nonce ||
               LoadLE32(copy.data() + zorhost::kReplyMagicOffset) != zorhost::kMagic;
      });
  if (got < 1) throw Exception(std::string(kZORHostNoAnswerText));
  if (got != static_cast<int32_t>(reply.size())) throw Exception(std::string(kZORHostBadReplyText));
  if (coded) decode(reply.data(), static_cast<int32_t>(reply.size()), kZORHostCoderKey);
  const TLookupReply answer = ParseLookupReply(reply.data(), reply.size());
  if (!answer.Found) throw Exception(AnsiToUtf8(answer.ErrorText));
  return answer.Address;
}

uint32_t ResolveZORHost(const std::string& name) {
  TZORHostClient client;
  return client.LookupHost(name);
}

}  // namespace zor
