// The version resource of Windows executables and libraries (PE32 and PE32+ images): the
// file and product version of its fixed part. Works on any OS; files that are not PE
// images, and images without a version resource, have none. Untrusted input: every offset
// and size is checked against the file, and nothing is allocated from a size in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace zor {

struct PeFileVersion {
  uint32_t FileVersionMs = 0;  // major << 16 | minor
  uint32_t FileVersionLs = 0;  // release << 16 | build
  uint32_t ProductVersionMs = 0;
  uint32_t ProductVersionLs = 0;

  uint16_t Major() const { return static_cast<uint16_t>(FileVersionMs >> 16); }
  uint16_t Minor() const { return static_cast<uint16_t>(FileVersionMs); }
  uint16_t Release() const { return static_cast<uint16_t>(FileVersionLs >> 16); }
  uint16_t Build() const { return static_cast<uint16_t>(FileVersionLs); }
  // "major.minor.release.build" of the file version.
  std::string FileVersionText() const;
  bool operator==(const PeFileVersion&) const = default;
};

// Reads `size` bytes at `offset` into `out`; false when the source has fewer.
using PeByteReader = std::function<bool(uint64_t offset, void* out, size_t size)>;

std::optional<PeFileVersion> ReadPeVersion(const PeByteReader& read);
std::optional<PeFileVersion> ReadPeVersion(std::span<const uint8_t> image);

struct FileVersionLookup {
  uint32_t OsError = 0;  // 0 when the file could be read; else the system's error number
  std::optional<PeFileVersion> Version;  // none: no version resource
};
// Reads the version of the file at `path` without loading the whole file.
FileVersionLookup ReadFileVersion(const std::string& path);

}  // namespace zor
