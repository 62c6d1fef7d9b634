#include "update/plain_data_stream.h"

#include <zlib.h>

#include <memory>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/format.h"

namespace zor {

std::vector<uint32_t> PlainPieces(uint32_t count) {
  std::vector<uint32_t> pieces;
  if (count <= kPlainRawLimit) return pieces;
  while (count > kPlainLastPieceLimit) {
    pieces.push_back(kPlainPiece);
    count -= kPlainPiece;
  }
  pieces.push_back(count);
  return pieces;
}

void WritePlainStream(uint32_t count, const ReadExact& source, const WriteBytes& out) {
  uint8_t header[kPlainHeaderSize];
  StoreLE32(header, kPlainStreamMarker);
  header[4] = count > kPlainRawLimit ? 1 : 0;
  StoreLE32(header + 5, count);
  out(header, sizeof header);
  std::vector<uint8_t> piece(kPlainLastPieceLimit);
  if (count <= kPlainRawLimit) {
    source(piece.data(), count);
    out(piece.data(), count);
    return;
  }
  std::vector<uint8_t> block(4 + compressBound(kPlainLastPieceLimit));
  for (uint32_t size : PlainPieces(count)) {
    source(piece.data(), size);
    uLongf length = block.size() - 4;
    if (compress2(block.data() + 4, &length, piece.data(), size, Z_DEFAULT_COMPRESSION) != Z_OK)
      throw Exception("Cannot compress a block of the data stream");
    StoreLE32(block.data(), static_cast<uint32_t>(length));
    out(block.data(), 4 + length);
  }
}

uint32_t ReadPlainStream(const ReadExact& in, uint32_t limit, const WriteBytes& out,
                         const CountCheck& onCount) {
  uint8_t header[kPlainHeaderSize];
  in(header, sizeof header);  // the marker is not checked, as the launcher does not check it
  const bool compressed = header[4] != 0;
  const uint32_t count = LoadLE32(header + 5);
  if (count > limit)
    throw Exception(
        Format("The data stream of %u bytes exceeds the limit of %u bytes", {count, limit}));
  if (onCount) onCount(count);
  std::vector<uint8_t> buffer(kPlainMaxBlock);
  if (!compressed) {
    for (uint32_t done = 0; done < count;) {
      const uint32_t piece = std::min<uint32_t>(count - done, kPlainMaxBlock);
      in(buffer.data(), piece);
      out(buffer.data(), piece);
      done += piece;
    }
    return count;
  }
  std::vector<uint8_t> output(kPlainMaxBlock);
  for (uint32_t done = 0; done < count;) {
    uint8_t lengthBytes[4];
    in(lengthBytes, 4);
    const uint32_t length = LoadLE32(lengthBytes);
    if (length < 1 || length > kPlainMaxBlock)
      throw Exception(Format("Invalid block length %u in the data stream", {length}));
    in(buffer.data(), length);
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) throw Exception("Unabel to decompress the compressed data!");
    std::unique_ptr<z_stream, int (*)(z_stream*)> end(&zs, inflateEnd);
    zs.next_in = buffer.data();
    zs.avail_in = length;
    // A block may carry no more than what is left of the count.
    const uint32_t room = std::min<uint32_t>(count - done, static_cast<uint32_t>(output.size()));
    zs.next_out = output.data();
    zs.avail_out = room;
    const int result = inflate(&zs, Z_FINISH);
    if (result != Z_STREAM_END) throw Exception("Invalid compressed block in the data stream");
    const uint32_t produced = room - zs.avail_out;
    if (produced == 0) throw Exception("Invalid compressed block in the data stream");
    out(output.data(), produced);
    done += produced;
  }
  return count;
}

}  // namespace zor
