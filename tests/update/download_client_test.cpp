// The download client, jobs and executor against scripted file servers: the file commands,
// area folders, companion files, retries on fresh connections, progress credits and the
// executor's job count and failure report.
#include "update/download_client.h"

#include <gtest/gtest.h>

#include "base/clock.h"
#include "platform/directories.h"
#include "platform/locale.h"
#include "support/connection_fixture.h"
#include "update/download_jobs.h"
#include "update/download_progress.h"
#include "update/download_settings.h"
#include "update/list_entry_fault.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ExpectError;
using testing::FakeConnector;
using testing::FakeFileServer;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

class DownloadClientTest : public ::testing::Test {
 protected:
  DownloadClientTest()
      : Lcid(kLcidEnglishUs), Scope(Clock), Saved(GetDownloadSettings()), Connector(Server) {
    TDownloadSettings settings = Saved;
    settings.InstallDir = Dir.Path();
    settings.HelpFolder = Dir.Path() + "helpbase/";
    settings.DataFolder = Dir.Path() + "data/";
    SetDownloadSettings(settings);
    ResetDownloadClient();
    DownloadedBytes() = 0;
    Clock.Advance(std::chrono::hours(2 * 365 * 24));  // the sample files' date lies behind
  }
  ~DownloadClientTest() override { SetDownloadSettings(Saved); }

  int32_t PackedSize(const std::string& name) {
    return static_cast<int32_t>(Server.Files[LowerAscii(name)].Packed.size());
  }

  ScopedLcidOverride Lcid;
  ManualClock Clock;
  ScopedClock Scope;
  TempFolder Dir;
  TDownloadSettings Saved;
  FakeFileServer Server;
  FakeConnector Connector;
};

TEST_F(DownloadClientTest, FileListAndSingleFileInformation) {
  Server.FileList = "Client.exe=1.0.0.1,1,2";
  Server.Second = "second";
  Server.Add("Client.exe", SampleBytes(1000));
  TDownloadFileClient client;
  std::string list, second;
  ASSERT_TRUE(GetServerFileList(client, list, second));
  EXPECT_EQ(list, "Client.exe=1.0.0.1,1,2");
  EXPECT_EQ(second, "second");

  int32_t age = 0, size = 0;
  std::string version;
  ASSERT_TRUE(GetRemoteFileInfo(client, "Client.exe", "Libs", age, size, version));
  EXPECT_EQ(version, "1.0.0.0");
  EXPECT_EQ(size, PackedSize("Client.exe"));
  EXPECT_EQ(age, static_cast<int32_t>(testing::kSampleDosTime));
  EXPECT_FALSE(GetRemoteFileInfo(client, "Missing.dll", "Libs", age, size, version));
  const auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Header.Command, cmdFileList);
  EXPECT_TRUE(requests[0].Args.empty());
  EXPECT_EQ(requests[1].Header.Command, cmdPackedFileInfo);
  EXPECT_EQ(requests[1].Args, (TVariantArray{TVariant::Wide("Client.exe"), TVariant("Libs"),
                                             TVariant("ENU"), TVariant(0)}));
  EXPECT_EQ(Connector.Connects, 1);  // one connection serves every request while it lives
}

TEST_F(DownloadClientTest, FileListFailureIsASystemError) {
  Connector.RefuseNext = 1;
  TDownloadFileClient client;
  std::string list, second;
  ExpectError<EZORException>([&] { GetServerFileList(client, list, second); },
                             "下载版本信息时发生错误 connect refused 1");
}

TEST_F(DownloadClientTest, AreasMapToFoldersBelowTheInstallFolder) {
  struct Case {
    const char* Area;
    std::string Folder;
  } const kCases[] = {
      {".", Dir.Path()},
      {"Bpls", Dir.Path() + "bpls/"},
      {"LIBS", Dir.Path()},
      {"Graphs", Dir.Path() + "Graphs/"},
      {"sunrpt", Dir.Path() + "SunRpt/"},
      {"Defines", Dir.Path() + "Defines/"},
      {"Help", Dir.Path() + "helpbase/Help/"},
      {"Coms", Dir.Path() + "Coms/"},
      {"DefRpt", Dir.Path() + "DefRpt/"},
      {"Upgrade", Dir.Path()},
      {"Special\\help", Dir.Path() + "Special/Help/"},
      {"BIETL", Dir.Path() + "BIETL/"},
      {"Special\\BIETL", Dir.Path() + "Special/BIETL/"},
      {"LangDll", Dir.Path()},
      {"Other", Dir.Path()},
  };
  for (const Case& c : kCases) EXPECT_EQ(AreaLocalFolder(c.Area), c.Folder) << c.Area;
}

