#include "platform/pe_version.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "pe_version_writer.h"
#include "platform/file_error_kind.h"
#include "platform/pe_format.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

std::optional<PeFileVersion> Read(const std::string& image) {
  return ReadPeVersion(std::span(reinterpret_cast<const uint8_t*>(image.data()), image.size()));
}

uint32_t Get32(const std::string& image, size_t at) {
  uint32_t value;
  std::memcpy(&value, image.data() + at, 4);
  return value;
}
void Set32(std::string& image, size_t at, uint32_t value) {
  std::memcpy(image.data() + at, &value, 4);
}
void Set16(std::string& image, size_t at, uint16_t value) {
  std::memcpy(image.data() + at, &value, 2);
}

TEST(PeVersion, ReadsTheFixedVersionOfBothImageKinds) {
  struct Case {
    uint16_t a, b, c, d;
    const char* text;
  } const kCases[] = {
      {5, 0, 6, 18, "5.0.6.18"}, {0, 0, 0, 0, "0.0.0.0"}, {65535, 1, 65535, 2, "65535.1.65535.2"}};
  for (bool pe64 : {false, true}) {
    for (const Case& c : kCases) {
      const auto version = Read(BuildPeWithVersion(c.a, c.b, c.c, c.d, pe64));
      ASSERT_TRUE(version.has_value()) << c.text << (pe64 ? " PE32+" : " PE32");
      EXPECT_EQ(version->FileVersionText(), c.text);
      EXPECT_EQ(version->FileVersionMs, uint32_t{c.a} << 16 | c.b);
      EXPECT_EQ(version->FileVersionLs, uint32_t{c.c} << 16 | c.d);
      EXPECT_EQ(version->ProductVersionMs, version->FileVersionMs);
      EXPECT_EQ(version->ProductVersionLs, version->FileVersionLs);
    }
    EXPECT_EQ(Read(BuildPeWithoutVersion(pe64)), std::nullopt);
  }
}

TEST(PeVersion, OtherFilesHaveNone) {
  EXPECT_EQ(Read(""), std::nullopt);
  EXPECT_EQ(Read("MZ"), std::nullopt);
  EXPECT_EQ(Read("#!/bin/sh\necho hello\n"), std::nullopt);
  EXPECT_EQ(Read("\x7F"
                 "ELF\x02\x01\x01" +
                 std::string(64, '\0')),
            std::nullopt);
}

// Every cut of the file either still holds the whole version or gives none; no read goes
// past the end (AddressSanitizer watches the copies).
TEST(PeVersion, TruncatedImagesNeverReadPastTheEnd) {
  for (bool pe64 : {false, true}) {
    const std::string image = BuildPeWithVersion(1, 2, 3, 4, pe64);
    // The fixed part ends 0x58 + 92 bytes into the resource section at 0x200.
    const size_t versionEnd = 0x200 + 0x58 + pe::kVersionInfoFixedOffset + pe::kFixedFileInfoSize;
    for (size_t size = 0; size <= image.size(); ++size) {
      const std::string cut = image.substr(0, size);
      const auto version =
          ReadPeVersion(std::span(reinterpret_cast<const uint8_t*>(cut.data()), cut.size()));
      if (size < versionEnd) {
        EXPECT_EQ(version, std::nullopt) << size;
      } else {
        ASSERT_TRUE(version.has_value()) << size;
        EXPECT_EQ(version->FileVersionText(), "1.2.3.4");
      }
    }
  }
}

