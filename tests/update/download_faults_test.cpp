// Downloads on a failing disk, through the fault-injecting file system: a failed write, sync
// or rename, and a disk that fills up, each keep the installed file, leave no temporary
// behind, and leave a resume record that never claims more than the partial file holds; a
// later run finishes the file, after a full disk from the saved position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <random>

#include "base/clock.h"
#include "base/format.h"
#include "platform/fault_file_system.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "support/expect_error.h"
#include "update/crc_register.h"
#include "update/disk_full.h"
#include "update/remote_file.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::FakeFileLink;
using testing::FakeFileServer;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::TextBytes;
using testing::WriteFileBytes;

class DownloadFaults : public ::testing::Test {
 public:  // the table's cases arm faults on the fixture
  DownloadFaults() : Lcid(kLcidEnglishUs), Scope(Clock), Link(Server), Use(Faults) {
    Clock.Advance(std::chrono::hours(2 * 365 * 24));
    // Only the test's own folder meets the faults.
    Faults.OnlyFor([this](const std::string& path) { return path.rfind(Dir.Path(), 0) == 0; });
  }

  std::string Client(const std::string& relative) const {
    return Dir.Path() + "client/" + relative;
  }

  // With `SecondPerBlock`, a second passes at the start and with every block, so the record
  // is saved after each block but the last (it is saved otherwise about once per MiB).
  bool Download(const std::string& name) {
    TRemoteCPSFile file(&Link.Connect(), Dir.Path());
    if (SecondPerBlock) {
      file.OnStart = [this](const std::string&, int32_t, int32_t) {
        Clock.Advance(std::chrono::seconds(1));
      };
      file.OnProgress = [this](const std::string&, int32_t, int32_t, int32_t) {
        Clock.Advance(std::chrono::seconds(1));
      };
    }
    return file.Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client");
  }

  std::optional<TResumeRecord> Record(const std::string& name) const {
    return TDownloadInfoFile(Dir.Path() + "DownLoadInfo.dat").Read(name);
  }

  // What the client folder and the launcher's folder hold besides `keep`: temporaries of
  // replacements and unpacks must not be among them.
  std::vector<std::string> Strays(const std::vector<std::string>& keep) const {
    std::vector<std::string> strays;
    for (const std::string& folder : {Dir.Path(), Client("")}) {
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory() || name == "DownLoadInfo.dat") continue;
        if (std::find(keep.begin(), keep.end(), name) == keep.end()) strays.push_back(name);
      }
    }
    return strays;
  }

  // The record of `name`, when there is one, is backed by the partial file: it holds exactly
  // the recorded bytes, and their CRC is the recorded one.
  void ExpectConsistentRecord(const std::string& name) {
    const std::string partial = Client(name) + "_tmp";
    const std::optional<TResumeRecord> record = Record(name);
    if (!record) {
      EXPECT_FALSE(std::filesystem::exists(partial)) << "a partial file without a record";
      return;
    }
    const Bytes bytes = ReadFileBytes(partial);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(record->FilePos));
    EXPECT_EQ(UpdateCrcRegister(kCrcRegisterStart, bytes.data(), bytes.size()), record->CRC);
  }

  ScopedLcidOverride Lcid;
  ManualClock Clock;
  ScopedClock Scope;
  TempFolder Dir;
  FakeFileServer Server;
  FakeFileLink Link;
  FaultFileSystem Faults;
  ScopedFileSystem Use;
  bool SecondPerBlock = false;
};

[[noreturn]] void FailRenameWith(const std::string& to) {
  throw EFileSystemError("Cannot rename \"" + to + "\" (5)", 5, to);
}

