// Building and reading the host-discovery datagrams (layout in zor_host_format.h). The
// reply reader takes whatever arrived, of any size, and trusts none of it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/zor_host_format.h"

namespace zor {

inline constexpr std::string_view kZORHostNameTooLongText = "域名名长度超过限制的%d字元！";
inline constexpr std::string_view kZORHostNoAnswerText =
    "岳川域名服务并没有回应。请检查是否可以正确连接到网际网络上。";
inline constexpr std::string_view kZORHostBadReplyText =
    "传回来了错误格式的回应！请检查版本是否正确。";

using TZORHostRequest = std::array<uint8_t, zorhost::kRequestSize>;
using TZORHostReply = std::array<uint8_t, zorhost::kReplySize>;

// `name` is in the ANSI code page; longer than kMaxNameLength raises the length message.
TZORHostRequest BuildLookupRequest(std::string_view name, uint32_t localeId, uint32_t nonce,
                                   uint32_t tailNonce);

struct TLookupReply {
  uint32_t Nonce = 0;  // the request's random value, as the server echoed it
  bool Found = false;
  uint32_t Address = 0;   // host byte order, when found
  std::string ErrorText;  // ANSI code page, when not found
};
// Raises the wrong-format message for a size other than kReplySize or a wrong magic.
// `reply` must already be decoded.
TLookupReply ParseLookupReply(const uint8_t* reply, size_t size);

// The name service's side, for our server and for tests.
struct TLookupRequest {
  uint32_t Nonce = 0;
  uint32_t LocaleId = 0;
  uint32_t Command = 0;
  std::string Name;
};
// False when the datagram is not a request of this format.
bool ParseLookupRequest(const uint8_t* request, size_t size, TLookupRequest& out);
// `nonce` is the request's random value, echoed.
TZORHostReply BuildFoundReply(uint32_t address, uint32_t nonce);
// The text is cut to fit with its terminating zero.
TZORHostReply BuildFailureReply(uint32_t status, std::string_view ansiText, uint32_t nonce);

}  // namespace zor
