// Unpacking packed (CPS) files: valid files, the size check and its 0xFFFE exception, and
// every way a packed file can lie, each leaving no target behind.
#include "update/cps_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "platform/directories.h"
#include "platform/fault_file_system.h"
#include "platform/file_times.h"
#include "support/connection_fixture.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ExpectError;
using testing::PackBytes;
using testing::PackOptions;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

TEST(CpsFile, UnpacksIntoANewFolderWithTheHeadersTime) {
  TempFolder dir;
  for (const size_t size : {size_t{0}, size_t{1}, kCpsPiece, kCpsPiece + 1, size_t{300000}}) {
    SCOPED_TRACE(size);
    const Bytes content = SampleBytes(size, static_cast<uint32_t>(size));
    WriteFileBytes(dir.Path() + "x.cps", PackBytes(content, testing::kSampleDosTime));
    ASSERT_TRUE(TZORCPSFile::Unpack(dir.Path() + "x.cps", dir.Path() + "new/sub/x.dll"));
    EXPECT_EQ(ReadFileBytes(dir.Path() + "new/sub/x.dll"), content);
    EXPECT_EQ(GetFileDosTime(dir.Path() + "new/sub/x.dll"),
              static_cast<int32_t>(testing::kSampleDosTime));
  }
  EXPECT_FALSE(TZORCPSFile::Unpack(dir.Path() + "missing.cps", dir.Path() + "y.dll"));
  EXPECT_FALSE(FileExists(dir.Path() + "y.dll"));
}

TEST(CpsFile, InvalidPackedFilesAreRefusedAndLeaveNoTarget) {
  const Bytes content = SampleBytes(50000, 2);
  struct Case {
    const char* What;
    Bytes Packed;
  } const kCases[] = {
      {"total size too small", PackBytes(content, 0, {.TotalSizeDelta = -1})},
      {"total size too large", PackBytes(content, 0, {.TotalSizeDelta = 1})},
      {"shorter than a header", Bytes(43, 0)},
      {"data offset inside the header", PackBytes(content, 0, {.DataOffset = 40})},
      {"data offset past the end",
       [&] {
         Bytes b = PackBytes(content, 0);
         testing::Put32(&b[kPackedDataOffsetOffset], static_cast<uint32_t>(b.size() + 1));
         return b;
       }()},
      {"stream cut short",
       PackBytes(content, 0, {.Marker = kPackedMarkerNoSizeCheck, .CutStream = 20})},
      {"more bytes than announced", PackBytes(content, 0, {.UnpackedDelta = -1})},
      {"fewer bytes than announced", PackBytes(content, 0, {.UnpackedDelta = 1})},
      {"announces 4 GiB", PackBytes(content, 0, {.UnpackedDelta = 0xFFFF0000})},
      {"not a zlib stream",
       [&] {
         Bytes b = PackBytes(content, 0);
         b[kPackedHeaderSize] ^= 0xFF;
         return b;
       }()},
      // Something smuggled in behind a valid stream, the size field telling the truth.
      {"bytes after the end of the stream",
       [&] {
         Bytes b = PackBytes(content, 0);
         b.insert(b.end(), {0x7F, 'E', 'L', 'F'});
         testing::Put32(&b[kPackedTotalSizeOffset], static_cast<uint32_t>(b.size()));
         return b;
       }()},
      {"a byte after the stream, 0xFFFE marker",
       [&] {
         Bytes b = PackBytes(content, 0, {.Marker = kPackedMarkerNoSizeCheck});
         b.push_back(0);
         return b;
       }()},
  };
  TempFolder dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    WriteFileBytes(dir.Path() + "bad.cps", c.Packed);
    ExpectError<ECpsFormatError>(
        [&] { TZORCPSFile::Unpack(dir.Path() + "bad.cps", dir.Path() + "out.dll"); },
        dir.Path() + "bad.cps 不是一个有效的压缩文件");
    EXPECT_FALSE(FileExists(dir.Path() + "out.dll"));
  }
}

TEST(CpsFile, MarkerFFFESkipsOnlyTheSizeCheck) {
  TempFolder dir;
  const Bytes content = SampleBytes(20000, 3);
  WriteFileBytes(
      dir.Path() + "x.cps",
      PackBytes(content, 0, {.Marker = kPackedMarkerNoSizeCheck, .TotalSizeDelta = 999}));
  ASSERT_TRUE(TZORCPSFile::Unpack(dir.Path() + "x.cps", dir.Path() + "x.dll"));
  EXPECT_EQ(ReadFileBytes(dir.Path() + "x.dll"), content);
}

TEST(CpsFile, InMemoryUnpackNeverPassesTheAnnouncedSize) {
  const Bytes content = SampleBytes(70000, 4);
  Bytes out;
  TZORCPSFile::UnpackBytes(PackBytes(content, 0), [&](const uint8_t* data, size_t size) {
    EXPECT_LE(size, kCpsPiece);
    out.insert(out.end(), data, data + size);
  });
  EXPECT_EQ(out, content);
  size_t written = 0;
  EXPECT_THROW(TZORCPSFile::UnpackBytes(PackBytes(content, 0, {.UnpackedDelta = -1000}),
                                        [&](const uint8_t*, size_t size) { written += size; }),
               ECpsFormatError);
  EXPECT_LE(written, content.size() - 1000);
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// The unpacked file is an atomic replacement: whatever write, sync or rename fails, the
// target does not appear and no temporary stays in its folder.
TEST(CpsFile, AFailingDiskLeavesNoTargetAndNoTemporary) {
  struct Case {
    const char* What;
    std::function<void(FaultFileSystem&)> Arm;
    int Error;
  } const kCases[] = {
      {"the first write", [](FaultFileSystem& f) { f.FailWrite(1); }, EIO},
      {"a later write", [](FaultFileSystem& f) { f.FailWrite(3); }, EIO},
      {"a full disk midway", [](FaultFileSystem& f) { f.SetFreeSpace(40000); }, ENOSPC},
      {"the sync", [](FaultFileSystem& f) { f.FailSync(1); }, EIO},
      {"the rename", [](FaultFileSystem& f) { f.FailRename(1, EACCES); }, EACCES},
  };
  const Bytes content = SampleBytes(120000, 31);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    TempFolder dir;
    WriteFileBytes(dir.Path() + "x.cps", PackBytes(content, testing::kSampleDosTime));
    {
      FaultFileSystem faults;
      ScopedFileSystem use(faults);
      c.Arm(faults);
      try {
        TZORCPSFile::Unpack(dir.Path() + "x.cps", dir.Path() + "out/x.dll");
        ADD_FAILURE() << "no failure";
      } catch (const EFileSystemError& e) {
        EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(c.Error));
      }
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() + "out"));
    ASSERT_TRUE(TZORCPSFile::Unpack(dir.Path() + "x.cps", dir.Path() + "out/x.dll"));
    EXPECT_EQ(ReadFileBytes(dir.Path() + "out/x.dll"), content);
  }
}

}  // namespace
}  // namespace zor