TEST_F(DownloadFaults, EachFailureKeepsTheOldFileNoTemporaryAndAConsistentRecord) {
  struct Case {
    const char* What;
    std::function<void(DownloadFaults&)> Arm;
  } const kCases[] = {
      // Per block when a second passes with each: the partial file's write, then the record's
      // (a replacement of its own).
      {"the first write of the partial file", [](DownloadFaults& t) { t.Faults.FailWrite(1); }},
      {"a later write of the partial file", [](DownloadFaults& t) { t.Faults.FailWrite(5); }},
      {"a write of the record", [](DownloadFaults& t) { t.Faults.FailWrite(4); }},
      {"a short write then a failure",
       [](DownloadFaults& t) {
         t.Faults.ShortWrite(3, 100);
         t.Faults.FailWrite(4);
       }},
      // Neither the records nor the packed partial file are synced: the one sync is the
      // unpacked file's, before it takes a name.
      {"the sync of the unpacked file", [](DownloadFaults& t) { t.Faults.FailSync(1); }},
      {"the rename of the unpacked file",
       [](DownloadFaults& t) {
         t.Faults.OnRename([&t](const std::string&, const std::string& to) {
           if (to == t.Client("a.dll_tmp_tmp")) FailRenameWith(to);
         });
       }},
      {"the rename into place",
       [](DownloadFaults& t) {
         t.Faults.OnRename([&t](const std::string&, const std::string& to) {
           if (to == t.Client("a.dll")) FailRenameWith(to);
         });
       }},
      {"a full disk in the middle of the file",
       [](DownloadFaults& t) { t.Faults.SetFreeSpace(40000); }},
  };
  const Bytes content = SampleBytes(200000, 21);
  // Each case with a record saved after every block, and with none saved before the fault.
  for (int run = 0; run < 2 * static_cast<int>(std::size(kCases)); ++run) {
    const Case& c = kCases[run % std::size(kCases)];
    SecondPerBlock = run < static_cast<int>(std::size(kCases));
    SCOPED_TRACE(::testing::Message() << c.What << (SecondPerBlock ? ", saved per block" : ""));
    std::filesystem::remove_all(Client(""));
    std::filesystem::remove(Dir.Path() + "DownLoadInfo.dat");
    WriteFileBytes(Client("a.dll"), TextBytes("old"));
    Server.Add("a.dll", content);
    ASSERT_GT(Server.Files["a.dll"].Packed.size(), 3 * kPackedReceivePiece);
    c.Arm(*this);

    EXPECT_THROW(Download("a.dll"), Exception);
    Faults.Reset();
    Faults.OnlyFor([this](const std::string& path) { return path.rfind(Dir.Path(), 0) == 0; });
    EXPECT_EQ(ReadFileBytes(Client("a.dll")), TextBytes("old"));
    EXPECT_EQ(Strays({"a.dll", "a.dll_tmp"}), std::vector<std::string>{});
    ExpectConsistentRecord("a.dll");

    ASSERT_TRUE(Download("a.dll"));
    EXPECT_EQ(ReadFileBytes(Client("a.dll")), content);
    EXPECT_EQ(Strays({"a.dll"}), std::vector<std::string>{});
    EXPECT_FALSE(Record("a.dll").has_value());
  }
}

// The one folder sync comes after the rename into place: when it fails the new file is
// there, the failure is reported, and the next run finishes without a stray file.
TEST_F(DownloadFaults, AFailedFolderSyncAfterTheRenameIsReportedAndTheNextRunTidiesUp) {
  const Bytes content = SampleBytes(200000, 23);
  WriteFileBytes(Client("c.dll"), TextBytes("old"));
  Server.Add("c.dll", content);
  Faults.FailFolderSync(1);
  EXPECT_THROW(Download("c.dll"), Exception);
  Faults.Reset();
  EXPECT_EQ(ReadFileBytes(Client("c.dll")), content);
  ASSERT_TRUE(Download("c.dll"));
  EXPECT_EQ(ReadFileBytes(Client("c.dll")), content);
  EXPECT_EQ(Strays({"c.dll"}), std::vector<std::string>{});
  EXPECT_FALSE(Record("c.dll").has_value());
}

