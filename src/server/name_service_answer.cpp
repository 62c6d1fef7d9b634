#include "server/name_service_answer.h"

#include <cstring>
#include <string>

#include "base/format.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "transport/zor_host_format.h"

namespace zor {

namespace {

using namespace zorhost;

constexpr uint32_t kStatusFailed = 1;

uint32_t Read32(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void Write32(TNameReply& reply, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) reply[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

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
  if (request.size() != kRequestSize || Read32(request, kRequestMagicOffset) != kMagic)
    return std::nullopt;
  const uint32_t lcid = Read32(request, kRequestLocaleOffset);
  TNameReply reply{};
  Write32(reply, kReplyNonceOffset,
          Read32(request, kRequestNonceOffset));  // ties the reply to the request
  Write32(reply, kReplyMagicOffset, kMagic);
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
  if (Read32(request, kRequestCommandOffset) != kCommandLookup) {
    text = FailureText(lcid, "Unknown request %s.",
                       std::to_string(Read32(request, kRequestCommandOffset)));
  } else if (!zero) {
    text = FailureText(lcid, "", shown.substr(0, kMaxRegisteredName) + "...");
  } else if (auto address = names.Find(name)) {
    Write32(reply, kReplyStatusOffset, kStatusFound);
    Write32(reply, kReplyAddressOffset, *address);
    return reply;
  } else {
    text = FailureText(lcid, "", shown);
  }
  Write32(reply, kReplyStatusOffset, kStatusFailed);
  std::memcpy(reply.data() + kReplyTextOffset, text.data(), text.size());
  return reply;
}

}  // namespace zor