TEST_F(DownloadClientTest, NameListIsFetchedInOrderAndFoundWhenAnyIs) {
  Server.Add("b.bpl", SampleBytes(5000, 2));
  TDownloadFileClient client;
  EXPECT_TRUE(DownloadFiles(client, "a.bpl,b.bpl", "Bpls", ""));
  EXPECT_EQ(ReadFileBytes(Dir.Path() + "bpls/b.bpl"), SampleBytes(5000, 2));
  EXPECT_EQ(client.LastFile, Dir.Path() + "bpls/b.bpl");
  const auto requests = Server.Requests();
  EXPECT_EQ(requests.front().Args.at(0), TVariant::Wide("a.bpl"));
  EXPECT_EQ(requests.back().Args.at(0), TVariant::Wide("b.bpl"));
  EXPECT_FALSE(DownloadFiles(client, "a.bpl", "Bpls", Dir.Path() + "elsewhere"));
  EXPECT_FALSE(DownloadFiles(client, "", "Bpls", ""));
}

TEST_F(DownloadClientTest, TraditionalScriptSystemsAlsoFetchTheCompanion) {
  struct Case {
    uint32_t Lcid;
    const char* Area;
    const char* Companion;  // the file that stays, or "" when none is fetched
  } const kCases[] = {
      {kLcidChineseHongKong, "Libs", "x.ZHH"},
      {kLcidChineseTaiwan, "Bpls", "x.CHT"},
      {kLcidChineseTaiwan, "Graphs", ""},
      {kLcidChineseChina, "Libs", ""},
  };
  Server.Add("x.dll", SampleBytes(3000, 3));
  Server.Add("x.CHT", SampleBytes(2000, 4));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Lcid);
    ScopedLcidOverride lcid(c.Lcid);
    TempFolder target;
    TDownloadFileClient client;
    ASSERT_TRUE(DownloadFiles(client, "x.dll", c.Area, target.Path()));
    EXPECT_TRUE(FileExists(target.Path() + "x.dll"));
    EXPECT_EQ(FileExists(target.Path() + "x.CHT"), std::string(c.Companion) == "x.CHT");
    EXPECT_EQ(FileExists(target.Path() + "x.ZHH"), std::string(c.Companion) == "x.ZHH");
    if (*c.Companion) {
      EXPECT_EQ(ReadFileBytes(target.Path() + c.Companion), SampleBytes(2000, 4));
      EXPECT_EQ(Server.Requests().back().Args.at(1), TVariant("LangDll"));
    }
  }
}

TEST_F(DownloadClientTest, JobReusesALiveConnectionRetriesOnFreshOnesAndTheFifthFailureCounts) {
  Server.Add("r.dll", SampleBytes(4000, 5));
  TDownloadFileClient client;
  Connector.RefuseNext = 4;
  TDownLoadJob job(&client, "r.dll", "Libs", Dir.Path() + "jobs");
  EXPECT_TRUE(job.Run());
  EXPECT_EQ(Connector.Connects, 5);
  EXPECT_TRUE(FileExists(Dir.Path() + "jobs/r.dll"));

  // The connection that is still up carries the next fetch.
  EXPECT_TRUE(job.Run());
  EXPECT_EQ(Connector.Connects, 5);

  client.DisconnectQuietly();
  Connector.RefuseNext = 5;
  ExpectError<Exception>([&] { job.Run(); }, "connect refused 10");
}

TEST_F(DownloadClientTest, ResumedRetryCreditsEveryByteOnce) {
  Server.Add("big.dll", SampleBytes(200000, 6));
  Server.BreakAfter = PackedSize("big.dll") / 3;
  TDownloadFileClient client;
  TDownLoadJob job(&client, "big.dll", "Libs", Dir.Path());
  job.OnStartHook = CreditStart;
  job.OnProgressHook = CreditProgress;
  EXPECT_TRUE(job.Run());
  EXPECT_EQ(ReadFileBytes(Dir.Path() + "big.dll"), SampleBytes(200000, 6));
  EXPECT_EQ(Connector.Connects, 2);  // the second attempt resumed
  EXPECT_EQ(DownloadedBytes().load(), PackedSize("big.dll"));
  // The start credit is attached again for the next run.
  EXPECT_TRUE(job.Client->Events.OnStart != nullptr);
}

