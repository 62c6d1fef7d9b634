// Feeds arbitrary bytes to the packed-file unpacker: it either refuses them or writes exactly
// the size the header announced, never more.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/exceptions.h"
#include "update/cps_file.h"
#include "update/cps_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  const std::span<const uint8_t> packed(data, size);
  uint64_t written = 0;
  try {
    TZORCPSFile::UnpackBytes(packed, [&](const uint8_t*, size_t n) {
      written += n;
      if (n > kCpsPiece) __builtin_trap();
    });
  } catch (const Exception&) {
  }
  if (size >= kPackedHeaderSize) {
    const uint32_t announced =
        static_cast<uint32_t>(data[36]) | static_cast<uint32_t>(data[37]) << 8 |
        static_cast<uint32_t>(data[38]) << 16 | static_cast<uint32_t>(data[39]) << 24;
    if (written > announced) __builtin_trap();
  }
  return 0;
}
