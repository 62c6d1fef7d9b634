// Test helper: reads a packed file the way the launcher does (header checks, then inflate).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace zor::testing {

inline uint32_t Le32(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[offset + i]);
  return v;
}

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Unpacked {
  std::string Data;
  uint32_t DosTime = 0;
};

// Checks the total size and inflates the stream from the data offset.
inline Unpacked UnpackBytes(const std::string& packed) {
  if (packed.size() < 44) throw std::runtime_error("short header");
  if (Le32(packed, 4) != packed.size()) throw std::runtime_error("total size differs");
  Unpacked out;
  out.DosTime = Le32(packed, 32);
  const uint32_t size = Le32(packed, 36);
  out.Data.resize(size);
  uLongf length = size;
  const uint32_t offset = Le32(packed, 8);
  if (uncompress(reinterpret_cast<Bytef*>(out.Data.data()), &length,
                 reinterpret_cast<const Bytef*>(packed.data() + offset), packed.size() - offset) != Z_OK ||
      length != size)
    throw std::runtime_error("bad zlib stream");
  return out;
}

}  // namespace zor::testing
