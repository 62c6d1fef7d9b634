// The intercom wire format in one place: the two 32-byte message headers, the reply kinds,
// the serialized variant array (type codes, magics, element marker), the thresholds for
// compression and spilling, and the protocol's result codes. Everything is little-endian.
//
// A message is one 32-byte header, then, when the header's payload size is not 0, one payload
// block: a signed 32-bit length L, then L bytes (a variant stream, possibly a zlib stream of it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zor {

// ---- headers ------------------------------------------------------------------------------
inline constexpr size_t kHeaderSize = 32;

// Request header (client to server).
inline constexpr size_t kReqRandom1Offset = 0;       // u32 noise
inline constexpr size_t kReqMagicOffset = 4;         // u32 kRequestMagic
inline constexpr size_t kReqCommandOffset = 8;       // u32 command code
inline constexpr size_t kReqPayloadSizeOffset = 12;  // u32 payload length, 0 = none
inline constexpr size_t kReqContextOffset = 16;      // u32 context id, 0 = plain request
inline constexpr size_t kReqCompressedOffset = 20;   // u8 1 = payload is a zlib stream
inline constexpr size_t kReqOptionsOffset = 21;      // u8 option byte of the connection
inline constexpr size_t kReqReservedOffset = 22;     // 2 bytes zero
inline constexpr size_t kReqSequenceOffset = 24;     // u32 request counter
inline constexpr size_t kReqRandom2Offset = 28;      // u32 noise
inline constexpr uint32_t kRequestMagic = 0xE95D753C;

// Reply header (server to client; keep-alives use it in both directions).
inline constexpr size_t kRepRandom1Offset = 0;      // u32 noise
inline constexpr size_t kRepResultCodeOffset = 4;   // u32 0 = success, else an error number
inline constexpr size_t kRepPayloadSizeOffset = 8;  // u32 payload length, 0 = none
inline constexpr size_t kRepCompressedOffset = 12;  // u8
inline constexpr size_t kRepKindOffset = 13;        // u32 reply kind, deliberately unaligned
inline constexpr size_t kRepReservedOffset = 17;    // 11 bytes zero
inline constexpr size_t kRepReservedSize = 11;
inline constexpr size_t kRepRandom2Offset = 28;  // u32 noise

// Reply kinds.
inline constexpr uint32_t kReplyFinal = 0;
inline constexpr uint32_t kReplyKeepAlive = 0x0022FF33;
inline constexpr uint32_t kReplyMessage = 0xE95D753D;
inline constexpr uint32_t kReplyAuthRequest = 0xE98D753E;
inline constexpr uint32_t kReplyServerLink = 0x55EE2324;  // server-to-server connections only

// ---- command codes of the session, which the client sends and the server answers itself ------
inline constexpr uint32_t cmdLogon = 0;
inline constexpr uint32_t cmdLogoff = 1;
inline constexpr uint32_t cmdUserLogon = 2;
inline constexpr uint32_t cmdNoPayloadVariant = 3;
inline constexpr uint32_t cmdClientIdentity = 5;
inline constexpr uint32_t cmdLogonEx = 7;
inline constexpr uint32_t cmdQueryProxy = 16;
inline constexpr uint32_t cmdSecurityToken = 35;
inline constexpr uint32_t cmdSecurityDecline = 36;
inline constexpr uint32_t cmdResume = 41;
inline constexpr uint32_t cmdClientKind = 0x10F0;
inline constexpr uint32_t cmdMessageUnsubscribe = 0xAD04;
inline constexpr uint32_t cmdMessageSubscribe = 0xAD0A;

// True for the commands that carry sequence 0 and leave the request counter alone.
constexpr bool IsUnsequencedCommand(uint32_t command) {
  return command == cmdLogon || command == cmdNoPayloadVariant || command == cmdLogonEx ||
         command == cmdResume;
}

// ---- result codes ---------------------------------------------------------------------------
inline constexpr uint32_t kErrMasterLinkBroken = 0x74000001;
inline constexpr uint32_t kErrSessionUnknown = 0x74000004;
inline constexpr uint32_t kErrUnknownReplyKind = 0x74000010;
// 0x74000011, an invalid command argument, is kErrInvalidArgument in transport/ic_errors.h.
inline constexpr uint32_t kErrNoResult = 0x9FFFFFFE;
inline constexpr uint32_t kErrNoResultYet = 0x9FFFFFFF;  // never sent; marks "nothing held"
inline constexpr uint32_t kErrUnknownCommand = 0xFFFFFFFF;

