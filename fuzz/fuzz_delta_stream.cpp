// Feeds arbitrary bytes to the launcher as the delta of a file against a fixed old copy,
// raw (the patch alone) or as the zlib stream the server sends (first byte, bit 0). The
// first bytes also give the size the server announced. Whatever happens, the patch never
// writes more than announced, and a patch that succeeds wrote exactly that.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/exceptions.h"
#include "update/delta_codec.h"
#include "update/delta_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  static const std::vector<uint8_t> old = [] {
    std::vector<uint8_t> bytes(40 << 10);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 17) ^ (i >> 7));
    return bytes;
  }();
  if (size < 4) return 0;
  const bool wire = data[0] & 1;
  const int64_t announced = (int64_t{data[1]} | int64_t{data[2]} << 8 | int64_t{data[3]} << 16);
  data += 4;
  size -= 4;
  size_t offset = 0;
  const TDeltaRead read = [&](uint8_t* buffer, size_t count) {
    const size_t n = std::min(count, size - offset);
    std::copy_n(data + offset, n, buffer);
    offset += n;
    return n;
  };
  const TDeltaReadAt readOld = [](int64_t at, uint8_t* buffer, size_t count) -> size_t {
    if (at < 0 || at >= static_cast<int64_t>(old.size())) return 0;
    const size_t n = std::min(count, old.size() - static_cast<size_t>(at));
    std::copy_n(old.data() + at, n, buffer);
    return n;
  };
  int64_t written = 0;
  const TDeltaWrite write = [&](const uint8_t*, size_t count) {
    written += static_cast<int64_t>(count);
    if (written > announced) __builtin_trap();
  };
  try {
    if (wire)
      ApplyDeltaStream(read, static_cast<int64_t>(size), readOld, static_cast<int64_t>(old.size()),
                       announced, write);
    else
      ApplyDelta(read, readOld, static_cast<int64_t>(old.size()), announced, write);
  } catch (const Exception&) {
    return 0;
  }
  if (written != announced) __builtin_trap();
  return 0;
}
