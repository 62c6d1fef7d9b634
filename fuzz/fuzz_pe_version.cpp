// Version resources of files from the server or the disk: any bytes must give a version
// or none, without reading outside the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> image(data, size);
  const auto version = zor::ReadPeVersion(image);
  // The reader through the callback must agree with the one over memory.
  const auto again = zor::ReadPeVersion([&](uint64_t offset, void* out, size_t length) {
    if (offset > size || length > size - offset) return false;
    for (size_t i = 0; i < length; ++i) static_cast<uint8_t*>(out)[i] = data[offset + i];
    return true;
  });
  if (version != again) std::abort();
  return 0;
}
