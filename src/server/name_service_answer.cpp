#include "server/name_service_answer.h"

#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "base/format.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "transport/zor_host_format.h"

namespace zor {

namespace {

using namespace zorhost;

constexpr uint32_t kStatusFailed = 1;

// The failure text in the client's language: its locale tells the script and code page.
std::string FailureText(uint32_t lcid, std::string_view format, std::string_view name) {
  const uint32_t codePage = AnsiCodePageForLcid(lcid);
  std::string text;
  if (codePage == kCodePageSimplifiedChinese) {
    text = Utf8ToAnsi(Format(format.empty() ? "域名 %s 并没有登记！" : format, {name}), codePage);
  } else if (codePage == kCodePageTraditionalChinese) {
    text =
        Utf8ToAnsi(Format(format.empty() ? "網域名稱 %s 並沒有登記！" : format, {name}), codePage);
  } else {
    text = Utf8ToAnsi(Format(format.empty() ? "The name %s is not registered." : format, {name}),
                      codePage);
  }
  // Cut to the field without splitting a double-byte character.
  if (text.size() > kReplyTextSize - 1) text = CopyMbcs(text, 1, kReplyTextSize - 1, codePage);
  return text;
}

}  // namespace

std::optional<TNameReply> AnswerNameRequest(std::span<const uint8_t> request,
                                            const TNameTable& names) {
  if (request.size() != kRequestSize || LoadLE32(request.data() + kRequestMagicOffset) != kMagic)
    return std::nullopt;
  const uint32_t lcid = LoadLE32(request.data() + kRequestLocaleOffset);
  TNameReply reply{};
  StoreLE32(reply.data() + kReplyNonceOffset,
            LoadLE32(request.data() + kRequestNonceOffset));  // ties the reply to the request
  StoreLE32(reply.data() + kReplyMagicOffset, kMagic);
  const auto field = request.subspan(kRequestNameOffset, kRequestNameSize);
  const void* zero = std::memchr(field.data(), 0, field.size());
  // The name is ASCII in practice; it is echoed back in a failure text only as far as it is
  // printable.
  std::string name(reinterpret_cast<const char*>(field.data()),
                   zero ? static_cast<const uint8_t*>(zero) - field.data() : field.size());
  std::string shown;
  for (char c : name)
    shown +=
        static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F ? c : '?';
  std::string text;
  if (LoadLE32(request.data() + kRequestCommandOffset) != kCommandLookup) {
    text = FailureText(lcid, "Unknown request %s.",
                       std::to_string(LoadLE32(request.data() + kRequestCommandOffset)));
  } else if (!zero) {
    text = FailureText(lcid, "", shown.substr(0, kMaxRegisteredName) + "...");
  } else if (auto address = names.Find(name)) {
    StoreLE32(reply.data() + kReplyStatusOffset, kStatusFound);
    StoreLE32(reply.data() + kReplyAddressOffset, *address);
    return reply;
  } else {
    text = FailureText(lcid, "", shown);
  }
  StoreLE32(reply.data() + kReplyStatusOffset, kStatusFailed);
  std::memcpy(reply.data() + kReplyTextOffset, text.data(), text.size());
  return reply;
}

}  // namespace zor
