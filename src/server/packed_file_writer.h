// Packs one file into the packed ("CPS") form: header plus one zlib stream of the content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace zor {

// Files up to this size are read whole and packed by libdeflate in one call (several times
// faster than zlib for the same stream); larger ones are streamed through zlib in pieces, so
// a pack worker never holds more than about twice this in memory.
inline constexpr int64_t kPackInMemoryLimit = 8 * 1024 * 1024;

struct TPackedFileInfo {
  int64_t PackedSize = 0;    // bytes of the whole packed file
  int64_t SourceSize = 0;    // bytes read from the source
  uint32_t Crc32 = 0;        // of the source bytes
  std::string SourceSha256;  // of the source bytes, hexadecimal
};

struct TPackRequest {
  std::filesystem::path Source;
  std::filesystem::path SourceRoot;  // when set: `Source` is opened below it, never via a link
  std::filesystem::path Target;      // created new: an existing file or link there fails the pack
  uint32_t DosTime = 0;              // written into the header
  int64_t ExpectedSize = 0;          // the source must still have this size
  uint64_t Key = 0;                  // written into the header for the cache's check
  int64_t ModifiedNs = 0;            // likewise
  int Level = -1;                    // zlib level; -1 is zlib's default
  // Called after every piece of input (about every 256 KiB); may raise to stop.
  std::function<void()> Tick;
};

// Writes the target through the file layer (file_system.h) and syncs it. Raises `Exception`
// when the source cannot be read, changed size while it was read, the packed result would
// not fit the 32-bit size fields, or the target cannot be written or synced (a full disk);
// the target is then removed.
TPackedFileInfo PackFile(const TPackRequest& request);

}  // namespace zor
