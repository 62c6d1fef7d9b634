// The download client against the real file service on a loopback port: a release folder is
// listed and fetched into a client folder byte for byte, with the files' times, and a
// transfer broken in the middle resumes on the next attempt instead of starting again.
#include <gtest/gtest.h>

#include <set>

#include "intercom/client_connection_ex.h"
#include "intercom/connect_strings.h"
#include "intercom/default_connection.h"
#include "intercom/scrambling.h"
#include "platform/directories.h"
#include "platform/fault_file_system.h"
#include "platform/file_times.h"
#include "platform/locale.h"
#include "support/expect_error.h"
#include "support/live_server.h"
#include "update/download_client.h"
#include "update/download_jobs.h"
#include "update/download_progress.h"
#include "update/download_settings.h"
#include "update/server_file_list.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

class FileServiceEndToEnd : public ::testing::Test {
 protected:
  FileServiceEndToEnd() : Lcid(kLcidEnglishUs), Saved(GetDownloadSettings()) {
    WriteFileBytes((Server.Release / "Client.exe").string(), SampleBytes(400000, 21));
    WriteFileBytes((Server.Release / "bpls/Main.bpl").string(), SampleBytes(120000, 22));
    WriteFileBytes((Server.Release / "ZORSys.ini").string(),
                   testing::TextBytes("[System]\r\nMainExe=IClient\r\n"));
    Server.Start();
    TDownloadSettings settings = Saved;
    settings.InstallDir = Client.Path();
    SetDownloadSettings(settings);
    SetDownloadConnector([this]() -> std::unique_ptr<TIcConnection> {
      ++Connects;
      auto connection = std::make_unique<TClientConnectionEx>(DefaultEncrypt, kDefaultScrambleKey,
                                                              DefaultDecrypt);
      connection->Connect(GetHandlerClass(TTransportKind::Tcp),
                          ComposeHostString(false, "127.0.0.1", Server.Port));
      return connection;
    });
    ResetDownloadClient();
  }
  ~FileServiceEndToEnd() override {
    ResetDownloadClient();
    SetDownloadConnector(nullptr);
    SetDownloadSettings(Saved);
  }

  std::string ReleaseFile(const std::string& relative) const {
    return (Server.Release / relative).string();
  }

  ScopedLcidOverride Lcid;
  testing::LiveServer Server;
  TempFolder Client;
  TDownloadSettings Saved;
  std::atomic<int> Connects{0};
};

TEST_F(FileServiceEndToEnd, ReleaseFolderArrivesByteForByteWithItsTimes) {
  std::string list, second;
  ASSERT_TRUE(GetServerFileList(GetDownloadClient(), list, second));
  std::vector<std::string> names;
  for (const TServerFileEntry& entry : ParseServerFileList(list)) names.push_back(entry.Name);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"Client.exe", "bpls\\Main.bpl", "ZORSys.ini"}));

  TDownLoadExecutor executor;
  executor.Run(names);
  for (const char* relative : {"Client.exe", "bpls/Main.bpl", "ZORSys.ini"}) {
    SCOPED_TRACE(relative);
    EXPECT_EQ(ReadFileBytes(Client.Path() + relative), ReadFileBytes(ReleaseFile(relative)));
    EXPECT_EQ(GetFileDosTime(Client.Path() + relative), GetFileDosTime(ReleaseFile(relative)));
    EXPECT_FALSE(FileExists(Client.Path() + relative + "_tmp"));
  }
  EXPECT_FALSE(
      TDownloadInfoFile(Client.Path() + "DownLoadInfo.dat").Read("Client.exe").has_value());
}

TEST_F(FileServiceEndToEnd, BrokenTransferResumesOnTheNextAttempt) {
  int32_t age = 0, packedSize = 0;
  std::string version;
  ASSERT_TRUE(
      GetRemoteFileInfo(GetDownloadClient(), "Client.exe", "Libs", age, packedSize, version));

  TDownloadFileClient client;
  TDownLoadJob job(&client, "Client.exe", "Libs", "");
  int64_t credited = 0;
  bool broken = false;
  job.OnProgressHook = [&](const std::string&, int32_t, int32_t, int32_t count) {
    credited += count;
    if (!broken) {
      broken = true;  // the network goes away after the first block
      client.GetConnection()->Handler()->Close();
    }
  };
  const int before = Connects;
  ASSERT_TRUE(job.Run());
  EXPECT_EQ(Connects - before, 2);
  // Resumed, not restarted: every byte of the packed file was written once.
  EXPECT_EQ(credited, packedSize);
  EXPECT_EQ(ReadFileBytes(Client.Path() + "Client.exe"), ReadFileBytes(ReleaseFile("Client.exe")));
}

// A pack the cache cannot write whole (a failing write, sync or rename of the cache's disk)
// fails the request with an error reply that says why; nothing half written stays in the
// cache, and the next request packs the file again and serves it whole.
TEST_F(FileServiceEndToEnd, AFailingPackCacheFailsTheRequestAndTheNextOneRepacks) {
  struct Case {
    const char* What;
    std::function<void(FaultFileSystem&)> Arm;
    // The reply's message begins with `Reason` and names the failed call (`Cause`); the
    // paths between are of the cache's temporary names.
    const char* Reason;
    const char* Cause;
  } const kCases[] = {
      {"a write", [](FaultFileSystem& f) { f.FailWrite(1); }, "Cannot write the packed file ",
       ": Cannot write \""},
      {"a full disk", [](FaultFileSystem& f) { f.SetFreeSpace(1000); },
       "Cannot write the packed file ", "No space left on device"},
      {"the packed file's sync", [](FaultFileSystem& f) { f.FailSync(1); },
       "Cannot write the packed file ", ": Cannot sync \""},
      {"the side record's rename", [](FaultFileSystem& f) { f.FailRename(1); }, "Cannot store ",
       ": Cannot rename \""},
      {"the packed file's rename", [](FaultFileSystem& f) { f.FailRename(2); },
       "Cannot store the packed file ", ": Cannot rename \""},
  };
  const std::string cache = Server.Files->Packs().Folder().string();
  uint32_t seed = 100;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    // A new version of the file, so that it is packed now.
    const Bytes content = SampleBytes(400000, ++seed);
    WriteFileBytes(ReleaseFile("Client.exe"), content);
    Server.Files->Release().Rescan();
    int32_t age = 0, packedSize = 0;
    std::string version;
    {
      FaultFileSystem faults;
      ScopedFileSystem use(faults);
      faults.OnlyFor([&](const std::string& path) { return path.rfind(cache, 0) == 0; });
      c.Arm(faults);
      const auto error = testing::Catch([&] {
        GetRemoteFileInfo(GetDownloadClient(), "Client.exe", "Libs", age, packedSize, version);
      });
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->Message.rfind(c.Reason, 0), 0u) << error->Message;
      EXPECT_NE(error->Message.find(c.Cause), std::string::npos) << error->Message;
    }
    for (const auto& entry : std::filesystem::directory_iterator(cache)) {
      const std::string name = entry.path().filename().string();
      EXPECT_FALSE(name.ends_with(".tmp")) << name;
    }
    ASSERT_TRUE(
        GetRemoteFileInfo(GetDownloadClient(), "Client.exe", "Libs", age, packedSize, version));
    TDownLoadExecutor executor;
    executor.Run({"Client.exe"});
    EXPECT_EQ(ReadFileBytes(Client.Path() + "Client.exe"), content);
  }
}

}  // namespace
}  // namespace zor
