// Unpacks bytes in the packed file form with the launcher's own unpacker, so the server's
// tests check that what it packs is what the launcher can read.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "update/cps_file.h"

namespace zor::testing {

struct Unpacked {
  std::string Data;
  uint32_t DosTime = 0;
};

// Checks the header against the size and inflates the data; raises on any fault.
inline Unpacked UnpackBytes(const std::string& packed) {
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(packed.data()),
                                       packed.size());
  Unpacked out;
  out.DosTime = ParseCpsHeader(bytes, static_cast<int64_t>(bytes.size()), "memory").DosTime;
  TZORCPSFile::UnpackBytes(bytes, [&](const uint8_t* data, size_t size) {
    out.Data.append(reinterpret_cast<const char*>(data), size);
  });
  return out;
}

}  // namespace zor::testing
