#include "platform/pe_version.h"

#include <cstring>

#include "base/byte_order.h"
#include "platform/pe_format.h"

namespace zor {
namespace {

// Resource directories hold at most this many entries of each kind (the count fields are
// 16 bits); the walk never reads more than that per directory.
constexpr uint32_t kMaxDirectoryEntries = 0xFFFF * 2;

class Reader {
 public:
  explicit Reader(const PeByteReader& read) : Read(read) {}

  bool U16(uint64_t offset, uint16_t& value) const {
    uint8_t b[2];
    if (!Read(offset, b, 2)) return false;
    value = LoadLE16(b);
    return true;
  }
  bool U32(uint64_t offset, uint32_t& value) const {
    uint8_t b[4];
    if (!Read(offset, b, 4)) return false;
    value = LoadLE32(b);
    return true;
  }

  const PeByteReader& Read;
};

struct Section {
  uint32_t VirtualAddress;
  uint32_t VirtualSize;
  uint32_t RawSize;
  uint32_t RawOffset;
};

// The file offset of `size` bytes at `rva`, when one section holds them all in the file.
std::optional<uint64_t> RvaToOffset(const Reader& r, uint64_t sectionTable, uint16_t sectionCount,
                                    uint32_t rva, uint32_t size) {
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = sectionTable + uint64_t{i} * pe::kSectionHeaderSize;
    Section s{};
    if (!r.U32(header + pe::kSectionVirtualSize, s.VirtualSize) ||
        !r.U32(header + pe::kSectionVirtualAddress, s.VirtualAddress) ||
        !r.U32(header + pe::kSectionSizeOfRawData, s.RawSize) ||
        !r.U32(header + pe::kSectionPointerToRawData, s.RawOffset)) {
      return std::nullopt;
    }
    const uint64_t start = s.VirtualAddress;
    const uint64_t span =
        s.VirtualSize != 0 && s.VirtualSize < s.RawSize ? s.VirtualSize : s.RawSize;
    if (rva >= start && uint64_t{rva} + size <= start + span)
      return uint64_t{s.RawOffset} + (rva - start);
  }
  return std::nullopt;
}

// The entry of `directory` whose id is `id`, or its first entry when `id` is empty; the
// entry's offset field.
std::optional<uint32_t> FindEntry(const Reader& r, uint64_t base, uint32_t directory,
                                  std::optional<uint32_t> id) {
  uint16_t named = 0;
  uint16_t ids = 0;
  if (!r.U16(base + directory + 12, named) || !r.U16(base + directory + 14, ids))
    return std::nullopt;
  const uint32_t count = uint32_t{named} + ids;
  for (uint32_t i = 0; i < count && i < kMaxDirectoryEntries; ++i) {
    const uint64_t entry =
        base + directory + pe::kResourceDirectorySize + uint64_t{i} * pe::kResourceEntrySize;
    uint32_t name = 0;
    uint32_t offset = 0;
    if (!r.U32(entry, name) || !r.U32(entry + 4, offset)) return std::nullopt;
    if (!id || ((name & pe::kResourceNameFlag) == 0 && name == *id)) return offset;
  }
  return std::nullopt;
}

}  // namespace

std::string PeFileVersion::FileVersionText() const {
  return std::to_string(Major()) + "." + std::to_string(Minor()) + "." + std::to_string(Release()) +
         "." + std::to_string(Build());
}

