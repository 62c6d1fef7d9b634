// The answer of the name service to one request datagram: 256 bytes in (magic, the
// client's locale, command 1 and a name), 128 bytes out (the request's random value echoed,
// found and the address, or the failure text in the ANSI code page of the client's locale).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "server/name_table.h"
#include "transport/zor_host_format.h"

namespace zor {

inline constexpr size_t kNameReplySize = zorhost::kReplySize;
using TNameReply = std::array<uint8_t, kNameReplySize>;

// Nothing for a datagram that is not a request (wrong size or magic): it gets no answer.
// Any other request is answered: the address of a known name, or status 1 and a text.
std::optional<TNameReply> AnswerNameRequest(std::span<const uint8_t> request,
                                            const TNameTable& names);

}  // namespace zor
