// Only the changed bytes of a changed file: the launcher describes the copy it already has by
// a signature (per block of the old file a weak rolling sum and a strong BLAKE2 hash), the
// server turns the new file into a delta against that signature (copies of old blocks and
// the literal bytes between them), and the launcher patches its old copy with the delta into
// the new file. The three steps are librsync's (Debian librsync-dev), driven here through
// our own read and write callbacks so that every byte goes through the program's file and
// connection layers.
//
// A signature and a delta come from the other end of a connection and are hostile until
// proven otherwise: a signature's header and length are checked before librsync reads it
// (only the BLAKE2 kinds, sane block and hash sizes, a whole number of blocks, at most
// `kDeltaMaxSignatureBytes`); a patch never produces more than the size the server announced
// nor copies from outside the old file, and must end exactly at the delta's end command.
// Failures of the format raise `EDeltaFormatError`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "base/exceptions.h"

namespace zor {

// A signature or delta that is not valid as it stands.
class EDeltaFormatError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EDeltaFormatError, Exception)
};

inline constexpr std::string_view kDeltaSignatureInvalidText = "The delta signature is invalid: %s";
inline constexpr std::string_view kDeltaInvalidText = "The delta is invalid: %s";

// A signature: a 12-byte header (magic, block length, strong hash length, big-endian), then
// per block the 4-byte weak sum and the strong hash.
inline constexpr size_t kDeltaSignatureHeaderBytes = 12;
// Enough for a file of several GiB at librsync's block sizes (about 12 bytes per block of
// the square root of the file's size); a larger one is a client that lies.
inline constexpr size_t kDeltaMaxSignatureBytes = 4u << 20;
inline constexpr uint32_t kDeltaMinBlockBytes = 128;
inline constexpr uint32_t kDeltaMaxBlockBytes = 1u << 20;
// Shorter strong hashes make false block matches likely; 32 is BLAKE2's whole digest.
inline constexpr uint32_t kDeltaMinStrongBytes = 8;
inline constexpr uint32_t kDeltaMaxStrongBytes = 32;

// Reads up to `size` bytes into `buffer`; 0 at the end.
using TDeltaRead = std::function<size_t(uint8_t* buffer, size_t size)>;
// Reads up to `size` bytes from `offset` of the old copy; 0 at its end.
using TDeltaReadAt = std::function<size_t(int64_t offset, uint8_t* buffer, size_t size)>;
using TDeltaWrite = std::function<void(const uint8_t* data, size_t size)>;

struct TDeltaSignatureShape {
  uint32_t Magic = 0;
  uint32_t BlockBytes = 0;
  uint32_t StrongBytes = 0;
  uint64_t Blocks = 0;
};

// Checks a signature from outside without reading its blocks; raises `EDeltaFormatError`.
TDeltaSignatureShape CheckDeltaSignature(std::span<const uint8_t> signature);

// The signature of the `size` bytes that `read` gives (the size picks the block length).
// Raises `EDeltaFormatError` when it would pass `kDeltaMaxSignatureBytes`.
std::vector<uint8_t> MakeDeltaSignature(int64_t size, const TDeltaRead& read);

// The delta of what `read` gives against `signature` (checked first), to `write`. `tick`
// runs after each piece and may raise to give up.
void MakeDelta(std::span<const uint8_t> signature, const TDeltaRead& read, const TDeltaWrite& write,
               const std::function<void()>& tick = {});

// Applies the delta that `delta` gives to the old copy (`oldSize` bytes, read through
// `readOld`); the new file goes to `write` and must come to exactly `newSize` bytes. Raises
// `EDeltaFormatError` for a delta that is damaged, copies from outside the old copy, makes
// more or fewer bytes, or carries anything after its end.
void ApplyDelta(const TDeltaRead& delta, const TDeltaReadAt& readOld, int64_t oldSize,
                int64_t newSize, const TDeltaWrite& write);

}  // namespace zor
