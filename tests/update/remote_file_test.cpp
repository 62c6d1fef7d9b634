// Single-file downloads against a scripted file server over the in-memory pipe: fresh and
// resumed transfers of both forms, the resume record, names that would leave the folder,
// servers that send too much or too little, cancelling, and a failed replace or unpack.
#include "update/remote_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "base/clock.h"
#include "platform/directories.h"
#include "platform/dos_time.h"
#include "platform/file_times.h"
#include "platform/last_error.h"
#include "platform/locale.h"
#include "support/connection_fixture.h"
#include "transport/memory_pipe_handler.h"
#include "update/cps_file.h"
#include "update/crc_register.h"
#include "update/update_notice.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ExpectError;
using testing::FakeFileLink;
using testing::FakeFileServer;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

class RemoteFileTest : public ::testing::Test {
 protected:
  // The clock stands two years after the sample files' date, which is then in the past.
  RemoteFileTest() : Lcid(kLcidEnglishUs), Scope(Clock), Link(Server) {
    Clock.Advance(std::chrono::hours(2 * 365 * 24));
  }

  template <class T = TRemoteCPSFile>
  std::unique_ptr<T> MakeFile() {
    auto file = std::make_unique<T>(&Link.Connect(), Dir.Path());
    file->OnStart = [this](const std::string& name, int32_t size, int32_t pos) {
      Events.push_back("start " + name.substr(Dir.Path().size()) + " " + std::to_string(size) +
                       " " + std::to_string(pos));
    };
    file->OnProgress = [this](const std::string&, int32_t, int32_t pos, int32_t count) {
      Blocks.push_back(count);
      LastPos = pos;
    };
    file->OnFileFinished = [this](const std::string& name) {
      Events.push_back("finished " + name.substr(Dir.Path().size()));
    };
    file->OnBeforeDownload = [this](const std::string& name) {
      Events.push_back("before " + name.substr(Dir.Path().size()));
    };
    return file;
  }

  std::string Client(const std::string& relative) const {
    return Dir.Path() + "client/" + relative;
  }
  std::optional<TResumeRecord> Record(const std::string& name) const {
    return TDownloadInfoFile(Dir.Path() + "DownLoadInfo.dat").Read(name);
  }

  ScopedLcidOverride Lcid;
  // Every pause of the connection layer (the dead-link checks after a close) is instant.
  ManualClock Clock;
  ScopedClock Scope;
  TempFolder Dir;
  FakeFileServer Server;
  FakeFileLink Link;
  std::vector<std::string> Events;
  std::vector<int32_t> Blocks;
  int32_t LastPos = 0;
};

TEST_F(RemoteFileTest, PackedDownloadUnpacksIntoTheFolderAndErasesItsRecord) {
  const Bytes content = SampleBytes(100000);
  Server.Add("bpls\\Main.bpl", content);
  auto file = MakeFile();
  std::string local;
  ASSERT_TRUE(
      file->Download("\\bpls\\Main.bpl", "Bpls", nullptr, &local, "", Dir.Path() + "client"));

  EXPECT_EQ(local, Client("bpls/Main.bpl"));
  EXPECT_EQ(ReadFileBytes(local), content);
  EXPECT_EQ(GetFileDosTime(local), static_cast<int32_t>(testing::kSampleDosTime));
  EXPECT_FALSE(FileExists(local + "_tmp"));
  EXPECT_FALSE(FileExists(local + "_tmp_tmp"));
  EXPECT_FALSE(Record("bpls\\Main.bpl").has_value());
  const int32_t packedSize = static_cast<int32_t>(Server.Files["bpls\\main.bpl"].Packed.size());
  EXPECT_EQ(Events, (std::vector<std::string>{
                        "before client/bpls/Main.bpl",
                        "start client/bpls/Main.bpl " + std::to_string(packedSize) + " 0",
                        "finished client/bpls/Main.bpl"}));
  EXPECT_EQ(LastPos, packedSize);

  // One request for the information and the data, with the name stored without its
  // backslash, and no partial copy to continue.
  const auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header.Command, cmdPackedFileFetch);
  EXPECT_EQ(requests[0].Args,
            (TVariantArray{TVariant::Wide("bpls\\Main.bpl"), TVariant("Bpls"), TVariant(0),
                           TVariant(0), TVariant(0), TVariant("ENU")}));
}

