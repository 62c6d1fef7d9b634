// The launcher's own classes against the server: its connection opens the session, its
// file-list parser reads the list, and its packed-form download fetches every file, with
// progress that adds up to the list's total, and resumes after a server restart.
#include <gtest/gtest.h>

#include <random>

#include "intercom/client_connection.h"
#include "pe_version_writer.h"
#include "platform/file_times.h"
#include "support/file_contents.h"
#include "support/live_server.h"
#include "support/unpack_bytes.h"
#include "update/remote_file.h"
#include "update/server_file_list.h"

namespace zor {
namespace {

std::string Content(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i % 3 == 0 ? random() : (i >> 10));
  return data;
}

std::unique_ptr<TIcClientConnection> Connect(uint16_t port) {
  auto connection =
      std::make_unique<TIcClientConnection>(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  connection->Connect(
      [](const std::string& text, int32_t, int32_t) { return std::make_unique<TTCPHandler>(text); },
      "Host=127.0.0.1:" + std::to_string(port));
  return connection;
}

std::vector<TServerFileEntry> ServerList(TIcClientConnection& connection) {
  connection.SendCommand(cmdFileList);
  return ParseServerFileList(connection.WaitResult(true)[0].Text());
}

struct LauncherFixture : ::testing::Test {
  LauncherFixture() {
    Files = {{"Client.exe", BuildPeWithVersion(7, 1, 3, 4)},
             {"bpls/Main.bpl", Content(700'000, 1)},
             {"Graphs/logo.bmp", Content(20'000, 2)},
             {"ZORSys.ini", "[System]\r\nMainExe=IClient.exe\r\n"}};
    for (const auto& [name, content] : Files) Live->Folder.WriteFile("release/" + name, content);
    Client = Live->Folder.Dir() / "client";
    std::filesystem::create_directories(Client);
    Live->Start();
  }

  std::unique_ptr<testing::LiveServer> Live = std::make_unique<testing::LiveServer>();
  std::vector<std::pair<std::string, std::string>> Files;
  std::filesystem::path Client;
};

TEST_F(LauncherFixture,
       TheLaunchersClassesFetchTheWholeReleaseWithProgressAddingUpToTheListsTotal) {
  auto connection = Connect(Live->Port);
  EXPECT_TRUE(connection->HasServerOption("EnhancedEncrypt"));
  EXPECT_EQ(connection->ServerText, "test server");
  const std::vector<TServerFileEntry> list = ServerList(*connection);
  ASSERT_EQ(list.size(), Files.size());
  int64_t total = 0, credited = 0;
  for (const TServerFileEntry& entry : list) total += entry.FileSize;

  TRemoteCPSFile remote(connection.get(), Client.string());
  TRemoteFileEvents events;
  events.OnStart = [&](const std::string&, int32_t, int32_t pos) { credited += pos; };
  events.OnProgress = [&](const std::string&, int32_t, int32_t, int32_t count) {
    credited += count;
  };
  remote.SetEvents(events);
  for (const TServerFileEntry& entry : list) {
    std::string local;
    ASSERT_TRUE(remote.Download(entry.Name, "libs", nullptr, &local, "CHS", Client.string()))
        << entry.Name;
    EXPECT_EQ(GetFileDosTime(local), entry.FileAge) << entry.Name;
  }
  EXPECT_EQ(credited, total);
  for (const auto& [name, content] : Files)
    EXPECT_EQ(testing::ReadAll(Client / name), content) << name;
  const auto exe =
      std::find_if(list.begin(), list.end(), [](const auto& e) { return e.Name == "Client.exe"; });
  ASSERT_NE(exe, list.end());
  EXPECT_EQ(exe->Version, "7.1.3.4");
}

TEST_F(LauncherFixture, ADownloadCutByAServerRestartResumesAndEndsByteExact) {
  const std::string name = "bpls\\Main.bpl";
  TCancelFlag cancel = 0;
  int32_t resumedAt = -1;
  {
    auto connection = Connect(Live->Port);
    TRemoteCPSFile remote(connection.get(), Client.string());
    TRemoteFileEvents events;
    events.OnProgress = [&](const std::string&, int32_t, int32_t pos, int32_t) {
      if (pos >= 100'000) cancel = 1;  // the transfer stops here, as a broken one would
    };
    remote.SetEvents(events);
    std::string local;
    ASSERT_TRUE(remote.Download(name, "libs", &cancel, &local, "CHS", Client.string()));
    EXPECT_TRUE(std::filesystem::exists(local + "_tmp"));
    EXPECT_FALSE(std::filesystem::exists(local));
  }
  // A new server process over the same release and pack cache.
  const std::filesystem::path keep = Live->Folder.Dir();
  Live->Stop();
  testing::LiveServer restarted;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Live->Release)) {
    const auto target = restarted.Release / entry.path().lexically_relative(Live->Release);
    if (entry.is_directory())
      std::filesystem::create_directories(target);
    else
      std::filesystem::copy_file(entry.path(), target);
    if (entry.is_regular_file()) std::filesystem::last_write_time(target, entry.last_write_time());
  }
  std::filesystem::copy(keep / "cache", restarted.Folder.Dir() / "cache",
                        std::filesystem::copy_options::recursive);
  restarted.Start();
  auto connection = Connect(restarted.Port);
  TRemoteCPSFile remote(connection.get(), Client.string());
  TRemoteFileEvents events;
  events.OnStart = [&](const std::string&, int32_t, int32_t pos) { resumedAt = pos; };
  remote.SetEvents(events);
  cancel = 0;
  std::string local;
  ASSERT_TRUE(remote.Download(name, "libs", &cancel, &local, "CHS", Client.string()));
  EXPECT_GE(resumedAt, 100'000);
  EXPECT_EQ(restarted.Files->Packs().PacksDone(), 0);  // the same packed bytes, from the cache
  EXPECT_EQ(testing::ReadAll(local), Files[1].second);
}

}  // namespace
}  // namespace zor
