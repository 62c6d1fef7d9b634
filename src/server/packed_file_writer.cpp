#include "server/packed_file_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "server/content_hash.h"
#include "update/cps_format.h"

namespace zor {

namespace {

constexpr size_t kInputPiece = 256 * 1024;
// zlib's default level, which the packed files have always had.
constexpr int kDefaultLevel = 6;
constexpr size_t kOutputPiece = 256 * 1024;
// Data that deflate shrinks by less than 3% over its first MiB (random data, media, packed
// archives) is stored from then on: the stream stays one valid zlib stream, and storing
// costs a copy where deflating would cost most of the pack's time. Deflate holds back up to
// its window and symbol buffer of output, allowed for by kHeldBack.
constexpr int64_t kIncompressiblePercent = 97;
constexpr int64_t kJudgeAfter = 1024 * 1024;
constexpr int64_t kHeldBack = 40 * 1024;

bool LooksIncompressible(const z_stream& zs) {
  const auto in = static_cast<int64_t>(zs.total_in);
  const auto out = static_cast<int64_t>(zs.total_out) + kHeldBack;
  return in >= kJudgeAfter && out * 100 >= in * kIncompressiblePercent;
}

// The source, read front to back in pieces that are full until its end; a failing read
// names the source.
class TSourceReader {
 public:
  TSourceReader(PositionedFile& file, const std::filesystem::path& source)
      : File(file), Source(source) {}
  size_t Read(void* buffer, size_t size) {
    try {
      const size_t got = ReadUpTo(File, Position, buffer, size);
      Position += static_cast<int64_t>(got);
      return got;
    } catch (const EFileSystemError&) {
      throw Exception("Cannot read " + Source.string());
    }
  }

 private:
  PositionedFile& File;
  const std::filesystem::path& Source;
  int64_t Position = 0;
};

// Writes `count` bytes at `offset`; a failure (a full disk among them) names the packed file
// and the system's reason.
void WriteAll(PositionedFile& f, int64_t offset, const void* data, size_t count,
              const std::filesystem::path& target) {
  try {
    if (count) f.WriteAllAt(offset, data, count);
  } catch (const std::exception& e) {
    throw Exception("Cannot write the packed file " + target.string() + ": " + e.what());
  }
}

// The header goes in last, once the sizes and the CRC are known.
void WriteHeader(const TPackRequest& request, const TPackedFileInfo& info, PositionedFile& out) {
  if (info.PackedSize > std::numeric_limits<int32_t>::max() ||
      info.SourceSize > std::numeric_limits<int32_t>::max())
    throw Exception("The file " + request.Source.string() + " is too large to be served");
  uint8_t header[kPackedHeaderSize] = {};
  StoreLE16(header + kPackedMarkerOffset, kPackedMarker);
  StoreLE16(header + kPackedFormatOffset, kPackedFormat);
  StoreLE32(header + kPackedTotalSizeOffset, static_cast<uint32_t>(info.PackedSize));
  StoreLE32(header + kPackedDataOffsetOffset, kPackedHeaderSize);
  StoreLE32(header + kPackedCrcOffset, info.Crc32);
  StoreLE64(header + kPackedKeyOffset, request.Key);
  StoreLE64(header + kPackedModifiedOffset, static_cast<uint64_t>(request.ModifiedNs));
  StoreLE32(header + kPackedDosTimeOffset, request.DosTime);
  StoreLE32(header + kPackedSizeOffset, static_cast<uint32_t>(info.SourceSize));
  StoreLE32(header + kPackedLevelOffset, static_cast<uint32_t>(request.Level));
  WriteAll(out, 0, header, sizeof header, request.Target);
}

// A file small enough to hold in memory is packed in one call of libdeflate, which writes
// the same zlib stream as zlib several times faster.
TPackedFileInfo PackWhole(const TPackRequest& request, TSourceReader& in, PositionedFile& out) {
  // One byte more than expected tells a file that grew.
  std::vector<uint8_t> source(static_cast<size_t>(request.ExpectedSize) + 1);
  const size_t got = in.Read(source.data(), source.size());
  if (static_cast<int64_t>(got) != request.ExpectedSize)
    throw Exception("The file " + request.Source.string() + " changed while it was packed");
  if (request.Tick) request.Tick();
  TPackedFileInfo info;
  info.SourceSize = static_cast<int64_t>(got);
  info.Crc32 =
      static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), source.data(), static_cast<uInt>(got)));
  TSha256 sourceHash;
  sourceHash.Update(source.data(), got);
  info.SourceSha256 = sourceHash.FinishHex();

  const int level = request.Level < 0 ? kDefaultLevel : std::min(request.Level, 12);
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
      libdeflate_alloc_compressor(level), libdeflate_free_compressor);
  if (!compressor) throw Exception("Cannot start the compressor");
  std::vector<uint8_t> packed(libdeflate_zlib_compress_bound(compressor.get(), got));
  const size_t size =
      libdeflate_zlib_compress(compressor.get(), source.data(), got, packed.data(), packed.size());
  if (size == 0) throw Exception("Cannot pack " + request.Source.string());
  if (request.Tick) request.Tick();
  WriteAll(out, kPackedHeaderSize, packed.data(), size, request.Target);
  info.PackedSize = static_cast<int64_t>(kPackedHeaderSize + size);
  WriteHeader(request, info, out);
  return info;
}

