// A balancer's PROXY header: any bytes are read as a header or refused with our exception;
// the reader never asks for a byte past the header it accepted, and an accepted address is
// one that reads back as itself.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/exceptions.h"
#include "server/dotted_address.h"
#include "server/proxy_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t pos = 0;
  try {
    const zor::TProxyHeader header = zor::ReadProxyHeader([&](uint8_t* buffer, size_t count) {
      if (size - pos < count) throw zor::Exception("the connection ended");
      std::memcpy(buffer, data + pos, count);
      pos += count;
    });
    if (header.Version != 1 && header.Version != 2) std::abort();
    const std::string& source = header.SourceAddress;
    std::array<uint8_t, 16> bytes{};
    if (!source.empty() && !zor::IsDottedAddress(source) &&
        !(zor::ParseIPv6(source, bytes) && zor::FormatIPv6(bytes) == source))
      std::abort();
  } catch (const zor::Exception&) {
  }
  if (pos > size) std::abort();
  // The address forms on their own.
  std::array<uint8_t, 16> bytes{};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (zor::ParseIPv6(text, bytes)) {
    std::array<uint8_t, 16> again{};
    const std::string canonical = zor::FormatIPv6(bytes);
    if (!zor::IsDottedAddress(canonical) && !zor::ParseIPv6(canonical, again)) std::abort();
  }
  return 0;
}
