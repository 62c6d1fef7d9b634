// The CRC register of partial files and the resume records in "DownLoadInfo.dat".
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "platform/fault_file_system.h"

#include "update/crc_register.h"
#include "update/download_records.h"
#include "update/ini_file.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::ReadFileBytes;
using testing::TempFolder;
using testing::TextBytes;
using testing::WriteFileBytes;

TEST(CrcRegister, IsTheUninvertedRegisterAndContinuesAcrossPieces) {
  struct Case {
    std::string Text;
    uint32_t Register;
  } const kCases[] = {
      {"", 0xFFFFFFFF},
      {"abc", 0xCADBBE3D},          // the complement of the usual 0x352441C2
      {"123456789", ~0xCBF43926u},  // the standard check value, complemented
  };
  for (const Case& c : kCases)
    EXPECT_EQ(UpdateCrcRegister(kCrcRegisterStart, c.Text.data(), c.Text.size()), c.Register);
  const std::string text = "The quick brown fox jumps over the lazy dog";
  uint32_t pieces = kCrcRegisterStart;
  for (size_t i = 0; i < text.size(); i += 5)
    pieces = UpdateCrcRegister(pieces, text.data() + i, std::min<size_t>(5, text.size() - i));
  EXPECT_EQ(pieces, UpdateCrcRegister(kCrcRegisterStart, text.data(), text.size()));
}

TEST(IniFile, ReadsSectionsAndKeysWithoutCaseAndWritesThemBack) {
  TIniFile ini(
      "; comment\r\n[Main.bpl]\r\nFileSize = 12\r\nCRC=-5\r\nbad "
      "line\r\n\r\n[Other]\nFileVer=1.2\nCRC=x\n"
      "orphan=1\n[Main.BPL]\nFileSize=99\n");
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"Main.bpl", "Other"}));
  EXPECT_EQ(ini.ReadInteger("main.bpl", "filesize"), 12);
  EXPECT_EQ(ini.ReadInteger("Main.bpl", "CRC"), -5);
  EXPECT_EQ(ini.ReadInteger("Other", "CRC", 7), 7);  // not a number
  EXPECT_EQ(ini.ReadInteger("Other", "Missing"), 0);
  EXPECT_EQ(ini.ReadString("Other", "FileVer"), "1.2");
  EXPECT_EQ(ini.ReadString("Nowhere", "FileVer"), "");
  ini.WriteInteger("MAIN.BPL", "FilePos", 3);
  ini.EraseSection("other");
  EXPECT_EQ(ini.Text(), "[Main.bpl]\r\nFileSize=12\r\nCRC=-5\r\nFilePos=3\r\n\r\n");
  // A file name with ']' in it survives a round trip as a section name.
  ini.WriteString("a]b.dll", "FileVer", "2");
  EXPECT_EQ(TIniFile(ini.Text()).ReadString("a]b.dll", "FileVer"), "2");
}

TEST(IniFile, IntegersOutsideThe32BitRangeReadAsTheDefault) {
  TIniFile ini("[s]\na=2147483647\nb=2147483648\nc=-2147483648\nd=+4\ne=0x10\n");
  EXPECT_EQ(ini.ReadInteger("s", "a"), 2147483647);
  EXPECT_EQ(ini.ReadInteger("s", "b", -1), -1);
  EXPECT_EQ(ini.ReadInteger("s", "c"), INT32_MIN);
  EXPECT_EQ(ini.ReadInteger("s", "d"), 4);
  EXPECT_EQ(ini.ReadInteger("s", "e", -1), -1);
}

TEST(DownloadRecords, RecordsRoundTripThroughTheFileAndAreSharedByEveryReader) {
  TempFolder dir;
  const std::string path = dir.Path() + std::string(kDownloadInfoFileName);
  TDownloadInfoFile writer(path), reader(path);
  const TResumeRecord record{"5.1.0.3", 0x58A63C21, 123456, 65536, 0xCADBBE3D};
  writer.Write("bpls\\Main.bpl", record);
  EXPECT_EQ(reader.Read("BPLS\\main.bpl"), record);
  const std::string text(reinterpret_cast<const char*>(ReadFileBytes(path).data()),
                         ReadFileBytes(path).size());
  EXPECT_NE(text.find("CRC=-891568579\r\n"), std::string::npos) << text;  // signed decimal
  writer.Erase("bpls\\Main.bpl");
  EXPECT_FALSE(reader.Read("bpls\\Main.bpl").has_value());

  // A change made on disk by someone else is seen.
  WriteFileBytes(path, TextBytes("[x.dll]\r\nFilePos=7\r\n"));
  EXPECT_EQ(reader.Read("x.dll")->FilePos, 7);
  EXPECT_EQ(reader.Read("x.dll")->FileVer, "");
}

