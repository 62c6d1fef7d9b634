// Feeds arbitrary bytes to the server as the signature of a client's old copy: the check
// refuses what it must, and whatever passes it loads into librsync and makes a delta of a
// fixed file without fault.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/exceptions.h"
#include "update/delta_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  static const std::vector<uint8_t> fresh = [] {
    std::vector<uint8_t> bytes(48 << 10);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 31) ^ (i >> 9));
    return bytes;
  }();
  const std::span<const uint8_t> signature(data, size);
  try {
    CheckDeltaSignature(signature);
  } catch (const Exception&) {
    return 0;
  }
  if (size > kDeltaMaxSignatureBytes) __builtin_trap();
  size_t offset = 0;
  size_t produced = 0;
  try {
    MakeDelta(
        signature,
        [&](uint8_t* buffer, size_t count) {
          const size_t n = std::min(count, fresh.size() - offset);
          std::copy_n(fresh.data() + offset, n, buffer);
          offset += n;
          return n;
        },
        [&](const uint8_t*, size_t count) { produced += count; });
  } catch (const Exception&) {
    return 0;
  }
  // A delta holds at most the new file's bytes and a few bytes of command per block.
  if (produced > fresh.size() * 2 + 1024) __builtin_trap();
  return 0;
}
