#include "intercom/byte_stream.h"

#include <algorithm>
#include <cstring>

namespace zor {

void TMemorySink::Write(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  Bytes.insert(Bytes.end(), p, p + size);
}

size_t TMemorySource::Read(void* data, size_t size) {
  const size_t n = std::min(size, Bytes.size() - Position);
  if (n > 0) std::memcpy(data, Bytes.data() + Position, n);
  Position += n;
  return n;
}

}  // namespace zor