TEST(PeVersion, DamagedStructuresGiveNone) {
  const std::string good = BuildPeWithVersion(1, 2, 3, 4, false);
  const size_t coff = 0x44;
  const size_t opt = coff + pe::kCoffHeaderSize;
  const size_t resourceDir =
      opt + pe::kPe32DataDirectories + pe::kResourceDirectoryIndex * pe::kDataDirectorySize;
  const size_t section = opt + 224;
  const size_t rsrc = 0x200;
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
  } const kCases[] = {
      {"DOS magic", [](std::string& s) { s[0] = 'X'; }},
      {"PE offset past the end", [](std::string& s) { Set32(s, 0x3C, 0xFFFFFFF0); }},
      {"PE signature", [](std::string& s) { s[0x41] = 'X'; }},
      {"optional header magic", [&](std::string& s) { Set16(s, opt, 0x0107); }},
      {"PE32+ magic on a PE32 layout", [&](std::string& s) { Set16(s, opt, pe::kPe32PlusMagic); }},
      {"too few data directories",
       [&](std::string& s) { Set32(s, opt + pe::kPe32NumberOfRvaAndSizes, 2); }},
      {"optional header too short",
       [&](std::string& s) { Set16(s, coff + pe::kCoffSizeOfOptionalHeader, 100); }},
      {"no sections", [&](std::string& s) { Set16(s, coff + pe::kCoffNumberOfSections, 0); }},
      {"65535 sections, none holding the resources",
       [&](std::string& s) {
         Set16(s, coff + pe::kCoffNumberOfSections, 0xFFFF);
         Set32(s, section + pe::kSectionVirtualAddress, 0x5000);
       }},
      {"resource RVA outside every section",
       [&](std::string& s) { Set32(s, resourceDir, 0x9000); }},
      {"resource RVA zero", [&](std::string& s) { Set32(s, resourceDir, 0); }},
      {"resource size tiny", [&](std::string& s) { Set32(s, resourceDir + 4, 8); }},
      {"raw data past the end",
       [&](std::string& s) { Set32(s, section + pe::kSectionPointerToRawData, 0x7FFFFFFF); }},
      {"no version type", [&](std::string& s) { Set32(s, rsrc + 16, 3); }},
      {"huge entry counts",
       [&](std::string& s) {
         Set16(s, rsrc + 12, 0xFFFF);
         Set32(s, rsrc + 16, 3);
       }},
      {"type entry is a leaf", [&](std::string& s) { Set32(s, rsrc + 20, 0x18); }},
      {"subdirectory outside the section",
       [&](std::string& s) { Set32(s, rsrc + 20, 0x8FFFFFF0); }},
      {"language entry is a directory",
       [&](std::string& s) { Set32(s, rsrc + 0x30 + 20, 0x80000048); }},
      {"data RVA outside", [&](std::string& s) { Set32(s, rsrc + 0x48, 0xFFFFFFF0); }},
      {"data size too small", [&](std::string& s) { Set32(s, rsrc + 0x48 + 4, 40); }},
      {"version length beyond data", [&](std::string& s) { Set16(s, rsrc + 0x58, 0xFFFF); }},
      {"value length too small", [&](std::string& s) { Set16(s, rsrc + 0x58 + 2, 20); }},
      {"wrong key", [&](std::string& s) { s[rsrc + 0x58 + 6] = 'X'; }},
      {"fixed signature", [&](std::string& s) { Set32(s, rsrc + 0x58 + 40, 0xFEEF04BC); }},
  };
  ASSERT_TRUE(Read(good).has_value());
  for (const Case& c : kCases) {
    std::string bad = good;
    c.damage(bad);
    EXPECT_EQ(Read(bad), std::nullopt) << c.what;
  }
  // A directory that points at itself is read once, not followed for ever.
  std::string loop = good;
  Set32(loop, rsrc + 0x18 + 20, 0x80000018);
  EXPECT_EQ(Read(loop), std::nullopt);
  EXPECT_EQ(Get32(good, rsrc + 16), pe::kResourceTypeVersion);
}

TEST(ReadFileVersion, ReadsFromDiskAndReportsMissingFiles) {
  testing::TempFolder folder;
  const std::string exe = folder.WriteFile("Client.exe", BuildPeWithVersion(5, 0, 6, 18, true));
  const FileVersionLookup found = ReadFileVersion(exe);
  EXPECT_EQ(found.OsError, 0u);
  ASSERT_TRUE(found.Version.has_value());
  EXPECT_EQ(found.Version->FileVersionText(), "5.0.6.18");

  const FileVersionLookup text =
      ReadFileVersion(folder.WriteFile("ZORSys.ini", "[System]\nMainExe=IClient\n"));
  EXPECT_EQ(text.OsError, 0u);
  EXPECT_EQ(text.Version, std::nullopt);

  EXPECT_EQ(FileErrorKindOf(ReadFileVersion(folder / "missing.dll").OsError),
            FileErrorKind::NotFound);
  EXPECT_EQ(FileErrorKindOf(ReadFileVersion(folder.Path()).OsError), FileErrorKind::IsFolder);
}

}  // namespace
}  // namespace zor
