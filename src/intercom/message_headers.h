// The two fixed 32-byte message headers, built from and turned into their exact wire bytes
// (layout in wire_format.h). Each encoding fills the two noise words with fresh random values.
#pragma once

#include <array>
#include <cstdint>

#include "intercom/wire_format.h"

namespace zor {

using THeaderBytes = std::array<uint8_t, kHeaderSize>;

struct RequestHeader {
  uint32_t Magic = kRequestMagic;
  uint32_t Command = 0;
  uint32_t PayloadSize = 0;
  uint32_t ContextId = 0;
  uint8_t Compressed = 0;
  uint8_t Options = 0;
  uint32_t Sequence = 0;

  THeaderBytes Encode() const;
  static RequestHeader Decode(const THeaderBytes& bytes);
};

struct ReplyHeader {
  uint32_t ResultCode = 0;
  uint32_t PayloadSize = 0;
  uint8_t Compressed = 0;
  uint32_t Kind = kReplyFinal;

  THeaderBytes Encode() const;
  static ReplyHeader Decode(const THeaderBytes& bytes);
  static ReplyHeader KeepAlive() { return ReplyHeader{0, 0, 0, kReplyKeepAlive}; }
};

// A fresh pseudo-random word for the noise fields (thread-safe).
uint32_t HeaderNoise();

}  // namespace zor