TEST_F(RemoteFileTest, UnknownFileReturnsFalseAndWritesNothing) {
  auto file = MakeFile();
  EXPECT_FALSE(
      file->Download("Nothing.dll", "Libs", nullptr, nullptr, "CHT", Dir.Path() + "client/"));
  EXPECT_FALSE(DirectoryExists(Client("")));
  EXPECT_EQ(Server.Commands(), std::vector<uint32_t>{cmdPackedFileFetch});
  EXPECT_EQ(Server.Requests()[0].Args.at(5), TVariant("CHT"));
}

TEST_F(RemoteFileTest, PlainFormCarriesRawAndCompressedBlocks) {
  // The sender's pieces: up to 1024 bytes raw, then 16384-byte pieces with a last piece of
  // up to 18432 bytes. The receiver writes what each block carries.
  struct Case {
    size_t Size;
    std::vector<int32_t> Blocks;
  } const kCases[] = {
      {1024, {1024}}, {1025, {1025}}, {18432, {18432}}, {18433, {16384, 2049}}, {0, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Size);
    const Bytes content = SampleBytes(c.Size, static_cast<uint32_t>(c.Size));
    const std::string name = "plain" + std::to_string(c.Size) + ".dat";
    Server.Add(name, content);
    Blocks.clear();
    auto file = MakeFile<TRemoteFile>();
    ASSERT_TRUE(file->Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
    EXPECT_EQ(ReadFileBytes(Client(name)), content);
    EXPECT_EQ(Blocks, c.Blocks);
    EXPECT_FALSE(Record(name).has_value());
  }
}

TEST_F(RemoteFileTest, NamesThatLeaveTheFolderAreRefusedBeforeAnyRequest) {
  const char* const kNames[] = {
      "..\\Client.exe", "bpls\\..\\..\\x.dll", "C:\\Windows\\x.dll", "\\\\server\\share\\x", "a:b",
      "//etc/passwd"};
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    auto file = MakeFile();
    ExpectError<Exception>(
        [&] { file->Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client"); },
        Format(kDownloadErrorText, {Format("Invalid file name '%s'!", {name})}));
  }
  EXPECT_TRUE(Server.Requests().empty());
  EXPECT_FALSE(DirectoryExists(Client("")));
  EXPECT_FALSE(FileExists(Dir.Path() + "Client.exe"));
}

TEST_F(RemoteFileTest, BrokenTransferResumesFromItsRecord) {
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed);
    const std::string name = packed ? "big.dll" : "big.bin";
    const Bytes content = SampleBytes(300000, 7);
    Server.Add(name, content);
    // The first connection breaks after a third of the data stream.
    Server.BreakAfter = static_cast<int64_t>(Server.Files[name].Packed.size() / 3);
    std::unique_ptr<TRemoteFile> file =
        packed ? std::unique_ptr<TRemoteFile>(MakeFile()) : MakeFile<TRemoteFile>();
    try {
      file->Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client");
      ADD_FAILURE() << "the broken transfer succeeded";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()).rfind("下载档案时发生错误 ", 0), 0u) << e.what();
    }
    const auto record = Record(name);
    ASSERT_TRUE(record.has_value());
    EXPECT_GT(record->FilePos, 0);
    const Bytes partial = ReadFileBytes(Client(name) + "_tmp");
    ASSERT_EQ(partial.size(), static_cast<size_t>(record->FilePos));
    EXPECT_EQ(record->CRC, UpdateCrcRegister(kCrcRegisterStart, partial.data(), partial.size()));
    EXPECT_FALSE(FileExists(Client(name)));

    // A new connection continues at the recorded position and credits it at the start.
    Events.clear();
    auto again = packed ? std::unique_ptr<TRemoteFile>(MakeFile()) : MakeFile<TRemoteFile>();
    ASSERT_TRUE(again->Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
    EXPECT_EQ(ReadFileBytes(Client(name)), content);
    EXPECT_FALSE(Record(name).has_value());
    const TReceivedRequest data = Server.Requests().back();
    EXPECT_EQ(data.Args.at(2), TVariant(record->FilePos));
    EXPECT_EQ(data.Args.at(3), TVariant(record->FileSize));
    EXPECT_EQ(data.Args.at(4), TVariant(record->FileAge));
    EXPECT_EQ(Server.Starts().back(), record->FilePos);
    EXPECT_EQ(Events.at(1), "start client/" + name + " " + std::to_string(record->FileSize) + " " +
                                std::to_string(record->FilePos));
  }
}

