// The CRC-32 register that guards a partly downloaded file: the reflected IEEE polynomial,
// started at 0xFFFFFFFF and stored as the register itself, with no final inversion. It is
// the bitwise complement of the usual CRC-32, so zlib's routine continues it as
// ~crc32(~register, bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zor {

inline constexpr uint32_t kCrcRegisterStart = 0xFFFFFFFF;

// The register after `size` more bytes.
uint32_t UpdateCrcRegister(uint32_t crcRegister, const void* data, size_t size);

}  // namespace zor
