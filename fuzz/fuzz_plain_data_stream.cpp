// The plain data stream an upload sends: read from arbitrary bytes with a limit. It ends
// with our exception or hands over exactly the announced count, never more than the limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/exceptions.h"
#include "update/plain_data_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint32_t kLimit = 1 << 20;
  size_t pos = 0;
  uint64_t delivered = 0;
  try {
    const uint32_t count = zor::ReadPlainStream(
        [&](void* buffer, size_t n) {
          if (n > size - pos) throw zor::Exception("end of input");
          std::memcpy(buffer, data + pos, n);
          pos += n;
        },
        kLimit, [&](const void*, size_t n) { delivered += n; });
    if (count > kLimit || delivered != count) std::abort();
  } catch (const zor::Exception&) {
    if (delivered > kLimit) std::abort();
  }
  return 0;
}
