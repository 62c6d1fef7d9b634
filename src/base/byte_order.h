// Little-endian integers in byte buffers: every wire format, file format and registry value we
// read or write stores its numbers low byte first. The buffers need no alignment, and the result
// does not depend on the byte order of the machine.
#pragma once

#include <cstdint>
#include <vector>

namespace zor {

inline uint16_t LoadLE16(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t LoadLE32(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint64_t LoadLE64(const void* at) {
  const auto* p = static_cast<const uint8_t*>(at);
  return uint64_t{LoadLE32(p)} | uint64_t{LoadLE32(p + 4)} << 32;
}

inline void StoreLE16(void* at, uint16_t value) {
  auto* p = static_cast<uint8_t*>(at);
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreLE32(void* at, uint32_t value) {
  auto* p = static_cast<uint8_t*>(at);
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

inline void StoreLE64(void* at, uint64_t value) {
  auto* p = static_cast<uint8_t*>(at);
  StoreLE32(p, static_cast<uint32_t>(value));
  StoreLE32(p + 4, static_cast<uint32_t>(value >> 32));
}

// Appends the value's bytes, low byte first.
inline void AppendLE16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLE32(std::vector<uint8_t>& out, uint32_t value) {
  AppendLE16(out, static_cast<uint16_t>(value));
  AppendLE16(out, static_cast<uint16_t>(value >> 16));
}

inline void AppendLE64(std::vector<uint8_t>& out, uint64_t value) {
  AppendLE32(out, static_cast<uint32_t>(value));
  AppendLE32(out, static_cast<uint32_t>(value >> 32));
}

}  // namespace zor