TEST_F(DownloadFaults, AFullDiskStopsWithItsOwnErrorAndTheNextRunGoesOnFromTheSavedPosition) {
  const Bytes content = SampleBytes(200000, 22);
  Server.Add("b.dll", content);
  WriteFileBytes(Client("b.dll"), TextBytes("old"));
  SecondPerBlock = true;
  for (const int error : {ENOSPC, EDQUOT}) {
    SCOPED_TRACE(error);
    std::filesystem::remove(Client("b.dll_tmp"));
    std::filesystem::remove(Dir.Path() + "DownLoadInfo.dat");
    // The disk fills during the third block: the write that reaches the limit is short,
    // every later one fails.
    Faults.SetFreeSpace(2 * static_cast<int64_t>(kPackedReceivePiece) + 5000);
    if (error == EDQUOT) {
      Faults.SetFreeSpace(std::nullopt);
      Faults.FailWrite(5, EDQUOT);  // the third block's write of the partial file
    }
    const auto raised = testing::ExpectError<EDiskFull>([&] { Download("b.dll"); },
                                                        Format(kDiskFullText, {Client("b.dll")}));
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->Path, Client("b.dll"));
    Faults.Reset();
    EXPECT_EQ(ReadFileBytes(Client("b.dll")), TextBytes("old"));
    ExpectConsistentRecord("b.dll");
    const std::optional<TResumeRecord> saved = Record("b.dll");
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->FilePos, 2 * static_cast<int32_t>(kPackedReceivePiece));

    ASSERT_TRUE(Download("b.dll"));
    EXPECT_EQ(ReadFileBytes(Client("b.dll")), content);
    EXPECT_EQ(Server.Requests().back().Args.at(2), TVariant(saved->FilePos));
    WriteFileBytes(Client("b.dll"), TextBytes("old"));
  }
}

// A file that arrives before the first save writes no record at all, not even one to erase;
// a longer one saves it once per MiB, or after every block but the last when a second passes
// with each; each saved record is erased when the file is in place.
TEST_F(DownloadFaults, TheRecordIsSavedOncePerMebibyteOrSecondAndNeverForASmallFile) {
  const std::string records = Dir.Path() + "DownLoadInfo.dat";
  Faults.OnlyFor([&](const std::string& path) { return path.rfind(records, 0) == 0; });
  std::mt19937 random(31);
  Bytes large(3 * kRecordSaveBytes + 5000);
  for (uint8_t& b : large) b = static_cast<uint8_t>(random());
  struct Case {
    const char* Name;
    Bytes Content;
    bool SecondPerBlock;
  } const kCases[] = {
      {"small.dll", SampleBytes(30000, 23), false},
      {"large.dll", large, false},
      {"slow.dll", SampleBytes(150000, 24), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    Server.Add(c.Name, c.Content);
    SecondPerBlock = c.SecondPerBlock;
    const auto packed = static_cast<int64_t>(Server.Files[c.Name].Packed.size());
    const int64_t blocks = (packed + kPackedReceivePiece - 1) / kPackedReceivePiece;
    const int64_t saves = c.SecondPerBlock ? blocks - 1 : (packed - 1) / kRecordSaveBytes;
    const FaultFileSystem::Counts before = Faults.Seen();
    ASSERT_TRUE(Download(c.Name));
    const FaultFileSystem::Counts after = Faults.Seen();
    EXPECT_EQ(ReadFileBytes(Client(c.Name)), c.Content);
    // Every save and the erase replace the record file: one rename each.
    EXPECT_EQ(after.Renames - before.Renames, saves == 0 ? 0 : saves + 1);
    if (saves == 0) {
      EXPECT_EQ(after.Opens - before.Opens, 0);
    }
    EXPECT_FALSE(Record(c.Name).has_value());
  }
}

}  // namespace
}  // namespace zor
