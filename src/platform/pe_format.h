// The parts of the Windows PE (portable executable) image format that the version reader
// and writer use, described once: header offsets and sizes, magic numbers, and the
// resource and version-resource layouts. All fields are little-endian.
#pragma once

#include <cstdint>

namespace zor::pe {

inline constexpr uint16_t kDosMagic = 0x5A4D;          // "MZ"
inline constexpr uint32_t kDosNewHeaderOffset = 0x3C;  // e_lfanew: file offset of the PE signature
inline constexpr uint32_t kPeSignature = 0x00004550;   // "PE\0\0"

// COFF file header, right after the signature.
inline constexpr uint32_t kCoffHeaderSize = 20;
inline constexpr uint32_t kCoffNumberOfSections = 2;
inline constexpr uint32_t kCoffSizeOfOptionalHeader = 16;
inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kMachineAmd64 = 0x8664;

// Optional header: its magic tells PE32 from PE32+; the data directories follow the fields.
inline constexpr uint16_t kPe32Magic = 0x010B;
inline constexpr uint16_t kPe32PlusMagic = 0x020B;
inline constexpr uint32_t kPe32NumberOfRvaAndSizes = 92;
inline constexpr uint32_t kPe32PlusNumberOfRvaAndSizes = 108;
inline constexpr uint32_t kPe32DataDirectories = 96;
inline constexpr uint32_t kPe32PlusDataDirectories = 112;
inline constexpr uint32_t kDataDirectorySize = 8;  // RVA, size
inline constexpr uint32_t kResourceDirectoryIndex = 2;

// Section header: 40 bytes each, after the optional header.
inline constexpr uint32_t kSectionHeaderSize = 40;
inline constexpr uint32_t kSectionVirtualSize = 8;
inline constexpr uint32_t kSectionVirtualAddress = 12;
inline constexpr uint32_t kSectionSizeOfRawData = 16;
inline constexpr uint32_t kSectionPointerToRawData = 20;

// Resource tree: directory (16 bytes; named and id entry counts at 12 and 14), then
// 8-byte entries (name or id, offset; the high bit of the offset marks a subdirectory).
// Levels: type, name, language. A leaf is a 16-byte data entry (RVA, size, code page).
inline constexpr uint32_t kResourceDirectorySize = 16;
inline constexpr uint32_t kResourceEntrySize = 8;
inline constexpr uint32_t kResourceDataEntrySize = 16;
inline constexpr uint32_t kResourceSubdirectoryFlag = 0x80000000;
inline constexpr uint32_t kResourceNameFlag = 0x80000000;
inline constexpr uint32_t kResourceTypeVersion = 16;  // RT_VERSION

// VS_VERSIONINFO: length, value length, type (2 bytes each), the UTF-16 key
// "VS_VERSION_INFO" with its terminator, padding to 4 bytes, then VS_FIXEDFILEINFO.
inline constexpr char16_t kVersionInfoKey[] = u"VS_VERSION_INFO";
inline constexpr uint32_t kVersionInfoFixedOffset = 40;
inline constexpr uint32_t kFixedFileInfoSize = 52;
inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
// Offsets inside VS_FIXEDFILEINFO.
inline constexpr uint32_t kFixedFileVersionMs = 8;
inline constexpr uint32_t kFixedFileVersionLs = 12;
inline constexpr uint32_t kFixedProductVersionMs = 16;
inline constexpr uint32_t kFixedProductVersionLs = 20;

}  // namespace zor::pe
