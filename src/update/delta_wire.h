// The delta fetch on the wire (command 0xA220 of the file service).
//
// Arguments: [name (string), area (string), language tag (string), signature (byte array),
// release (string, optional)], the signature being that of the client's old copy
// (delta_codec.h) and the release the one a pass on a signed release names, as its fetch
// requests do (release_pass.h).
// Reply: [found, version, size, age, delta bytes, SHA-256, packed size]. Version, size and
// age are those of the server's file, as the one-trip fetch gives them; size and SHA-256 (64
// lower-case hexadecimal digits) are what the patched file must come to; packed size is what
// the file list counts for the file. When found and delta bytes is not `kNoDelta`, exactly
// that many bytes follow the reply: one zlib stream of the librsync delta. `kNoDelta` means
// the server sends none (it would not be much smaller than the packed file, the server is
// busy with other deltas, or the file is too large): the client fetches the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "intercom/wire_format.h"
#include "update/delta_codec.h"

namespace zor {

inline constexpr int32_t kNoDelta = -1;
// The compressed delta is held in memory on the server until it is sent; a larger one does
// not pay against the whole file.
inline constexpr size_t kDeltaMaxWireBytes = 8u << 20;
inline constexpr int kDeltaWireLevel = 6;
inline constexpr size_t kDeltaSha256Digits = 64;

inline constexpr uint16_t kDeltaReplyTypes[] = {kVarBoolean, kVarString, kVarInteger, kVarInteger,
                                                kVarInteger, kVarString, kVarInteger};

// Compresses the delta while it is made, into memory, up to a limit.
class TDeltaDeflater {
 public:
  explicit TDeltaDeflater(size_t limit);
  ~TDeltaDeflater();
  TDeltaDeflater(const TDeltaDeflater&) = delete;
  TDeltaDeflater& operator=(const TDeltaDeflater&) = delete;

  // False once the compressed bytes passed the limit (the rest is then dropped).
  bool Add(const uint8_t* data, size_t size);
  // Ends the stream; false when it passed the limit.
  bool Finish();
  const std::vector<uint8_t>& Bytes() const { return Out; }

 private:
  bool Run(int flush);
  struct State;
  std::unique_ptr<State> Z;
  size_t Limit;
  bool Over = false;
  std::vector<uint8_t> Out;
};

// The most a delta for a file of `newSize` bytes may inflate to: its literal bytes and the
// commands around them, with room to spare.
int64_t DeltaInflateLimit(int64_t newSize);

// Applies the delta that arrives as a zlib stream of exactly `wireBytes` bytes; `wire` is
// never asked for more than remain, so a connection stays in step when every byte was read.
// Raises `EDeltaFormatError` for a stream that is damaged, inflates past
// `DeltaInflateLimit`, ends early or carries bytes after its end, and for any fault of the
// delta itself (see `ApplyDelta`).
void ApplyDeltaStream(const TDeltaRead& wire, int64_t wireBytes, const TDeltaReadAt& readOld,
                      int64_t oldSize, int64_t newSize, const TDeltaWrite& write);

}  // namespace zor
