#include "pe_version_writer.h"

#include <optional>

#include "base/byte_order.h"
#include "platform/pe_format.h"

namespace zor {
namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kResourceRva = 0x1000;
constexpr uint32_t kPeOffset = 0x40;

void Put16(std::string& out, size_t at, uint16_t value) {
  StoreLE16(&out[at], value);
}
void Put32(std::string& out, size_t at, uint32_t value) {
  StoreLE32(&out[at], value);
}
void Put64(std::string& out, size_t at, uint64_t value) {
  StoreLE64(&out[at], value);
}
uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The .rsrc section: type 16 -> name 1 -> language 0x0409 -> data entry -> VS_VERSIONINFO.
std::string BuildResources(std::optional<uint64_t> version) {
  if (!version) return std::string(pe::kResourceDirectorySize, '\0');
  constexpr uint32_t kNameDir = 0x18, kLangDir = 0x30, kDataEntry = 0x48, kVersionData = 0x58;
  constexpr uint32_t kVersionSize = pe::kVersionInfoFixedOffset + pe::kFixedFileInfoSize;
  std::string rsrc(kVersionData + kVersionSize, '\0');
  Put16(rsrc, 14, 1);  // root: one id entry
  Put32(rsrc, 16, pe::kResourceTypeVersion);
  Put32(rsrc, 20, pe::kResourceSubdirectoryFlag | kNameDir);
  Put16(rsrc, kNameDir + 14, 1);
  Put32(rsrc, kNameDir + 16, 1);
  Put32(rsrc, kNameDir + 20, pe::kResourceSubdirectoryFlag | kLangDir);
  Put16(rsrc, kLangDir + 14, 1);
  Put32(rsrc, kLangDir + 16, 0x0409);
  Put32(rsrc, kLangDir + 20, kDataEntry);
  Put32(rsrc, kDataEntry, kResourceRva + kVersionData);
  Put32(rsrc, kDataEntry + 4, kVersionSize);
  Put16(rsrc, kVersionData, kVersionSize);
  Put16(rsrc, kVersionData + 2, pe::kFixedFileInfoSize);
  for (size_t i = 0; i < std::size(pe::kVersionInfoKey); ++i) {
    Put16(rsrc, kVersionData + 6 + 2 * i, pe::kVersionInfoKey[i]);
  }
  const uint32_t fixed = kVersionData + pe::kVersionInfoFixedOffset;
  Put32(rsrc, fixed, pe::kFixedFileInfoSignature);
  Put32(rsrc, fixed + 4, 0x00010000);  // structure version 1.0
  const auto ms = static_cast<uint32_t>(*version >> 32);
  const auto ls = static_cast<uint32_t>(*version);
  Put32(rsrc, fixed + pe::kFixedFileVersionMs, ms);
  Put32(rsrc, fixed + pe::kFixedFileVersionLs, ls);
  Put32(rsrc, fixed + pe::kFixedProductVersionMs, ms);
  Put32(rsrc, fixed + pe::kFixedProductVersionLs, ls);
  Put32(rsrc, fixed + 24, 0x3F);     // file flags mask
  Put32(rsrc, fixed + 32, 0x40004);  // VOS_NT_WINDOWS32
  Put32(rsrc, fixed + 36, 1);        // VFT_APP
  return rsrc;
}

std::string BuildImage(std::optional<uint64_t> version, bool pe64) {
  const std::string rsrc = BuildResources(version);
  const uint32_t rsrcSize = static_cast<uint32_t>(rsrc.size());
  const uint32_t rawSize = AlignUp(rsrcSize, kFileAlignment);
  const uint16_t optionalSize = pe64 ? 240 : 224;
  const uint32_t headersSize = kFileAlignment;
  std::string image(headersSize + rawSize, '\0');

  Put16(image, 0, pe::kDosMagic);
  Put32(image, pe::kDosNewHeaderOffset, kPeOffset);
  Put32(image, kPeOffset, pe::kPeSignature);
  const size_t coff = kPeOffset + 4;
  Put16(image, coff, pe64 ? pe::kMachineAmd64 : pe::kMachineI386);
  Put16(image, coff + pe::kCoffNumberOfSections, 1);
  Put16(image, coff + pe::kCoffSizeOfOptionalHeader, optionalSize);
  Put16(image, coff + 18,
        pe64 ? 0x0022 : 0x0102);  // executable; large-address-aware / 32-bit machine

  const size_t opt = coff + pe::kCoffHeaderSize;
  Put16(image, opt, pe64 ? pe::kPe32PlusMagic : pe::kPe32Magic);
  image[opt + 2] = 14;             // linker version
  Put32(image, opt + 8, rawSize);  // size of initialised data
  if (pe64) {
    Put64(image, opt + 24, 0x140000000ull);  // image base
  } else {
    Put32(image, opt + 24, kResourceRva);  // base of data
    Put32(image, opt + 28, 0x00400000);    // image base
  }
  Put32(image, opt + 32, kSectionAlignment);
  Put32(image, opt + 36, kFileAlignment);
  Put16(image, opt + 40, 6);  // operating system version 6.0
  Put16(image, opt + 48, 6);  // subsystem version 6.0
  Put32(image, opt + 56, kResourceRva + AlignUp(rsrcSize, kSectionAlignment));  // size of image
  Put32(image, opt + 60, headersSize);
  Put16(image, opt + 68, 2);  // Windows GUI subsystem
  if (pe64) {
    Put64(image, opt + 72, 0x100000);  // stack reserve
    Put64(image, opt + 80, 0x1000);    // stack commit
    Put64(image, opt + 88, 0x100000);  // heap reserve
    Put64(image, opt + 96, 0x1000);    // heap commit
  } else {
    Put32(image, opt + 72, 0x100000);
    Put32(image, opt + 76, 0x1000);
    Put32(image, opt + 80, 0x100000);
    Put32(image, opt + 84, 0x1000);
  }
  Put32(image, opt + (pe64 ? pe::kPe32PlusNumberOfRvaAndSizes : pe::kPe32NumberOfRvaAndSizes), 16);
  const size_t resourceDir = opt +
                             (pe64 ? pe::kPe32PlusDataDirectories : pe::kPe32DataDirectories) +
                             pe::kResourceDirectoryIndex * pe::kDataDirectorySize;
  Put32(image, resourceDir, kResourceRva);
  Put32(image, resourceDir + 4, rsrcSize);

  const size_t section = opt + optionalSize;
  image.replace(section, 6, ".rsrc\0", 6);
  Put32(image, section + pe::kSectionVirtualSize, rsrcSize);
  Put32(image, section + pe::kSectionVirtualAddress, kResourceRva);
  Put32(image, section + pe::kSectionSizeOfRawData, rawSize);
  Put32(image, section + pe::kSectionPointerToRawData, headersSize);
  Put32(image, section + 36, 0x40000040);  // initialised data, readable

  image.replace(headersSize, rsrc.size(), rsrc);
  return image;
}

}  // namespace

std::string BuildPeWithVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d, bool pe64) {
  const uint64_t version = uint64_t{a} << 48 | uint64_t{b} << 32 | uint64_t{c} << 16 | d;
  return BuildImage(version, pe64);
}

std::string BuildPeWithoutVersion(bool pe64) {
  return BuildImage(std::nullopt, pe64);
}

}  // namespace zor
