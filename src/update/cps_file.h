// Unpacking a packed ("CPS") file that the server sent: the header is checked, the zlib
// stream is inflated into the target in pieces, and the target gets the header's file time.
// A packed file that is short, lies about its size or its data offset, or whose stream does
// not produce exactly the announced number of bytes, or that carries bytes after the end of
// its stream, is refused, and nothing of the target
// stays behind. The caller unpacks into a temporary file beside the real target and puts it
// in place only after success, so a failed unpack never costs the old file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace zor {

inline constexpr std::string_view kInvalidPackedFileText = "%s 不是一个有效的压缩文件";
inline constexpr size_t kCpsPiece = 16384;

// A packed file that cannot be unpacked as it stands (as opposed to a failure to read or
// write the disk). Its message is "<path> 不是一个有效的压缩文件".
class ECpsFormatError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(ECpsFormatError, Exception)
};

struct TCpsHeader {
  uint16_t Marker = 0;
  uint32_t TotalSize = 0;
  uint32_t DataOffset = 0;
  uint32_t DosTime = 0;
  uint32_t UnpackedSize = 0;
};

// Reads the header fields the unpacker uses and checks them against the packed file's size
// (`fileSize`): the total size (unless the marker is 0xFFFE) and a data offset that lies
// after the header and inside the file. Raises `ECpsFormatError` naming `path`.
TCpsHeader ParseCpsHeader(std::span<const uint8_t> bytes, int64_t fileSize, std::string_view path);

class TZORCPSFile {
 public:
  // Unpacks `packedPath` into `targetPath` (its folder is created). Returns false when the
  // packed file does not exist. The target is written as an atomic replacement through the
  // file layer (file_system.h): it appears whole or not at all. Raises `ECpsFormatError` for
  // a packed file that is not valid, `EFileSystemError` for the disk; in both cases no target
  // and no temporary stays behind. The target is synced before it takes its name; its
  // folder only when `syncFolder` (a caller that renames the target again durably needs no
  // folder sync of its own).
  static bool Unpack(const std::string& packedPath, const std::string& targetPath,
                     bool syncFolder = true);
  // Unpacks a packed file held in memory, for the fuzz target and tests; the output goes to
  // `sink` in pieces and never adds up to more than the header announced.
  template <class Sink>
  static void UnpackBytes(std::span<const uint8_t> packed, Sink&& sink);
};

// The inflate loop shared by both forms: feeds `read` input (it fills a buffer and returns the
// byte count, 0 at the end), hands `write` pieces of at most 16384 bytes, and stops exactly at
// `unpackedSize`. Raises `ECpsFormatError` naming `path` when the stream is damaged, ends
// early, holds more than announced, or is followed by more input.
void InflateCps(uint32_t unpackedSize, std::string_view path,
                const std::function<size_t(uint8_t* buffer, size_t size)>& read,
                const std::function<void(const uint8_t* data, size_t size)>& write);

template <class Sink>
void TZORCPSFile::UnpackBytes(std::span<const uint8_t> packed, Sink&& sink) {
  const TCpsHeader header = ParseCpsHeader(packed, static_cast<int64_t>(packed.size()), "memory");
  size_t position = header.DataOffset;
  InflateCps(
      header.UnpackedSize, "memory",
      [&](uint8_t* buffer, size_t size) {
        const size_t n = std::min(size, packed.size() - position);
        std::copy_n(packed.data() + position, n, buffer);
        position += n;
        return n;
      },
      [&](const uint8_t* data, size_t size) { sink(data, size); });
}

}  // namespace zor