TPackedFileInfo PackStreamed(const TPackRequest& request, TSourceReader& in, PositionedFile& out) {
  int64_t position = kPackedHeaderSize;

  z_stream zs{};
  if (deflateInit(&zs, request.Level) != Z_OK) throw Exception("Cannot start the zlib compressor");
  std::unique_ptr<z_stream, int (*)(z_stream*)> end(&zs, deflateEnd);

  std::vector<uint8_t> input(kInputPiece), output(kOutputPiece);
  TPackedFileInfo info;
  uLong crc = crc32(0L, Z_NULL, 0);
  TSha256 sourceHash;
  int flush = Z_NO_FLUSH;
  bool judged = false;
  // Runs one deflate step with the whole output piece free and writes what it produced.
  const auto step = [&](const std::function<int()>& call) {
    zs.next_out = output.data();
    zs.avail_out = static_cast<uInt>(output.size());
    const int result = call();
    const size_t produced = output.size() - zs.avail_out;
    WriteAll(out, position, output.data(), produced, request.Target);
    position += static_cast<int64_t>(produced);
    return result;
  };
  do {
    const size_t got = in.Read(input.data(), input.size());
    info.SourceSize += static_cast<int64_t>(got);
    if (info.SourceSize > request.ExpectedSize) break;
    crc = crc32(crc, input.data(), static_cast<uInt>(got));
    sourceHash.Update(input.data(), got);
    flush = got < input.size() ? Z_FINISH : Z_NO_FLUSH;
    zs.next_in = input.data();
    zs.avail_in = static_cast<uInt>(got);
    do {
      step([&] { return deflate(&zs, flush); });
    } while (zs.avail_out == 0);
    if (flush != Z_FINISH && !judged && static_cast<int64_t>(zs.total_in) >= kJudgeAfter) {
      judged = true;
      if (request.Level != Z_NO_COMPRESSION && LooksIncompressible(zs)) {
        // What deflate holds back is written with the old level before the change.
        int changed = Z_BUF_ERROR;
        while (changed == Z_BUF_ERROR)
          changed = step([&] { return deflateParams(&zs, Z_NO_COMPRESSION, Z_DEFAULT_STRATEGY); });
        if (changed != Z_OK) throw Exception("Cannot change the zlib compressor's level");
      }
    }
    if (request.Tick) request.Tick();
  } while (flush != Z_FINISH);
  if (info.SourceSize != request.ExpectedSize)
    throw Exception("The file " + request.Source.string() + " changed while it was packed");

  info.PackedSize = static_cast<int64_t>(kPackedHeaderSize) + static_cast<int64_t>(zs.total_out);
  info.Crc32 = static_cast<uint32_t>(crc);
  info.SourceSha256 = sourceHash.FinishHex();

  WriteHeader(request, info, out);
  return info;
}

TPackedFileInfo PackInto(const TPackRequest& request, TSourceReader& in, PositionedFile& out) {
  return request.ExpectedSize <= kPackInMemoryLimit ? PackWhole(request, in, out)
                                                    : PackStreamed(request, in, out);
}

}  // namespace

TPackedFileInfo PackFile(const TPackRequest& request) {
  FileSystem& fileSystem = CurrentFileSystem();
  std::unique_ptr<PositionedFile> source;
  try {
    source = request.SourceRoot.empty()
                 ? fileSystem.Open(request.Source.string(), OpenMode::ReadOnly)
                 : fileSystem.OpenBelow(
                       request.SourceRoot.string(),
                       request.Source.lexically_relative(request.SourceRoot).generic_string());
  } catch (const EFileSystemError&) {
    throw Exception("Cannot open " + request.Source.string());
  }
  TSourceReader in(*source, request.Source);
  std::unique_ptr<PositionedFile> out;
  try {
    // New (O_EXCL, never through a link) and private to the server's user.
    out = fileSystem.Open(request.Target.string(), OpenMode::CreateNew, kPrivateFileMode);
  } catch (const std::exception&) {
    throw Exception("Cannot create the packed file " + request.Target.string());
  }
  try {
    TPackedFileInfo info = PackInto(request, in, *out);
    // Durable before the cache renames it into place and records its hash.
    try {
      out->Sync();
      out->Close();
    } catch (const std::exception& e) {
      throw Exception("Cannot write the packed file " + request.Target.string() + ": " + e.what());
    }
    return info;
  } catch (...) {
    out.reset();
    try {
      fileSystem.Remove(request.Target.string());
    } catch (const std::exception&) {
      // The cache removes its leftover temporaries when it starts.
    }
    throw;
  }
}

}  // namespace zor
