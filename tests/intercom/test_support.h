// Helpers shared by the intercom tests: hex byte vectors and a source that hands out its bytes
// one at a time without telling how many are left (the hardest case for a decoder).
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "intercom/byte_stream.h"

namespace zor::testing {

// "9E 46 58 ED" -> bytes; blanks are ignored.
inline std::vector<uint8_t> Hex(std::string_view text) {
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c == ' ')
      continue;
    else
      throw std::invalid_argument("bad hex");
    if (high < 0)
      high = v;
    else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd hex");
  return out;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

class TTrickleSource : public TByteSource {
 public:
  explicit TTrickleSource(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}
  size_t Read(void* data, size_t size) override {
    if (size == 0 || Position >= Bytes.size()) return 0;
    std::memcpy(data, &Bytes[Position++], 1);
    return 1;
  }

 private:
  const std::vector<uint8_t>& Bytes;
  size_t Position = 0;
};

}  // namespace zor::testing
