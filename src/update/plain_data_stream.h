// The plain form of a file's data stream, as it follows the reply to a plain data request
// and as an upload sends it: marker 0xEADC (u32), compressed flag (u8), byte count (u32);
// then the bytes raw (only for counts up to 1024), or blocks of a 4-byte length and one
// zlib stream each. The sender packs pieces of 16384 bytes; a remainder of up to 18432
// bytes travels as one last piece.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace zor {

inline constexpr uint32_t kPlainStreamMarker = 0xEADC;
inline constexpr uint32_t kPlainHeaderSize = 9;
inline constexpr uint32_t kPlainRawLimit = 1024;
inline constexpr uint32_t kPlainPiece = 16384;
inline constexpr uint32_t kPlainLastPieceLimit = 18432;
// Largest compressed block a receiver takes: what the receiving side's buffer holds.
inline constexpr uint32_t kPlainMaxBlock = 20480;

// Sizes of the file pieces the sender compresses for `count` bytes (empty when raw).
std::vector<uint32_t> PlainPieces(uint32_t count);

// Reads exactly `count` bytes into `buffer` (raises when it cannot).
using ReadExact = std::function<void(void* buffer, size_t count)>;
// Takes `count` bytes.
using WriteBytes = std::function<void(const void* data, size_t count)>;

// Sends `count` bytes read from `source` in the plain form.
void WritePlainStream(uint32_t count, const ReadExact& source, const WriteBytes& out);

// Told the count a stream announces, before any of its bytes are read; may raise to refuse.
using CountCheck = std::function<void(uint32_t count)>;

// Receives one plain-form stream and hands the file bytes to `out`; returns the count.
// Raises `Exception` for a count above `limit`, a block length outside 1..20480, a block
// that does not inflate, or one that would carry more bytes than the count announced.
// `onCount` (may be empty) sees the count once it is within `limit`.
uint32_t ReadPlainStream(const ReadExact& in, uint32_t limit, const WriteBytes& out,
                         const CountCheck& onCount = {});

}  // namespace zor