TEST(DownloadRecords, UnreadableOrOversizedFileReadsAsNoRecords) {
  TempFolder dir;
  const std::string path = dir.Path() + std::string(kDownloadInfoFileName);
  WriteFileBytes(path, testing::Bytes(static_cast<size_t>(kMaxDownloadInfoSize) + 1, '['));
  TDownloadInfoFile info(path);
  EXPECT_FALSE(info.Read("a").has_value());
  info.Write("a", TResumeRecord{"", 1, 2, 3, 4});  // and it is replaced on the next write
  EXPECT_EQ(info.Read("a")->FilePos, 3);
  EXPECT_LT(ReadFileBytes(path).size(), 200u);
}

// A run killed while it replaced the record file left a temporary beside it: the next
// process removes it at its first access, and keeps the records and other files.
TEST(DownloadRecords, ATemporaryOfAKilledRunIsRemovedAtTheFirstAccess) {
  TempFolder dir;
  const std::string path = dir.Path() + std::string(kDownloadInfoFileName);
  WriteFileBytes(path, TextBytes("[x.dll]\r\nFilePos=7\r\n"));
  const std::string stale = path + ".~0123456789abcdef.tmp";
  const std::string other = dir.Path() + "x.dll.~0123456789abcdef.tmp";
  WriteFileBytes(stale, TextBytes("[x.dll]\r\nFilePos=9"));
  WriteFileBytes(other, TextBytes("another file's"));
  EXPECT_EQ(TDownloadInfoFile(path).Read("x.dll")->FilePos, 7);
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(other));
}

TEST(DownloadRecords, ConcurrentWritersLoseNoSection) {
  TempFolder dir;
  const std::string path = dir.Path() + std::string(kDownloadInfoFileName);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TDownloadInfoFile info(path);
      for (int i = 1; i <= 25; ++i)
        info.Write("file" + std::to_string(t), TResumeRecord{"", 0, 100, i, 0});
    });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t)
    EXPECT_EQ(TDownloadInfoFile(path).Read("file" + std::to_string(t))->FilePos, 25);
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// The record file is replaced through the file layer: a write or rename that fails keeps
// the previous records, leaves no temporary, and the next write goes through.
TEST(DownloadInfoFile, AFailedWriteKeepsThePreviousRecordsAndNoTemporary) {
  struct Case {
    const char* What;
    std::function<void(FaultFileSystem&)> Arm;
  } const kCases[] = {
      {"the write fails", [](FaultFileSystem& f) { f.FailWrite(1); }},
      {"a short write, then a failure",
       [](FaultFileSystem& f) {
         f.ShortWrite(1, 10);
         f.FailWrite(2);
       }},
      {"the disk is full", [](FaultFileSystem& f) { f.SetFreeSpace(0); }},
      {"the rename fails", [](FaultFileSystem& f) { f.FailRename(1); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    TempFolder dir;
    const std::string path = dir.Path() + "DownLoadInfo.dat";
    TDownloadInfoFile info(path);
    const TResumeRecord first{"1.0", 7, 100, 40, 0x1234, dir.Path() + "a_tmp"};
    info.Write("a.dll", first);
    const auto before = ReadFileBytes(path);
    {
      FaultFileSystem faults;
      ScopedFileSystem use(faults);
      c.Arm(faults);
      TResumeRecord second = first;
      second.FilePos = 80;
      EXPECT_THROW(info.Write("a.dll", second), EFileSystemError);
      EXPECT_EQ(info.Read("a.dll"), first);
    }
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    TResumeRecord third = first;
    third.FilePos = 90;
    info.Write("a.dll", third);
    EXPECT_EQ(info.Read("a.dll"), third);
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

}  // namespace
}  // namespace zor
