#include "intercom/zlib_streams.h"

#include <zlib.h>

#include <vector>

#include "base/exceptions.h"
#include "intercom/wire_format.h"

namespace zor {
namespace {
[[noreturn]] void RaiseDecompress() {
  throw Exception(std::string(kDecompressErrorText));
}
}  // namespace

struct TDeflateSink::State {
  z_stream Z{};
  std::vector<uint8_t> Out = std::vector<uint8_t>(kZlibBufferSize);
  bool Finished = false;
};

TDeflateSink::TDeflateSink(TByteSink& target) : S(std::make_unique<State>()), Target(target) {
  if (deflateInit(&S->Z, Z_DEFAULT_COMPRESSION) != Z_OK)
    throw Exception("Unable to create the compressor!");
}

TDeflateSink::~TDeflateSink() {
  deflateEnd(&S->Z);
}

void TDeflateSink::Pump(int flush) {
  for (;;) {
    S->Z.next_out = S->Out.data();
    S->Z.avail_out = static_cast<uInt>(S->Out.size());
    const int rc = deflate(&S->Z, flush);
    if (rc == Z_STREAM_ERROR) throw Exception("Compression failed!");
    const size_t produced = S->Out.size() - S->Z.avail_out;
    if (produced > 0) Target.Write(S->Out.data(), produced);
    if (flush == Z_FINISH ? rc == Z_STREAM_END : (S->Z.avail_in == 0 && S->Z.avail_out != 0))
      return;
  }
}

void TDeflateSink::Write(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const uInt chunk = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    S->Z.next_in = const_cast<Bytef*>(p);
    S->Z.avail_in = chunk;
    Pump(Z_NO_FLUSH);
    p += chunk;
    size -= chunk;
  }
}

void TDeflateSink::Finish() {
  if (S->Finished) return;
  S->Z.next_in = nullptr;
  S->Z.avail_in = 0;
  Pump(Z_FINISH);
  S->Finished = true;
}

struct TInflateSource::State {
  z_stream Z{};
  std::vector<uint8_t> In = std::vector<uint8_t>(kZlibBufferSize);
  uint64_t Produced = 0;
  bool Ended = false;
};

TInflateSource::TInflateSource(TByteSource& source, uint64_t maxOutput)
    : S(std::make_unique<State>()), Source(source), MaxOutput(maxOutput) {
  if (inflateInit(&S->Z) != Z_OK) RaiseDecompress();
}

TInflateSource::~TInflateSource() {
  inflateEnd(&S->Z);
}

size_t TInflateSource::Read(void* data, size_t size) {
  if (S->Ended || size == 0) return 0;
  S->Z.next_out = static_cast<Bytef*>(data);
  // Never produce more than one byte past the limit, which is enough to tell it was exceeded.
  const uint64_t allowed = MaxOutput - S->Produced + 1;
  S->Z.avail_out = static_cast<uInt>(std::min<uint64_t>(std::min<size_t>(size, 1u << 30), allowed));
  const uInt wanted = S->Z.avail_out;
  while (S->Z.avail_out == wanted) {
    if (S->Z.avail_in == 0) {
      const size_t n = Source.Read(S->In.data(), S->In.size());
      if (n == 0) RaiseDecompress();  // the stream ends before its end marker
      S->Z.next_in = S->In.data();
      S->Z.avail_in = static_cast<uInt>(n);
    }
    const int rc = inflate(&S->Z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      uint8_t extra;
      if (S->Z.avail_in != 0 || Source.Read(&extra, 1) != 0) RaiseDecompress();
      S->Ended = true;
      break;
    }
    if (rc != Z_OK) RaiseDecompress();
  }
  const size_t produced = wanted - S->Z.avail_out;
  S->Produced += produced;
  if (S->Produced > MaxOutput) RaiseDecompress();
  return produced;
}

}  // namespace zor
