#include "update/cps_file.h"

#include <zlib.h>

#include <memory>
#include <thread>
#include <vector>

#include "base/byte_order.h"
#include "base/format.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/open_or_fail.h"
#include "update/cps_format.h"
#include "update/file_date.h"

namespace zor {

namespace {

[[noreturn]] void Invalid(std::string_view path) {
  throw ECpsFormatError(Format(kInvalidPackedFileText, {path}));
}

}  // namespace

TCpsHeader ParseCpsHeader(std::span<const uint8_t> bytes, int64_t fileSize, std::string_view path) {
  if (bytes.size() < kPackedHeaderSize || fileSize < kPackedHeaderSize) Invalid(path);
  const uint8_t* p = bytes.data();
  TCpsHeader header;
  header.Marker = LoadLE16(p + kPackedMarkerOffset);
  header.TotalSize = LoadLE32(p + kPackedTotalSizeOffset);
  header.DataOffset = LoadLE32(p + kPackedDataOffsetOffset);
  header.DosTime = LoadLE32(p + kPackedDosTimeOffset);
  header.UnpackedSize = LoadLE32(p + kPackedSizeOffset);
  if (header.Marker != kPackedMarkerNoSizeCheck &&
      static_cast<int64_t>(header.TotalSize) != fileSize)
    Invalid(path);
  // The data must start after the header and inside the file, whatever the marker says.
  if (header.DataOffset < kPackedHeaderSize || static_cast<int64_t>(header.DataOffset) > fileSize)
    Invalid(path);
  return header;
}

void InflateCps(uint32_t unpackedSize, std::string_view path,
                const std::function<size_t(uint8_t* buffer, size_t size)>& read,
                const std::function<void(const uint8_t* data, size_t size)>& write) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw Exception("Unabel to decompress the compressed data!");
  std::unique_ptr<z_stream, int (*)(z_stream*)> end(&zs, inflateEnd);
  std::vector<uint8_t> input(kCpsPiece), output(kCpsPiece);
  uint32_t written = 0;
  bool streamEnded = false;
  bool inputEnded = false;
  while (!streamEnded) {
    if (zs.avail_in == 0 && !inputEnded) {
      const size_t got = read(input.data(), input.size());
      inputEnded = got == 0;
      zs.next_in = input.data();
      zs.avail_in = static_cast<uInt>(got);
    }
    // Never more room than what is left of the announced size, plus one byte to notice a
    // stream that holds more than it announced.
    const uint32_t left = unpackedSize - written;
    const size_t room =
        std::min<size_t>(output.size(), static_cast<size_t>(left) + (left < output.size() ? 1 : 0));
    zs.next_out = output.data();
    zs.avail_out = static_cast<uInt>(room);
    const int result = inflate(&zs, Z_NO_FLUSH);
    const size_t produced = room - zs.avail_out;
    if (produced > left) Invalid(path);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) Invalid(path);
    // No progress with all input used up: the file ends before its stream does.
    if (result == Z_BUF_ERROR && inputEnded && zs.avail_in == 0) Invalid(path);
    if (produced > 0) {
      write(output.data(), produced);
      written += static_cast<uint32_t>(produced);
      std::this_thread::yield();
    }
    streamEnded = result == Z_STREAM_END;
  }
  if (written != unpackedSize) Invalid(path);
  // The stream is the whole rest of the file: bytes after its end could only be something
  // smuggled in behind a valid stream.
  if (zs.avail_in != 0) Invalid(path);
  uint8_t extra = 0;
  if (!inputEnded && read(&extra, 1) != 0) Invalid(path);
}

bool TZORCPSFile::Unpack(const std::string& packedPath, const std::string& targetPath,
                         bool syncFolder) {
  if (!FileExists(packedPath)) return false;
  const std::unique_ptr<PositionedFile> packed =
      OpenOrFail(packedPath, OpenMode::ReadOnly, OpenOptions{.NoFollow = true});
  const int64_t fileSize = packed->Size();
  uint8_t headerBytes[kPackedHeaderSize];
  const size_t got = ReadUpTo(*packed, 0, headerBytes, sizeof headerBytes);
  const TCpsHeader header =
      ParseCpsHeader(std::span<const uint8_t>(headerBytes, got), fileSize, packedPath);
  int64_t position = header.DataOffset;
  const std::string folder = FolderWithDelimiter(targetPath);
  if (!folder.empty()) ForceDirectoriesEx(folder);
  // Unpacked into a replacement of the target's own (a new private file, never through a
  // link) that takes the target's name only once the whole stream is in it and synced: a
  // failed write, sync or rename leaves no piece of it and the target as it was.
  FileSystem& fileSystem = CurrentFileSystem();
  fileSystem.RemoveStaleTemporaries(targetPath);
  fileSystem.Remove(targetPath);  // what an earlier unpack left there is never built on
  AtomicFile target = fileSystem.BeginReplace(
      targetPath, {.Permissions = kPrivateFileMode, .SyncFolder = syncFolder});
  InflateCps(
      header.UnpackedSize, packedPath,
      [&](uint8_t* buffer, size_t size) {
        const size_t n = packed->ReadAt(position, buffer, size);
        position += static_cast<int64_t>(n);
        return n;
      },
      [&](const uint8_t* data, size_t size) { target.Append(data, size); });
  target.Commit();
  SetFetchedFileDate(targetPath, header.DosTime);
  return true;
}

}  // namespace zor