// ---- payload handling -----------------------------------------------------------------------
// Payloads estimated at this many bytes or more are compressed when the connection allows it.
inline constexpr size_t kCompressThreshold = 0x800;
// Payloads written above / read at or above this size live in a temporary file, not in memory.
inline constexpr size_t kSpillThreshold = 0x100000;
// Only this many leading bytes of a payload block are scrambled (the whole 32-byte header is).
inline constexpr size_t kScrambledPayloadBytes = 2048;
// zlib stream buffer of the compressor and decompressor.
inline constexpr size_t kZlibBufferSize = 64 * 1024;
// Largest payload block we accept from the wire: far above any real command (file data travels
// in small pieces) and well below what would exhaust memory or the signed 32-bit length.
inline constexpr uint32_t kMaxPayloadBytes = 0x40000000;
// Largest inflated payload we produce from one compressed block, for the same reason.
inline constexpr uint64_t kMaxInflatedBytes = 0x40000000;

// ---- variant stream -------------------------------------------------------------------------
inline constexpr uint32_t kStreamMagicCharset = 0xED58469E;  // a charset byte follows
inline constexpr uint32_t kStreamMagicShort = 0xED58469D;    // no charset byte
inline constexpr uint8_t kCharsetOther = 0;
inline constexpr uint8_t kCharsetTraditional = 1;
inline constexpr uint16_t kElementMarker = 0xD473;  // bytes 73 D4
// Arrays of variants may hold arrays of variants; deeper nesting than this is refused.
inline constexpr int kMaxVariantNesting = 64;
// Arrays may have at most this many dimensions (the system's own limit for safe arrays).
inline constexpr uint16_t kMaxArrayDimensions = 64;

// Variant type codes.
inline constexpr uint16_t kVarEmpty = 0;
inline constexpr uint16_t kVarNull = 1;
inline constexpr uint16_t kVarSmallint = 2;
inline constexpr uint16_t kVarInteger = 3;
inline constexpr uint16_t kVarSingle = 4;
inline constexpr uint16_t kVarDouble = 5;
inline constexpr uint16_t kVarCurrency = 6;
inline constexpr uint16_t kVarDate = 7;
inline constexpr uint16_t kVarOleStr = 8;
inline constexpr uint16_t kVarDispatch = 9;
inline constexpr uint16_t kVarError = 10;
inline constexpr uint16_t kVarBoolean = 11;
inline constexpr uint16_t kVarVariant = 12;
inline constexpr uint16_t kVarUnknown = 13;
inline constexpr uint16_t kVarDecimal = 14;
inline constexpr uint16_t kVarShortInt = 16;
inline constexpr uint16_t kVarByte = 17;
inline constexpr uint16_t kVarWord = 18;
inline constexpr uint16_t kVarLongWord = 19;
inline constexpr uint16_t kVarString = 0x100;
inline constexpr uint16_t kVarArray = 0x2000;
inline constexpr uint16_t kVarByRef = 0x4000;
inline constexpr uint16_t kVarTypeMask = 0x0FFF;

// Scalar value width on the wire (0 = no value; strings are length-prefixed; -1 = not allowed).
//   empty, null: nothing. integer family, error, Boolean: i32. single: 4 bytes. double,
//   currency, date: 8 bytes. decimal: 16 bytes.
// Element width inside an array of fixed-size type (the raw block): the element's own size:
//   smallint 2, integer 4, single 4, double 8, currency 8, date 8, error 4, Boolean 2
//   (0xFFFF true), decimal 16, shortint 1, byte 1, word 2, longword 4.
// Array bounds on the wire appear in the order they are stored; the raw block holds the
// elements in that same flat order.
constexpr int ArrayElementSize(uint16_t elementType) {
  switch (elementType) {
    case kVarShortInt:
    case kVarByte:
      return 1;
    case kVarSmallint:
    case kVarBoolean:
    case kVarWord:
      return 2;
    case kVarInteger:
    case kVarSingle:
    case kVarError:
    case kVarLongWord:
      return 4;
    case kVarDouble:
    case kVarCurrency:
    case kVarDate:
      return 8;
    case kVarDecimal:
      return 16;
    default:
      return 0;  // strings and variants are written element by element
  }
}

inline constexpr std::string_view kStreamFormatErrorText = "Error stream format!";

}  // namespace zor
