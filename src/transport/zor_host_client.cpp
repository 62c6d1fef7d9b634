#include "transport/zor_host_client.h"

#include <atomic>
#include <mutex>
#include <random>

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
  thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<uint32_t>(generator());
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
  TZORHostRequest request = BuildLookupRequest(ansiName, GetSystemDefaultLCID(), RandomWord(), RandomWord());
  if (coded) encode(request.data(), static_cast<int32_t>(request.size()), kZORHostCoderKey);

  const TNameServiceSettings service = GetNameServiceSettings();
  SendTo(service.Host, service.Port, request.data(), static_cast<int32_t>(request.size()));

  TZORHostReply reply{};
  const int32_t got = ReceiveFrom(reply.data(), static_cast<int32_t>(reply.size()));
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
