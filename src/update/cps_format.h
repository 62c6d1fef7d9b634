// The packed ("CPS") file, as the server writes it and the client unpacks it: a 44-byte
// little-endian header, then one zlib stream whose output is the file. The client reads the
// marker, the total size, the data offset, the time and the unpacked size; the other fields
// are the server's own (its cache check and the CRC of the unpacked bytes).
#pragma once

#include <cstdint>

namespace zor {

inline constexpr uint32_t kPackedHeaderSize = 44;

// Field offsets.
inline constexpr uint32_t kPackedMarkerOffset = 0;      // u16
inline constexpr uint32_t kPackedFormatOffset = 2;      // u16, our format number
inline constexpr uint32_t kPackedTotalSizeOffset = 4;   // u32, size of the whole packed file
inline constexpr uint32_t kPackedDataOffsetOffset = 8;  // u32, where the zlib stream starts
inline constexpr uint32_t kPackedCrcOffset =
    12;  // u32, CRC-32 (IEEE, final xor) of the unpacked bytes
inline constexpr uint32_t kPackedKeyOffset = 16;  // u64, hash of what the file was packed from
inline constexpr uint32_t kPackedModifiedOffset =
    24;  // i64, source modification time (ns), cache check
inline constexpr uint32_t kPackedDosTimeOffset = 32;  // u32, MS-DOS date/time of the unpacked file
inline constexpr uint32_t kPackedSizeOffset = 36;     // u32, size of the unpacked file
inline constexpr uint32_t kPackedLevelOffset = 40;    // u32, zlib level used

// Marker of our packed files ("CP"); 0xFFFE would tell the unpacker to skip the size check.
inline constexpr uint16_t kPackedMarker = 0x5043;
inline constexpr uint16_t kPackedMarkerNoSizeCheck = 0xFFFE;
inline constexpr uint16_t kPackedFormat = 1;

}  // namespace zor
