#include "update/crc_register.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace zor {

uint32_t UpdateCrcRegister(uint32_t crcRegister, const void* data, size_t size) {
  uLong crc = ~crcRegister & 0xFFFFFFFFu;
  auto* bytes = static_cast<const Bytef*>(data);
  while (size > 0) {
    const auto piece = static_cast<uInt>(std::min<size_t>(size, std::numeric_limits<uInt>::max()));
    crc = crc32(crc, bytes, piece);
    bytes += piece;
    size -= piece;
  }
  return ~static_cast<uint32_t>(crc);
}

}  // namespace zor