TEST_F(DownloadClientTest, StartCreditCountsResumedBytesExceptForCompanions) {
  DownloadedBytes() = 0;
  CreditStart("/x/a.dll", 1000000, 400000);
  CreditProgress("/x/a.dll", 1000000, 416384, 16384);
  CreditStart("/x/a.CHT", 1000, 500);
  CreditProgress("/x/a.cht", 1000, 600, 100);
  CreditProgress("/x/FR_Zor.cht", 1000, 100, 100);
  EXPECT_EQ(DownloadedBytes().load(), 400000 + 16384 + 100);
}

TEST_F(DownloadClientTest, ExecutorRunsOneJobPerFileUpToItsLimitAndTheTransferCapacity) {
  struct Case {
    std::vector<std::string> Names;
    int Jobs;
  } const kCases[] = {
      {{"e1.dll"}, 1},
      {{"e1.dll", "e2.dll"}, 2},
      {{"e1.dll", "e2.dll", "e3.dll", "e4.dll", "e5.dll", "e6.dll"}, kMaxDownloadJobs},
  };
  int64_t total = 0;
  for (const char* name : {"e1.dll", "e2.dll", "e3.dll", "e4.dll", "e5.dll", "e6.dll"})
    Server.Add(name, SampleBytes(30000, name[1]));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Names.size());
    for (const std::string& name : c.Names) std::filesystem::remove(Dir.Path() + name);
    TDownLoadExecutor executor;
    EXPECT_EQ(executor.Run(c.Names), c.Jobs);
    total = 0;
    for (const std::string& name : c.Names) {
      EXPECT_EQ(ReadFileBytes(Dir.Path() + name), SampleBytes(30000, name[1]));
      total += PackedSize(name);
    }
    EXPECT_EQ(DownloadedBytes().load(), total);
  }
}

TEST_F(DownloadClientTest, ExecutorReportsTheFailedJobAfterAllHaveEnded) {
  Server.Add("ok.dll", SampleBytes(1000, 8));
  TDownLoadExecutor executor;
  ExpectError<Exception>(
      [&] {
        executor.Run({"..\\bad.dll", "ok.dll"});
      },
      "下载档案时发生错误 Invalid file name '..\\bad.dll'!");
  EXPECT_EQ(executor.ActiveJobs.load(), 0);
  EXPECT_TRUE(executor.Cancelled);
}

TEST_F(DownloadClientTest, ExecutorFailsWhenTheServerDoesNotSendAListedFile) {
  Server.Add("ok.dll", SampleBytes(1000, 8));
  TDownLoadExecutor executor;
  const auto error = ExpectError<EListEntryFault>(
      [&] {
        executor.Run({"报表.dat", "ok.dll"});
      },
      "The server lists the file 报表.dat but does not send it. The update stopped and the old "
      "files were kept; tell the administrator of the application server.");
  EXPECT_EQ(error->Name, "报表.dat");
  EXPECT_EQ(error->Fault, TListEntryFault::NotServed);
  EXPECT_EQ(executor.ActiveJobs.load(), 0);
}

TEST_F(DownloadClientTest, DownloadOneDeletesTheLocalCopyFirst) {
  WriteFileBytes(Dir.Path() + "conf/ZORSys.ini", testing::TextBytes("old"));
  TDownloadFileClient client;
  EXPECT_FALSE(DownloadOne(client, "ZORSys.ini", ".", true, Dir.Path() + "conf/"));
  EXPECT_FALSE(FileExists(Dir.Path() + "conf/ZORSys.ini"));
  Server.Add("ZORSys.ini", testing::TextBytes("[System]\r\nMainExe=IClient\r\n"));
  EXPECT_TRUE(DownloadOne(client, "ZORSys.ini", ".", true, Dir.Path() + "conf/"));
  EXPECT_EQ(ReadFileBytes(Dir.Path() + "conf/ZORSys.ini"),
            testing::TextBytes("[System]\r\nMainExe=IClient\r\n"));
}

}  // namespace
}  // namespace zor
