// The host-discovery datagrams, described once. All integers are little-endian.
//
// Request, 256 bytes:
//   0  u32  random value          4  u32  kMagic
//   8  u32  locale identifier    12  u32  command (kCommandLookup)
//  16  32   name, zero-terminated (at most kMaxNameLength characters)
//  48  204  unused               252 u32  random value
// Reply, exactly 128 bytes:
//   0  u32  the request's random value at 0, echoed (a field older clients ignore)
//   4  u32  kMagic
//   8  u32  status (kStatusFound or a failure)
//  12  u32  found: IPv4 address in network byte order
//  12  116  failed: zero-terminated error text in the ANSI code page
//
// The echo ties a reply to its request: the client takes a reply only from the address and
// port it asked and only with its own random value, so a datagram forged from elsewhere, or
// one that guesses blindly, is dropped. Both formats keep their sizes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor::zorhost {

inline constexpr size_t kRequestSize = 256;
inline constexpr size_t kReplySize = 128;
inline constexpr uint32_t kMagic = 0x7E200707;

inline constexpr size_t kRequestNonceOffset = 0;
inline constexpr size_t kRequestMagicOffset = 4;
inline constexpr size_t kRequestLocaleOffset = 8;
inline constexpr size_t kRequestCommandOffset = 12;
inline constexpr size_t kRequestNameOffset = 16;
inline constexpr size_t kRequestNameSize = 32;
inline constexpr size_t kRequestTailNonceOffset = 252;

inline constexpr size_t kReplyNonceOffset = 0;
inline constexpr size_t kReplyMagicOffset = 4;
inline constexpr size_t kReplyStatusOffset = 8;
inline constexpr size_t kReplyAddressOffset = 12;
inline constexpr size_t kReplyTextOffset = 12;
inline constexpr size_t kReplyTextSize = kReplySize - kReplyTextOffset;

inline constexpr uint32_t kCommandLookup = 1;
inline constexpr uint32_t kStatusFound = 0;
inline constexpr size_t kMaxNameLength = kRequestNameSize - 1;

inline constexpr uint16_t kDefaultPort = 768;

}  // namespace zor::zorhost
