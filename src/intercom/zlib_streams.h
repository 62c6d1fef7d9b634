// zlib compression and decompression streams over byte sinks and sources (default level,
// 64 KiB stream buffer), as the payloads of compressed messages use them.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "intercom/byte_stream.h"

namespace zor {

inline constexpr std::string_view kDecompressErrorText =
    "Unabel to decompress the compressed data!";

// Compresses everything written into `target`; `Finish` ends the zlib stream.
class TDeflateSink : public TByteSink {
 public:
  explicit TDeflateSink(TByteSink& target);
  ~TDeflateSink() override;
  void Write(const void* data, size_t size) override;
  void Finish();

 private:
  void Pump(int flush);
  struct State;
  std::unique_ptr<State> S;
  TByteSink& Target;
};

// Inflates a zlib stream read from `source`. Produces at most `maxOutput` bytes; a stream that
// is corrupt, truncated, followed by other bytes, or longer than that raises `Exception`
// "Unabel to decompress the compressed data!".
class TInflateSource : public TByteSource {
 public:
  TInflateSource(TByteSource& source, uint64_t maxOutput);
  ~TInflateSource() override;
  size_t Read(void* data, size_t size) override;

 private:
  struct State;
  std::unique_ptr<State> S;
  TByteSource& Source;
  uint64_t MaxOutput;
};

}  // namespace zor
