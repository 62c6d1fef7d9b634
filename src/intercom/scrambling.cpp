#include "intercom/scrambling.h"

#include "intercom/message_headers.h"

namespace zor {
namespace {

constexpr uint32_t kKeystreamSeed = 0x9E3779B9;

class TKeystream {
 public:
  explicit TKeystream(uint32_t key) : State(key ^ kKeystreamSeed) {
    if (State == 0) State = kKeystreamSeed;
  }
  uint8_t Next() {
    if (Left == 0) {
      State ^= State << 13;
      State ^= State >> 17;
      State ^= State << 5;
      Word = State;
      Left = 4;
    }
    const uint8_t b = static_cast<uint8_t>(Word);
    Word >>= 8;
    --Left;
    return b;
  }

 private:
  uint32_t State;
  uint32_t Word = 0;
  int Left = 0;
};

}  // namespace

void DefaultEncrypt(uint8_t* buffer, size_t length, uint32_t key) {
  TKeystream ks(key);
  uint8_t prev = static_cast<uint8_t>(key);
  for (size_t i = 0; i < length; ++i) {
    buffer[i] = static_cast<uint8_t>((buffer[i] ^ ks.Next()) + prev);
    prev = buffer[i];
  }
}

void DefaultDecrypt(uint8_t* buffer, size_t length, uint32_t key) {
  TKeystream ks(key);
  uint8_t prev = static_cast<uint8_t>(key);
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = buffer[i];
    buffer[i] = static_cast<uint8_t>((c - prev) ^ ks.Next());
    prev = c;
  }
}

uint32_t DeriveEnhancedKey(uint32_t key, const std::function<uint32_t()>& random) {
  uint32_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= 1u << (random() % 32);
  return key ^ bits;
}

uint32_t DeriveEnhancedKey(uint32_t key) {
  return DeriveEnhancedKey(key, HeaderNoise);
}

}  // namespace zor
