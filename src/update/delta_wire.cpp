#include "update/delta_wire.h"

#include <zlib.h>

#include <algorithm>

#include "base/format.h"

namespace zor {

namespace {

constexpr size_t kWirePiece = 16384;

[[noreturn]] void BadStream(std::string_view why) {
  throw EDeltaFormatError(Format(kDeltaInvalidText, {why}));
}

}  // namespace

struct TDeltaDeflater::State {
  z_stream Stream{};
};

TDeltaDeflater::TDeltaDeflater(size_t limit) : Z(std::make_unique<State>()), Limit(limit) {
  if (deflateInit(&Z->Stream, kDeltaWireLevel) != Z_OK)
    throw Exception("Unabel to compress the data!");
}

TDeltaDeflater::~TDeltaDeflater() {
  deflateEnd(&Z->Stream);
}

bool TDeltaDeflater::Run(int flush) {
  uint8_t piece[kWirePiece];
  for (;;) {
    Z->Stream.next_out = piece;
    Z->Stream.avail_out = sizeof piece;
    const int result = deflate(&Z->Stream, flush);
    if (result == Z_STREAM_ERROR) throw Exception("Unabel to compress the data!");
    const size_t produced = sizeof piece - Z->Stream.avail_out;
    if (Out.size() + produced > Limit) {
      Over = true;
      return false;
    }
    Out.insert(Out.end(), piece, piece + produced);
    if (flush == Z_FINISH ? result == Z_STREAM_END
                          : Z->Stream.avail_in == 0 && Z->Stream.avail_out != 0)
      return true;
  }
}

bool TDeltaDeflater::Add(const uint8_t* data, size_t size) {
  if (Over) return false;
  Z->Stream.next_in = const_cast<uint8_t*>(data);
  Z->Stream.avail_in = static_cast<uInt>(size);
  return Run(Z_NO_FLUSH);
}

bool TDeltaDeflater::Finish() {
  if (Over) return false;
  Z->Stream.next_in = nullptr;
  Z->Stream.avail_in = 0;
  return Run(Z_FINISH);
}

int64_t DeltaInflateLimit(int64_t newSize) {
  return newSize + newSize / 2 + (64 << 10);
}

void ApplyDeltaStream(const TDeltaRead& wire, int64_t wireBytes, const TDeltaReadAt& readOld,
                      int64_t oldSize, int64_t newSize, const TDeltaWrite& write) {
  if (wireBytes < 0 || newSize < 0) BadStream("negative size");
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw Exception("Unabel to decompress the compressed data!");
  std::unique_ptr<z_stream, int (*)(z_stream*)> end(&zs, inflateEnd);
  std::vector<uint8_t> input(kWirePiece);
  int64_t remaining = wireBytes;
  int64_t inflated = 0;
  const int64_t inflateLimit = DeltaInflateLimit(newSize);
  bool streamEnded = false;
  // The inflated delta, pulled by the patch.
  const TDeltaRead delta = [&](uint8_t* buffer, size_t size) -> size_t {
    if (streamEnded || size == 0) return 0;
    zs.next_out = buffer;
    zs.avail_out = static_cast<uInt>(std::min<size_t>(size, kWirePiece * 4));
    while (zs.avail_out == std::min<size_t>(size, kWirePiece * 4)) {
      if (zs.avail_in == 0) {
        if (remaining == 0) BadStream("the stream ended early");
        const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, kWirePiece));
        const size_t got = wire(input.data(), want);
        if (got == 0 || got > want) BadStream("the stream ended early");
        remaining -= static_cast<int64_t>(got);
        zs.next_in = input.data();
        zs.avail_in = static_cast<uInt>(got);
      }
      const int result = inflate(&zs, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        streamEnded = true;
        break;
      }
      if (result != Z_OK && result != Z_BUF_ERROR) BadStream("a damaged stream");
    }
    const size_t produced = std::min<size_t>(size, kWirePiece * 4) - zs.avail_out;
    inflated += static_cast<int64_t>(produced);
    if (inflated > inflateLimit) BadStream("it inflates past its limit");
    return produced;
  };
  ApplyDelta(delta, readOld, oldSize, newSize, write);
  if (!streamEnded || zs.avail_in != 0 || remaining != 0) BadStream("bytes after its end");
}

}  // namespace zor