class ResumeStateTest : public RemoteFileTest {
 protected:
  // A transfer of `content` that stopped after `done` bytes of its packed form (-1: half), or
  // of its plain form.
  int32_t Interrupted(const std::string& name, const Bytes& content, int32_t done,
                      bool packed = true) {
    Server.Add(name, content);
    const Bytes& data = packed ? Server.Files[name].Packed : Server.Files[name].Plain;
    if (done < 0) done = static_cast<int32_t>(data.size() / 2);
    EXPECT_LE(static_cast<size_t>(done), data.size());
    const Bytes part(data.begin(), data.begin() + done);
    WriteFileBytes(Client(name) + "_tmp", part);
    TDownloadInfoFile(Dir.Path() + "DownLoadInfo.dat")
        .Write(name, TResumeRecord{"1.0.0.0", static_cast<int32_t>(testing::kSampleDosTime),
                                   static_cast<int32_t>(data.size()), done,
                                   UpdateCrcRegister(kCrcRegisterStart, part.data(), part.size()),
                                   Client(name) + "_tmp"});
    return done;
  }
};

// Either form, from a server with the one-trip command and from one without: a fresh download,
// one that continues a partial copy of the same file, and one whose partial copy is of the
// file the server had before (another size and date), which starts over.
TEST_F(ResumeStateTest, EachFormResumesOrStartsOverOnEitherKindOfServer) {
  enum class TPartial { None, SameFile, OlderFile };
  const Bytes content = SampleBytes(70000, 15);
  const uint32_t newerDate = testing::kSampleDosTime + (1u << 16);  // a day later
  for (const bool oneTrip : {true, false}) {
    for (const bool packed : {true, false}) {
      for (const TPartial partial : {TPartial::None, TPartial::SameFile, TPartial::OlderFile}) {
        SCOPED_TRACE(::testing::Message() << "one trip " << oneTrip << ", packed " << packed
                                          << ", partial " << static_cast<int>(partial));
        Server.KnowsOneTrip = oneTrip;
        std::filesystem::remove_all(Client(""));
        std::filesystem::remove(Dir.Path() + "DownLoadInfo.dat");
        int32_t done = 0;
        if (partial == TPartial::SameFile) {
          done = Interrupted("r.dll", content, -1, packed);
        } else {
          if (partial == TPartial::OlderFile)
            Interrupted("r.dll", SampleBytes(50000, 16), -1, packed);
          Server.Add("r.dll", content,
                     partial == TPartial::OlderFile ? newerDate : testing::kSampleDosTime);
        }
        const size_t before = Server.Requests().size();
        auto file = packed ? std::unique_ptr<TRemoteFile>(MakeFile()) : MakeFile<TRemoteFile>();
        ASSERT_TRUE(file->Download("r.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
        EXPECT_EQ(ReadFileBytes(Client("r.dll")), content);
        EXPECT_FALSE(Record("r.dll").has_value());
        EXPECT_FALSE(FileExists(Client("r.dll_tmp")));
        EXPECT_EQ(Server.Starts().back(), done);
        std::vector<uint32_t> commands;
        for (size_t i = before; i < Server.Requests().size(); ++i)
          commands.push_back(Server.Requests()[i].Header.Command);
        const std::vector<uint32_t> expected =
            oneTrip ? std::vector<uint32_t>{file->OneTripCommand()}
                    : std::vector<uint32_t>{file->OneTripCommand(), file->InfoCommand(),
                                            file->FetchCommand()};
        EXPECT_EQ(commands, expected);
      }
    }
  }
}

// Once a server answered the one-trip command as unknown, the same file object asks the
// older way straight away.
TEST_F(RemoteFileTest, AServerWithoutTheOneTripCommandIsAskedOnlyOnce) {
  Server.KnowsOneTrip = false;
  Server.Add("a.dll", SampleBytes(5000, 1));
  Server.Add("b.dll", SampleBytes(6000, 2));
  auto file = MakeFile();
  ASSERT_TRUE(file->Download("a.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  ASSERT_TRUE(file->Download("b.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_FALSE(file->Download("c.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("b.dll")), SampleBytes(6000, 2));
  EXPECT_EQ(Server.Commands(),
            (std::vector<uint32_t>{cmdPackedFileFetch, cmdPackedFileInfo, cmdPackedFileData,
                                   cmdPackedFileInfo, cmdPackedFileData, cmdPackedFileInfo}));
}

// A process killed in the middle of a transfer leaves data that may run ahead of its record
// (saved about once per MiB): the next run goes on from the record's position, which is at
// most where the data stopped, and the file arrives whole.
TEST_F(ResumeStateTest, ATransferCutOffWithoutNoticeResumesFromItsLastSave) {
  std::mt19937 random(23);
  Bytes content(3 * kRecordSaveBytes);
  for (uint8_t& b : content) b = static_cast<uint8_t>(random());
  Server.Add("k.dll", content);
  const int32_t cutAt = kRecordSaveBytes + 20 * static_cast<int32_t>(kPackedReceivePiece);
  const std::string partial = Client("k.dll_tmp");
  const std::string records = Dir.Path() + "DownLoadInfo.dat";
  // What the disk held when the data reached `cutAt`: the state a kill would leave.
  auto file = MakeFile();
  file->OnProgress = [&](const std::string&, int32_t, int32_t pos, int32_t count) {
    if (pos < cutAt || pos - count >= cutAt) return;
    std::filesystem::copy_file(partial, Dir.Path() + "cut.partial");
    std::filesystem::copy_file(records, Dir.Path() + "cut.records");
  };
  ASSERT_TRUE(file->Download("k.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  std::filesystem::remove(Client("k.dll"));
  std::filesystem::rename(Dir.Path() + "cut.partial", partial);
  std::filesystem::rename(Dir.Path() + "cut.records", records);
  const std::optional<TResumeRecord> saved = Record("k.dll");
  ASSERT_TRUE(saved.has_value());
  EXPECT_GT(saved->FilePos, 0);
  EXPECT_LE(saved->FilePos, cutAt);
  EXPECT_GE(std::filesystem::file_size(partial), static_cast<uintmax_t>(cutAt));

  auto again = MakeFile();
  ASSERT_TRUE(again->Download("k.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("k.dll")), content);
  EXPECT_EQ(Server.Starts().back(), saved->FilePos);
  EXPECT_FALSE(Record("k.dll").has_value());
}

TEST_F(ResumeStateTest, LongerTemporaryFileIsCutToTheRecordedPosition) {
  const Bytes content = SampleBytes(50000, 3);
  const int32_t done = Interrupted("a.dll", content, -1);
  Bytes longer = ReadFileBytes(Client("a.dll") + "_tmp");
  longer.resize(done + 5000, 0xAB);
  WriteFileBytes(Client("a.dll") + "_tmp", longer);
  auto file = MakeFile();
  ASSERT_TRUE(file->Download("a.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("a.dll")), content);
  EXPECT_EQ(Server.Requests().back().Args.at(2), TVariant(done));
}

// A run stopped after the file was put in place but before its partial file and record were
// cleared: the next pass finds the file current and clears them, so they do not stay for good.
TEST_F(ResumeStateTest, LeftoversOfAFileAlreadyInPlaceAreDiscarded) {
  const Bytes content = SampleBytes(30000, 6);
  Interrupted("d.dll", content, -1);
  Interrupted("e.dll", content, -1);
  WriteFileBytes(Client("d.dll"), content);
  WriteFileBytes(Client("d.dll") + "_tmp_tmp", content);
  DiscardLeftoverDownload(Dir.Path(), "d.dll", Client("d.dll"));
  EXPECT_FALSE(Record("d.dll"));
  EXPECT_FALSE(std::filesystem::exists(Client("d.dll") + "_tmp"));
  EXPECT_FALSE(std::filesystem::exists(Client("d.dll") + "_tmp_tmp"));
  EXPECT_EQ(ReadFileBytes(Client("d.dll")), content);
  // Another file's partial download is left to resume.
  EXPECT_TRUE(Record("e.dll"));
  EXPECT_TRUE(std::filesystem::exists(Client("e.dll") + "_tmp"));
}

TEST_F(ResumeStateTest, CompleteTemporaryFileIsFinishedWithoutADataRequest) {
  const Bytes content = SampleBytes(40000, 4);
  Server.Add("b.dll", content);
  Interrupted("b.dll", content, static_cast<int32_t>(Server.Files["b.dll"].Packed.size()));
  auto file = MakeFile();
  ASSERT_TRUE(file->Download("b.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("b.dll")), content);
  EXPECT_EQ(Server.Commands(), std::vector<uint32_t>{cmdPackedFileFetch});
  EXPECT_EQ(Server.Starts(), std::vector<int64_t>{});
}

TEST_F(ResumeStateTest, MismatchedRecordOrDamagedBytesRestartFromTheBeginning) {
  struct Case {
    const char* What;
    std::function<void(const std::string& tmp, TDownloadInfoFile& info)> Spoil;
  } const kCases[] = {
      {"other size",
       [](const std::string&, TDownloadInfoFile& info) {
         auto r = *info.Read("c.dll");
         r.FileSize += 1;
         info.Write("c.dll", r);
       }},
      {"other age",
       [](const std::string&, TDownloadInfoFile& info) {
         auto r = *info.Read("c.dll");
         r.FileAge += 2;
         info.Write("c.dll", r);
       }},
      {"damaged byte",
       [](const std::string& tmp, TDownloadInfoFile&) {
         Bytes b = ReadFileBytes(tmp);
         b[100] ^= 1;
         WriteFileBytes(tmp, b);
       }},
      {"no record", [](const std::string&, TDownloadInfoFile& info) { info.Erase("c.dll"); }},
      {"shorter file",
       [](const std::string& tmp, TDownloadInfoFile&) {
         Bytes b = ReadFileBytes(tmp);
         b.resize(b.size() / 2);
         WriteFileBytes(tmp, b);
       }},
      {"record of a partial file elsewhere",
       [](const std::string&, TDownloadInfoFile& info) {
         auto r = *info.Read("c.dll");
         r.File = "/elsewhere/c.dll_tmp";
         info.Write("c.dll", r);
       }},
      // The same bytes, so the record's CRC matches, but not a file this user wrote: a link
      // to a file of someone else's choosing, or a file of another user.
      {"a link to a file with the recorded bytes",
       [this](const std::string& tmp, TDownloadInfoFile&) {
         std::filesystem::rename(tmp, Dir.Path() + "planted");
         std::filesystem::create_symlink(Dir.Path() + "planted", tmp);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    const Bytes content = SampleBytes(60000, 5);
    Interrupted("c.dll", content, -1);
    TDownloadInfoFile info(Dir.Path() + "DownLoadInfo.dat");
    c.Spoil(Client("c.dll") + "_tmp", info);
    auto file = MakeFile();
    ASSERT_TRUE(file->Download("c.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
    EXPECT_EQ(ReadFileBytes(Client("c.dll")), content);
    EXPECT_EQ(Server.Starts().back(), 0);
  }
  // The planted file behind the link was never written.
  EXPECT_EQ(ReadFileBytes(Dir.Path() + "planted").size(), Server.Files["c.dll"].Packed.size() / 2);
}

TEST_F(ResumeStateTest, APartialFileOfAnotherUserIsDiscardedEvenWhenItsBytesMatch) {
  if (geteuid() != 0) GTEST_SKIP() << "Skipped: only root can give a file to another user.";
  const Bytes content = SampleBytes(60000, 5);
  Interrupted("f.dll", content, -1);
  ASSERT_EQ(chown(Client("f.dll_tmp").c_str(), 65534, 65534), 0);
  auto file = MakeFile();
  ASSERT_TRUE(file->Download("f.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("f.dll")), content);
  EXPECT_EQ(Server.Starts().back(), 0);
  struct stat info {};
  ASSERT_EQ(stat(Client("f.dll").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, geteuid());
}

TEST_F(ResumeStateTest, LinksAtTheTemporaryNamesAreNeverFollowedAndOwnFilesStayPrivate) {
  const Bytes content = SampleBytes(400000, 6);
  Server.Add("d.dll", content);
  const std::string victim = Dir.Path() + "victim";
  WriteFileBytes(victim, Bytes{'k', 'e', 'e', 'p'});
  std::filesystem::create_directories(Client(""));
  for (const std::string& name :
       {Client("d.dll_tmp"), Client("d.dll_tmp_tmp"), Dir.Path() + "DownLoadInfo.dat",
        Dir.Path() + "DownLoadInfo.dat.new"}) {
    std::filesystem::create_symlink(victim, name);
  }
  auto file = MakeFile();
  // A second passes at the start and with every block, so the record is saved at each.
  file->OnStart = [this](const std::string&, int32_t, int32_t) {
    Clock.Advance(std::chrono::seconds(1));
  };
  file->OnProgress = [this](const std::string&, int32_t, int32_t, int32_t) {
    Clock.Advance(std::chrono::seconds(1));
  };
  ASSERT_TRUE(file->Download("d.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("d.dll")), content);
  EXPECT_EQ(ReadFileBytes(victim), (Bytes{'k', 'e', 'e', 'p'}));
  const auto records = std::filesystem::symlink_status(Dir.Path() + "DownLoadInfo.dat");
  EXPECT_EQ(records.type(), std::filesystem::file_type::regular);
  EXPECT_EQ(records.permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ResumeStateTest, APartialFileStaysReadableByItsOwnerAlone) {
  Server.Add("e.dll", SampleBytes(80000, 7));
  Server.BreakAfter = 30000;
  auto file = MakeFile();
  EXPECT_THROW(file->Download("e.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"),
               Exception);
  EXPECT_EQ(std::filesystem::status(Client("e.dll_tmp")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_TRUE(Record("e.dll").has_value());
  EXPECT_EQ(Record("e.dll")->File, Client("e.dll_tmp"));
}

TEST_F(RemoteFileTest, AServerDateMoreThanADayAheadIsNotStored) {
  std::vector<std::string> notices;
  const TUpdateNoticeSink previous =
      SetUpdateNoticeSink([&](const std::string& text) { notices.push_back(text); });
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(Clock.UtcNow().time_since_epoch()).count();
  struct Case {
    const char* Name;
    uint32_t DosTime;
    bool Stored;
  } const kCases[] = {
      {"far.dll", UnixTimeToDosDateTime(4354819198), false},       // 2107-12-31
      {"day.dll", UnixTimeToDosDateTime(now + 86400 + 2), false},  // just past a day ahead
      {"near.dll", UnixTimeToDosDateTime(now + 86400 - 2), true},  // within the day
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    Server.Add(c.Name, SampleBytes(3000, 8), c.DosTime);
    auto file = MakeFile();
    ASSERT_TRUE(file->Download(c.Name, "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
    EXPECT_EQ(GetFileDosTime(Client(c.Name)) == static_cast<int32_t>(c.DosTime), c.Stored);
  }
  SetUpdateNoticeSink(previous);
  ASSERT_EQ(notices.size(), 4u);  // the packed file and the unpacked one, for each refused date
  EXPECT_EQ(
      notices[1],
      "The server dated " + Client("far.dll") +
          "_tmp_tmp 2107-12-31 23:59:58 UTC, more than a day ahead of this computer's clock; the "
          "file keeps the time it was written.");
}

TEST_F(RemoteFileTest, ServerThatSendsMoreOrLessThanAskedIsRefused) {
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed);
    const Bytes content = SampleBytes(30000, 9);
    Server.Add("d.dll", content);
    Server.CountDelta = 5;
    auto file = packed ? std::unique_ptr<TRemoteFile>(MakeFile()) : MakeFile<TRemoteFile>();
    const int32_t size =
        static_cast<int32_t>(packed ? Server.Files["d.dll"].Packed.size() : content.size());
    const std::string tooLong =
        packed
            ? Format(kTransferTooLongText, {size + 5, "d.dll", size})
            : Format("The data stream of %u bytes exceeds the limit of %u bytes", {size + 5, size});
    ExpectError<Exception>(
        [&] { file->Download("d.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"); },
        Format(kDownloadErrorText, {tooLong}));
    EXPECT_FALSE(FileExists(Client("d.dll")));
  }
  // A server that announces fewer bytes than the file has: the target is not replaced.
  WriteFileBytes(Client("e.dll"), testing::TextBytes("old"));
  Server.Add("e.dll", SampleBytes(30000, 10));
  Server.CountDelta = -100;
  auto file = MakeFile();
  const int32_t size = static_cast<int32_t>(Server.Files["e.dll"].Packed.size());
  ExpectError<Exception>(
      [&] { file->Download("e.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"); },
      Format(kDownloadErrorText, {Format(kIncompleteTransferText, {size - 100, size, "e.dll"})}));
  EXPECT_EQ(ReadFileBytes(Client("e.dll")), testing::TextBytes("old"));
  EXPECT_EQ(Record("e.dll")->FilePos, size - 100);
}

TEST_F(RemoteFileTest, DamagedPackedFileKeepsTheOldTargetAndDropsTheTransfer) {
  Server.Add("f.dll", SampleBytes(20000, 11));
  Server.Files["f.dll"].Packed =
      testing::PackBytes(SampleBytes(20000, 11), testing::kSampleDosTime, {.CutStream = 9});
  WriteFileBytes(Client("f.dll"), testing::TextBytes("old"));
  auto file = MakeFile();
  ExpectError<Exception>(
      [&] { file->Download("f.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"); },
      Format(kDownloadErrorText, {Format(kInvalidPackedFileText, {Client("f.dll_tmp")})}));
  EXPECT_EQ(ReadFileBytes(Client("f.dll")), testing::TextBytes("old"));
  EXPECT_FALSE(FileExists(Client("f.dll_tmp")));
  EXPECT_FALSE(FileExists(Client("f.dll_tmp_tmp")));
  EXPECT_FALSE(Record("f.dll").has_value());
}

TEST_F(RemoteFileTest, FailedReplaceKeepsTheCompleteTransferForTheNextRun) {
  const Bytes content = SampleBytes(20000, 12);
  Server.Add("g.dll", content);
  std::filesystem::create_directories(Client("g.dll/inside"));  // a folder where the file goes
  auto file = MakeFile();
  ExpectError<Exception>(
      [&] { file->Download("g.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"); },
      Format(kDownloadErrorText, {SystemErrorMessage(static_cast<uint32_t>(
                                     std::make_error_code(std::errc::is_a_directory).value()))}));
  EXPECT_TRUE(FileExists(Client("g.dll_tmp")));
  EXPECT_FALSE(FileExists(Client("g.dll_tmp_tmp")));
  ASSERT_TRUE(Record("g.dll").has_value());

  std::filesystem::remove_all(Client("g.dll"));
  const size_t streams = Server.Starts().size();
  auto again = MakeFile();
  ASSERT_TRUE(again->Download("g.dll", "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
  EXPECT_EQ(ReadFileBytes(Client("g.dll")), content);
  EXPECT_EQ(Server.Starts().size(), streams);  // finished from the disk alone
}

TEST_F(RemoteFileTest, CancelStopsAtTheNextBlockAndKeepsTheRecord) {
  const Bytes content = SampleBytes(200000, 13);
  Server.Add("h.dll", content);
  TCancelFlag cancel{0};
  auto file = MakeFile();
  file->OnProgress = [&](const std::string&, int32_t, int32_t, int32_t) { cancel = -1; };
  EXPECT_TRUE(file->Download("h.dll", "Libs", &cancel, nullptr, "", Dir.Path() + "client"));
  EXPECT_FALSE(FileExists(Client("h.dll")));
  EXPECT_EQ(Record("h.dll")->FilePos, static_cast<int32_t>(kPackedReceivePiece));
  // The connection still held unread data, so it was closed.
  EXPECT_FALSE(Link.Client->Connected());
}

// Both forms arrive whole when the server's pipe end moves at most one byte per write, so
// every reply header and block header reaches the client in pieces.
TEST_F(RemoteFileTest, ServerWritesSplitIntoSingleBytesStillDownloadWhole) {
  Server.WriteLimit = 1;
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed);
    const std::string name = packed ? "split.dll" : "split.bin";
    const Bytes content = SampleBytes(20000, 3);
    Server.Add(name, content);
    std::unique_ptr<TRemoteFile> file =
        packed ? std::unique_ptr<TRemoteFile>(MakeFile()) : MakeFile<TRemoteFile>();
    ASSERT_TRUE(file->Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client"));
    EXPECT_EQ(ReadFileBytes(Client(name)), content);
    EXPECT_FALSE(Record(name).has_value());
  }
}

// A read error in the middle of the data stream ends the download with that error: no
// installed file, and a resume record that covers exactly the bytes that arrived intact.
TEST_F(RemoteFileTest, AReadErrorMidPayloadFailsTheDownloadAndKeepsOnlyWhatArrived) {
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed);
    const std::string name = packed ? "fault.dll" : "fault.bin";
    const Bytes content = SampleBytes(300000, 9);
    Server.Add(name, content);
    const size_t streamSize = Server.Files[name].Packed.size();
    Server.PauseAfter = static_cast<int64_t>(streamSize / 2);
    std::unique_ptr<TRemoteFile> file =
        packed ? std::unique_ptr<TRemoteFile>(MakeFile()) : MakeFile<TRemoteFile>();
    auto* end = dynamic_cast<TMemoryPipeHandler*>(Link.Client->Handler());
    ASSERT_NE(end, nullptr);
    // The client waits for more only once it has read all the server sent before pausing.
    bool injected = false;
    end->OnIdle = [&](TIcIOHandler&) {
      if (injected || !Server.Paused() || end->DataAvailable()) return;
      end->InjectReadError({"disk says no", 5, false});
      injected = true;
      Server.Resume();
    };
    try {
      file->Download(name, "Libs", nullptr, nullptr, "", Dir.Path() + "client");
      ADD_FAILURE() << "the download succeeded";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message.rfind("下载档案时发生错误 ", 0), 0u) << e.Message;
      EXPECT_NE(e.Message.find("disk says no"), std::string::npos) << e.Message;
    }
    Server.Resume();
    EXPECT_TRUE(injected);
    EXPECT_FALSE(FileExists(Client(name)));
    const auto record = Record(name);
    ASSERT_TRUE(record.has_value());
    EXPECT_GT(record->FilePos, 0);
    EXPECT_LT(record->FilePos, record->FileSize);
    const Bytes partial = ReadFileBytes(Client(name) + "_tmp");
    ASSERT_EQ(partial.size(), static_cast<size_t>(record->FilePos));
    EXPECT_EQ(record->CRC, UpdateCrcRegister(kCrcRegisterStart, partial.data(), partial.size()));
  }
}

TEST(TransferHelpers, DefaultLanguageTagFollowsTheSystemLocale) {
  struct Case {
    uint32_t Lcid;
    const char* Tag;
  } const kCases[] = {
      {kLcidEnglishUs, "ENU"}, {kLcidChineseTaiwan, "CHT"}, {kLcidChineseChina, "CHS"}};
  for (const Case& c : kCases) {
    ScopedLcidOverride lcid(c.Lcid);
    EXPECT_EQ(DefaultLanguageTag(), c.Tag);
  }
}

}  // namespace
}  // namespace zor