std::optional<PeFileVersion> ReadPeVersion(const PeByteReader& read) {
  const Reader r(read);
  uint16_t dosMagic = 0;
  uint32_t peOffset = 0;
  uint32_t signature = 0;
  if (!r.U16(0, dosMagic) || dosMagic != pe::kDosMagic) return std::nullopt;
  if (!r.U32(pe::kDosNewHeaderOffset, peOffset) || !r.U32(peOffset, signature) ||
      signature != pe::kPeSignature) {
    return std::nullopt;
  }
  const uint64_t coff = uint64_t{peOffset} + 4;
  uint16_t sectionCount = 0;
  uint16_t optionalSize = 0;
  if (!r.U16(coff + pe::kCoffNumberOfSections, sectionCount) ||
      !r.U16(coff + pe::kCoffSizeOfOptionalHeader, optionalSize)) {
    return std::nullopt;
  }
  const uint64_t optional = coff + pe::kCoffHeaderSize;
  uint16_t magic = 0;
  if (!r.U16(optional, magic)) return std::nullopt;
  uint32_t countField;
  uint32_t directories;
  if (magic == pe::kPe32Magic) {
    countField = pe::kPe32NumberOfRvaAndSizes;
    directories = pe::kPe32DataDirectories;
  } else if (magic == pe::kPe32PlusMagic) {
    countField = pe::kPe32PlusNumberOfRvaAndSizes;
    directories = pe::kPe32PlusDataDirectories;
  } else {
    return std::nullopt;
  }
  uint32_t directoryCount = 0;
  if (!r.U32(optional + countField, directoryCount) ||
      directoryCount <= pe::kResourceDirectoryIndex) {
    return std::nullopt;
  }
  const uint32_t resourceField = directories + pe::kResourceDirectoryIndex * pe::kDataDirectorySize;
  if (resourceField + pe::kDataDirectorySize > optionalSize) return std::nullopt;
  uint32_t resourceRva = 0;
  uint32_t resourceSize = 0;
  if (!r.U32(optional + resourceField, resourceRva) ||
      !r.U32(optional + resourceField + 4, resourceSize) || resourceRva == 0 ||
      resourceSize < pe::kResourceDirectorySize) {
    return std::nullopt;
  }
  const uint64_t sectionTable = optional + optionalSize;
  const auto resourceBase =
      RvaToOffset(r, sectionTable, sectionCount, resourceRva, pe::kResourceDirectorySize);
  if (!resourceBase) return std::nullopt;

  // Type RT_VERSION, then the first name, then the first language.
  uint32_t offset = 0;
  const std::optional<uint32_t> levelIds[] = {pe::kResourceTypeVersion, std::nullopt, std::nullopt};
  for (int level = 0; level < 3; ++level) {
    const auto entry = FindEntry(r, *resourceBase, offset, levelIds[level]);
    if (!entry) return std::nullopt;
    const bool subdirectory = (*entry & pe::kResourceSubdirectoryFlag) != 0;
    if (subdirectory != (level < 2)) return std::nullopt;
    offset = *entry & ~pe::kResourceSubdirectoryFlag;
    if (uint64_t{offset} +
            (subdirectory ? pe::kResourceDirectorySize : pe::kResourceDataEntrySize) >
        resourceSize) {
      return std::nullopt;
    }
  }
  uint32_t dataRva = 0;
  uint32_t dataSize = 0;
  if (!r.U32(*resourceBase + offset, dataRva) || !r.U32(*resourceBase + offset + 4, dataSize))
    return std::nullopt;
  const uint32_t needed = pe::kVersionInfoFixedOffset + pe::kFixedFileInfoSize;
  if (dataSize < needed) return std::nullopt;
  const auto data = RvaToOffset(r, sectionTable, sectionCount, dataRva, needed);
  if (!data) return std::nullopt;

  // VS_VERSIONINFO header, key and fixed part.
  uint16_t length = 0;
  uint16_t valueLength = 0;
  if (!r.U16(*data, length) || !r.U16(*data + 2, valueLength)) return std::nullopt;
  if (length < needed || length > dataSize || valueLength < pe::kFixedFileInfoSize)
    return std::nullopt;
  for (size_t i = 0; i < std::size(pe::kVersionInfoKey); ++i) {
    uint16_t unit = 0;
    if (!r.U16(*data + 6 + 2 * i, unit) || unit != pe::kVersionInfoKey[i]) return std::nullopt;
  }
  const uint64_t fixed = *data + pe::kVersionInfoFixedOffset;
  uint32_t fixedSignature = 0;
  uint32_t lastField = 0;  // a fixed part cut off by the end of the file is no version
  PeFileVersion version;
  if (!r.U32(fixed + pe::kFixedFileInfoSize - 4, lastField) || !r.U32(fixed, fixedSignature) ||
      fixedSignature != pe::kFixedFileInfoSignature ||
      !r.U32(fixed + pe::kFixedFileVersionMs, version.FileVersionMs) ||
      !r.U32(fixed + pe::kFixedFileVersionLs, version.FileVersionLs) ||
      !r.U32(fixed + pe::kFixedProductVersionMs, version.ProductVersionMs) ||
      !r.U32(fixed + pe::kFixedProductVersionLs, version.ProductVersionLs)) {
    return std::nullopt;
  }
  return version;
}

std::optional<PeFileVersion> ReadPeVersion(std::span<const uint8_t> image) {
  return ReadPeVersion([image](uint64_t offset, void* out, size_t size) {
    if (offset > image.size() || size > image.size() - offset) return false;
    std::memcpy(out, image.data() + offset, size);
    return true;
  });
}

}  // namespace zor
