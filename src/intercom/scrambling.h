// Traffic scrambling: the default pair of routines, the fixed key of the launcher's connections,
// and the key derivation of the enhanced logon.
//
// The default transform works on one buffer at a time, starting afresh for each (each 32-byte
// header, and the first min(L, 2048) bytes of each payload block):
//   keystream: s = key XOR 0x9E3779B9 (0x9E3779B9 when that is 0); for every 4 bytes one
//              xorshift32 step (s ^= s << 13; s ^= s >> 17; s ^= s << 5) gives 4 keystream bytes,
//              least significant first;
//   encrypt:   c[i] = (p[i] XOR k[i]) + c[i-1]   (mod 256; c[-1] = low byte of the key)
//   decrypt:   p[i] = (c[i] - c[i-1]) XOR k[i]
// Chaining through the previous cipher byte makes the two routines different and exact inverses.
// This keeps casual eyes off the traffic; it is not cryptography.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zor {

// In-place, length-preserving, key-dependent transform.
using TScrambleRoutine = void (*)(uint8_t* buffer, size_t length, uint32_t key);

void DefaultEncrypt(uint8_t* buffer, size_t length, uint32_t key);
void DefaultDecrypt(uint8_t* buffer, size_t length, uint32_t key);

// The fixed key of the launcher's connections (any value serves; client and server agree on it).
inline constexpr uint32_t kDefaultScrambleKey = 0x6D3A91C5;

// The enhanced logon's new key: 8 bits, each at a random index 0..31 (repeats allowed), set in a
// zero word that is then XORed into `key`. `random` yields the random numbers.
uint32_t DeriveEnhancedKey(uint32_t key, const std::function<uint32_t()>& random);
uint32_t DeriveEnhancedKey(uint32_t key);

}  // namespace zor
